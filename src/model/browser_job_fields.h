#pragma once
// What a browser tells of a download beyond its URL and referrer.
//
// A job's own user agent: the browser's, for a download the browser handed
// over, so that a site that checks the agent serves the job as it served the
// page. The database record has no field for it; it lives in the record's
// spare "location" text as "User-Agent: <agent>", which every reader keeps
// unchanged and which is emptied, like the agent should be, when the job
// gets another URL. A location that does not start so is no agent.
//
// Thread: pure; the caller holds the job lock for a job in the tree.
#include <string>
#include <string_view>

namespace fetchora {

class DownloadJob;

inline constexpr std::string_view kJobUserAgentPrefix = "User-Agent: ";
// Longer agents are not kept: no browser sends one, and a header line must
// stay reasonable.
inline constexpr size_t kMaxJobUserAgentBytes = 510;

// The job's agent; empty when it has none (the settings' agent applies).
std::string JobUserAgent(const DownloadJob& job);

// Stores the agent without control characters and without blanks at its
// ends; an empty or over-long agent removes the job's own agent.
void SetJobUserAgent(DownloadJob& job, std::string_view agent);

// The name a browser suggests (a link's "download" attribute, or the path
// of its own download) as one safe file name: only its last path component,
// without leading dots or blanks, then made safe as every job name is (no
// control or reserved characters, never "." or ".."). Empty when nothing is
// left.
std::string SuggestedFileName(std::string_view suggestion);

}  // namespace fetchora
