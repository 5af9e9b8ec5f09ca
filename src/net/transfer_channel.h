#pragma once
// The contract between a transfer thread and its job window.
//
// A transfer thread does only network input and output. Everything it learns
// it reports through its PartChannel, whose implementation (the runner's)
// sends the matching message to the job's CJobWnd and returns the handler's
// answer; every decision is made there, on the loop thread, under the job
// lock. A channel whose part was stopped or restarted answers as a dead
// handle block would: alive() false, data() Stop, response() 0, error() 0.
//
// Thread: the methods are called on the transfer thread only. The channel is
// owned by the thread's TransferTask and outlives every call.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "config/proxy_entry.h"
#include "net/connection_log.h"
#include "net/ftp_handover.h"
#include "net/response_info.h"
#include "net/url_entry.h"
#include "net/write_result.h"

namespace fetchora {

class CookieJar;
class SpeedLimiter;
class TlsClientContext;

// Thread messages to CJobWnd (sent; the handler's result is returned).
inline constexpr uint32_t WM_PART_RESOLVED = 0x0400 + 100;  // 1124
inline constexpr uint32_t WM_PART_DATA = 0x0400 + 112;  // 1136
inline constexpr uint32_t WM_PART_RESPONSE = 0x0400 + 113;  // 1137
inline constexpr uint32_t WM_PART_CONNECT_EVENT = 0x0400 + 114;  // 1138
inline constexpr uint32_t WM_PART_ERROR = 0x0400 + 115;  // 1139
inline constexpr uint32_t WM_PART_DONE = 0x0400 + 116;  // 1140
inline constexpr uint32_t WM_PART_EXIT = 0x0400 + 117;  // 1141
inline constexpr uint32_t WM_PART_STREAM_DATA = 0x0400 + 122;  // 1146
inline constexpr uint32_t WM_PART_PING_DONE = 0x0400 + 210;  // 1234
inline constexpr uint32_t WM_PART_SEARCH_DONE = 0x0400 + 211;  // 1235

// What the job window learns of a failed connection cycle.
struct PartFailure {
    std::string cause{};  // "HTTP 503 Service Unavailable", "connection refused"; empty when unknown
    int32_t retryAfterSeconds = -1;  // how long the server asked the client to wait; -1: it did not say
};

// What rangeStart() answers for a part that has nothing to read.
inline constexpr int64_t kNoRangeLeft = -1;

class PartChannel : public ConnectionLog {
public:
    // False once the part was stopped or restarted: the thread ends quietly.
    virtual bool alive() const = 0;

    // WM_PART_RESPONSE. 0: end the thread; otherwise go on (the body follows).
    virtual int response(const ResponseInfo& info, ProtocolKind kind) = 0;

    // WM_PART_DATA: a block read at a file offset (see WriteAt).
    virtual WriteResult data(int64_t position, std::span<const uint8_t> block) = 0;

    // Message 1146: a block of a stream job with the stream positions
    // (milliseconds) of its two ends, recorded with the range so that the
    // job's ranges say how much of the stream they hold. The job window
    // writes it as it writes data(); a channel without stream positions
    // takes it as plain data.
    virtual WriteResult streamData(int64_t position, std::span<const uint8_t> block, uint32_t streamStart,
                                   uint32_t streamEnd)
    {
        (void)streamStart;
        (void)streamEnd;
        return data(position, block);
    }

    // WM_PART_ERROR: the connection failed. True: wait the retry delay and
    // try again (the job window has logged the wait); false: end the thread.
    virtual bool error(const PartFailure& failure) = 0;

    // WM_PART_DONE: the body ended on a job whose size is not known.
    virtual void done() = 0;

    // WM_PART_RESOLVED: a host address was learnt (remembered for the job).
    virtual void resolved(const std::string& address, bool forProxy) = 0;

    // The URL's own marks, kept with the job's URL entry: whether the site
    // honours REST (learnt by the FTP probe), and that it refused the login
    // (the job window may then stop the job or move to another URL).
    virtual void markResumable(bool canResume) { (void)canResume; }
    virtual void markLoginFailed() { }
    // The FTP site let this connection in on the user name alone.
    virtual void markLoginByUserAlone() { }

    // A server announced how many connections its site allows: the limit is
    // recorded for the URL's host and port, attached to the job's URL entry
    // and counted for this part. False when nothing was recorded.
    virtual bool learnSiteLimit(int32_t limit)
    {
        (void)limit;
        return false;
    }

    // Where the part is to read from now (its start plus what it received),
    // and the job's known size (-1 when unknown), read under the job lock.
    // kNoRangeLeft once the part has stopped: the thread ends without
    // opening a connection.
    virtual int64_t rangeStart() const = 0;
    virtual int64_t knownSize() const = 0;
};

// Settings a transfer reads, copied when the thread starts so that the
// thread never reads the settings store.
struct TransferSettings {
    int connectTimeoutMs = 90000;  // "CT"
    int dataTimeoutMs = 90000;  // "DT"
    int retryDelaySeconds = 5;  // "WT"
    uint32_t userAgentChoice = 4;  // "User-Agent" bits 0..7
    std::string userAgentText;  // "User-Agent Text"
    bool sendReferer = true;  // "User-Agent" bit 8 clear
    bool sendCookies = true;  // "Flags1" 0x2
    bool alwaysRange = false;  // "General" "AlwaysRange"
    bool noCacheWithoutProxy = false;  // proxy entry 0 has the no-cache flag
    int32_t rollback = 2048;  // "Rollback" of the proxy list
    uint32_t bandwidth = 187500;  // "BandWidth", for pacing
    std::string asciiTypes = ".txt";  // "AsciiMode" (FTP)
    std::string anonymousPassword;  // "EMail" (FTP)
    bool ftpPassive = true;  // FTP passive mode: the flag of proxy entry 0
    // An FTP connection handed over after being idle this long is not used:
    // servers drop idle sessions, and a fresh login is cheaper than a failure.
    uint32_t ftpReuseIdleMs = 30000;
};

// Everything a transfer thread starts with (the ThreadStartBlock's content).
struct TransferTask {
    std::unique_ptr<PartChannel> channel;
    UrlEntry url;  // a copy of the part's URL entry
    std::string referer;  // the job's referer
    std::optional<ProxyEntry> proxy;  // the chosen proxy, none for direct
    bool isRetry = false;  // started again after a failure
    TransferSettings settings;
    SpeedLimiter* limiter = nullptr;  // borrowed from the application
    const TlsClientContext* tls = nullptr;  // borrowed from the application
    const CookieJar* cookies = nullptr;  // borrowed from the application; null: none
    // FTP ("Reuse FTP connections"): where this worker's logged-in control
    // connection goes when its job finishes, and the connection of the job
    // before that it may take over instead of logging in. Either may be null.
    std::shared_ptr<FtpHandover> handOn;
    std::shared_ptr<FtpHandover> takeOver;
};

// A thread procedure: runs one part's transfer to its end. 0 ended, 1
// finished, 2 failed.
using TransferProcedure = int (*)(TransferTask& task);

}  // namespace fetchora
