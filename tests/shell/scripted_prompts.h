#pragma once
// A UserPrompts that records every message and question and answers from a
// script: Yes/No answers in order (a question beyond the script is a test
// failure and answers No), and a fixed choice for "Select links".
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "shell/user_prompts.h"

namespace fetchora::test {

class ScriptedPrompts : public UserPrompts {
public:
    struct Shown {
        std::string text;
        MessageIcon icon;
    };

    std::vector<Shown> messages;
    std::vector<std::string> questions;
    std::deque<bool> yesNoAnswers;
    // Indexes into the offered links; empty means Cancel.
    std::vector<size_t> linksToChoose;
    std::vector<std::vector<LinkChoice>> linkOffers;

    void message(const std::string& text, MessageIcon icon) override { messages.push_back({text, icon}); }
    bool askYesNo(const std::string& text, MessageIcon) override
    {
        questions.push_back(text);
        if (yesNoAnswers.empty()) {
            ADD_FAILURE() << "unexpected question: " << text;
            return false;
        }
        const bool answer = yesNoAnswers.front();
        yesNoAnswers.pop_front();
        return answer;
    }
    bool askOkCancel(const std::string& text, MessageIcon icon) override { return askYesNo(text, icon); }
    bool askYesNoRemember(const std::string& text, bool& doNotAskAgain) override
    {
        doNotAskAgain = false;
        return askYesNo(text, MessageIcon::Question);
    }
    std::optional<std::filesystem::path> chooseOpenFile(const std::string&, const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> chooseSaveFile(const std::string&, const std::string&,
                                                        const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::filesystem::path> chooseFolder(const std::string&, const std::filesystem::path&) override
    {
        return std::nullopt;
    }
    bool editJob(const std::string&, DownloadJob&, const JobFileChange& = {}) override { return false; }
    bool editJobs(const std::string&, DownloadJob&, std::size_t) override { return false; }
    DuplicateAnswer askDuplicateUrl(const DownloadJob&, const DownloadJob&) override { return {}; }
    PermanentDeleteAnswer confirmPermanentDelete(bool, bool) override { return {}; }
    std::optional<FindRequest> askFind(const FindRequest&) override { return std::nullopt; }
    DownloadJob* chooseCategory(const std::string&, const std::string&) override { return nullptr; }
    std::optional<CategoryAnswer> editCategory(const std::string&, const CategoryAnswer&) override
    {
        return std::nullopt;
    }
    std::optional<FolderChangeAnswer> askFolderChange() override { return std::nullopt; }
    std::optional<std::string> askText(const std::string&, const std::string&) override { return std::nullopt; }
    std::vector<LinkChoice> selectLinks(const std::vector<LinkChoice>& links) override
    {
        linkOffers.push_back(links);
        std::vector<LinkChoice> chosen;
        for (const size_t index : linksToChoose)
            chosen.push_back(links.at(index));
        return chosen;
    }
    void openDialog(const std::string&) override { }
};

}  // namespace fetchora::test
