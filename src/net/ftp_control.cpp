#include "net/ftp_control.h"

#include <algorithm>
#include <limits>

#include "config/pattern_list.h"
#include "net/ftp_data_address.h"
#include "net/net_texts.h"
#include "net/transfer_channel.h"
#include "net/url.h"
#include "platform/text_utils.h"

namespace fetchora {

namespace {

// Replies one control connection may give; a server that talks on and on
// without the dialogue getting anywhere is cut off.
constexpr int kMaxFtpReplies = 500;

bool hasLineBreakOrNul(std::string_view text)
{
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// The object without a ";type=" suffix.
std::string_view withoutTypeSuffix(std::string_view object)
{
    const std::string lowered = asciiLower(object);
    const std::size_t at = lowered.rfind(";type=");
    return at == std::string::npos ? object : object.substr(0, at);
}

bool isLoginRefusal(int code)
{
    switch (code) {
    case 500:
    case 501:
    case 502:
    case 504:
    case 530:
    case 550:
    case 554:
    case 555: return true;
    default: return false;
    }
}

// The user name and password sent to the site.
std::string siteUser(const FtpSession& session)
{
    return session.user.empty() ? std::string("anonymous") : session.user;
}

std::string sitePassword(const FtpSession& session)
{
    if (!session.password.empty())
        return session.password;
    return session.user.empty() ? session.anonymousPassword : std::string();
}

FtpPumpResult fail(FtpControl& control, FtpPumpResult result, std::string why)
{
    control.channel.logLine(ConnectionLogKind::Error, why);
    control.problem = std::move(why);
    return result;
}

FtpPumpResult send(FtpControl& control, FtpCommand command, std::string_view argument = {})
{
    return SendFtpCommand(control, command, argument) ? FtpPumpResult::Nothing : FtpPumpResult::Error;
}

// Sends a command whose reply comes after those already awaited.
FtpPumpResult sendAhead(FtpControl& control, FtpCommand command, std::string_view argument = {})
{
    const FtpCommand awaited = control.lastCommand;
    if (!SendFtpCommand(control, command, argument))
        return FtpPumpResult::Error;
    control.lastCommand = awaited;
    control.ahead.push_back(command);
    return FtpPumpResult::Nothing;
}

// The reply just handled was the one awaited: the next command sent ahead
// is answered next. False when none was sent ahead.
bool nextAhead(FtpControl& control, FtpCommand expected)
{
    if (control.ahead.empty() || control.ahead.front() != expected)
        return false;
    control.lastCommand = control.ahead.front();
    control.ahead.erase(control.ahead.begin());
    return true;
}

// The dialogue takes another way than the commands sent ahead assumed:
// their replies are dropped as they come, before any of the new way's.
void dropAhead(FtpControl& control)
{
    control.discardReplies += static_cast<int>(control.ahead.size());
    control.ahead.clear();
}

std::string unexpected(const FtpReply& reply)
{
    return builtinText(kStrFtpServerAnswered, {reply.last()});
}

bool mentionsTooMany(const FtpReply& reply)
{
    return asciiLower(reply.last()).find("too many") != std::string::npos;
}

char transferType(const FtpControl& control);
FtpPumpResult sendSizeQueryAhead(FtpControl& control);

// ---- login ------------------------------------------------------------------------------

FtpPumpResult nameSite(FtpControl& control)
{
    const ProxyEntry& proxy = *control.session.ftpProxy;
    const FtpSession& session = control.session;
    if (proxy.type == kProxyFtpOpen || proxy.type == kProxyFtpSite) {
        control.loginState = FtpLoginState::SiteNamed;
        return send(control, FtpCommand::Raw, FtpProxySiteLine(proxy.type, session.host, session.port));
    }
    control.loginState = FtpLoginState::UserAtHostSent;
    return send(control, FtpCommand::Raw, FtpProxyUserLine(proxy.type, siteUser(session), session.host, session.port));
}

FtpPumpResult loggedIn(FtpControl& control)
{
    control.channel.logMessage(ConnectionLogKind::Status, kMsgLoginSuccessful);
    control.loginState = FtpLoginState::Done;
    if (control.session.loginTestOnly)
        return FtpPumpResult::LoggedIn;
    if (control.session.resumeKnown) {
        control.channel.logLine(ConnectionLogKind::Status, "The site resumes (found by the job's first connection).");
        control.canResume = true;
        control.probeSkipped = true;
        return FtpPumpResult::LoggedIn;
    }
    control.probeStep = 0;
    return send(control, FtpCommand::Rest, "100");
}

FtpPumpResult actOnLoginReply(FtpControl& control, const FtpReply& reply)
{
    using S = FtpLoginState;
    const S state = control.loginState;
    switch (reply.code) {
    case 220:
        if (state == S::AwaitWelcome || state == S::SiteNamed) {
            control.loginState = S::UserSent;
            const FtpPumpResult sent = send(control, FtpCommand::User, siteUser(control.session));
            // A site that lets its connections in on the name alone answers
            // the size query next: it leaves with USER.
            const FtpSession& session = control.session;
            if (sent != FtpPumpResult::Nothing || !session.sendAhead || !session.userAloneLogsIn || session.ftpProxy)
                return sent;
            return sendSizeQueryAhead(control);
        }
        if (state == S::AwaitProxyAuthWelcome) {
            control.loginState = S::ProxyUserSent;
            return send(control, FtpCommand::User, control.session.ftpProxy->userName);
        }
        if (state == S::AwaitProxyWelcome)
            return nameSite(control);
        return FtpPumpResult::Nothing;
    case 331:
        if (state == S::ProxyUserSent) {
            control.loginState = S::ProxyPassSent;
            return send(control, FtpCommand::Pass, control.session.ftpProxy->password);
        }
        if (state == S::UserSent || state == S::UserAtHostSent) {
            control.loginState = S::PassSent;
            // The password is wanted after all: what left with USER is
            // answered before it, and those replies are dropped.
            dropAhead(control);
            return send(control, FtpCommand::Pass, sitePassword(control.session));
        }
        return FtpPumpResult::Nothing;
    case 230:
        if (state == S::ProxyUserSent || state == S::ProxyPassSent) {
            control.loginState = S::AwaitProxyWelcome;
            return nameSite(control);
        }
        // A site that needs no password accepts the user@host line at once.
        if (state == S::UserSent && !control.session.ftpProxy && !control.session.userAloneLogsIn)
            control.channel.markLoginByUserAlone();
        if (state == S::UserSent || state == S::PassSent || state == S::UserAtHostSent)
            return loggedIn(control);
        return FtpPumpResult::Nothing;
    default: break;
    }
    const bool waitingForLogin = state == S::UserSent || state == S::PassSent || state == S::UserAtHostSent
        || state == S::ProxyPassSent || state == S::ProxyUserSent;
    if (isLoginRefusal(reply.code) && waitingForLogin) {
        // A full server is worth another try later; a refused name or
        // password is not, and the job window moves on or stops the job.
        if (mentionsTooMany(reply))
            return fail(control, FtpPumpResult::Error, builtinText(kStrFtpNoRoomForLogin));
        if (state == S::UserSent || state == S::PassSent)
            control.channel.markLoginFailed();
        return fail(control, FtpPumpResult::Failed, builtinText(kStrFtpLoginRefused, {reply.last()}));
    }
    if (reply.code >= 400)
        return fail(control, FtpPumpResult::Error, unexpected(reply));
    return FtpPumpResult::Nothing;
}

// ---- REST probe -------------------------------------------------------------------------

// The type the file is fetched in: the URL's own, else by its extension.
char transferType(const FtpControl& control)
{
    const char type = FtpUrlType(control.session.object);
    if (type != 0)
        return type;
    return IsAsciiType(control.session.object, control.session.asciiTypes) ? 'A' : 'I';
}

// TYPE and SIZE, and PASV in passive mode, sent behind the command awaited.
FtpPumpResult sendSizeQueryAhead(FtpControl& control)
{
    if (control.paths.empty())
        return FtpPumpResult::Nothing;
    if (sendAhead(control, FtpCommand::Type, std::string(1, transferType(control))) != FtpPumpResult::Nothing
        || sendAhead(control, FtpCommand::Size, control.paths.front()) != FtpPumpResult::Nothing)
        return FtpPumpResult::Error;
    if (control.mode != FtpDataMode::Passive)
        return FtpPumpResult::Nothing;
    return sendAhead(control, FtpCommand::Pasv);
}

FtpPumpResult probeEnds(FtpControl& control, bool canResume)
{
    control.channel.logMessage(ConnectionLogKind::Status, canResume ? kMsgCanResume : kMsgCannotResume);
    control.canResume = canResume;
    control.channel.markResumable(canResume);
    control.probeStep = 1;
    const FtpPumpResult sent = send(control, FtpCommand::Rest, "0");
    // Whatever REST 0 gets, the login is done and the size query follows.
    if (sent != FtpPumpResult::Nothing || !control.session.sizeQueryAhead)
        return sent;
    return sendSizeQueryAhead(control);
}

FtpPumpResult actOnProbeReply(FtpControl& control, const FtpReply& reply)
{
    if (control.lastCommand == FtpCommand::Type) {
        if (reply.code < 200)
            return FtpPumpResult::Nothing;
        if (reply.code == 200)
            return send(control, FtpCommand::Rest, "100");
        return probeEnds(control, false);
    }
    if (control.lastCommand != FtpCommand::Rest || reply.code < 200)
        return FtpPumpResult::Nothing;
    if (control.probeStep >= 1)
        return FtpPumpResult::LoggedIn;
    if (reply.code == 350)
        return probeEnds(control, true);
    // Some servers refuse REST until a binary type is set: ask once more then.
    if (!control.typeSent && FtpUrlType(control.session.object) == 0) {
        control.typeSent = true;
        return send(control, FtpCommand::Type, "I");
    }
    return probeEnds(control, false);
}

// ---- size query -------------------------------------------------------------------------

FtpPumpResult sizeQueryFailed(FtpControl& control)
{
    control.pathIndex = 0;
    return FtpPumpResult::SizeQueryFailed;
}

FtpPumpResult actOnSizeReply(FtpControl& control, const FtpReply& reply)
{
    if (reply.code < 200)
        return FtpPumpResult::Nothing;
    if (control.lastCommand == FtpCommand::Type) {
        if (reply.code != 200 || control.paths.empty()) {
            dropAhead(control);
            return sizeQueryFailed(control);
        }
        if (nextAhead(control, FtpCommand::Size))
            return FtpPumpResult::Nothing;
        return send(control, FtpCommand::Size, control.paths[control.pathIndex]);
    }
    if (control.lastCommand != FtpCommand::Size)
        return FtpPumpResult::Nothing;
    if (reply.code == 213) {
        const std::optional<int64_t> size = ParseFtpNumber(reply.last().size() > 4 ? reply.last().substr(4) : "");
        if (!size || *size > kMaxFtpFileSize) {
            control.channel.logLine(ConnectionLogKind::Error, "The server's size is no usable number: " + reply.last());
            dropAhead(control);
            return sizeQueryFailed(control);
        }
        control.size = *size;
        return FtpPumpResult::SizeKnown;
    }
    // A PASV sent ahead was for the path form that is not there.
    dropAhead(control);
    if (reply.code == 550 && !control.sizeRetried && control.pathIndex + 1 < control.paths.size()) {
        control.sizeRetried = true;
        ++control.pathIndex;
        return send(control, FtpCommand::Size, control.paths[control.pathIndex]);
    }
    return sizeQueryFailed(control);
}

// ---- transfer ---------------------------------------------------------------------------

bool mentionsTooManyOrPassive(const FtpReply& reply)
{
    const std::string text = asciiLower(reply.last());
    return text.find("too many") != std::string::npos || text.find("passive") != std::string::npos;
}

FtpPumpResult sendPort(FtpControl& control)
{
    if (!control.session.activeAllowed)
        return fail(control, FtpPumpResult::Error, builtinText(kStrFtpActiveThroughProxy));
    const std::string line = control.preparePort ? control.preparePort() : std::string();
    if (line.empty())
        return fail(control, FtpPumpResult::Error, builtinText(kStrFtpNoListeningSocket));
    return send(control, FtpCommand::Port, line);
}

FtpPumpResult openData(FtpControl& control)
{
    if (control.mode == FtpDataMode::Passive)
        return send(control, FtpCommand::Pasv);
    return sendPort(control);
}

// Whether a refusal in passive mode may be answered by trying active mode.
bool maySwitchToActive(const FtpControl& control)
{
    return control.mode == FtpDataMode::Passive && !control.session.ftpProxy && control.session.activeAllowed;
}

FtpPumpResult switchToActive(FtpControl& control)
{
    control.mode = FtpDataMode::Active;
    control.channel.logLine(ConnectionLogKind::Status, "Passive mode refused; trying active mode (PORT).");
    return sendPort(control);
}

FtpPumpResult retrieve(FtpControl& control)
{
    return send(control, FtpCommand::Retr, control.paths[control.pathIndex]);
}

FtpPumpResult startRetrieve(FtpControl& control)
{
    // A listing runs in the folder the dialogue changed to: LIST alone.
    if (control.phase == FtpPhase::Listing)
        return send(control, FtpCommand::List);
    if (control.rangeStart != 0) {
        const FtpPumpResult sent = send(control, FtpCommand::Rest, std::to_string(control.rangeStart));
        if (sent != FtpPumpResult::Nothing || !control.session.sendAhead)
            return sent;
        return sendAhead(control, FtpCommand::Retr, control.paths[control.pathIndex]);
    }
    return retrieve(control);
}

FtpPumpResult receiving(FtpControl& control, const FtpReply& reply)
{
    const std::optional<int64_t> announced = ParseFtpAnnouncedSize(reply.last());
    if (!announced) {
        // Many servers give no byte count: the size known from SIZE (or the
        // end of the data) decides.
        control.size = -1;
        return FtpPumpResult::StartReceiving;
    }
    int64_t size = *announced;
    if (size > kMaxFtpFileSize) {
        control.channel.logLine(ConnectionLogKind::Error, "The announced byte count is ignored: " + reply.last());
        control.size = -1;
        return FtpPumpResult::StartReceiving;
    }
    const bool nothingLeft = control.knownSize >= 0 && control.rangeStart >= control.knownSize;
    if (size == 0 && !nothingLeft)
        return fail(control, FtpPumpResult::Failed, builtinText(kStrFtpZeroBytes));
    // A server that counts only what is left after REST.
    if (control.rangeStart != 0 && control.knownSize >= 0 && size <= control.knownSize
        && control.rangeStart == control.knownSize - size)
        size = control.knownSize;
    control.size = size;
    return FtpPumpResult::StartReceiving;
}

FtpPumpResult actOnTransferReply(FtpControl& control, const FtpReply& reply)
{
    // The transfer was given up: whatever the server says about it ends it.
    if (control.abandoning && reply.code >= 200) {
        control.abandoning = false;
        return FtpPumpResult::TransferComplete;
    }
    if (reply.code == 226 || reply.code == 250)
        return FtpPumpResult::TransferComplete;
    if (reply.code < 200 && reply.code != 150 && reply.code != 125)
        return FtpPumpResult::Nothing;
    switch (control.lastCommand) {
    case FtpCommand::Pasv:
        if (reply.code == 227) {
            const std::optional<FtpHostPort> target = ParsePasvReply(reply.last());
            if (!target)
                return fail(control, FtpPumpResult::Error, builtinText(kStrFtpPassiveNoAddress, {reply.last()}));
            control.dataAddress = target->address;
            control.dataPort = target->port;
            return FtpPumpResult::OpenDataConnection;
        }
        if (maySwitchToActive(control)
            && (reply.code == 451 || (reply.code >= 500 && reply.code <= 504) || reply.code == 530
                || (reply.code == 550 && mentionsTooManyOrPassive(reply))))
            return switchToActive(control);
        break;
    case FtpCommand::Port:
        if (reply.code == 200)
            return startRetrieve(control);
        break;
    case FtpCommand::Rest:
        if (reply.code == 350)
            return nextAhead(control, FtpCommand::Retr) ? FtpPumpResult::Nothing : retrieve(control);
        // The site resumed for the job's first connection but not now: the
        // next connection probes again instead of trusting the old answer.
        if (control.probeSkipped)
            control.channel.markResumable(false);
        return fail(control, FtpPumpResult::Error,
                    builtinText(kStrFtpRefusedStart, {std::to_string(control.rangeStart)}));
    case FtpCommand::Retr:
        if (reply.code == 150 || reply.code == 125)
            return receiving(control, reply);
        if ((reply.code == 451 || reply.code == 550) && maySwitchToActive(control) && mentionsTooManyOrPassive(reply))
            return switchToActive(control);
        if (reply.code == 550) {
            if (control.pathIndex + 1 < control.paths.size()) {
                ++control.pathIndex;
                return openData(control);
            }
            control.channel.logMessage(ConnectionLogKind::Error, kMsgFileNotFound);
            control.problem = "FTP " + reply.last();
            return FtpPumpResult::Failed;
        }
        break;
    case FtpCommand::List:
        if (reply.code == 150 || reply.code == 125) {
            control.size = -1;
            return FtpPumpResult::StartReceiving;
        }
        if ((reply.code == 451 || reply.code == 550) && maySwitchToActive(control) && mentionsTooManyOrPassive(reply))
            return switchToActive(control);
        if (reply.code >= 500)
            return fail(control, FtpPumpResult::Failed, builtinText(kStrFtpRefusedList, {reply.last()}));
        break;
    default: return FtpPumpResult::Nothing;
    }
    if (reply.code >= 400)
        return fail(control, FtpPumpResult::Error, unexpected(reply));
    return FtpPumpResult::Nothing;
}

// ---- directory listing ------------------------------------------------------------------

// The folder part of a path form: up to and with its last "/", without the
// trailing "/" unless it is the root. Empty when the form names no folder.
std::string folderOf(std::string_view path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    if (slash == 0)
        return "/";
    return std::string(path.substr(0, slash));
}

FtpPumpResult changeFolder(FtpControl& control)
{
    while (control.pathIndex < control.paths.size()) {
        const std::string folder = folderOf(control.paths[control.pathIndex]);
        if (!folder.empty())
            return send(control, FtpCommand::Cwd, folder);
        ++control.pathIndex;
    }
    return fail(control, FtpPumpResult::Failed, builtinText(kStrFtpFolderNotFound));
}

// The 257 answer: the path between the first pair of double quotes, where a
// doubled quote stands for one; at most 255 bytes.
void rememberDirectory(FtpControl& control, const FtpReply& reply)
{
    const std::string_view text = reply.text();
    const std::size_t open = text.find('"');
    if (open == std::string_view::npos)
        return;
    std::string directory;
    for (std::size_t at = open + 1; at < text.size(); ++at) {
        if (text[at] == '"') {
            if (at + 1 < text.size() && text[at + 1] == '"') {
                directory += '"';
                ++at;
                continue;
            }
            break;
        }
        directory += text[at];
    }
    if (directory.size() > 255)
        directory.resize(255);
    control.currentDirectory = std::move(directory);
}

FtpPumpResult actOnListingReply(FtpControl& control, const FtpReply& reply)
{
    if (reply.code < 200)
        return actOnTransferReply(control, reply);
    switch (control.lastCommand) {
    case FtpCommand::Type:
        if (reply.code >= 400)
            return fail(control, FtpPumpResult::Error, unexpected(reply));
        return send(control, FtpCommand::Pwd);
    case FtpCommand::Pwd:
        // Without a usable answer the listing still works; the URL's own
        // path then names the folder.
        if (reply.code == 257)
            rememberDirectory(control, reply);
        if (control.folderChanged || !control.wantsFolder)
            return openData(control);
        control.pathIndex = 0;
        return changeFolder(control);
    case FtpCommand::Cwd:
        if (reply.code >= 200 && reply.code < 300) {
            // Where the server put us is the folder's own path.
            control.folderChanged = true;
            control.currentDirectory.clear();
            return send(control, FtpCommand::Pwd);
        }
        if (reply.code == 550 || reply.code == 501 || reply.code == 553) {
            ++control.pathIndex;
            if (control.pathIndex < control.paths.size())
                return changeFolder(control);
            return fail(control, FtpPumpResult::Failed, builtinText(kStrFtpFolderNotFoundBecause, {reply.last()}));
        }
        return fail(control, FtpPumpResult::Error, unexpected(reply));
    default: return actOnTransferReply(control, reply);
    }
}

}  // namespace

std::vector<std::string> FtpPathForms(std::string_view object)
{
    const std::string written(withoutTypeSuffix(object));
    const std::string decoded = PercentDecode(written);
    std::string relative = decoded;
    while (!relative.empty() && relative.front() == '/')
        relative.erase(relative.begin());
    std::vector<std::string> forms;
    for (const std::string& form : {decoded, written, relative}) {
        if (form.empty() || hasLineBreakOrNul(form))
            continue;
        if (std::find(forms.begin(), forms.end(), form) == forms.end())
            forms.push_back(form);
    }
    return forms;
}

char FtpUrlType(std::string_view object)
{
    const std::string lowered = asciiLower(object);
    const std::size_t at = lowered.rfind(";type=");
    if (at == std::string::npos || at + 6 >= lowered.size())
        return 0;
    const char type = lowered[at + 6];
    return type == 'a' ? 'A' : type == 'i' ? 'I' : 0;
}

bool IsAsciiType(std::string_view path, std::string_view asciiTypes)
{
    path = withoutTypeSuffix(path);
    const std::string_view extension = fileExtension(path.substr(path.rfind('/') + 1));
    // The list is a file-type pattern list like every other one of the
    // settings, so ".A[0-9]?" entries work here too.
    return extension.size() > 1 && matchPatternList(asciiTypes, extension);
}

std::string FtpCommandLine(FtpCommand command, std::string_view argument)
{
    const auto withOptional = [argument](std::string_view verb) {
        return argument.empty() ? std::string(verb) : std::string(verb) + " " + std::string(argument);
    };
    const auto with = [argument](std::string_view verb) { return std::string(verb) + " " + std::string(argument); };
    switch (command) {
    case FtpCommand::User: return with("USER");
    case FtpCommand::Pass: return with("PASS");
    case FtpCommand::Cwd: return with("CWD");
    case FtpCommand::Cdup: return "CDUP";
    case FtpCommand::Raw:
    case FtpCommand::Port: return std::string(argument);
    case FtpCommand::Pasv: return "PASV";
    case FtpCommand::Type: return with("TYPE");
    case FtpCommand::Rest: return with("REST");
    case FtpCommand::Stor: return withOptional("STOR");
    case FtpCommand::Retr: return withOptional("RETR");
    case FtpCommand::List: return withOptional("LIST");
    case FtpCommand::Rnfr: return with("RNFR");
    case FtpCommand::Rnto: return withOptional("RNTO");
    case FtpCommand::Dele: return with("DELE");
    case FtpCommand::Rmd: return with("RMD");
    case FtpCommand::Mkd: return with("MKD");
    case FtpCommand::Pwd: return "PWD";
    case FtpCommand::Size: return with("SIZE");
    case FtpCommand::None: break;
    }
    return {};
}

std::string FtpLoggedLine(std::string_view line)
{
    const std::string head = asciiLower(line.substr(0, 5));
    if (head == "pass" || head == "pass ")
        return "PASS ********";
    return std::string(line);
}

std::string FtpProxyUserLine(uint16_t proxyType, std::string_view user, std::string_view host, uint16_t port)
{
    std::string line = proxyType == kProxyFtpSiteUser ? "SITE " : "USER ";
    line.append(user).append("@").append(host);
    if (port != 21)
        line += (proxyType == kProxyFtpUserSpace ? " " : ":") + std::to_string(port);
    return line;
}

std::string FtpProxySiteLine(uint16_t proxyType, std::string_view host, uint16_t port)
{
    std::string line = proxyType == kProxyFtpSite ? "SITE " : "OPEN ";
    line.append(host);
    if (port != 21)
        line += ":" + std::to_string(port);
    return line;
}

FtpControl::FtpControl(FtpSession setup, PartChannel& partChannel) : session(std::move(setup)), channel(partChannel)
{
    if (!session.ftpProxy)
        loginState = FtpLoginState::AwaitWelcome;
    else if ((session.ftpProxy->flags & kProxyAuthenticate) != 0)
        loginState = FtpLoginState::AwaitProxyAuthWelcome;
    else
        loginState = FtpLoginState::AwaitProxyWelcome;
    mode = session.passive || !session.activeAllowed ? FtpDataMode::Passive : FtpDataMode::Active;
    paths = FtpPathForms(session.object);
}

bool SendFtpCommand(FtpControl& control, FtpCommand command, std::string_view argument)
{
    control.lastCommand = command;
    const std::string line = FtpCommandLine(command, argument);
    if (hasLineBreakOrNul(line)) {
        control.problem = "A command would carry a line break; it was not sent.";
        control.channel.logLine(ConnectionLogKind::Error, control.problem);
        return false;
    }
    control.channel.logLine(ConnectionLogKind::Sent, FtpLoggedLine(line));
    if (!control.writer || !control.writer(line)) {
        control.problem = builtinText(kStrFtpCommandNotSent);
        return false;
    }
    return true;
}

FtpPumpResult ActOnFtpReply(FtpControl& control, const FtpReply& reply)
{
    if (++control.replies > kMaxFtpReplies)
        return fail(control, FtpPumpResult::Error, builtinText(kStrFtpTooManyReplies));
    if (!control.session.siteLimitKnown) {
        for (const std::string& line : reply.lines) {
            if (const std::optional<int32_t> limit = ParseMaxConnectionHint(line)) {
                control.channel.learnSiteLimit(*limit);
                control.session.siteLimitKnown = true;
                break;
            }
        }
    }
    if (reply.code == 421) {
        if (control.phase == FtpPhase::Login
            && (control.loginState == FtpLoginState::UserSent || control.loginState == FtpLoginState::PassSent))
            control.channel.markLoginFailed();
        return fail(control, FtpPumpResult::Error, builtinText(kStrFtpSessionClosed, {reply.last()}));
    }
    if (control.discardReplies > 0) {
        if (reply.code >= 200)
            --control.discardReplies;
        return FtpPumpResult::Nothing;
    }
    switch (control.phase) {
    case FtpPhase::Login:
        if (control.loginState != FtpLoginState::Done)
            return actOnLoginReply(control, reply);
        return actOnProbeReply(control, reply);
    case FtpPhase::SizeQuery: return actOnSizeReply(control, reply);
    case FtpPhase::Transfer: return actOnTransferReply(control, reply);
    case FtpPhase::Listing: return actOnListingReply(control, reply);
    case FtpPhase::StatusQuery:
        if (reply.code == 257) {
            const std::string_view text = reply.text();
            const std::size_t open = text.find('"');
            const std::size_t close = open == std::string_view::npos ? open : text.find('"', open + 1);
            if (close != std::string_view::npos)
                control.currentDirectory
                    = std::string(text.substr(open + 1, std::min<std::size_t>(close - open - 1, 255)));
        }
        return reply.code >= 400 ? FtpPumpResult::Error : FtpPumpResult::StatusAnswered;
    }
    return FtpPumpResult::Nothing;
}

FtpPumpResult ResumeFtpLoggedIn(FtpControl& control)
{
    control.phase = FtpPhase::Login;
    control.loginState = FtpLoginState::Done;
    control.probeStep = 0;
    return send(control, FtpCommand::Rest, "100");
}

FtpPumpResult BeginFtpSizeQuery(FtpControl& control)
{
    control.phase = FtpPhase::SizeQuery;
    control.pathIndex = 0;
    control.typeSent = true;
    // The query left behind the probe's last REST: its TYPE is answered next.
    if (nextAhead(control, FtpCommand::Type))
        return FtpPumpResult::Nothing;
    dropAhead(control);
    const FtpPumpResult sent = send(control, FtpCommand::Type, std::string(1, transferType(control)));
    if (sent != FtpPumpResult::Nothing || !control.session.sendAhead || control.paths.empty())
        return sent;
    if (sendAhead(control, FtpCommand::Size, control.paths[control.pathIndex]) != FtpPumpResult::Nothing)
        return FtpPumpResult::Error;
    if (control.mode != FtpDataMode::Passive)
        return FtpPumpResult::Nothing;
    return sendAhead(control, FtpCommand::Pasv);
}

FtpPumpResult BeginFtpTransfer(FtpControl& control, int64_t rangeStart, int64_t knownSize)
{
    control.phase = FtpPhase::Transfer;
    control.rangeStart = rangeStart;
    control.knownSize = knownSize;
    control.size = -1;
    if (control.paths.empty())
        return fail(control, FtpPumpResult::Failed, "The URL names no file to fetch.");
    // The PASV sent with the size query: its answer is the next to come.
    if (control.mode == FtpDataMode::Passive && nextAhead(control, FtpCommand::Pasv))
        return FtpPumpResult::Nothing;
    dropAhead(control);
    return openData(control);
}

FtpPumpResult BeginFtpListing(FtpControl& control)
{
    control.phase = FtpPhase::Listing;
    control.pathIndex = 0;
    control.folderChanged = false;
    control.currentDirectory.clear();
    control.wantsFolder = false;
    for (const std::string& form : control.paths)
        control.wantsFolder = control.wantsFolder || !folderOf(form).empty();
    control.typeSent = true;
    return send(control, FtpCommand::Type, "A");
}

void AbandonFtpTransfer(FtpControl& control)
{
    control.abandoning = true;
}

FtpPumpResult FtpDataConnected(FtpControl& control)
{
    return startRetrieve(control);
}

}  // namespace fetchora
