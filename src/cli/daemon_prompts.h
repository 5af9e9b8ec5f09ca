#pragma once
// The answers of the program without windows: nobody is there to ask, so
// every message goes to the error stream and every question takes the
// answer that loses nothing: backups are restored, nothing is deleted,
// duplicates are not fetched again, dialogs are accepted as they stand and
// choosers choose nothing.
//
// Thread: loop thread. Borrows the stream.
#include <iosfwd>

#include "shell/user_prompts.h"

namespace fetchora {

class DaemonPrompts final : public UserPrompts {
public:
    explicit DaemonPrompts(std::ostream& err) : m_err(err) { }

    void message(const std::string& text, MessageIcon icon) override;
    bool askYesNo(const std::string& text, MessageIcon icon) override;
    bool askOkCancel(const std::string& text, MessageIcon icon) override;
    bool askYesNoRemember(const std::string& text, bool& doNotAskAgain) override;
    std::optional<std::filesystem::path> chooseOpenFile(const std::string& title, const std::string& filter) override;
    std::optional<std::filesystem::path> chooseSaveFile(const std::string& title, const std::string& filter,
                                                        const std::string& suggestedName) override;
    std::optional<std::filesystem::path> chooseFolder(const std::string& title,
                                                      const std::filesystem::path& start) override;
    bool editJob(const std::string& title, DownloadJob& job, const JobFileChange& changeFile = {}) override;
    bool editJobs(const std::string& title, DownloadJob& sample, std::size_t count) override;
    DuplicateAnswer askDuplicateUrl(const DownloadJob& existing, const DownloadJob& added) override;
    PermanentDeleteAnswer confirmPermanentDelete(bool deleteFiles, bool deleteUnfinished) override;
    std::optional<FindRequest> askFind(const FindRequest& last) override;
    DownloadJob* chooseCategory(const std::string& title, const std::string& prompt) override;
    std::optional<CategoryAnswer> editCategory(const std::string& title, const CategoryAnswer& start) override;
    std::optional<FolderChangeAnswer> askFolderChange() override;
    std::optional<std::string> askText(const std::string& title, const std::string& start) override;
    std::vector<LinkChoice> selectLinks(const std::vector<LinkChoice>& links) override;
    void openDialog(const std::string& name) override;

private:
    std::ostream& m_err;
};

}  // namespace fetchora
