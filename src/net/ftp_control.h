#pragma once
// The control dialogue of one FTP connection: its state (FtpControl), the
// command lines it sends (SendFtpCommand) and what it does with each reply
// the server gives (ActOnFtpReply): the login with every FTP proxy style, the
// REST probe, TYPE and SIZE, PASV or PORT, REST and RETR, and the retries of
// a path in its other forms.
//
// The dialogue does no I/O of its own: lines go out through the control's
// writer and the worker opens the data connections the dialogue asks for.
// That keeps every reply's handling testable without sockets.
//
// Thread: the worker thread that owns the control connection. Borrows the
// channel (log lines and the URL's marks) and the writer.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/proxy_entry.h"
#include "net/ftp_reply.h"

namespace fetchora {

class PartChannel;

// Message ids of the lines the FTP dialogue writes.
inline constexpr uint32_t kMsgWaitingForWelcome = 61243;  // "Socket connected, Waiting for welcome message."
inline constexpr uint32_t kMsgLoginSuccessful = 61244;  // "Login Successful"
inline constexpr uint32_t kMsgCanResume = 61245;  // "This site can resume broken downloads."
inline constexpr uint32_t kMsgCannotResume = 61246;  // "This site can't resume broken downloads."
inline constexpr uint32_t kMsgDataConnectError = 61248;  // "Error Connected to %s , Port %d."
inline constexpr uint32_t kMsgFileNotFound = 61249;  // "File Not Found."

// The codes of the last-command field; each names the line it sends.
enum class FtpCommand : int {
    None = 0,
    User = 1,
    Pass = 2,
    Cwd = 4,
    Cdup = 5,
    Raw = 8,  // a prepared line sent unchanged (proxy login lines)
    Port = 9,  // the argument is the whole PORT line
    Pasv = 10,
    Type = 12,
    Rest = 15,
    Stor = 16,
    Retr = 18,
    List = 19,
    Rnfr = 22,
    Rnto = 23,
    Dele = 24,
    Rmd = 25,
    Mkd = 26,
    Pwd = 27,
    Size = 38,
};

// Which dialogue the replies belong to.
enum class FtpPhase : int { Login = 1, Listing = 2, Transfer = 3, SizeQuery = 11, StatusQuery = 12 };

// Where the login stands. The numbers are those of the classic dialogue.
enum class FtpLoginState : int {
    UserSent = 1,
    PassSent = 2,
    AwaitWelcome = 34,  // direct: the welcome, then USER
    AwaitProxyWelcome = 35,  // FTP proxy without its own login: the welcome, then name the site
    SiteNamed = 36,  // OPEN or SITE sent: the site's welcome, then USER
    UserAtHostSent = 37,
    AwaitProxyAuthWelcome = 39,  // FTP proxy with its own login: the welcome
    ProxyPassSent = 40,
    ProxyUserSent = 41,
    Done = 100,  // logged in; the REST probe runs
};

enum class FtpDataMode : int { Passive = 1, Active = 2 };

// What the worker is to do after a reply.
enum class FtpPumpResult {
    Nothing,  // wait for the next reply
    Failed,  // the URL failed for good: WM_PART_RESPONSE with outcome 2
    Error,  // the error step (retry)
    LoggedIn,  // login and REST probe done
    OpenDataConnection,  // after 227: connect to dataPort, then call FtpDataConnected
    TransferComplete,  // 226 or 250
    SizeKnown,  // after 213 (size set)
    StartReceiving,  // after 150 or 125: data flows (size set, -1 when none)
    SizeQueryFailed,
    StatusAnswered,
};

// What the dialogue is set up with for one control connection.
struct FtpSession {
    std::string host;  // the site (named to an FTP proxy in its login)
    uint16_t port = 21;
    std::string user;  // the URL's user name, empty for an anonymous login
    std::string password;  // the URL's password
    std::string anonymousPassword;  // the "EMail" setting
    std::string object;  // the URL's object, as written
    std::optional<ProxyEntry> ftpProxy;  // an FTP proxy (types 1, 2, 4, 5, 6), else none
    bool passive = true;  // the passive-mode setting (or the FTP proxy's flag)
    bool activeAllowed = true;  // false through a tunnel: the server cannot reach us
    bool loginTestOnly = false;  // only the login is tested: end once logged in
    std::string asciiTypes = ".txt";  // file types fetched with TYPE A
    bool siteLimitKnown = false;  // the URL has a site-limit record already
    // An earlier connection of the job found that the site resumes: the
    // login ends without the REST probe.
    bool resumeKnown = false;
    // The site has answered this dialogue before (the job knows the file's
    // size): commands whose order is fixed go out without waiting for each
    // reply. TYPE, SIZE and PASV leave together, and so do REST and RETR.
    bool sendAhead = false;
    // The worker asks for the file's size as soon as the login and probe are
    // done (a file transfer, not through an FTP proxy): TYPE and SIZE, and
    // PASV in passive mode, leave right behind the probe's last REST instead
    // of each waiting for the reply before it.
    bool sizeQueryAhead = false;
    // With sendAhead: the site's first connection was let in on the user
    // name alone, so the size query leaves right behind USER.
    bool userAloneLogsIn = false;
};

// The sensible ways to write a URL's path on the wire, in the order tried:
// decoded, as written, and decoded relative to the login folder. A form that
// would smuggle a line break or NUL into a command is left out.
std::vector<std::string> FtpPathForms(std::string_view object);

// The type a URL's ";type=" suffix asks for ('A', 'I'), 0 when none.
char FtpUrlType(std::string_view object);

// Whether the file named by the path is fetched in ASCII mode: its extension
// matches the ";"-separated file-type pattern list (".txt;.A[0-9]?").
bool IsAsciiType(std::string_view path, std::string_view asciiTypes);

// The command line of a code and argument, without CR LF.
std::string FtpCommandLine(FtpCommand command, std::string_view argument);

// The text logged for a line sent: a password never reaches the log.
std::string FtpLoggedLine(std::string_view line);

// The USER or SITE line that names the site to an FTP proxy of type 2, 4 or
// 6: user@host, with the port when it is not 21 (":port", " port" for 4).
std::string FtpProxyUserLine(uint16_t proxyType, std::string_view user, std::string_view host, uint16_t port);

// The OPEN (type 1) or SITE (type 5) line that names the site.
std::string FtpProxySiteLine(uint16_t proxyType, std::string_view host, uint16_t port);

// The control state of one FTP connection.
struct FtpControl {
    FtpControl(FtpSession setup, PartChannel& partChannel);

    FtpSession session;
    PartChannel& channel;
    // Sends one line (CR LF is added by the writer); false when it failed.
    std::function<bool(std::string_view line)> writer;
    // Makes the listening socket and returns the PORT line; empty on failure.
    std::function<std::string()> preparePort;

    FtpPhase phase = FtpPhase::Login;
    FtpCommand lastCommand = FtpCommand::None;
    FtpLoginState loginState = FtpLoginState::AwaitWelcome;
    FtpDataMode mode = FtpDataMode::Passive;
    int probeStep = 0;
    int replies = 0;  // replies seen on this connection
    bool typeSent = false;
    bool canResume = false;  // what the REST probe found
    int64_t size = -1;
    std::string currentDirectory;  // from a 257 reply, at most 255 bytes

    // The path forms and the one in use.
    std::vector<std::string> paths;
    std::size_t pathIndex = 0;
    bool sizeRetried = false;
    int64_t rangeStart = 0;  // where RETR is to begin
    int64_t knownSize = -1;  // the job's size when the transfer began
    bool abandoning = false;  // the data connection was closed early on purpose
    bool wantsFolder = false;  // a listing changes to the URL's folder first
    bool folderChanged = false;  // the listing's CWD was accepted

    // The address and port of the last 227 reply.
    std::string dataAddress;
    uint16_t dataPort = 0;
    // Why the dialogue failed or erred, for the log; empty when a line said it.
    std::string problem;

    // Commands sent after lastCommand whose replies are still to come, in
    // order; the one at the front becomes lastCommand when its turn comes.
    std::vector<FtpCommand> ahead;
    // Final replies still to come for commands sent ahead that the dialogue
    // no longer needs (it took another way); they are read and dropped.
    int discardReplies = 0;
    bool probeSkipped = false;  // the login trusted resumeKnown
};

// Sets the last command, builds the line, logs it (a password masked) and
// sends it. False when the argument holds a line break or the send failed.
bool SendFtpCommand(FtpControl& control, FtpCommand command, std::string_view argument = {});

// Acts on one complete reply in the current phase.
FtpPumpResult ActOnFtpReply(FtpControl& control, const FtpReply& reply);

// A control connection taken over from a finished job is logged in already:
// the dialogue starts with the REST probe (which also shows that the server
// still answers) and ends, like a login, in LoggedIn.
FtpPumpResult ResumeFtpLoggedIn(FtpControl& control);

// After the login: TYPE for the file, then SIZE (phase 11). With sendAhead in
// passive mode PASV follows them at once; BeginFtpTransfer then waits for its
// answer instead of sending another.
FtpPumpResult BeginFtpSizeQuery(FtpControl& control);

// After the job window took the answer: PASV or PORT, then REST and RETR
// (phase 3). rangeStart is where the data is to begin; knownSize the job's
// size (-1 when not known).
FtpPumpResult BeginFtpTransfer(FtpControl& control, int64_t rangeStart, int64_t knownSize);

// After the login: a listing of the URL's folder (phase 2): TYPE A, PWD,
// CWD to the folder and PWD again when the URL names one, PASV or PORT, and
// LIST alone. Ends in StartReceiving, then TransferComplete; currentDirectory
// holds the folder's path as the server reported it (empty when it did not).
FtpPumpResult BeginFtpListing(FtpControl& control);

// The worker has connected the passive data connection: REST or RETR, or
// LIST in a listing.
FtpPumpResult FtpDataConnected(FtpControl& control);

// The worker closed the data connection before its end (the part's range
// was complete): the next final reply to RETR, whatever its code, ends the
// transfer as TransferComplete, so the control connection can serve the
// part's next range.
void AbandonFtpTransfer(FtpControl& control);

}  // namespace fetchora
