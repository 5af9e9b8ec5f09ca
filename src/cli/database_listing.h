#pragma once
// `fetchora-cli --db FILE list`: every node of a job database as one JSON
// object per line, in flat order.
#include <iosfwd>
#include <string>

namespace fetchora {

// 0 when the file was read whole, 1 when it is missing or damaged (what could
// be read is still listed and the damage reported on err).
int listDatabase(const std::string& file, std::ostream& out, std::ostream& err);

}  // namespace fetchora
