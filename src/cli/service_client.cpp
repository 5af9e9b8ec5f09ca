#include "cli/service_client.h"

#include <ostream>

#include "cli/cli_texts.h"
#include "platform/ipc_endpoint.h"
#include "platform/single_instance.h"
#include "shell/ipc_fault_text.h"
#include "shell/service_topics.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

int request(std::string_view topic, const std::string& item, std::ostream& out, std::ostream& err,
            const Environment& environment)
{
    FolderResult folder = serviceFolder(environment);
    if (!folder) {
        err << "fetchora-cli: " << builtinText(kStrCliNoInstanceFolder, {folder.error}) << "\n";
        return 1;
    }
    IpcReply reply = ipcRequest(folder.path / kServiceName, topic, item);
    switch (reply.outcome) {
    case IpcReply::Outcome::Data: out << reply.text << "\n"; return 0;
    case IpcReply::Outcome::NoData: return 0;
    case IpcReply::Outcome::Refused: err << "fetchora-cli: " << builtinText(kStrCliNotServed, {topic}) << "\n"; return 1;
    case IpcReply::Outcome::NoServer: err << "fetchora-cli: " << builtinText(kStrCliNoInstance) << "\n"; return 1;
    case IpcReply::Outcome::Failed: break;
    }
    err << "fetchora-cli: " << ipcFaultText(reply.fault) << "\n";
    return 1;
}

}  // namespace

int sendUrlToRunningInstance(const CliOptions& options, std::ostream& out, std::ostream& err,
                             const Environment& environment)
{
    const bool hasReferer = options.urls.size() > 1;
    const std::string item = OpenUrlItemText(options.urls.front(), hasReferer ? options.urls[1] : "", hasReferer);
    return request(kTopicOpenUrl, item, out, err, environment);
}

int requestDownloadInfo(const CliOptions& options, std::ostream& out, std::ostream& err, const Environment& environment)
{
    return request(kTopicDownloadInfo, std::to_string(options.infoItem), out, err, environment);
}

}  // namespace fetchora
