#pragma once
// One node of a job database as one JSON object on one line, with the
// record's own field names (the `--db FILE list` output).
#include <string>
#include <string_view>

namespace fetchora {

class DownloadJob;

std::string jobJsonLine(const DownloadJob& node);

// A JSON string literal for stored text (decoded for display first).
std::string jsonString(std::string_view bytes);

}  // namespace fetchora
