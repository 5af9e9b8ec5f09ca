#pragma once
// What the tests of the default categories' names share: a language made
// from a few string-table lines, and the names of the categories filed
// directly under "Downloaded", in order.
#include <memory>
#include <string>
#include <vector>

#include "lang/current_language.h"
#include "model/job_database.h"

namespace fetchora::test {

// A language whose [String] section holds these lines ("61296=...\n...").
std::unique_ptr<ActiveLanguage> languageOf(const std::string& strings);

std::vector<std::string> filedCategoryNames(CZoviradDoc& doc);

}  // namespace fetchora::test
