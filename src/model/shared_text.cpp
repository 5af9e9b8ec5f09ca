#include "model/shared_text.h"

#include <ostream>
#include <utility>

namespace fetchora {

SharedText::SharedText(std::string_view text)
{
    if (!text.empty())
        m_block = new Block{{1}, std::string(text)};
}

SharedText::SharedText(std::string&& text)
{
    if (!text.empty())
        m_block = new Block{{1}, std::move(text)};
}

SharedText::SharedText(const SharedText& other) noexcept : m_block(other.m_block)
{
    if (m_block)
        m_block->shares.fetch_add(1, std::memory_order_relaxed);
}

SharedText& SharedText::operator=(const SharedText& other) noexcept
{
    // Taken before the release: `other` may be this very text.
    Block* block = other.m_block;
    if (block)
        block->shares.fetch_add(1, std::memory_order_relaxed);
    release();
    m_block = block;
    return *this;
}

SharedText& SharedText::operator=(SharedText&& other) noexcept
{
    if (this != &other) {
        release();
        m_block = std::exchange(other.m_block, nullptr);
    }
    return *this;
}

SharedText& SharedText::operator=(std::string_view text)
{
    // The new buffer is built before the old one goes: `text` may be a view
    // of this very field.
    SharedText fresh(text);
    return *this = std::move(fresh);
}

SharedText& SharedText::operator=(std::string&& text)
{
    SharedText fresh(std::move(text));
    return *this = std::move(fresh);
}

SharedText& SharedText::operator+=(std::string_view tail)
{
    if (tail.empty())
        return *this;
    std::string joined;
    joined.reserve(size() + tail.size());
    joined.append(str()).append(tail);
    return *this = std::move(joined);
}

const std::string& SharedText::emptyText() noexcept
{
    static const std::string empty;
    return empty;
}

void SharedText::release() noexcept
{
    Block* block = std::exchange(m_block, nullptr);
    if (block && block->shares.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete block;
}

std::ostream& operator<<(std::ostream& out, const SharedText& text)
{
    return out << text.str();
}

}  // namespace fetchora
