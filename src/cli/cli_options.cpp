#include "cli/cli_options.h"

#include <charconv>

#include "lang/string_table.h"
#include "lists/url_list.h"

namespace fetchora {

namespace {

template <typename Number>
bool parseNumber(const std::string& text, Number& value)
{
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

}  // namespace

std::string cliUsage()
{
    return "usage: fetchora-cli [-d DIR] [-s N] [-o NAME] [--referer URL] [--limit BYTES_PER_S] [-q] [-v] "
           "[-i FILE] URL...\n"
           "       fetchora-cli --db FILE list\n"
           "       fetchora-cli --daemon\n"
           "       fetchora-cli --send URL [REFERER]\n"
           "       fetchora-cli --info N\n";
}

CliParse parseCliArguments(const std::vector<std::string>& arguments)
{
    CliOptions options;
    auto fail = [](std::string why) { return CliParse{std::nullopt, std::move(why)}; };
    bool endOfOptions = false;

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size())
                return false;
            out = arguments[++i];
            return true;
        };
        if (endOfOptions || argument.empty() || argument[0] != '-' || argument == "-") {
            options.urls.push_back(argument);
            continue;
        }
        std::string text;
        if (argument == "--") {
            endOfOptions = true;
        } else if (argument == "-h" || argument == "--help") {
            options.mode = CliMode::Help;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-v" || argument == "--verbose") {
            options.verbose = true;
        } else if (argument == "-d" || argument == "--dir") {
            if (!value(options.folder) || options.folder.empty())
                return fail(argument + " needs a folder");
        } else if (argument == "-o" || argument == "--output") {
            if (!value(options.outputName) || options.outputName.empty())
                return fail(argument + " needs a file name");
        } else if (argument == "-i" || argument == "--input-file") {
            if (!value(options.urlListFile) || options.urlListFile.empty())
                return fail(argument + " needs a URL list file");
        } else if (argument == "--referer") {
            if (!value(options.referer))
                return fail("--referer needs a URL");
        } else if (argument == "-s" || argument == "--split") {
            int32_t split = 0;
            if (!value(text) || !parseNumber(text, split) || split < 1)
                return fail(argument + " needs a number of connections of at least 1");
            options.split = split;
        } else if (argument == "--limit") {
            uint32_t limit = 0;
            if (!value(text) || !parseNumber(text, limit) || limit == 0)
                return fail("--limit needs a speed in bytes per second above 0");
            options.limit = limit;
        } else if (argument == "--db") {
            if (!value(options.database) || options.database.empty())
                return fail("--db needs a database file");
            options.mode = CliMode::ListDatabase;
        } else if (argument == "--daemon") {
            options.mode = CliMode::Daemon;
        } else if (argument == "--send") {
            options.mode = CliMode::Send;
        } else if (argument == "--info") {
            if (!value(text) || !parseNumber(text, options.infoItem))
                return fail("--info needs a number");
            options.mode = CliMode::Info;
        } else {
            return fail("unknown option " + argument);
        }
    }

    if (!options.urlListFile.empty() && options.mode != CliMode::Download && options.mode != CliMode::Help)
        return fail("-i reads URLs for a download run only");
    switch (options.mode) {
    case CliMode::Help:
    case CliMode::Daemon:
    case CliMode::Info:
        if (!options.urls.empty())
            return fail("unexpected argument " + options.urls.front());
        break;
    case CliMode::ListDatabase:
        if (options.urls.size() != 1 || options.urls.front() != "list")
            return fail("--db FILE takes the command list");
        options.urls.clear();
        break;
    case CliMode::Send:
        if (options.urls.empty() || options.urls.size() > 2)
            return fail("--send takes a URL and an optional referer");
        break;
    case CliMode::Download:
        if (options.urls.empty() && options.urlListFile.empty())
            return fail("no URL given");
        if (!options.outputName.empty() && options.urls.size() > 1)
            return fail("-o names one file; give a single URL with it");
        break;
    }
    return CliParse{std::move(options), {}};
}

std::string addUrlsFromList(CliOptions& options)
{
    if (options.urlListFile.empty())
        return {};
    const UrlListRead read = ReadUrlList(options.urlListFile);
    if (!read.ok)
        return read.error;
    if (read.urls.empty())
        return options.urlListFile + ": " + std::string(builtinString(kStrNoValidUrl));
    options.urls.insert(options.urls.end(), read.urls.begin(), read.urls.end());
    if (!options.outputName.empty() && options.urls.size() > 1)
        return "-o names one file; give a single URL with it";
    return {};
}

}  // namespace fetchora
