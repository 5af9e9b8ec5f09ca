#include "lang/current_language.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace fetchora {
namespace {

std::atomic<const ActiveLanguage*> g_current{nullptr};

std::mutex& keptMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Never destroyed: views into a kept language stay valid until exit, also
// for threads still running while statics are torn down.
std::vector<std::unique_ptr<ActiveLanguage>>& kept()
{
    static auto* languages = new std::vector<std::unique_ptr<ActiveLanguage>>();
    return *languages;
}

}  // namespace

const ActiveLanguage* currentLanguage()
{
    return g_current.load(std::memory_order_acquire);
}

void setCurrentLanguage(std::unique_ptr<ActiveLanguage> language)
{
    const ActiveLanguage* raw = language.get();
    if (language) {
        std::lock_guard lock(keptMutex());
        kept().push_back(std::move(language));
    }
    g_current.store(raw, std::memory_order_release);
}

}  // namespace fetchora
