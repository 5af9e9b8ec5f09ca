#include "shell/browser_hosts.h"

#include <system_error>

#include "platform/atomic_file.h"
#include "shell/front_end_texts.h"
#include "shell/shell_texts.h"

namespace fetchora {
namespace fs = std::filesystem;
namespace {

std::string manifestName()
{
    return std::string(kBrowserHostName) + ".json";
}

std::optional<fs::path> absolutePath(const Environment& env, const std::string& name)
{
    const std::optional<std::string> value = env(name);
    if (!value || value->empty() || (*value)[0] != '/')
        return std::nullopt;
    return fs::path(*value);
}

// A JSON string literal of a path (paths here are the user's own folders).
std::string jsonText(std::string_view text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char digits[] = "0123456789abcdef";
            out += "\\u00";
            out += digits[byte >> 4];
            out += digits[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

std::vector<BrowserHostFolder> UserBrowserHostFolders(const Environment& env)
{
    std::vector<BrowserHostFolder> folders;
    const std::optional<fs::path> home = absolutePath(env, "HOME");
    if (!home)
        return folders;
    const fs::path config = absolutePath(env, "XDG_CONFIG_HOME").value_or(*home / ".config");
    folders.push_back({"Firefox", true, *home / ".mozilla" / "native-messaging-hosts", *home / ".mozilla"});
    const struct {
        const char* browser;
        const char* folder;
    } chromiums[] = {
        {"Chromium", "chromium"},
        {"Google Chrome", "google-chrome"},
        {"Microsoft Edge", "microsoft-edge"},
        {"Brave", "BraveSoftware/Brave-Browser"},
        {"Vivaldi", "vivaldi"},
    };
    for (const auto& chromium : chromiums)
        folders.push_back(
            {chromium.browser, false, config / chromium.folder / "NativeMessagingHosts", config / chromium.folder});
    return folders;
}

std::vector<BrowserHostFolder> SystemBrowserHostFolders(const fs::path& root)
{
    const auto at = [&root](const char* path) { return root / path; };
    // Brave and Vivaldi have been seen reading both their own folder and
    // Chrome's; both are written.
    return {
        {"Firefox", true, at("usr/lib/mozilla/native-messaging-hosts"), {}},
        {"Firefox", true, at("usr/lib64/mozilla/native-messaging-hosts"), {}},
        {"Chromium", false, at("etc/chromium/native-messaging-hosts"), {}},
        {"Google Chrome", false, at("etc/opt/chrome/native-messaging-hosts"), {}},
        {"Microsoft Edge", false, at("etc/opt/edge/native-messaging-hosts"), {}},
        {"Brave", false, at("etc/opt/brave/native-messaging-hosts"), {}},
        {"Vivaldi", false, at("etc/opt/vivaldi/native-messaging-hosts"), {}},
    };
}

std::string BrowserHostManifest(const fs::path& hostProgram, bool firefox)
{
    std::string text = "{\n";
    text += "  \"name\": " + jsonText(kBrowserHostName) + ",\n";
    text += "  \"description\": \"Hands links from the browser to Fetchora\",\n";
    text += "  \"path\": " + jsonText(hostProgram.string()) + ",\n";
    text += "  \"type\": \"stdio\",\n";
    if (firefox)
        text += "  \"allowed_extensions\": [" + jsonText(kFirefoxExtensionId) + "]\n";
    else
        text += "  \"allowed_origins\": [" + jsonText("chrome-extension://" + std::string(kChromiumExtensionId) + "/")
            + "]\n";
    return text + "}\n";
}

BrowserHostReport InstallBrowserHosts(const std::vector<BrowserHostFolder>& folders, const fs::path& hostProgram,
                                      bool onlyPresent)
{
    BrowserHostReport report;
    for (const BrowserHostFolder& folder : folders) {
        std::error_code ec;
        if (onlyPresent && !folder.browserFolder.empty() && !fs::is_directory(folder.browserFolder, ec))
            continue;
        const fs::path manifest = folder.folder / manifestName();
        fs::create_directories(folder.folder, ec);
        if (ec || !writeFileAtomically(manifest, BrowserHostManifest(hostProgram, folder.firefox))) {
            report.ok = false;
            report.lines.push_back(
                ec ? builtinText(kStrHostCannotWriteBecause, {folder.browser, manifest.string(), ec.message()})
                   : builtinText(kStrHostCannotWrite, {folder.browser, manifest.string()}));
            continue;
        }
        report.lines.push_back(builtinText(kStrHostWrote, {folder.browser, manifest.string()}));
    }
    if (report.lines.empty())
        report.lines.push_back(builtinText(kStrHostNoBrowser));
    return report;
}

BrowserHostReport UninstallBrowserHosts(const std::vector<BrowserHostFolder>& folders)
{
    BrowserHostReport report;
    for (const BrowserHostFolder& folder : folders) {
        const fs::path manifest = folder.folder / manifestName();
        std::error_code ec;
        if (!fs::exists(fs::symlink_status(manifest, ec)))
            continue;
        if (!fs::remove(manifest, ec) || ec) {
            report.ok = false;
            report.lines.push_back(builtinText(kStrHostCannotRemove, {folder.browser, manifest.string(), ec.message()}));
            continue;
        }
        report.lines.push_back(builtinText(kStrHostRemoved, {folder.browser, manifest.string()}));
    }
    if (report.lines.empty())
        report.lines.push_back(builtinText(kStrHostNoneInstalled));
    return report;
}

std::vector<std::string> SandboxedBrowserNotes(const Environment& env)
{
    std::vector<std::string> notes;
    const std::optional<fs::path> home = absolutePath(env, "HOME");
    if (!home)
        return notes;
    const struct {
        const char* browser;
        const char* id;
    } flatpaks[] = {
        {"Firefox", "org.mozilla.firefox"},     {"Chromium", "org.chromium.Chromium"},
        {"Google Chrome", "com.google.Chrome"}, {"Microsoft Edge", "com.microsoft.Edge"},
        {"Brave", "com.brave.Browser"},         {"Vivaldi", "com.vivaldi.Vivaldi"},
    };
    std::error_code ec;
    for (const auto& flatpak : flatpaks) {
        if (fs::is_directory(*home / ".var" / "app" / flatpak.id, ec))
            notes.push_back(builtinText(kStrHostFlatpakNote, {flatpak.browser, flatpak.id}));
    }
    if (fs::is_directory(*home / "snap" / "chromium", ec))
        notes.push_back(builtinText(kStrHostChromiumSnapNote));
    if (fs::is_directory(*home / "snap" / "firefox", ec))
        notes.push_back(builtinText(kStrHostFirefoxSnapNote));
    return notes;
}

}  // namespace fetchora
