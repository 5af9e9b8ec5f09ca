#include "mirrors/mirror_ranking.h"

#include <algorithm>
#include <cctype>

#include "config/mirror_country.h"

namespace fetchora {

namespace {

std::string upper(std::string_view text)
{
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool listHas(std::string_view list, std::string_view country)
{
    size_t i = 0;
    while (i < list.size()) {
        while (i < list.size() && !std::isalpha(static_cast<unsigned char>(list[i])))
            ++i;
        size_t end = i;
        while (end < list.size() && std::isalpha(static_cast<unsigned char>(list[end])))
            ++end;
        // A word of two-letter codes written without separators ("DEFR")
        // is read in pairs, so a code never matches across two of them.
        const std::string word = upper(list.substr(i, end - i));
        if (word == country)
            return true;
        if (country.size() == 2 && word.size() % 2 == 0) {
            for (size_t pair = 0; pair < word.size(); pair += 2) {
                if (word.compare(pair, 2, country) == 0)
                    return true;
            }
        }
        i = end;
    }
    return false;
}

}  // namespace

int countryRank(std::string_view country, const MirrorCountries& countries)
{
    const std::string wanted = upper(country);
    if (wanted.empty())
        return 3;
    if (upper(countries.code) == wanted)
        return 1;
    return listHas(countries.list, wanted) ? 2 : 3;
}

std::string UrlCountry(std::string_view url)
{
    return countryCodeFromUrl(url);
}

std::vector<std::string> rankByCountry(std::vector<std::string> urls, const MirrorCountries& countries)
{
    std::vector<int> ranks;
    ranks.reserve(urls.size());
    for (const std::string& url : urls)
        ranks.push_back(countryRank(UrlCountry(url), countries));
    std::vector<size_t> order(urls.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return ranks[a] < ranks[b]; });
    std::vector<std::string> out;
    out.reserve(urls.size());
    for (size_t index : order)
        out.push_back(std::move(urls[index]));
    return out;
}

}  // namespace fetchora
