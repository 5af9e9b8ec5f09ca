#pragma once
// What one server answer told the job window about the file.
#include <cstdint>
#include <string>

namespace fetchora {

enum class ResponseOutcome : uint32_t { Success = 0, Redirect = 1, NotFound = 2, OtherError = 3, Refused = 4 };

// Whether the server honours byte ranges.
enum class ResumeInfo : uint16_t { Unknown = 0, Honoured = 1, NotHonoured = 2 };

// Which kind of worker produced a response; the job window's handling
// differs slightly by kind.
enum class ProtocolKind : uint32_t { Http = 1, Ftp = 2, Mms = 3, Rtsp = 4 };

struct ResponseInfo {
    ResponseOutcome outcome = ResponseOutcome::Success;
    ResumeInfo resume = ResumeInfo::Unknown;
    int64_t size = -1;      // total size of the file; -1 none given
    int32_t fileTime = -1;  // modification time, seconds since 1970; -1 none
    std::string location;
    std::string lastModified;  // normalised "Last-modified" text
    std::string etag;          // the "ETag" value as sent; empty when none
    std::string fileName;      // from Content-Disposition
    std::string cookie;        // Set-Cookie of a redirect
    // The Set-Cookie pairs of a redirect marked Secure: for https:// only.
    std::string secureCookie{};
    // A failure in words: "HTTP 404 Not Found", "FTP 530 Login incorrect.".
    std::string cause{};
    int32_t retryAfterSeconds = -1;  // the server's Retry-After; -1 none
};

}  // namespace fetchora
