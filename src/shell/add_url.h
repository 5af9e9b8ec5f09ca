#pragma once
// The add-URL operation without a dialog: a URL handed over by another
// instance or a browser becomes a job in the download queue with the
// settings' defaults and the download rules applied.
//
// Results: 0 added; 1 the text is not a URL the program can fetch; 2 a job
// with the same URL exists already. When that job waits in the queue and is
// not running it is set to start immediately and the caller should top the
// queue up; a job with the same URL elsewhere (already downloaded) is left as
// it is, as the duplicate dialog's Cancel would leave it.
//
// Thread: loop thread; takes the document's job lock. Borrows the document
// and the settings.
#include <cstdint>
#include <string>

namespace fetchora {

class AppSettings;
class CZoviradDoc;
class DownloadJob;

enum class AddUrlResult : int { Added = 0, Invalid = 1, AlreadyListed = 2 };

struct AddUrlOutcome {
    AddUrlResult result = AddUrlResult::Invalid;
    DownloadJob* job = nullptr;  // the new or the existing job
    bool fillQueue = false;  // the queue may have a job to start now
};

AddUrlOutcome AddUrlToQueue(CZoviradDoc& doc, const AppSettings& settings, const std::string& url,
                            const std::string& referer, const std::string& comment, int32_t now);

}  // namespace fetchora
