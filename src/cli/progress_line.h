#pragma once
// The progress line fetchora-cli draws for each job on a terminal.
#include <cstdint>
#include <string>

namespace fetchora {

struct ProgressFigures {
    std::string name;
    int64_t completedBytes = 0;
    int64_t fileSize = -1;  // -1: not known yet
    int64_t bytesPerSecond = -1;
    int64_t secondsLeft = -1;
    uint32_t connections = 0;
    std::string state;  // "done", "failed", "waiting"; empty while running
};

// One line, without a line break, at most `width` columns wide.
std::string progressLine(const ProgressFigures& figures, size_t width);

// "1.5 MiB" style sizes.
std::string humanBytes(int64_t bytes);

}  // namespace fetchora
