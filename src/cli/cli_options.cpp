#include "cli/cli_options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <filesystem>

#include "cli/cli_texts.h"
#include "cli/proxy_argument.h"
#include "cli/terminal_text.h"
#include "config/settings_values.h"
#include "lang/string_table.h"
#include "lists/url_list.h"
#include "net/tls_stream.h"
#include "net/url.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

template <typename Number> bool parseNumber(const std::string& text, Number& value)
{
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    return error == std::errc() && stop == end;
}

constexpr std::array kSpecs = {
    CliOptionSpec{"-d", "--dir", kStrCliValueDir, true, kStrCliGroupDownload, kStrCliAboutDir},
    CliOptionSpec{"-o", "--output", kStrCliValueName, true, kStrCliGroupDownload, kStrCliAboutOutput},
    CliOptionSpec{"-s", "--split", kStrCliValueCount, true, kStrCliGroupDownload, kStrCliAboutSplit},
    CliOptionSpec{"-i", "--input-file", kStrCliValueFile, true, kStrCliGroupDownload, kStrCliAboutInputFile},
    CliOptionSpec{"", "--referer", kStrCliValueUrl, true, kStrCliGroupDownload, kStrCliAboutReferer},
    CliOptionSpec{"", "--mirror", kStrCliValueUrl, true, kStrCliGroupDownload, kStrCliAboutMirror},
    CliOptionSpec{"", "--batch", kStrCliValueSeries, false, kStrCliGroupDownload, kStrCliAboutBatch},
    CliOptionSpec{"-x", "--proxy", kStrCliValueUrl, true, kStrCliGroupConnection, kStrCliAboutProxy},
    CliOptionSpec{"", "--ca-file", kStrCliValueFile, true, kStrCliGroupConnection, kStrCliAboutCaFile},
    CliOptionSpec{"", "--retry", kStrCliValueCount, true, kStrCliGroupConnection, kStrCliAboutRetry},
    CliOptionSpec{"", "--timeout", kStrCliValueSeconds, true, kStrCliGroupConnection, kStrCliAboutTimeout},
    CliOptionSpec{"", "--limit", kStrCliValueSpeed, true, kStrCliGroupConnection, kStrCliAboutLimit},
    CliOptionSpec{"-q", "--quiet", 0, false, kStrCliGroupOutput, kStrCliAboutQuiet},
    CliOptionSpec{"-v", "--verbose", 0, false, kStrCliGroupOutput, kStrCliAboutVerbose},
    CliOptionSpec{"", "--lang", kStrCliValueCode, true, kStrCliGroupOutput, kStrCliAboutLang},
    CliOptionSpec{"", "--import-list", kStrCliValueFile, true, kStrCliGroupLists, kStrCliAboutImportList},
    CliOptionSpec{"", "--export-list", kStrCliValueFile, true, kStrCliGroupLists, kStrCliAboutExportList},
    CliOptionSpec{"", "--export-html", kStrCliValueFileTemplate, true, kStrCliGroupLists, kStrCliAboutExportHtml},
    CliOptionSpec{"", "--category", kStrCliValueCategory, true, kStrCliGroupLists, kStrCliAboutCategory},
    CliOptionSpec{"", "--db", kStrCliValueDatabase, true, kStrCliGroupModes, kStrCliAboutDb},
    CliOptionSpec{"", "--daemon", 0, false, kStrCliGroupModes, kStrCliAboutDaemon},
    CliOptionSpec{"", "--send", kStrCliValueSend, false, kStrCliGroupModes, kStrCliAboutSend},
    CliOptionSpec{"", "--info", kStrCliValueItem, true, kStrCliGroupModes, kStrCliAboutInfo},
    CliOptionSpec{"", "--install-browser-hosts", 0, false, kStrCliGroupModes, kStrCliAboutInstallHosts},
    CliOptionSpec{"", "--uninstall-browser-hosts", 0, false, kStrCliGroupModes, kStrCliAboutUninstallHosts},
    CliOptionSpec{"", "--system", 0, false, kStrCliGroupModes, kStrCliAboutSystem},
    CliOptionSpec{"-h", "--help", 0, false, kStrCliGroupModes, kStrCliAboutHelp},
    CliOptionSpec{"", "--version", 0, false, kStrCliGroupModes, kStrCliAboutVersion},
};

// A bound of a letter series: one letter of the Latin alphabet. Digits are
// numbers, and "1".."b" is no series anyone means.
bool isLetter(const std::string& text)
{
    return text.size() == 1 && ((text[0] >= 'a' && text[0] <= 'z') || (text[0] >= 'A' && text[0] <= 'Z'));
}

const CliOptionSpec* findSpec(std::string_view name)
{
    auto spec = std::find_if(kSpecs.begin(), kSpecs.end(), [&](const CliOptionSpec& s) {
        return name == s.longName || (!s.shortName.empty() && name == s.shortName);
    });
    return spec == kSpecs.end() ? nullptr : &*spec;
}

// -o and --mirror speak of one file: why the URLs gathered so far do not
// suit them; empty when they do.
std::string oneUrlConflict(const CliOptions& options)
{
    if (!options.outputName.empty() && options.urls.size() > 1)
        return builtinText(kStrCliOutputOneUrl);
    if (!options.mirrors.empty() && options.urls.size() > 1)
        return builtinText(kStrCliMirrorOneUrl);
    return {};
}

// Options whose value is a text that must not be empty, and the message
// that says so ("%1" the option as given).
struct TextOptionRow {
    std::string_view longName;
    std::string CliOptions::*field;
    uint32_t emptyMessage;
};

constexpr std::array kTextOptions = {
    TextOptionRow{"--lang", &CliOptions::language, kStrCliNeedsLanguage},
    TextOptionRow{"--dir", &CliOptions::folder, kStrCliNeedsFolder},
    TextOptionRow{"--output", &CliOptions::outputName, kStrCliNeedsFileName},
    TextOptionRow{"--input-file", &CliOptions::urlListFile, kStrCliNeedsUrlList},
    TextOptionRow{"--ca-file", &CliOptions::caFile, kStrCliNeedsCaFile},
    TextOptionRow{"--category", &CliOptions::category, kStrCliNeedsCategory},
};

const TextOptionRow* findTextOption(std::string_view longName)
{
    auto row = std::find_if(kTextOptions.begin(), kTextOptions.end(),
                            [&](const TextOptionRow& r) { return r.longName == longName; });
    return row == kTextOptions.end() ? nullptr : &*row;
}

// A whole number within range, as --retry and --timeout take it.
bool parseInRange(const std::string& text, const IntRange& range, std::optional<int32_t>& value)
{
    int32_t number = 0;
    if (!parseNumber(text, number) || !range.contains(number))
        return false;
    value = number;
    return true;
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
    return builtinText(kStrCliUsage) + "\n";
}

std::string cliHelp()
{
    std::string text = cliUsage();
    text += "\n" + builtinText(kStrCliIntroduction) + "\n";
    constexpr size_t kColumn = 28;
    uint32_t group = 0;
    for (const CliOptionSpec& spec : kSpecs) {
        if (spec.group != group) {
            group = spec.group;
            text += "\n" + builtinText(group) + ":\n";
        }
        std::string names = "  ";
        names += spec.shortName.empty() ? std::string("    ") : std::string(spec.shortName) + ", ";
        names += spec.longName;
        if (spec.arguments != 0)
            names += " " + builtinText(spec.arguments);
        // Padded by characters, not bytes, so that translated value names line up.
        const size_t shown = utf8Length(names);
        names.append(shown + 1 > kColumn ? 1 : kColumn - shown, ' ');
        text += names + builtinText(spec.description) + "\n";
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
            return fail(builtinText(kStrCliUnknownOption, {name}));
        if (inlineValue && !spec->takesValue)
            return fail(builtinText(kStrCliTakesNoValue, {name}));
        std::string text;
        if (spec->takesValue) {
            if (inlineValue)
                text = *inlineValue;
            else if (i + 1 < arguments.size())
                text = arguments[++i];
            else
                return fail(builtinText(kStrCliNeedsValue, {name, builtinText(spec->arguments)}));
        }

        const std::string_view option = spec->longName;
        if (const TextOptionRow* row = findTextOption(option)) {
            if (text.empty())
                return fail(builtinText(row->emptyMessage, {name}));
            options.*(row->field) = text;
        } else if (option == "--help") {
            options.mode = CliMode::Help;
        } else if (option == "--version") {
            options.mode = CliMode::Version;
        } else if (option == "--quiet") {
            options.quiet = true;
        } else if (option == "--verbose") {
            options.verbose = true;
        } else if (option == "--referer") {
            options.referer = text;
        } else if (option == "--mirror") {
            const std::optional<UrlEntry> mirror = ParseUrl(text);
            if (!mirror
                || (mirror->service != ServiceCode::Http && mirror->service != ServiceCode::Https
                    && mirror->service != ServiceCode::Ftp))
                return fail(builtinText(kStrCliNeedsMirrorUrl, {name}));
            options.mirrors.push_back(text);
        } else if (option == "--split") {
            int32_t split = 0;
            if (!parseNumber(text, split) || split < 1)
                return fail(builtinText(kStrCliNeedsSplit, {name}));
            options.split = split;
        } else if (option == "--limit") {
            uint32_t limit = 0;
            if (!parseNumber(text, limit) || limit == 0)
                return fail(builtinText(kStrCliNeedsLimit));
            options.limit = limit;
        } else if (option == "--proxy") {
            ProxyArgument proxy = parseProxyArgument(text);
            if (!proxy.entry)
                return fail(proxy.error);
            options.proxy = std::move(proxy.entry);
        } else if (option == "--retry") {
            if (!parseInRange(text, kRetryCountRange, options.retries))
                return fail(builtinText(kStrCliNeedsRetries,
                                      {std::to_string(kRetryCountRange.min), std::to_string(kRetryCountRange.max)}));
        } else if (option == "--timeout") {
            if (!parseInRange(text, kTimeoutRange, options.timeout))
                return fail(builtinText(kStrCliNeedsTimeout,
                                      {std::to_string(kTimeoutRange.min), std::to_string(kTimeoutRange.max)}));
        } else if (option == "--db") {
            if (text.empty())
                return fail(builtinText(kStrCliNeedsDatabase));
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
                return fail(builtinText(kStrCliBatchTwice));
            if (i + 3 >= arguments.size())
                return fail(builtinText(kStrCliNeedsValue, {name, builtinText(kStrCliValueSeries)}));
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
            } else if (isLetter(from) && isLetter(to)) {
                series.kind = BatchKind::Letters;
                series.firstLetter = from;
                series.lastLetter = to;
            } else {
                return fail(builtinText(kStrCliBatchBounds));
            }
            options.batch = std::move(series);
        } else if (option == "--import-list" || option == "--export-list" || option == "--export-html") {
            if (text.empty())
                return fail(builtinText(kStrCliNeedsFile, {name}));
            if (!options.listFile.empty())
                return fail(builtinText(kStrCliOneListCommand));
            options.listFile = text;
            options.mode = option == "--import-list" ? CliMode::ImportList
                : option == "--export-list"          ? CliMode::ExportList
                                                     : CliMode::ExportHtml;
        } else if (option == "--info") {
            if (!parseNumber(text, options.infoItem))
                return fail(builtinText(kStrCliNeedsInfoNumber));
            options.mode = CliMode::Info;
        }
    }

    if (downloadOnly(options) && options.mode != CliMode::Download && options.mode != CliMode::Help
        && options.mode != CliMode::Version)
        return fail(builtinText(kStrCliDownloadOnly));
    if (!options.category.empty() && options.mode != CliMode::ImportList && options.mode != CliMode::ExportList
        && options.mode != CliMode::ExportHtml)
        return fail(builtinText(kStrCliCategoryOnly));
    if (options.systemWide && options.mode != CliMode::InstallBrowserHosts
        && options.mode != CliMode::UninstallBrowserHosts)
        return fail(builtinText(kStrCliSystemOnly));
    switch (options.mode) {
    case CliMode::Help:
    case CliMode::Version:
    case CliMode::Daemon:
    case CliMode::Info:
    case CliMode::InstallBrowserHosts:
    case CliMode::UninstallBrowserHosts:
        if (!options.urls.empty())
            return fail(builtinText(kStrCliUnexpectedArgument, {options.urls.front()}));
        break;
    case CliMode::ListDatabase:
        if (options.urls.size() != 1 || options.urls.front() != "list")
            return fail(builtinText(kStrCliDbTakesList));
        options.urls.clear();
        break;
    case CliMode::ImportList:
    case CliMode::ExportList:
        if (!options.urls.empty())
            return fail(builtinText(kStrCliUnexpectedArgument, {options.urls.front()}));
        break;
    case CliMode::ExportHtml:
        if (options.urls.size() > 1)
            return fail(builtinText(kStrCliExportHtmlArguments));
        if (!options.urls.empty())
            options.exportTemplate = options.urls.front();
        options.urls.clear();
        break;
    case CliMode::Send:
        if (options.urls.empty() || options.urls.size() > 2)
            return fail(builtinText(kStrCliSendArguments));
        break;
    case CliMode::Download:
        if (options.urls.empty() && options.urlListFile.empty() && !options.batch)
            return fail(builtinText(kStrCliNoUrl));
        if (std::string conflict = oneUrlConflict(options); !conflict.empty())
            return fail(std::move(conflict));
        break;
    }
    return CliParse{std::move(options), {}};
}

std::string cliLanguageArgument(const std::vector<std::string>& arguments)
{
    std::string language;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--")
            break;
        if (argument.size() < 2 || argument[0] != '-')
            continue;
        const size_t equals = argument.starts_with("--") ? argument.find('=') : std::string::npos;
        const std::string name = argument.substr(0, equals);
        const CliOptionSpec* spec = findSpec(name);
        if (!spec)
            continue;
        std::string value;
        if (equals != std::string::npos)
            value = argument.substr(equals + 1);
        else if (spec->takesValue && i + 1 < arguments.size())
            value = arguments[++i];
        else if (spec->longName == "--batch")
            i += 3;  // TEMPLATE FROM TO; a WIDTH after them is no option either way
        if (spec->longName == "--lang")
            language = value;
    }
    return language;
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
    return oneUrlConflict(options);
}

std::string addUrlsFromBatch(CliOptions& options)
{
    if (!options.batch)
        return {};
    const BatchValidation check = ValidateBatch(*options.batch);
    if (check.check == BatchCheck::NoMarker)
        return builtinText(kStrCliBatchNoMarker, {options.batch->urlTemplate});
    if (check.check == BatchCheck::Unfetchable)
        return builtinText(kStrCliBatchNotDownloadable, {options.batch->urlTemplate, check.unfetchableUrl});
    if (!check.ok())
        return "--batch " + options.batch->urlTemplate + ": " + check.message;
    std::vector<std::string> urls = ExpandBatch(*options.batch);
    options.urls.insert(options.urls.end(), std::make_move_iterator(urls.begin()), std::make_move_iterator(urls.end()));
    return oneUrlConflict(options);
}

std::string checkCaFile(const CliOptions& options)
{
    if (options.caFile.empty())
        return {};
    std::error_code error;
    if (!std::filesystem::is_regular_file(options.caFile, error))
        return builtinText(kStrCliNoCaFile, {options.caFile});
    TlsSettings settings;
    settings.extraCaFile = options.caFile;
    std::string why;
    if (!TlsClientContext::create(settings, &why))
        return "--ca-file " + options.caFile + ": " + why;
    return {};
}

}  // namespace fetchora
