#include "shell/startup_command_line.h"

#include <algorithm>

#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

bool IsStartupUrl(const std::string& text)
{
    std::optional<UrlEntry> url = ParseUrl(text);
    return url && IsTransferable(url->service) && !url->host.empty();
}

StartupCommandLine ReadStartupCommandLine(const std::vector<std::string>& arguments)
{
    StartupCommandLine result;
    if (arguments.empty())
        return result;
    const std::string& first = arguments.front();
    if (!first.empty() && (first[0] == '-' || first[0] == '/')) {
        const std::string word = asciiLower(first.substr(1));
        if (word == "install")
            result.mode = RegistrationMode::Install;
        else if (word == "uninstall")
            result.mode = RegistrationMode::Uninstall;
        else if (first[0] == '-' && word == kActivateNewDownload)
            result.newDownload = true;
        if (result.mode != RegistrationMode::Normal || first[0] == '-')
            return result;
    }
    result.startupUrl = first;
    if (IsStartupUrl(first)) {
        if (arguments.size() > 1) {
            result.referer = arguments[1];
            result.hasReferer = true;
        }
    } else {
        result.document = first;
    }
    return result;
}

}  // namespace fetchora
