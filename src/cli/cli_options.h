#pragma once
// The command line of fetchora-cli, parsed into what the program is to do.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "config/proxy_entry.h"
#include "lists/batch_urls.h"

namespace fetchora {

enum class CliMode {
    Download,
    ListDatabase,
    Daemon,
    Send,
    Info,
    Help,
    Version,
    ImportList,
    ExportList,
    ExportHtml,
    InstallBrowserHosts,  // write the browsers' native-messaging manifests
    UninstallBrowserHosts,
};

struct CliOptions {
    CliMode mode = CliMode::Download;
    std::vector<std::string> urls;  // Download: the URLs; Send: the URL and an optional referer
    std::string folder;  // -d; empty: the current folder
    std::optional<int32_t> split;  // -s
    std::string outputName;  // -o (one URL only)
    std::string referer;  // --referer
    std::vector<std::string> mirrors;  // --mirror, repeatable: alternate URLs of the one job
    std::optional<uint32_t> limit;  // --limit, bytes per second
    bool quiet = false;  // -q
    bool verbose = false;  // -v
    std::string urlListFile;  // -i: a URL list file whose URLs are added to urls
    std::string database;  // --db
    int32_t infoItem = 0;  // --info N
    // For this run only; the settings file keeps its own values.
    std::optional<ProxyEntry> proxy;  // -x
    std::string caFile;  // --ca-file
    std::optional<int32_t> retries;  // --retry
    std::optional<int32_t> timeout;  // --timeout, seconds
    // The job database's list files.
    std::string listFile;  // --import-list, --export-list, --export-html: the file
    std::string exportTemplate;  // --export-html: the template file or style name; empty: the first style
    std::string category;  // --category: the category by name or "A/B" path; empty: see each mode
    std::optional<BatchSeries> batch;  // --batch: a series whose URLs are added to urls
    bool systemWide = false;  // --system: the browser hosts of every user
    std::string language;  // --lang: "deu", "de" or "de_DE"; empty: English
};

struct CliParse {
    std::optional<CliOptions> options;
    std::string error;  // why the arguments were refused
};

// One option of the command line, as --help shows it. The texts are string
// ids (cli/cli_texts.h), shown in the current language.
struct CliOptionSpec {
    std::string_view shortName;  // "-d", or empty
    std::string_view longName;  // "--dir"
    uint32_t arguments = 0;  // what follows it in --help ("DIR"), or 0
    bool takesValue = false;  // the next argument (or "=VALUE") is its value
    uint32_t group = 0;
    uint32_t description = 0;
};

// Every option the parser knows, in the order and groups of --help.
std::span<const CliOptionSpec> cliOptionSpecs();

CliParse parseCliArguments(const std::vector<std::string>& arguments);

// The value of --lang among the arguments, found before they are parsed so
// that the parser's own errors are already in that language; empty without
// one. Values of other options ("-o --lang") are skipped as the parser
// skips them.
std::string cliLanguageArgument(const std::vector<std::string>& arguments);

// Appends the valid URLs of the -i file, in order, to options.urls. Returns
// why that failed (the file cannot be read, holds no valid URL, or -o is
// given with more than one URL); empty on success or without -i.
std::string addUrlsFromList(CliOptions& options);

// Appends the URLs of the --batch series to options.urls. Returns why the
// series cannot be used; empty on success or without --batch.
std::string addUrlsFromBatch(CliOptions& options);

// Why the --ca-file cannot be used (missing, not a file, not PEM
// authorities); empty when it can or none is given.
std::string checkCaFile(const CliOptions& options);

// The short usage printed with an argument error.
std::string cliUsage();
// --help: the usage and every option with a one-line description, by group.
std::string cliHelp();
// --version: "fetchora-cli VERSION".
std::string cliVersion();

}  // namespace fetchora
