#include "engine/job_progress.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "platform/tick.h"

namespace fetchora {

namespace {

// Hours from which the estimate is shown as unknown.
constexpr int64_t kUnknownLeftHours = 501;

std::string printed(const char* format, auto... values)
{
    char text[64];
    const int length = std::snprintf(text, sizeof text, format, values...);
    if (length < 0)
        return {};
    return std::string(text, static_cast<std::size_t>(std::min<int>(length, sizeof text - 1)));
}

std::string clockText(int64_t seconds)
{
    return printed("%02" PRId64 ":%02" PRId64 ":%02" PRId64, seconds / 3600, seconds / 60 % 60, seconds % 60);
}

}  // namespace

void RunFigures::recordData(uint64_t length, uint32_t now)
{
    if (!startTick) {
        startTick = now;
        shortSampleTick = now;
        longSampleTick = now;
        shortSampleClosed = false;
        // Bytes of a window a stop cut short belong to the old clocks.
        recentBytes = 0;
        longBytes = 0;
    }
    runBytes += length;
    recentBytes += length;
}

uint32_t RunFigures::timerStep(uint32_t now, int64_t fileSize, int64_t completedBytes)
{
    if (startTick) {
        elapsedSeconds = std::max<uint32_t>(ticksSince(*startTick, now), 1) / 1000;

        const uint32_t sinceShort = ticksSince(shortSampleTick, now);
        if (sinceShort > kShortSampleMs) {
            // The short sample that closes a long window still belongs to it:
            // leaving it out would make the long speed a sixth too low and the
            // time left a fifth too long.
            longBytes += recentBytes;
            const uint32_t sinceLong = ticksSince(longSampleTick, now);
            if (sinceLong > kLongSampleMs) {
                longSpeed = static_cast<int64_t>(longBytes * 1000 / sinceLong);
                longSampleTick = now;
                longBytes = 0;
            }
            shortSpeed = static_cast<int64_t>(recentBytes * 1000 / sinceShort);
            shortSampleTick = now;
            recentBytes = 0;
            shortSampleClosed = true;
        } else if (!shortSampleClosed && sinceShort >= kFirstSpeedMs) {
            // The first window is still open: show the average so far rather
            // than nothing for ten seconds. The window itself runs on.
            shortSpeed = static_cast<int64_t>(recentBytes * 1000 / sinceShort);
        }
    }

    if (longSpeed <= 0 || elapsedSeconds <= kShortSpeedOnlySeconds)
        longSpeed = shortSpeed;

    if (longSpeed > 0 && fileSize >= 0) {
        secondsLeft = std::max<int64_t>(fileSize - completedBytes, 0) / longSpeed;
    } else {
        secondsLeft = -1;
    }
    return kProgressChangeMask;
}

void RunFigures::stop()
{
    startTick.reset();
    shortSpeed = -1;
    longSpeed = -1;
}

uint32_t RunFigures::runSeconds(uint32_t now) const
{
    return startTick ? ticksSince(*startTick, now) / 1000 : 0;
}

std::string formatCompletedCell(int64_t completedBytes, bool sizesInBytes)
{
    if (completedBytes == 0)
        return {};
    if (sizesInBytes || completedBytes < 1024)
        return printed("%" PRId64, completedBytes);
    return printed("%" PRId64 "KB", completedBytes / 1024);
}

std::string formatSizeCell(int64_t bytes, bool sizesInBytes)
{
    if (sizesInBytes || bytes < 1024)
        return printed("%" PRId64, bytes);
    std::string digits = printed("%" PRId64, bytes / 1024);
    // At most two separators: before the last three and the last six digits.
    if (digits.size() > 6)
        digits.insert(digits.size() - 6, ",");
    if (digits.size() > 3)
        digits.insert(digits.size() - 3, ",");
    return digits + "KB";
}

int percentDone(int64_t completedBytes, int64_t fileSize)
{
    if (fileSize <= 0)
        return 0;
    const int64_t done = std::clamp<int64_t>(completedBytes, 0, fileSize);
    // done / size * 100 without rounding and without overflow near the
    // 64-bit limit: the remainder is scaled on its own.
    return static_cast<int>(done / fileSize * 100 + static_cast<__int128>(done % fileSize) * 100 / fileSize);
}

std::string formatPercentCell(int64_t completedBytes, int64_t fileSize)
{
    if (fileSize < 0 || completedBytes <= 0)
        return {};
    return printed("%d%c", percentDone(completedBytes, fileSize), '%');
}

std::string formatSpeedCell(int64_t shortSpeed, bool sizesInBytes)
{
    if (shortSpeed < 0)
        return {};
    if (sizesInBytes)
        return printed("%" PRId64, shortSpeed);
    return printed("%0.2f", static_cast<double>(shortSpeed) / 1024.0);
}

std::string formatLeftCell(int64_t secondsLeft, bool sizeKnown, int64_t shortSpeed)
{
    if (!sizeKnown || shortSpeed < 0 || secondsLeft < 0)
        return {};
    if (secondsLeft / 3600 >= kUnknownLeftHours)
        return "??:??:??";
    return clockText(secondsLeft);
}

std::string formatElapsedCell(uint32_t elapsedSeconds)
{
    if (elapsedSeconds == 0)
        return {};
    return clockText(elapsedSeconds);
}

std::string formatRetryCell(uint32_t retryCount)
{
    if (retryCount < 1)
        return {};
    return printed("%u", retryCount);
}

std::string formatConnectionsCell(uint32_t runningParts, uint32_t splitCount)
{
    return printed("%u/%u", runningParts, splitCount);
}

std::string formatTimeCell(std::time_t when)
{
    if (when == -1)
        return {};
    std::tm local{};
    if (localtime_r(&when, &local) == nullptr)
        return {};
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%x %X", &local);
    return std::string(text, length);
}

int statusImage(uint32_t state, uint32_t startMode, bool recheck)
{
    int image = 8;
    switch (state & 0xFF) {
    case 2: image = 5; break;
    case 4: image = 6; break;
    case 8: image = 7; break;
    default: image = startMode == 1 ? 4 : startMode == 2 ? 9 : 8; break;
    }
    return recheck ? image + 6 : image;
}

int resumeImage(uint32_t optionFlags)
{
    if ((optionFlags & 0x0002) == 0)
        return 0;
    return (optionFlags & 0x0001) != 0 ? 1 : 2;
}

}  // namespace fetchora
