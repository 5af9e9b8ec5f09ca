#include "cli/progress_line.h"

#include <cstdio>

namespace fetchora {

std::string humanBytes(int64_t bytes)
{
    static const char* const kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes < 0 ? 0 : bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string progressLine(const ProgressFigures& figures, size_t width)
{
    std::string amount = humanBytes(figures.completedBytes);
    std::string percent = "  ?  ";
    if (figures.fileSize > 0) {
        amount += " / " + humanBytes(figures.fileSize);
        char text[16];
        std::snprintf(text, sizeof text, "%5.1f%%",
                      100.0 * static_cast<double>(figures.completedBytes) / static_cast<double>(figures.fileSize));
        percent = text;
    } else if (figures.fileSize == 0) {
        percent = "100.0%";
    }
    std::string tail;
    if (!figures.state.empty()) {
        tail = figures.state;
    } else {
        if (figures.bytesPerSecond >= 0)
            tail += humanBytes(figures.bytesPerSecond) + "/s";
        if (figures.secondsLeft >= 0) {
            char left[96];
            std::snprintf(left, sizeof left, "  left %02lld:%02lld:%02lld", static_cast<long long>(figures.secondsLeft / 3600),
                          static_cast<long long>(figures.secondsLeft / 60 % 60),
                          static_cast<long long>(figures.secondsLeft % 60));
            tail += left;
        }
        tail += "  " + std::to_string(figures.connections) + " conn";
    }
    std::string right = "  " + percent + "  " + amount + "  " + tail;
    std::string name = figures.name;
    if (name.size() + right.size() > width && width >= right.size() + 4)
        name = name.substr(0, width - right.size() - 3) + "...";
    std::string line = name + right;
    if (line.size() > width)
        line.resize(width);
    return line;
}

}  // namespace fetchora
