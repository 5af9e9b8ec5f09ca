#pragma once
// The alternate URLs of a job: one pointer in the record while there are
// none, which is most jobs. It reads as the std::vector it stands for; every
// change goes through the few operations the callers need.
//
// Thread: as the record it is part of.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace fetchora {

struct AlternateUrl {
    std::string url;
    int32_t tag = 0;
    bool operator==(const AlternateUrl&) const = default;
};

class AlternateUrlList {
public:
    using value_type = AlternateUrl;
    using const_iterator = std::vector<AlternateUrl>::const_iterator;
    using iterator = const_iterator;  // read only: changes go through the operations below

    AlternateUrlList() noexcept = default;
    AlternateUrlList(std::initializer_list<AlternateUrl> urls) { assign(std::vector<AlternateUrl>(urls)); }
    AlternateUrlList(const AlternateUrlList& other) { *this = other; }
    AlternateUrlList(AlternateUrlList&& other) noexcept = default;
    ~AlternateUrlList() = default;

    AlternateUrlList& operator=(const AlternateUrlList& other);
    AlternateUrlList& operator=(AlternateUrlList&& other) noexcept = default;
    AlternateUrlList& operator=(std::vector<AlternateUrl> urls)
    {
        assign(std::move(urls));
        return *this;
    }
    AlternateUrlList& operator=(std::initializer_list<AlternateUrl> urls)
    {
        assign(std::vector<AlternateUrl>(urls));
        return *this;
    }

    const std::vector<AlternateUrl>& items() const noexcept { return m_urls ? *m_urls : none(); }
    operator const std::vector<AlternateUrl>&() const noexcept { return items(); }

    bool empty() const noexcept { return items().empty(); }
    size_t size() const noexcept { return items().size(); }
    const_iterator begin() const noexcept { return items().begin(); }
    const_iterator end() const noexcept { return items().end(); }
    const AlternateUrl& operator[](size_t index) const noexcept { return items()[index]; }

    void push_back(AlternateUrl url);
    void reserve(size_t count);
    void clear() noexcept { m_urls.reset(); }

    friend bool operator==(const AlternateUrlList& a, const AlternateUrlList& b) { return a.items() == b.items(); }
    friend bool operator==(const AlternateUrlList& a, const std::vector<AlternateUrl>& b) { return a.items() == b; }

private:
    static const std::vector<AlternateUrl>& none() noexcept;
    void assign(std::vector<AlternateUrl>&& urls);

    std::unique_ptr<std::vector<AlternateUrl>> m_urls;  // none while there are none
};

}  // namespace fetchora
