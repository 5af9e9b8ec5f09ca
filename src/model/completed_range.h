#pragma once

#include <cstdint>

namespace fetchora {

// One byte range [start, end) of a job's file that is already on disk, with the
// stream positions of its two ends (stream jobs only; 0 for byte jobs). A job
// keeps these sorted by start, never overlapping or touching; that list is what
// the database stores and what a resume starts from.
struct CompletedRange {
    int64_t start = 0;
    int64_t end = 0;
    uint32_t streamStart = 0;
    uint32_t streamEnd = 0;

    int64_t length() const { return end - start; }
    bool operator==(const CompletedRange&) const = default;
};

}  // namespace fetchora
