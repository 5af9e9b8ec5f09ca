#include "model/alternate_url_list.h"

#include <utility>

namespace fetchora {

AlternateUrlList& AlternateUrlList::operator=(const AlternateUrlList& other)
{
    if (this != &other)
        assign(std::vector<AlternateUrl>(other.items()));
    return *this;
}

void AlternateUrlList::push_back(AlternateUrl url)
{
    if (!m_urls)
        m_urls = std::make_unique<std::vector<AlternateUrl>>();
    m_urls->push_back(std::move(url));
}

void AlternateUrlList::reserve(size_t count)
{
    if (count == 0)
        return;
    if (!m_urls)
        m_urls = std::make_unique<std::vector<AlternateUrl>>();
    m_urls->reserve(count);
}

const std::vector<AlternateUrl>& AlternateUrlList::none() noexcept
{
    static const std::vector<AlternateUrl> empty;
    return empty;
}

void AlternateUrlList::assign(std::vector<AlternateUrl>&& urls)
{
    if (urls.empty())
        m_urls.reset();
    else if (m_urls)
        *m_urls = std::move(urls);
    else
        m_urls = std::make_unique<std::vector<AlternateUrl>>(std::move(urls));
}

}  // namespace fetchora
