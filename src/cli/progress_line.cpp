#include "cli/progress_line.h"

#include <cmath>
#include <cstdio>
#include <iterator>

#include "cli/cli_texts.h"
#include "cli/terminal_text.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

constexpr const char* kUnits[] = {"B", "KiB", "MiB", "GiB", "TiB"};

// The unit a size is shown in and the size in it.
size_t unitOf(int64_t bytes, double& value)
{
    value = static_cast<double>(bytes < 0 ? 0 : bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < std::size(kUnits)) {
        value /= 1024.0;
        ++unit;
    }
    return unit;
}

std::string number(double value, size_t unit)
{
    char text[32];
    std::snprintf(text, sizeof text, unit == 0 ? "%.0f" : "%.1f", value);
    return text;
}

// "45.8/100.0 MiB"; each with its own unit when they differ.
std::string amountText(int64_t done, int64_t total)
{
    double doneValue = 0;
    double totalValue = 0;
    const size_t doneUnit = unitOf(done, doneValue);
    const size_t totalUnit = unitOf(total, totalValue);
    if (doneUnit == totalUnit)
        return number(doneValue, doneUnit) + "/" + number(totalValue, totalUnit) + " " + kUnits[totalUnit];
    return humanBytes(done) + "/" + humanBytes(total);
}

std::string percentText(int64_t done, int64_t total)
{
    char text[16];
    std::snprintf(text, sizeof text, "%.1f%%", 100.0 * static_cast<double>(done) / static_cast<double>(total));
    return text;
}

}  // namespace

std::string humanBytes(int64_t bytes)
{
    double value = 0;
    const size_t unit = unitOf(bytes, value);
    return number(value, unit) + " " + kUnits[unit];
}

std::string clockText(int64_t seconds)
{
    if (seconds < 0)
        seconds = 0;
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
    }
    return text;
}

std::string retryText(int32_t attempt, int32_t limit, int32_t secondsLeft, const std::string& cause)
{
    std::string count = std::to_string(attempt);
    if (limit >= 0)
        count += "/" + std::to_string(limit);
    std::string text = builtinText(kStrCliRetry, {count, std::to_string(secondsLeft < 0 ? 0 : secondsLeft)});
    if (!cause.empty())
        text += ": " + cause;
    return text;
}

std::string progressLine(const ProgressFigures& figures, size_t width)
{
    std::string percent = "  ?  ";
    std::string amount = humanBytes(figures.completedBytes);
    if (figures.fileSize > 0) {
        percent = percentText(figures.completedBytes, figures.fileSize);
        amount = amountText(figures.completedBytes, figures.fileSize);
    } else if (figures.fileSize == 0) {
        percent = "100.0%";
    }
    if (percent.size() < 6)
        percent.insert(0, 6 - percent.size(), ' ');
    std::string tail;
    if (!figures.state.empty()) {
        tail = figures.state;
    } else if (!figures.retry.empty()) {
        tail = terminalSafe(figures.retry);
    } else {
        if (figures.bytesPerSecond >= 0)
            tail += humanBytes(figures.bytesPerSecond) + "/s  ";
        if (figures.secondsLeft >= 0)
            tail += builtinText(kStrCliTimeLeft, {clockText(figures.secondsLeft)}) + "  ";
        tail += builtinText(kStrCliConnections, {std::to_string(figures.connections)});
    }
    const std::string right = "  " + percent + "  " + amount + "  " + tail;
    std::string name = terminalSafe(figures.name);
    if (name.size() + right.size() > width && width >= right.size() + 4)
        name = std::string(utf8Prefix(name, width - right.size() - 3)) + "...";
    std::string line = name + right;
    if (line.size() > width)
        line = std::string(utf8Prefix(line, width));
    return line;
}

std::string summaryLine(const JobSummary& summary)
{
    const std::string name = terminalSafe(summary.name);
    if (summary.failed)
        return builtinText(
            kStrCliFailed,
            {name, terminalSafe(summary.cause.empty() ? builtinText(kStrCliFailedWithoutCause) : summary.cause)});
    if (summary.completed) {
        const int64_t size = summary.fileSize >= 0 ? summary.fileSize : summary.completedBytes;
        const std::string time = clockText(std::llround(summary.seconds));
        if (summary.seconds > 0 && summary.bytesThisRun > 0) {
            const auto speed = static_cast<int64_t>(static_cast<double>(summary.bytesThisRun) / summary.seconds);
            return builtinText(kStrCliDoneAtSpeed, {name, humanBytes(size), time, humanBytes(speed)});
        }
        return builtinText(kStrCliDone, {name, humanBytes(size), time});
    }
    if (summary.fileSize > 0)
        return builtinText(kStrCliStoppedAt, {name, percentText(summary.completedBytes, summary.fileSize)});
    return builtinText(kStrCliStopped, {name});
}

}  // namespace fetchora
