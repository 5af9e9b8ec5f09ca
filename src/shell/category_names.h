#pragma once
// The names of the categories a new database starts with follow the language
// shown: the special ones ("Download", "Downloaded", "Deleted") always, and a
// default category under "Downloaded" ("Software", "Game", ...) for as long
// as the user has not renamed it. A default category counts as unrenamed while
// its name is its default name in English or in the language the names were
// last shown in; any other name is the user's and is kept.
//
// Thread: the loop thread; retext takes the job lock itself.
#include <string>
#include <vector>

#include "platform/job_lock.h"

namespace fetchora {

class CZoviradDoc;

class CategoryNames {
public:
    // Remembers the default names of the language current now.
    CategoryNames();

    // Gives the special and the unrenamed default categories their names in
    // the current language and remembers that language's names. True when a
    // default category's stored name changed (the database wants a save).
    bool retext(CZoviradDoc& doc, JobLock& jobLock);

    // The default names, by position, as last shown.
    const std::vector<std::string>& shown() const { return m_shown; }

private:
    std::vector<std::string> m_shown;
};

// The default categories' names in the current language, by position; an item
// the translation lacks is the English one.
std::vector<std::string> defaultCategoryNames();

}  // namespace fetchora
