#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

#include "cli/proxy_argument.h"
#include "config/settings_values.h"
#include "lang/string_table.h"
#include "lists/url_list.h"
#include "net/tls_stream.h"
#include "net/url.h"

namespace fetchora {

namespace {

template <typename Number> bool parseNumber(const std::string& text, Number& value)
{
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

constexpr std::string_view kDownload = "Download";
constexpr std::string_view kConnection = "Connection (this run only; the settings file keeps its values)";
constexpr std::string_view kOutput = "Output";
constexpr std::string_view kModes = "Other modes";
constexpr std::string_view kLists = "Job lists (the profile's job database; not while a daemon runs)";

constexpr std::array kSpecs = {
    CliOptionSpec{"-d", "--dir", "DIR", true, kDownload, "save into DIR (default: the current folder)"},
    CliOptionSpec{"-o", "--output", "NAME", true, kDownload, "save the one URL given as NAME"},
    CliOptionSpec{"-s", "--split", "N", true, kDownload, "fetch each file over up to N connections"},
    CliOptionSpec{"-i", "--input-file", "FILE", true, kDownload,
                  "also download the URLs of a URL list file, one a line"},
    CliOptionSpec{"", "--referer", "URL", true, kDownload, "send URL as the page that links to the files"},
    CliOptionSpec{"", "--mirror", "URL", true, kDownload,
                  "fetch the one file from URL too (repeatable); parts spread over the mirrors"},
    CliOptionSpec{"", "--batch", "TEMPLATE FROM TO [WIDTH]", false, kDownload,
                  "also download the series TEMPLATE with each (*) replaced by FROM..TO (numbers zero-padded to "
                  "WIDTH, or letters)"},
    CliOptionSpec{"-x", "--proxy", "URL", true, kConnection,
                  "go through SCHEME://[USER:PASS@]HOST[:PORT], SCHEME: http, https (CONNECT), socks4, socks5"},
    CliOptionSpec{"", "--ca-file", "FILE", true, kConnection,
                  "trust the PEM certificate authorities of FILE besides the system's"},
    CliOptionSpec{"", "--retry", "N", true, kConnection, "retry a failing job at most N times (0 to 9999)"},
    CliOptionSpec{"", "--timeout", "S", true, kConnection,
                  "give up a connection attempt or a silent peer after S seconds (30 to 600)"},
    CliOptionSpec{"", "--limit", "BYTES_PER_S", true, kConnection, "keep the total speed under BYTES_PER_S"},
    CliOptionSpec{"-q", "--quiet", "", false, kOutput, "print no progress lines and no end messages"},
    CliOptionSpec{"-v", "--verbose", "", false, kOutput, "print every part log line on standard error"},
    CliOptionSpec{"", "--lang", "CODE", true, kOutput,
                  "print the program's messages in language CODE (deu, de or de_DE) from its kx???.ini file"},
    CliOptionSpec{"", "--import-list", "FILE", true, kLists,
                  "add the URLs of a URL list file as jobs without downloading them"},
    CliOptionSpec{"", "--export-list", "FILE", true, kLists, "write the URLs of the jobs to a URL list file"},
    CliOptionSpec{"", "--export-html", "FILE [TEMPLATE]", true, kLists,
                  "write the jobs as an HTML page shaped by an export template (.kxs file or style name)"},
    CliOptionSpec{"", "--category", "NAME", true, kLists,
                  "the category (name or A/B path) the list commands add to or export; default: new jobs go to "
                  "Download, exports take every job"},
    CliOptionSpec{"", "--db", "FILE list", true, kModes, "print every node of a job database as one JSON line"},
    CliOptionSpec{"", "--daemon", "", false, kModes, "run headless with the job queue and the service socket"},
    CliOptionSpec{"", "--send", "URL [REFERER]", false, kModes, "hand a URL to the running daemon"},
    CliOptionSpec{"", "--info", "N", true, kModes, "print the N-th waiting or running job of the daemon (-1: all)"},
    CliOptionSpec{"", "--install-browser-hosts", "", false, kModes,
                  "let Firefox and Chromium browsers start fetchora-host for the extension"},
    CliOptionSpec{"", "--uninstall-browser-hosts", "", false, kModes, "remove what --install-browser-hosts wrote"},
    CliOptionSpec{"", "--system", "", false, kModes,
                  "with the two above: the system-wide folders of every user (needs root)"},
    CliOptionSpec{"-h", "--help", "", false, kModes, "print this help"},
    CliOptionSpec{"", "--version", "", false, kModes, "print the version"},
};

const CliOptionSpec* findSpec(std::string_view name)
{
    auto spec = std::find_if(kSpecs.begin(), kSpecs.end(), [&](const CliOptionSpec& s) {
        return name == s.longName || (!s.shortName.empty() && name == s.shortName);
    });
    return spec == kSpecs.end() ? nullptr : &*spec;
}

// Options that shape one download run and mean nothing to the other modes.
bool downloadOnly(const CliOptions& options)
{
    return !options.urlListFile.empty() || options.batch || !options.mirrors.empty() || options.proxy
        || !options.caFile.empty() || options.retries || options.timeout;
}

}  // namespace

std::span<const CliOptionSpec> cliOptionSpecs()
{
    return kSpecs;
}

std::string cliUsage()
{
    return "usage: fetchora-cli [-d DIR] [-s N] [-o NAME] [--referer URL] [--mirror URL]... [--limit BYTES_PER_S] [-q] "
           "[-v] "
           "[-i FILE]\n"
           "                    [-x PROXY_URL] [--ca-file FILE] [--retry N] [--timeout S] URL...\n"
           "       fetchora-cli --db FILE list\n"
           "       fetchora-cli --daemon\n"
           "       fetchora-cli --send URL [REFERER]\n"
           "       fetchora-cli --info N\n"
           "       fetchora-cli --batch TEMPLATE FROM TO [WIDTH] [download options] [URL...]\n"
           "       fetchora-cli --import-list FILE [--category NAME]\n"
           "       fetchora-cli --export-list FILE [--category NAME]\n"
           "       fetchora-cli --export-html FILE [TEMPLATE] [--category NAME]\n"
           "       fetchora-cli --install-browser-hosts | --uninstall-browser-hosts [--system]\n"
           "       fetchora-cli --help | --version\n";
}

std::string cliHelp()
{
    std::string text = cliUsage();
    text += "\nDownloads http://, https:// and ftp:// URLs into files, each over parallel connections; run the "
            "same\ncommand again to resume an interrupted download. Exit status: 0 all completed, 1 any failed "
            "or\ninterrupted, 2 bad arguments.\n";
    constexpr size_t kColumn = 28;
    std::string_view group;
    for (const CliOptionSpec& spec : kSpecs) {
        if (spec.group != group) {
            group = spec.group;
            text += "\n" + std::string(group) + ":\n";
        }
        std::string names = "  ";
        names += spec.shortName.empty() ? std::string("    ") : std::string(spec.shortName) + ", ";
        names += spec.longName;
        if (!spec.arguments.empty())
            names += " " + std::string(spec.arguments);
        names.resize(std::max(names.size() + 1, kColumn), ' ');
        text += names + std::string(spec.description) + "\n";
    }
    return text;
}

std::string cliVersion()
{
    return std::string("fetchora-cli ") + FETCHORA_VERSION + "\n";
}

CliParse parseCliArguments(const std::vector<std::string>& arguments)
{
    CliOptions options;
    auto fail = [](std::string why) { return CliParse{std::nullopt, std::move(why)}; };
    bool endOfOptions = false;

    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (endOfOptions || argument.empty() || argument[0] != '-' || argument == "-") {
            options.urls.push_back(argument);
            continue;
        }
        if (argument == "--") {
            endOfOptions = true;
            continue;
        }
        // "--name=value" gives the value in the same argument.
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (const size_t equals = argument.find('='); argument.starts_with("--") && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const CliOptionSpec* spec = findSpec(name);
        if (!spec)
            return fail("unknown option " + name);
        if (inlineValue && !spec->takesValue)
            return fail(name + " takes no value");
        std::string text;
        if (spec->takesValue) {
            if (inlineValue)
                text = *inlineValue;
            else if (i + 1 < arguments.size())
                text = arguments[++i];
            else
                return fail(name + " needs " + std::string(spec->arguments));
        }

        const std::string_view option = spec->longName;
        if (option == "--help") {
            options.mode = CliMode::Help;
        } else if (option == "--version") {
            options.mode = CliMode::Version;
        } else if (option == "--lang") {
            if (text.empty())
                return fail(name + " needs a language code");
            options.language = text;
        } else if (option == "--quiet") {
            options.quiet = true;
        } else if (option == "--verbose") {
            options.verbose = true;
        } else if (option == "--dir") {
            if (text.empty())
                return fail(name + " needs a folder");
            options.folder = text;
        } else if (option == "--output") {
            if (text.empty())
                return fail(name + " needs a file name");
            options.outputName = text;
        } else if (option == "--input-file") {
            if (text.empty())
                return fail(name + " needs a URL list file");
            options.urlListFile = text;
        } else if (option == "--referer") {
            options.referer = text;
        } else if (option == "--mirror") {
            const std::optional<UrlEntry> mirror = ParseUrl(text);
            if (!mirror
                || (mirror->service != ServiceCode::Http && mirror->service != ServiceCode::Https
                    && mirror->service != ServiceCode::Ftp))
                return fail(name + " needs an http://, https:// or ftp:// URL");
            options.mirrors.push_back(text);
        } else if (option == "--split") {
            int32_t split = 0;
            if (!parseNumber(text, split) || split < 1)
                return fail(name + " needs a number of connections of at least 1");
            options.split = split;
        } else if (option == "--limit") {
            uint32_t limit = 0;
            if (!parseNumber(text, limit) || limit == 0)
                return fail("--limit needs a speed in bytes per second above 0");
            options.limit = limit;
        } else if (option == "--proxy") {
            ProxyArgument proxy = parseProxyArgument(text);
            if (!proxy.entry)
                return fail(proxy.error);
            options.proxy = std::move(proxy.entry);
        } else if (option == "--ca-file") {
            if (text.empty())
                return fail("--ca-file needs a file of PEM certificate authorities");
            options.caFile = text;
        } else if (option == "--retry") {
            int32_t retries = 0;
            if (!parseNumber(text, retries) || !kRetryCountRange.contains(retries))
                return fail("--retry needs a number of retries from " + std::to_string(kRetryCountRange.min) + " to "
                            + std::to_string(kRetryCountRange.max));
            options.retries = retries;
        } else if (option == "--timeout") {
            int32_t seconds = 0;
            if (!parseNumber(text, seconds) || !kTimeoutRange.contains(seconds))
                return fail("--timeout needs a number of seconds from " + std::to_string(kTimeoutRange.min) + " to "
                            + std::to_string(kTimeoutRange.max));
            options.timeout = seconds;
        } else if (option == "--db") {
            if (text.empty())
                return fail("--db needs a database file");
            options.database = text;
            options.mode = CliMode::ListDatabase;
        } else if (option == "--daemon") {
            options.mode = CliMode::Daemon;
        } else if (option == "--install-browser-hosts") {
            options.mode = CliMode::InstallBrowserHosts;
        } else if (option == "--uninstall-browser-hosts") {
            options.mode = CliMode::UninstallBrowserHosts;
        } else if (option == "--system") {
            options.systemWide = true;
        } else if (option == "--send") {
            options.mode = CliMode::Send;
        } else if (option == "--batch") {
            if (options.batch)
                return fail("--batch is given twice");
            if (i + 3 >= arguments.size())
                return fail("--batch needs TEMPLATE FROM TO [WIDTH]");
            BatchSeries series;
            series.urlTemplate = arguments[i + 1];
            const std::string& from = arguments[i + 2];
            const std::string& to = arguments[i + 3];
            i += 3;
            if (parseNumber(from, series.firstNumber) && parseNumber(to, series.lastNumber)) {
                series.kind = BatchKind::Numbers;
                int width = 0;
                if (i + 1 < arguments.size() && parseNumber(arguments[i + 1], width)) {
                    series.width = width;
                    ++i;
                }
            } else if (from.size() == 1 && to.size() == 1) {
                series.kind = BatchKind::Letters;
                series.firstLetter = from;
                series.lastLetter = to;
            } else {
                return fail("--batch FROM and TO are both numbers or both single letters");
            }
            options.batch = std::move(series);
        } else if (option == "--import-list" || option == "--export-list" || option == "--export-html") {
            if (text.empty())
                return fail(name + " needs a file");
            if (!options.listFile.empty())
                return fail("give one of --import-list, --export-list and --export-html");
            options.listFile = text;
            options.mode = option == "--import-list" ? CliMode::ImportList
                : option == "--export-list"          ? CliMode::ExportList
                                                     : CliMode::ExportHtml;
        } else if (option == "--category") {
            if (text.empty())
                return fail("--category needs a category name");
            options.category = text;
        } else if (option == "--info") {
            if (!parseNumber(text, options.infoItem))
                return fail("--info needs a number");
            options.mode = CliMode::Info;
        }
    }

    if (downloadOnly(options) && options.mode != CliMode::Download && options.mode != CliMode::Help
        && options.mode != CliMode::Version)
        return fail("-i, --batch, --mirror, -x, --ca-file, --retry and --timeout apply to a download run only");
    if (!options.category.empty() && options.mode != CliMode::ImportList && options.mode != CliMode::ExportList
        && options.mode != CliMode::ExportHtml)
        return fail("--category applies to --import-list, --export-list and --export-html only");
    if (options.systemWide && options.mode != CliMode::InstallBrowserHosts
        && options.mode != CliMode::UninstallBrowserHosts)
        return fail("--system goes with --install-browser-hosts or --uninstall-browser-hosts");
    switch (options.mode) {
    case CliMode::Help:
    case CliMode::Version:
    case CliMode::Daemon:
    case CliMode::Info:
    case CliMode::InstallBrowserHosts:
    case CliMode::UninstallBrowserHosts:
        if (!options.urls.empty())
            return fail("unexpected argument " + options.urls.front());
        break;
    case CliMode::ListDatabase:
        if (options.urls.size() != 1 || options.urls.front() != "list")
            return fail("--db FILE takes the command list");
        options.urls.clear();
        break;
    case CliMode::ImportList:
    case CliMode::ExportList:
        if (!options.urls.empty())
            return fail("unexpected argument " + options.urls.front());
        break;
    case CliMode::ExportHtml:
        if (options.urls.size() > 1)
            return fail("--export-html takes a file and an optional template");
        if (!options.urls.empty())
            options.exportTemplate = options.urls.front();
        options.urls.clear();
        break;
    case CliMode::Send:
        if (options.urls.empty() || options.urls.size() > 2)
            return fail("--send takes a URL and an optional referer");
        break;
    case CliMode::Download:
        if (options.urls.empty() && options.urlListFile.empty() && !options.batch)
            return fail("no URL given");
        if (!options.outputName.empty() && options.urls.size() > 1)
            return fail("-o names one file; give a single URL with it");
        if (!options.mirrors.empty() && options.urls.size() > 1)
            return fail("--mirror names another source of one file; give a single URL with it");
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
    if (!options.mirrors.empty() && options.urls.size() > 1)
        return "--mirror names another source of one file; give a single URL with it";
    return {};
}

std::string addUrlsFromBatch(CliOptions& options)
{
    if (!options.batch)
        return {};
    const BatchValidation check = ValidateBatch(*options.batch);
    if (!check.ok())
        return "--batch " + options.batch->urlTemplate + ": " + check.message;
    std::vector<std::string> urls = ExpandBatch(*options.batch);
    options.urls.insert(options.urls.end(), std::make_move_iterator(urls.begin()), std::make_move_iterator(urls.end()));
    if (!options.outputName.empty() && options.urls.size() > 1)
        return "-o names one file; give a single URL with it";
    if (!options.mirrors.empty() && options.urls.size() > 1)
        return "--mirror names another source of one file; give a single URL with it";
    return {};
}

std::string checkCaFile(const CliOptions& options)
{
    if (options.caFile.empty())
        return {};
    std::error_code error;
    if (!std::filesystem::is_regular_file(options.caFile, error))
        return "--ca-file " + options.caFile + ": no such file";
    TlsSettings settings;
    settings.extraCaFile = options.caFile;
    std::string why;
    if (!TlsClientContext::create(settings, &why))
        return "--ca-file " + options.caFile + ": " + why;
    return {};
}

}  // namespace fetchora
