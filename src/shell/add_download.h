#pragma once
// The add-download operation: every path that turns a URL into a job ends
// here (a URL handed over by another instance or a browser, New Download,
// Paste URL, the clipboard, drops, batches, list imports, the links pane).
//
// Thread: loop thread; takes the job lock for the parts that touch the tree.
#include <cstdint>
#include <string>

namespace fetchora {

class DownloadJob;

struct AddDownloadRequest {
    // The URL; with multiLine, further lines that are URLs become alternate
    // URLs of the job.
    std::string text;
    bool multiLine = false;
    // Shows the job's property sheet ("Add new download") before adding.
    bool showDialog = false;
    std::string referer;
    std::string comment;
    // From a browser: the user agent the job's requests send, and the name
    // it suggests for the file (made safe; a server's name may still win).
    std::string userAgent{};
    std::string fileName{};
    // Category, folder, file-name rule, split count, start mode, login,
    // proxies and referrer come from this job (later URLs of a batch).
    const DownloadJob* templateJob = nullptr;
};

enum class AddDownloadResult : int { Added = 0, Invalid = 1, AlreadyListed = 2, Cancelled = 3 };

struct AddDownloadOutcome {
    AddDownloadResult result = AddDownloadResult::Invalid;
    // The new job, or the job that already had the URL; none otherwise.
    DownloadJob* job = nullptr;
};

}  // namespace fetchora
