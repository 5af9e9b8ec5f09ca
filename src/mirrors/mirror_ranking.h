#pragma once
// How mirrors are ranked by country: the user's own country first, then the
// countries of the user's list, then the rest, each rank keeping its order.
//
// Thread: any (pure functions).
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

struct MirrorCountries {
    std::string code;  // "Mirrors" "Code": the user's country, two letters
    std::string list;  // "Mirrors" "List": near countries, any separators
};

// 1 for the user's country, 2 for a listed one, 3 for any other. Compared
// without regard to case; the list is split into words at every character
// that is no letter, and a word of paired letters ("DEFR") into its codes,
// so "EF" matches neither "DE,FR" nor "DEFR".
int countryRank(std::string_view country, const MirrorCountries& countries);

// The URL's country: the last label of its host when that is two letters
// (upper-cased), else "US".
std::string UrlCountry(std::string_view url);

// The URLs ordered by the rank of UrlCountry, stable within a rank.
std::vector<std::string> rankByCountry(std::vector<std::string> urls, const MirrorCountries& countries);

}  // namespace fetchora
