#include "cli/daemon_prompts.h"

#include <ostream>

#include "cli/cli_texts.h"
#include "cli/terminal_text.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

// Messages may span lines ("\r\n"); the log keeps one line per message.
std::string oneLine(const std::string& text)
{
    std::string line;
    for (char c : text) {
        if (c == '\r')
            continue;
        line += c == '\n' ? ' ' : c;
    }
    return line;
}

}  // namespace

void DaemonPrompts::message(const std::string& text, MessageIcon)
{
    m_err << "fetchora-cli: " << terminalSafe(oneLine(text)) << "\n";
}

bool DaemonPrompts::askYesNo(const std::string& text, MessageIcon)
{
    m_err << "fetchora-cli: " << builtinText(kStrCliAnsweredYes, {terminalSafe(oneLine(text))}) << "\n";
    return true;
}

bool DaemonPrompts::askOkCancel(const std::string& text, MessageIcon)
{
    m_err << "fetchora-cli: " << builtinText(kStrCliAnsweredOk, {terminalSafe(oneLine(text))}) << "\n";
    return true;
}

bool DaemonPrompts::askYesNoRemember(const std::string& text, bool& doNotAskAgain)
{
    doNotAskAgain = false;
    return askYesNo(text, MessageIcon::Question);
}

std::optional<std::filesystem::path> DaemonPrompts::chooseOpenFile(const std::string&, const std::string&)
{
    return std::nullopt;
}

std::optional<std::filesystem::path> DaemonPrompts::chooseSaveFile(const std::string&, const std::string&,
                                                                   const std::string&)
{
    return std::nullopt;
}

std::optional<std::filesystem::path> DaemonPrompts::chooseFolder(const std::string&, const std::filesystem::path&)
{
    return std::nullopt;
}

bool DaemonPrompts::editJob(const std::string&, DownloadJob&, const JobFileChange&)
{
    return true;
}

bool DaemonPrompts::editJobs(const std::string&, DownloadJob&, std::size_t)
{
    return false;
}

DuplicateAnswer DaemonPrompts::askDuplicateUrl(const DownloadJob&, const DownloadJob&)
{
    return {};
}

PermanentDeleteAnswer DaemonPrompts::confirmPermanentDelete(bool, bool)
{
    return {};
}

std::optional<FindRequest> DaemonPrompts::askFind(const FindRequest&)
{
    return std::nullopt;
}

DownloadJob* DaemonPrompts::chooseCategory(const std::string&, const std::string&)
{
    return nullptr;
}

std::optional<CategoryAnswer> DaemonPrompts::editCategory(const std::string&, const CategoryAnswer&)
{
    return std::nullopt;
}

std::optional<FolderChangeAnswer> DaemonPrompts::askFolderChange()
{
    return std::nullopt;
}

std::optional<std::string> DaemonPrompts::askText(const std::string&, const std::string&)
{
    return std::nullopt;
}

std::vector<LinkChoice> DaemonPrompts::selectLinks(const std::vector<LinkChoice>& links)
{
    return links;
}

void DaemonPrompts::openDialog(const std::string&)
{
}

}  // namespace fetchora
