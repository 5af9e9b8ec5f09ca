#include "host/browser_host.h"

#include <cstdlib>
#include <thread>
#include <utility>

#include "config/pattern_list.h"
#include "host/browser_request.h"
#include "host/native_frames.h"
#include "platform/atomic_file.h"
#include "platform/ipc_endpoint.h"
#include "shell/click_catcher.h"
#include "shell/service_topics.h"

namespace fetchora {
namespace {

constexpr auto kRetryStep = std::chrono::milliseconds(200);
constexpr auto kProbeWait = std::chrono::milliseconds(1000);

}  // namespace

BrowserHost::BrowserHost(BrowserHostSetup setup) : m_setup(std::move(setup))
{
}

bool BrowserHost::programRuns()
{
    // The job-information request changes nothing in the program.
    const IpcReply reply = ipcRequest(m_setup.socket, kTopicDownloadInfo, "-1", kProbeWait);
    return reply.outcome == IpcReply::Outcome::Data || reply.outcome == IpcReply::Outcome::NoData;
}

BrowserHost::HandOver BrowserHost::handOver(std::string_view topic, const std::string& item, std::string& replyText,
                                            std::string& error, std::ostream& log)
{
    const auto deadline = std::chrono::steady_clock::now() + m_setup.startWait;
    while (true) {
        const IpcReply reply = ipcRequest(m_setup.socket, topic, item, m_setup.handOverWait);
        switch (reply.outcome) {
        case IpcReply::Outcome::Data: replyText = reply.text; return HandOver::Answered;
        case IpcReply::Outcome::Refused:
            error = "the running Fetchora does not take browser hand-overs";
            return HandOver::Refused;
        case IpcReply::Outcome::NoData:
            error = "the running Fetchora does not take browser hand-overs";
            return HandOver::Failed;
        case IpcReply::Outcome::Failed:
            // It may have taken the URL before failing: asking again could
            // add it twice.
            error = "Fetchora did not answer: " + reply.error;
            return HandOver::Failed;
        case IpcReply::Outcome::NoServer: break;
        }
        if (!m_started) {
            m_started = true;
            std::string startError;
            if (!m_setup.startProgram || !m_setup.startProgram(startError)) {
                error = "Fetchora is not running and could not be started"
                    + (startError.empty() ? std::string() : ": " + startError);
                return HandOver::Failed;
            }
            log << "fetchora-host: Fetchora was not running; started it\n";
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "Fetchora was started but did not answer within "
                + std::to_string(std::chrono::duration_cast<std::chrono::seconds>(m_setup.startWait).count()) + " s";
            return HandOver::Failed;
        }
        std::this_thread::sleep_for(kRetryStep);
    }
}

std::string BrowserHost::answer(const std::string& message, std::ostream& log)
{
    const ParsedBrowserRequest parsed = ParseBrowserRequest(message);
    if (!parsed.request) {
        log << "fetchora-host: refused a message: " << parsed.error << "\n";
        return ErrorReplyJson(parsed.id, parsed.error);
    }
    const BrowserRequest& request = *parsed.request;
    if (request.kind == BrowserRequest::Kind::Ping)
        return PingReplyJson(request.id, programRuns(), m_setup.version);

    if (request.captured) {
        const std::string types = m_setup.capturedTypes ? m_setup.capturedTypes() : std::string();
        if (!matchPatternList(types, fileExtension(CapturedFileName(request))))
            return CatchReplyJson(request.id, false, false);
    }
    // Before the hand-over: the program's first request needs them.
    std::string error;
    if (!request.cookies.empty() && m_setup.storeCookies && !m_setup.storeCookies(request.cookies, error))
        log << "fetchora-host: the page's cookies were not kept: " << error << "\n";
    std::string replyText;
    // Our own topic carries the agent and the file names; an older program
    // refuses it and gets the plain click-catcher codes.
    for (const bool browserLayout : {true, false}) {
        if (browserLayout && m_plainOnly)
            continue;
        const CatcherHandOver catcher = MakeCatcherHandOver(request, kMaxItemBytes, browserLayout);
        if (!catcher.error.empty())
            return ErrorReplyJson(request.id, catcher.error);
        if (!catcher.fileData.empty()) {
            if (m_setup.temporaryFolder.empty())
                return ErrorReplyJson(request.id, "the list is too large to hand over directly");
            const std::filesystem::path file = m_setup.temporaryFolder / std::string(kClickCatcherFile);
            if (!writeFileAtomically(file, catcher.fileData))
                return ErrorReplyJson(request.id, "cannot write the list for Fetchora to " + file.string());
        }
        error.clear();
        const std::string_view topic = browserLayout ? kTopicBrowserCatch : kTopicClickCatcher;
        const HandOver outcome = handOver(topic, catcher.item, replyText, error, log);
        if (outcome == HandOver::Answered)
            break;
        if (outcome == HandOver::Refused && browserLayout) {
            log << "fetchora-host: the running Fetchora is older; the user agent and file names are not passed on\n";
            m_plainOnly = true;
            continue;
        }
        log << "fetchora-host: " << error << "\n";
        return ErrorReplyJson(request.id, error);
    }
    const int code = std::atoi(replyText.c_str());
    return CatchReplyJson(request.id, code == kCatchTaken, code == kCatchClosing);
}

int BrowserHost::run(int in, int out, std::ostream& log)
{
    while (true) {
        const FrameRead frame = ReadNativeFrame(in);
        std::string error;
        switch (frame.status) {
        case FrameStatus::Message:
            if (!WriteNativeFrame(out, answer(frame.text, log), error)) {
                log << "fetchora-host: cannot answer the browser: " << error << "\n";
                return 1;
            }
            continue;
        case FrameStatus::End: return 0;
        case FrameStatus::TooLarge:
            // The rest of the stream cannot be trusted to be in step: answer and end.
            log << "fetchora-host: " << frame.error << "; ending\n";
            WriteNativeFrame(out, ErrorReplyJson("null", frame.error), error);
            return 1;
        case FrameStatus::Truncated:
        case FrameStatus::Failed: log << "fetchora-host: " << frame.error << "; ending\n"; return 1;
        }
    }
}

}  // namespace fetchora
