// fetchora-cli under --lang de over its paths (help, argument errors, bad
// databases, a start that fails, downloads from a loopback server that end
// well and badly, the list modes, the requests to a daemon, the browser
// hosts, and the failures the lower layers put into words: an untrusted
// certificate, a refused port, a folder that cannot be made, a damaged list
// file, a database that cannot be written, a stream server's error, a profile
// the program refuses): every line it prints must be German. A line counts as English when
// the same run in English printed it too, or when it matches the English
// text of a string id whose German differs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "lang/language_file.h"
#include "engine/asf_test_files.h"
#include "support/cli_process.h"
#include "support/fake_mms_server.h"
#include "support/loopback_sockets.h"
#include "support/real_peers.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

namespace fs = std::filesystem;

std::string shippedFile(const std::string& name)
{
    std::ifstream in(fs::path(FETCHORA_LANGUAGE_DIR) / name, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The German file without the "String" entries of the given ids.
std::string withoutIds(const std::string& file, const std::set<std::string>& ids)
{
    std::istringstream in(file);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        const std::string key = line.substr(0, line.find('='));
        if (line.find('=') == std::string::npos || ids.count(key) == 0)
            out += line + "\n";
    }
    return out;
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// One path of the program: its arguments and what the profile holds first.
struct Scenario {
    std::string name;
    std::function<std::vector<std::string>(const fs::path& folder)> arguments;
    std::function<void(const fs::path& folder)> prepare = [](const fs::path&) {};
    bool standardOutput = true;  // false: it is machine-read (the --db listing)
    // Run a copy of the program with the language file in its own data
    // folder rather than in the profile (which the path may refuse).
    bool programData = false;
};

struct Output {
    std::vector<std::string> lines;
    int code = -3;
};

Output run(const Scenario& scenario, const std::string* germanFile)
{
    test::TempDir dir;
    fs::create_directories(dir / "home" / "language");
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "log");
    fs::path program;
    if (scenario.programData) {
        fs::create_directories(dir / "program" / "language");
        program = dir / "program" / "fetchora-cli";
        fs::copy_file(test::cliProgram(), program);
        if (germanFile)
            test::writeFile(dir / "program" / "language" / "kxdeu.ini", *germanFile);
    } else if (germanFile) {
        test::writeFile(dir / "home" / "language" / "kxdeu.ini", *germanFile);
    }
    scenario.prepare(dir.path());
    std::vector<std::string> arguments;
    if (germanFile)
        arguments = {"--lang", "de"};
    const std::vector<std::string> own = scenario.arguments(dir.path());
    arguments.insert(arguments.end(), own.begin(), own.end());
    std::map<std::string, std::string> environment = test::ownProfileEnvironment(dir.path());
    environment["XDG_CONFIG_HOME"] = (dir / ".config").string();
    std::string err;
    std::string out;
    Output output;
    {
        test::CliProcess process(arguments, environment, dir / "log", {}, program);
        output.code = process.wait();
        err = process.standardError();
        out = process.standardOutput();
    }
    // The folder differs from run to run; what is printed around it does not.
    auto lines = linesOf(err);
    if (scenario.standardOutput) {
        const auto more = linesOf(out);
        lines.insert(lines.end(), more.begin(), more.end());
    }
    for (std::string& line : lines) {
        for (size_t at; (at = line.find(dir.path().string())) != std::string::npos;)
            line.replace(at, dir.path().string().size(), "<dir>");
        if (!line.empty())
            output.lines.push_back(line);
    }
    return output;
}

// The letters of a text's words, without the command's own syntax (the
// program's name, options, placeholders such as DIR): a usage line such as
// "fetchora-cli --daemon" reads the same in every language.
size_t wordLetters(const std::string& text)
{
    size_t letters = 0;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        const bool syntax = word.starts_with("-") || word.starts_with("[") || word.starts_with("fetchora-cli")
            || std::none_of(word.begin(), word.end(), [](unsigned char c) { return std::islower(c) != 0; });
        if (!syntax)
            letters += word.size();
    }
    return letters;
}

// The English texts of the program's own messages whose German differs, as
// patterns that match a line holding them ("%1" stands for anything). A text
// of a few letters ("Wrote %1") could be part of a German line; it is left
// to the comparison with the English run.
std::vector<std::pair<std::string, std::regex>> englishPatterns(const LanguageFile& english, const LanguageFile& german)
{
    std::vector<std::pair<std::string, std::regex>> patterns;
    // The lower layers' causes sit in two blocks: 41301-41499 and 41601-41799.
    for (uint32_t id = 40801; id < 41800; ++id) {
        const auto text = english.value("String", std::to_string(id));
        if (!text || german.value("String", std::to_string(id)) == text)
            continue;
        for (const std::string& line : linesOf(std::string(*text))) {
            std::string pattern;
            for (size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '%' && i + 1 < line.size() && line[i + 1] >= '1' && line[i + 1] <= '9') {
                    pattern += ".*";
                    ++i;
                    continue;
                }
                if (std::string_view("\\^$.|?*+()[]{}").find(line[i]) != std::string_view::npos)
                    pattern += '\\';
                pattern += line[i];
            }
            if (wordLetters(line) >= 12)
                patterns.emplace_back(std::to_string(id) + "=" + line, std::regex(pattern));
        }
    }
    return patterns;
}

constexpr const char* kBody = "0123456789abcdefghijklmnopqrstuvwxyz";

// The addresses the downloading paths fetch from.
struct WalkUrls {
    std::string download;  // 200 with kBody
    std::string missing;  // 404
    std::string untrusted;  // HTTPS with a self-signed certificate
    std::string refused;  // a port nothing listens on
    std::string badLength;  // 200 with a length no body can have
    std::string streamBusy;  // an MMS server whose file is busy
};

std::vector<Scenario> scenarios(const WalkUrls& urls)
{
    auto fixed = [](std::vector<std::string> arguments) { return [arguments](const fs::path&) { return arguments; }; };
    auto inFolder = [](std::vector<std::string> arguments) {
        return [arguments](const fs::path& folder) {
            std::vector<std::string> out;
            for (const std::string& argument : arguments)
                out.push_back(argument.starts_with("@") ? (folder / argument.substr(1)).string() : argument);
            return out;
        };
    };
    const std::string url = "http://127.0.0.1:9/a.bin";
    std::vector<Scenario> list = {
        {"help", fixed({"--help"})},
        {"unknown option", fixed({"--no-such-option"})},
        {"no URL", fixed({})},
        {"option without value", fixed({"-d"})},
        {"split", fixed({"--split", "0", url})},
        {"retry", fixed({"--retry", "99999", url})},
        {"timeout", fixed({"--timeout", "1", url})},
        {"limit", fixed({"--limit", "0", url})},
        {"proxy scheme", fixed({"-x", "gopher://h:1", url})},
        {"proxy port", fixed({"-x", "http://h:99999", url})},
        {"proxy host", fixed({"-x", "http://", url})},
        {"batch bounds", fixed({"--batch", "http://127.0.0.1:9/(*).bin", "ab", "c"})},
        {"batch without marker", fixed({"--batch", "http://127.0.0.1:9/a.bin", "1", "2"})},
        {"batch not downloadable", fixed({"--batch", "127.0.0.1/(*).bin", "1", "2"})},
        {"two names", fixed({"-o", "n.bin", url, url + "2"})},
        {"category without list", fixed({"--category", "X", url})},
        {"system without hosts", fixed({"--system", url})},
        {"db without list", fixed({"--db", "f.kxd", "show"})},
        {"send without URL", fixed({"--send"})},
        {"missing CA file", inFolder({"--ca-file", "@none.pem", url})},
        {"not downloadable", inFolder({"-d", "@out", "gopher://127.0.0.1/x"})},
        {"missing database", inFolder({"--db", "@none.kxd", "list"})},
        {"damaged database", inFolder({"--db", "@bad.kxd", "list"}),
         [](const fs::path& folder) { test::writeFile(folder / "bad.kxd", "not a database at all"); }, false},
        {"unreadable settings", inFolder({"-d", "@out", url}),
         [](const fs::path& folder) { fs::create_directories(folder / "home" / "settings.reg"); }},
        {"no daemon to send to", fixed({"--send", url})},
        {"no daemon to ask", fixed({"--info", "0"})},
        {"download", inFolder({"-d", "@out", urls.download})},
        {"download failing", inFolder({"-d", "@out", "--retry", "0", urls.missing})},
        {"untrusted certificate", inFolder({"-d", "@out", "--retry", "0", urls.untrusted})},
        {"refused port", inFolder({"-d", "@out", "--retry", "0", urls.refused})},
        {"bad length", inFolder({"-d", "@out", "--retry", "0", urls.badLength})},
        {"stream busy", inFolder({"-d", "@out", "--retry", "0", urls.streamBusy})},
        {"profile refused", inFolder({"-d", "@out", urls.download}),
         [](const fs::path& folder) {
             fs::create_directories(folder / "home");
             fs::permissions(folder / "home", fs::perms::all);
         },
         true, true},
        {"folder cannot be made", inFolder({"-d", "@blocker/sub", "--retry", "0", urls.download}),
         [](const fs::path& folder) { test::writeFile(folder / "blocker", "a file where a folder should be"); }},
        {"damaged list file", inFolder({"-d", "@out", "-i", "@huge.lst"}),
         [](const fs::path& folder) {
             // Past the list files' size limit, without writing its bytes.
             test::writeFile(folder / "huge.lst", "http://127.0.0.1/a.bin\n");
             fs::resize_file(folder / "huge.lst", 65u * 1024 * 1024);
         }},
        {"database cannot be written", inFolder({"--import-list", "@urls.lst"}),
         [](const fs::path& folder) {
             test::writeFile(folder / "urls.lst", "http://127.0.0.1/a.bin\n");
             // A folder where the database is renamed to: no save can replace it.
             fs::create_directories(folder / "home" / "Default.kxd" / "inside");
         }},
        {"import", inFolder({"--import-list", "@urls.lst"}),
         [](const fs::path& folder) {
             test::writeFile(folder / "urls.lst", "http://127.0.0.1/a.bin\nhttp://127.0.0.1/b.bin\n");
         }},
        {"export", inFolder({"--export-list", "@out.lst"})},
        {"no category", inFolder({"--export-list", "@out.lst", "--category", "Nowhere"})},
        {"no template", inFolder({"--export-html", "@out.html", "nothing"})},
        {"browser hosts", fixed({"--install-browser-hosts"}),
         [](const fs::path& folder) {
             fs::create_directories(folder / ".mozilla");
             fs::create_directories(folder / "snap" / "chromium");
             fs::create_directories(folder / "snap" / "firefox");
             fs::create_directories(folder / ".var" / "app" / "org.chromium.Chromium");
         }},
        {"no browser hosts", fixed({"--uninstall-browser-hosts"})},
    };
    return list;
}

// Lines that read the same in German, each with its reason.
const std::map<std::string, std::string> kSameInGerman = {};

// The lines of the German runs that are English, each after its scenario's name.
std::vector<std::string> englishLeftovers(const std::string& germanFile, const std::vector<std::string>& only = {})
{
    test::ScriptedServer server(test::ServerScript().readRequestHead().send(
        "HTTP/1.1 200 OK\r\nContent-Length: 36\r\nConnection: close\r\n\r\n" + std::string(kBody)));
    test::ScriptedServer missing(test::ServerScript().readRequestHead().send(
        "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"));
    test::ScriptedServer badLength(test::ServerScript().readRequestHead().send(
        "HTTP/1.1 200 OK\r\nContent-Length: -20\r\nConnection: close\r\n\r\ndata"));
    test::FakeMmsServer busy({.asf = test::asfFile({}), .openFileResult = 0xC00D000E});
    const test::NginxPeer nginx;
    const std::string base = "http://127.0.0.1:";
    const WalkUrls urls{base + std::to_string(server.port()) + "/f.bin", base + std::to_string(missing.port()) + "/x.bin",
                        "https://127.0.0.1:" + std::to_string(nginx.httpsPort()) + "/files/small.txt",
                        base + std::to_string(test::refusedPort()) + "/r.bin",
                        base + std::to_string(badLength.port()) + "/b.bin",
                        "mms://127.0.0.1:" + std::to_string(busy.port()) + "/media/clip.asf"};
    const auto patterns
        = englishPatterns(LanguageFile::parse(shippedFile("kxeng.ini")), LanguageFile::parse(germanFile));
    EXPECT_GT(patterns.size(), 100u);

    std::vector<std::string> leftovers;
    for (const Scenario& scenario : scenarios(urls)) {
        if (!only.empty() && std::find(only.begin(), only.end(), scenario.name) == only.end())
            continue;
        const Output english = run(scenario, nullptr);
        const Output german = run(scenario, &germanFile);
        EXPECT_EQ(german.code, english.code) << scenario.name;
        EXPECT_FALSE(german.lines.empty()) << scenario.name << " printed nothing";
        const std::set<std::string> englishLines(english.lines.begin(), english.lines.end());
        for (const std::string& line : german.lines) {
            if (kSameInGerman.count(line) != 0)
                continue;
            std::string why;
            if (englishLines.count(line) != 0)
                why = "as in English";
            for (const auto& [text, pattern] : patterns) {
                if (why.empty() && std::regex_search(line, pattern))
                    why = "the English of " + text;
            }
            if (!why.empty())
                leftovers.push_back("[" + scenario.name + "] " + line + "  (" + why + ")");
        }
    }
    return leftovers;
}

std::string joined(const std::vector<std::string>& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST(CliLanguageWalk, EveryLineOfEveryPathIsGermanWithTheGermanFile)
{
    const std::vector<std::string> leftovers = englishLeftovers(shippedFile("kxdeu.ini"));
    EXPECT_TRUE(leftovers.empty()) << leftovers.size() << " lines stayed English:\n" << joined(leftovers);
}

// The walk finds a text the German file lacks, whether the line is the same
// as in English or only its fixed words are (a summary's time and speed vary).
TEST(CliLanguageWalk, ATextMissingFromTheGermanFileIsListed)
{
    const std::string shipped = shippedFile("kxdeu.ini");
    const std::vector<std::string> leftovers
        = englishLeftovers(withoutIds(shipped, {"41172", "41155", "41156", "41070", "41010", "41020"}),
                           {"help", "unknown option", "missing database", "download"});
    const std::string list = joined(leftovers);
    EXPECT_NE(list.find("[missing database] fetchora-cli: cannot open the database <dir>/none.kxd"), std::string::npos)
        << list;
    EXPECT_NE(list.find("[download] f.bin: done, 36 B in "), std::string::npos) << list;
    EXPECT_NE(list.find("[unknown option] fetchora-cli: unknown option --no-such-option"), std::string::npos) << list;
    EXPECT_NE(list.find("[unknown option] usage: fetchora-cli [-d DIR]"), std::string::npos) << list;
    EXPECT_NE(list.find("[help] usage: fetchora-cli [-d DIR]"), std::string::npos) << list;
    EXPECT_NE(list.find("save into DIR (default: the current folder)"), std::string::npos) << list;
}

// The same for the causes the connection layers, the platform, the list
// files and the database put into words.
TEST(CliLanguageWalk, ALowerLayerTextMissingFromTheGermanFileIsListed)
{
    const std::vector<std::string> leftovers
        = englishLeftovers(withoutIds(shippedFile("kxdeu.ini"),
                                      {"41302", "41323", "41432", "41439", "41451", "41471", "41487", "41612",
                                       "41715"}),
                           {"untrusted certificate", "refused port", "folder cannot be made", "damaged list file",
                            "database cannot be written", "bad length", "stream busy", "profile refused"});
    const std::string list = joined(leftovers);
    EXPECT_NE(list.find("[stream busy] "), std::string::npos) << list;
    EXPECT_NE(list.find("the network is busy"), std::string::npos) << list;
    // The refused profile's words come from the program's data folder.
    EXPECT_NE(list.find("[profile refused] "), std::string::npos) << list;
    EXPECT_NE(list.find("<dir>/home may be written by every user"), std::string::npos) << list;
    EXPECT_NE(list.find("[bad length] "), std::string::npos) << list;
    EXPECT_NE(list.find("The server sent a bad Content-Length: -20"), std::string::npos) << list;
    EXPECT_NE(list.find("[untrusted certificate] "), std::string::npos) << list;
    EXPECT_NE(list.find("the certificate of 127.0.0.1 is not trusted ("), std::string::npos) << list;
    EXPECT_NE(list.find("[refused port] "), std::string::npos) << list;
    EXPECT_NE(list.find("connection refused"), std::string::npos) << list;
    EXPECT_NE(list.find("[damaged list file] fetchora-cli: <dir>/huge.lst: larger than 67108864 bytes"), std::string::npos)
        << list;
    // A text too short for the patterns is still found when the whole line is English.
    EXPECT_NE(list.find("[database cannot be written] fetchora-cli: Cannot write <dir>/home/Default.kxd: Is a directory"),
              std::string::npos)
        << list;
}

}  // namespace
}  // namespace fetchora
