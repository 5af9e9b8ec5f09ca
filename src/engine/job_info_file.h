#pragma once
// The job information file: a short text written next to a completed
// download (the downloaded file's path followed by ".log") that says what the
// file is and where it came from, one "label:value" line per item.
//
// Thread: loop thread, at job completion. Pure apart from the file write.
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

namespace fetchora {

// What the file says about a job, gathered by the caller from the record.
struct JobInfo {
    std::string displayName;
    std::string url;
    int64_t fileSize = -1;  // -1 when not known
    int64_t completedBytes = 0;
    std::time_t createTime = -1;  // shown as the Date
    std::time_t completeTime = -1;
    std::string localPath;
    std::string comment;
    std::string referer;
    bool sizesInBytes = false;  // the "Display file size in bytes" setting
};

// The lines: Name, URL, Size, Date, Complete Time, Save as and Comment with
// the labels of message 61285, then the referer with the label of 61304, each
// ended by CR LF. Times are the C library's ctime text without its line
// break; line breaks inside a value become spaces, so that every item stays
// on its own line.
std::string jobInfoText(const JobInfo& info);

// The Size value: the list's size text when the whole known size is done,
// else "<completed> / <size>" in bytes with "?" for a size not known.
std::string jobInfoSize(const JobInfo& info);

// Where the file goes for a download saved at localPath.
std::filesystem::path jobInfoPath(const std::filesystem::path& localPath);

// Writes the file beside the download, replacing an older one whole. False
// when it cannot be written.
bool writeJobInfoFile(const JobInfo& info);

}  // namespace fetchora
