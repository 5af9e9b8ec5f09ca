#pragma once
// A text field that costs one pointer while empty and shares its bytes with
// its copies: most records leave their comment, login, location and last
// error empty, and thousands of jobs keep the same folder. It reads as a
// const std::string& so that callers treat it like the string it replaces;
// every change (assignment, +=, clear) puts a new buffer in place and leaves
// the copies that shared the old one as they were (copy on write).
//
// Thread: a SharedText object is used by one thread at a time; copies of it
// may live on other threads (the share count is atomic, the bytes are never
// changed once written).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>

namespace fetchora {

class SharedText {
public:
    SharedText() noexcept = default;
    // Explicit, so that `flag ? text : std::string()` reads the text.
    explicit SharedText(std::string_view text);
    explicit SharedText(const std::string& text) : SharedText(std::string(text)) { }
    explicit SharedText(std::string&& text);
    explicit SharedText(const char* text) : SharedText(std::string_view(text)) { }
    SharedText(const SharedText& other) noexcept;
    SharedText(SharedText&& other) noexcept : m_block(other.m_block) { other.m_block = nullptr; }
    ~SharedText() { release(); }

    SharedText& operator=(const SharedText& other) noexcept;
    SharedText& operator=(SharedText&& other) noexcept;
    SharedText& operator=(std::string_view text);
    SharedText& operator=(const std::string& text) { return *this = std::string(text); }
    SharedText& operator=(std::string&& text);
    SharedText& operator=(const char* text) { return *this = std::string_view(text); }
    SharedText& operator+=(std::string_view tail);
    SharedText& operator+=(char c) { return *this += std::string_view(&c, 1); }

    const std::string& str() const noexcept { return m_block ? m_block->text : emptyText(); }
    operator const std::string&() const noexcept { return str(); }
    operator std::string_view() const noexcept { return str(); }

    bool empty() const noexcept { return !m_block; }
    size_t size() const noexcept { return str().size(); }
    size_t length() const noexcept { return size(); }
    const char* c_str() const noexcept { return str().c_str(); }
    const char* data() const noexcept { return str().data(); }
    std::string::const_iterator begin() const noexcept { return str().begin(); }
    std::string::const_iterator end() const noexcept { return str().end(); }
    char operator[](size_t index) const noexcept { return str()[index]; }
    char front() const noexcept { return str().front(); }
    char back() const noexcept { return str().back(); }
    size_t find(std::string_view what, size_t from = 0) const noexcept { return str().find(what, from); }
    size_t find(char c, size_t from = 0) const noexcept { return str().find(c, from); }
    size_t rfind(char c, size_t from = std::string::npos) const noexcept { return str().rfind(c, from); }
    size_t rfind(std::string_view what, size_t from = std::string::npos) const noexcept
    {
        return str().rfind(what, from);
    }
    std::string substr(size_t from, size_t count = std::string::npos) const { return str().substr(from, count); }
    bool starts_with(std::string_view prefix) const noexcept { return str().starts_with(prefix); }
    bool ends_with(std::string_view suffix) const noexcept { return str().ends_with(suffix); }
    bool ends_with(char c) const noexcept { return str().ends_with(c); }
    int compare(std::string_view other) const noexcept { return str().compare(other); }
    void clear() noexcept { release(); }

    // True when both hold the same buffer (not merely equal bytes).
    bool sharesWith(const SharedText& other) const noexcept { return m_block && m_block == other.m_block; }

    friend bool operator==(const SharedText& a, const SharedText& b) noexcept
    {
        return a.m_block == b.m_block || a.str() == b.str();
    }
    friend bool operator==(const SharedText& a, std::string_view b) noexcept { return a.str() == b; }
    friend bool operator==(const SharedText& a, const std::string& b) noexcept { return a.str() == b; }
    friend bool operator==(const SharedText& a, const char* b) noexcept { return a.str() == b; }
    friend auto operator<=>(const SharedText& a, const SharedText& b) noexcept { return a.str() <=> b.str(); }
    friend auto operator<=>(const SharedText& a, std::string_view b) noexcept
    {
        return std::string_view(a.str()) <=> b;
    }
    friend std::string operator+(const SharedText& a, std::string_view b) { return a.str() + std::string(b); }
    friend std::string operator+(std::string_view a, const SharedText& b) { return std::string(a) + b.str(); }
    friend std::string operator+(const SharedText& a, const SharedText& b) { return a.str() + b.str(); }
    friend std::string operator+(const SharedText& a, const std::string& b) { return a.str() + b; }
    friend std::string operator+(const std::string& a, const SharedText& b) { return a + b.str(); }
    friend std::string operator+(const SharedText& a, const char* b) { return a.str() + b; }
    friend std::string operator+(const char* a, const SharedText& b) { return a + b.str(); }
    friend std::string operator+(const SharedText& a, char b) { return a.str() + b; }
    friend std::string operator+(char a, const SharedText& b) { return a + b.str(); }
    friend std::ostream& operator<<(std::ostream& out, const SharedText& text);

private:
    struct Block {
        std::atomic<uint32_t> shares{1};
        std::string text;
    };
    static const std::string& emptyText() noexcept;
    void release() noexcept;

    Block* m_block = nullptr;  // none while empty
};

}  // namespace fetchora
