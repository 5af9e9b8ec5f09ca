#include "host/native_frames.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace fetchora {
namespace {

// Reads exactly size bytes; the count read before the pipe ended or failed.
size_t readFully(int fd, char* data, size_t size, int& failure)
{
    size_t done = 0;
    failure = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got > 0) {
            done += static_cast<size_t>(got);
        } else if (got == 0) {
            break;
        } else if (errno != EINTR) {
            failure = errno;
            break;
        }
    }
    return done;
}

}  // namespace

FrameRead ReadNativeFrame(int fd, size_t maxBytes)
{
    FrameRead result;
    uint32_t length = 0;
    int failure = 0;
    const size_t head = readFully(fd, reinterpret_cast<char*>(&length), sizeof length, failure);
    if (failure != 0) {
        result.error = std::strerror(failure);
        return result;
    }
    if (head == 0) {
        result.status = FrameStatus::End;
        return result;
    }
    if (head < sizeof length) {
        result.status = FrameStatus::Truncated;
        result.error = "the pipe ended inside a message length";
        return result;
    }
    result.declaredBytes = length;
    if (length > maxBytes) {
        result.status = FrameStatus::TooLarge;
        result.error
            = "a message of " + std::to_string(length) + " bytes is above the limit of " + std::to_string(maxBytes);
        return result;
    }
    result.text.resize(length);
    const size_t body = readFully(fd, result.text.data(), length, failure);
    if (failure != 0) {
        result.text.clear();
        result.error = std::strerror(failure);
        return result;
    }
    if (body < length) {
        result.text.clear();
        result.status = FrameStatus::Truncated;
        result.error
            = "the pipe ended after " + std::to_string(body) + " of " + std::to_string(length) + " message bytes";
        return result;
    }
    result.status = FrameStatus::Message;
    return result;
}

std::string EncodeNativeFrame(std::string_view text)
{
    const uint32_t length = static_cast<uint32_t>(text.size());
    std::string frame(reinterpret_cast<const char*>(&length), sizeof length);
    frame.append(text);
    return frame;
}

bool WriteNativeFrame(int fd, std::string_view text, std::string& error)
{
    if (text.size() > kMaxHostMessageBytes) {
        error = "a reply of " + std::to_string(text.size()) + " bytes is above the browser's limit";
        return false;
    }
    const std::string frame = EncodeNativeFrame(text);
    size_t done = 0;
    while (done < frame.size()) {
        const ssize_t wrote = ::write(fd, frame.data() + done, frame.size() - done);
        if (wrote > 0) {
            done += static_cast<size_t>(wrote);
        } else if (wrote < 0 && errno == EINTR) {
            continue;
        } else {
            error = wrote < 0 ? std::strerror(errno) : "the browser's pipe took nothing";
            return false;
        }
    }
    return true;
}

}  // namespace fetchora
