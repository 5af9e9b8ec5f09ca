#pragma once
// The export template (".kxs"): an initialization-format text whose section
// "Format" gives the five texts an HTML export is assembled from. The reader
// follows the profile-file rules the templates were written for: section and
// key names compare without regard to case, the first occurrence of a key
// wins, blanks around names and values are dropped, one pair of quotes
// around a value is removed, each value is cut to 2047 bytes (a 2048-byte
// buffer with its terminator) and only then is every "{F_ENTER}" turned
// into CR LF.
//
// Thread: any; pure apart from reading the file. Owns nothing it is given.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr std::size_t kTemplateValueLimit = 2047;
// A template larger than this is refused rather than read into memory.
inline constexpr std::uintmax_t kTemplateFileLimit = 4u * 1024 * 1024;
inline constexpr std::string_view kTemplateExtension = ".kxs";

struct ExportTemplate {
    std::string fileStart;  // "F_START"
    std::string categoryStart;  // "C_START"
    std::string item;  // "ITEM"
    std::string categoryEnd;  // "C_END"
    std::string fileEnd;  // "F_END"
};

// A key that is missing is an empty text.
ExportTemplate ParseExportTemplate(std::string_view iniText);

struct TemplateReadResult {
    bool ok = false;
    std::string error;
    ExportTemplate format;
};
TemplateReadResult ReadExportTemplate(const std::filesystem::path& file);

// The style names (file names without ".kxs") of the templates in the
// program folder, sorted so that the first is the same every time.
std::vector<std::string> ListExportStyles(const std::filesystem::path& programFolder);
std::filesystem::path ExportStylePath(const std::filesystem::path& programFolder, std::string_view style);

}  // namespace fetchora
