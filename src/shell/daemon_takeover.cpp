#include "shell/daemon_takeover.h"

#include <charconv>
#include <thread>

#include "lang/string_table.h"
#include "platform/ipc_endpoint.h"
#include "platform/single_instance.h"
#include "shell/ipc_fault_text.h"

namespace fetchora {

std::string TakeOverReply(const std::vector<int32_t>& runningJobs)
{
    std::string reply = "1";
    for (const int32_t id : runningJobs)
        reply += " " + std::to_string(id);
    return reply;
}

std::vector<int32_t> ReadTakeOverReply(std::string_view reply)
{
    std::vector<int32_t> ids;
    size_t at = reply.find(' ');
    while (at != std::string_view::npos) {
        const size_t begin = at + 1;
        at = reply.find(' ', begin);
        const std::string_view word
            = reply.substr(begin, at == std::string_view::npos ? reply.size() - begin : at - begin);
        int32_t id = 0;
        const auto [end, problem] = std::from_chars(word.data(), word.data() + word.size(), id);
        if (problem == std::errc() && end == word.data() + word.size() && id > 0)
            ids.push_back(id);
    }
    return ids;
}

TakeOverResult TakeOverFromDaemon(const std::filesystem::path& folder, const std::filesystem::path& socket,
                                  SingleInstance& instance, std::chrono::milliseconds timeout,
                                  const std::function<bool()>& keepWaiting, std::vector<int32_t>& runningJobs,
                                  std::string& error)
{
    runningJobs.clear();
    const IpcReply reply = ipcRequest(socket, kTopicTakeOver, {});
    switch (reply.outcome) {
    case IpcReply::Outcome::Data: runningJobs = ReadTakeOverReply(reply.text); break;
    case IpcReply::Outcome::Refused: return TakeOverResult::Refused;
    case IpcReply::Outcome::NoServer:
        // It may have ended on its own just now: the lock tells.
        break;
    default:
        error = reply.fault.kind == IpcFaultKind::None
            ? builtinText(kStrTakeOverNoAnswer)
            : builtinText(kStrTakeOverNoAnswerBecause, {ipcFaultText(reply.fault)});
        return TakeOverResult::Failed;
    }
    // The daemon lets go of the lock only when its process ends, after the
    // transfer threads stopped and the database was saved.
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        switch (instance.acquire(folder, error)) {
        case SingleInstance::Result::First: return TakeOverResult::TookOver;
        case SingleInstance::Result::Failed: return TakeOverResult::Failed;
        case SingleInstance::Result::AnotherRuns: break;
        }
        if (std::chrono::steady_clock::now() >= end || (keepWaiting && !keepWaiting()))
            return TakeOverResult::GaveUp;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

}  // namespace fetchora
