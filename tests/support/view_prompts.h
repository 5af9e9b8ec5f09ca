#pragma once
// UserPrompts for the main view's tests: every question is recorded with its text, and the
// answers come from fields the test sets beforehand.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/desktop_actions.h"
#include "shell/user_prompts.h"

namespace fetchora::test {

class ViewPrompts final : public UserPrompts {
public:
    struct Asked {
        std::string kind;  // "message", "yesno", "okcancel", "dialog:<name>", ...
        std::string text;
        MessageIcon icon = MessageIcon::Information;
    };

    void message(const std::string& text, MessageIcon icon) override { asked.push_back({"message", text, icon}); }
    bool askYesNo(const std::string& text, MessageIcon icon) override
    {
        asked.push_back({"yesno", text, icon});
        return next(yesNo, defaultYes);
    }
    bool askOkCancel(const std::string& text, MessageIcon icon) override
    {
        asked.push_back({"okcancel", text, icon});
        return next(okCancel, defaultOk);
    }
    bool askYesNoRemember(const std::string& text, bool& doNotAskAgain) override
    {
        asked.push_back({"yesno-remember", text, MessageIcon::Question});
        doNotAskAgain = false;
        return next(yesNo, defaultYes);
    }
    std::optional<std::filesystem::path> chooseOpenFile(const std::string& title, const std::string& filter) override
    {
        asked.push_back({"open", title});
        filters.push_back(filter);
        return openFile;
    }
    std::optional<std::filesystem::path> chooseSaveFile(const std::string& title, const std::string& filter,
                                                        const std::string&) override
    {
        asked.push_back({"save", title});
        filters.push_back(filter);
        return saveFile;
    }
    std::optional<std::filesystem::path> chooseFolder(const std::string& title, const std::filesystem::path&) override
    {
        asked.push_back({"folder", title});
        return folder;
    }
    bool editJob(const std::string& title, DownloadJob& job, const JobFileChange& changeFile = {}) override
    {
        asked.push_back({"editJob", title});
        if (jobEdit)
            jobEdit(job);
        if (sheetFileEdit)
            sheetFileEdit(job, changeFile);
        return next(editAnswers, defaultEdit);
    }
    bool editDefaults(const std::string& title, DownloadJob& sample) override
    {
        asked.push_back({"editDefaults", title});
        if (jobEdit)
            jobEdit(sample);
        return next(editAnswers, defaultEdit);
    }
    bool editJobs(const std::string& title, DownloadJob& sample, std::size_t) override
    {
        asked.push_back({"editJobs", title});
        if (jobEdit)
            jobEdit(sample);
        return defaultEdit;
    }
    DuplicateAnswer askDuplicateUrl(const DownloadJob&, const DownloadJob&) override
    {
        asked.push_back({"duplicate", {}});
        return duplicate;
    }
    PermanentDeleteAnswer confirmPermanentDelete(bool deleteFiles, bool deleteUnfinished) override
    {
        asked.push_back({"permanentDelete", std::to_string(deleteFiles) + std::to_string(deleteUnfinished)});
        return permanentDelete;
    }
    std::optional<FindRequest> askFind(const FindRequest&) override
    {
        asked.push_back({"find", {}});
        return find;
    }
    DownloadJob* chooseCategory(const std::string& title, const std::string&) override
    {
        asked.push_back({"category", title});
        return category;
    }
    std::optional<CategoryAnswer> editCategory(const std::string& title, const CategoryAnswer&) override
    {
        asked.push_back({"editCategory", title});
        return categoryAnswer;
    }
    std::optional<FolderChangeAnswer> askFolderChange() override
    {
        asked.push_back({"folderChange", {}});
        return folderChange;
    }
    std::optional<std::string> askText(const std::string& title, const std::string&) override
    {
        asked.push_back({"text", title});
        return text;
    }
    std::vector<LinkChoice> selectLinks(const std::vector<LinkChoice>& links) override
    {
        asked.push_back({"selectLinks", std::to_string(links.size())});
        return selectAll ? links : chosenLinks;
    }
    void openDialog(const std::string& name) override { asked.push_back({"dialog:" + name, {}}); }

    // The texts of the questions and messages of one kind, in order.
    std::vector<std::string> texts(const std::string& kind) const
    {
        std::vector<std::string> out;
        for (const Asked& each : asked) {
            if (each.kind == kind)
                out.push_back(each.text);
        }
        return out;
    }

    std::vector<Asked> asked;
    // The filters of the file choosers, in order.
    std::vector<std::string> filters;
    std::deque<bool> yesNo;
    bool defaultYes = true;
    std::deque<bool> okCancel;
    bool defaultOk = true;
    std::deque<bool> editAnswers;
    bool defaultEdit = true;
    std::function<void(DownloadJob&)> jobEdit;
    // What the property sheet does with its new name or folder: the view's
    // way to change them, empty where the sheet sets them itself.
    std::function<void(DownloadJob&, const JobFileChange&)> sheetFileEdit;
    std::optional<std::filesystem::path> openFile;
    std::optional<std::filesystem::path> saveFile;
    std::optional<std::filesystem::path> folder;
    DuplicateAnswer duplicate;
    PermanentDeleteAnswer permanentDelete;
    std::optional<FindRequest> find;
    DownloadJob* category = nullptr;
    std::optional<CategoryAnswer> categoryAnswer;
    std::optional<FolderChangeAnswer> folderChange;
    std::optional<std::string> text;
    bool selectAll = true;
    std::vector<LinkChoice> chosenLinks;

private:
    static bool next(std::deque<bool>& answers, bool fallback)
    {
        if (answers.empty())
            return fallback;
        const bool answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

// DesktopActions that only record what would have run.
class RecordingDesktop final : public DesktopActions {
public:
    bool open(const std::string& pathOrUrl) override
    {
        opened.push_back(pathOrUrl);
        return true;
    }
    bool showInFolder(const std::filesystem::path& file) override
    {
        shown.push_back(file.string());
        return true;
    }
    bool playSound(const std::filesystem::path& file) override
    {
        sounds.push_back(file.string());
        return true;
    }
    bool startProgram(const std::vector<std::string>& argv) override
    {
        programs.push_back(argv);
        return true;
    }

    std::vector<std::string> opened;
    std::vector<std::string> shown;
    std::vector<std::string> sounds;
    std::vector<std::vector<std::string>> programs;
};

}  // namespace fetchora::test
