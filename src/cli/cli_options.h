#pragma once
// The command line of fetchora-cli, parsed into what the program is to do.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fetchora {

enum class CliMode { Download, ListDatabase, Daemon, Send, Info, Help };

struct CliOptions {
    CliMode mode = CliMode::Download;
    std::vector<std::string> urls;   // Download: the URLs; Send: the URL and an optional referer
    std::string folder;              // -d; empty: the current folder
    std::optional<int32_t> split;    // -s
    std::string outputName;          // -o (one URL only)
    std::string referer;             // --referer
    std::optional<uint32_t> limit;   // --limit, bytes per second
    bool quiet = false;              // -q
    bool verbose = false;            // -v
    std::string urlListFile;         // -i: a URL list file whose URLs are added to urls
    std::string database;            // --db
    int32_t infoItem = 0;            // --info N
};

struct CliParse {
    std::optional<CliOptions> options;
    std::string error;  // why the arguments were refused
};

CliParse parseCliArguments(const std::vector<std::string>& arguments);

// Appends the valid URLs of the -i file, in order, to options.urls. Returns
// why that failed (the file cannot be read, holds no valid URL, or -o is
// given with more than one URL); empty on success or without -i.
std::string addUrlsFromList(CliOptions& options);

std::string cliUsage();

}  // namespace fetchora
