#include "host/native_frames.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace fetchora {
namespace {

// A pipe holding bytes, its write end closed so that reads see the end.
class FilledPipe {
public:
    explicit FilledPipe(const std::string& bytes)
    {
        EXPECT_EQ(pipe2(m_fds, O_CLOEXEC), 0);
        EXPECT_EQ(write(m_fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(m_fds[1]);
    }
    ~FilledPipe() { close(m_fds[0]); }
    int fd() const { return m_fds[0]; }

private:
    int m_fds[2] = {-1, -1};
};

std::string lengthBytes(uint32_t length)
{
    return std::string(reinterpret_cast<const char*>(&length), sizeof length);
}

TEST(NativeFrames, MessagesAreReadInOrderUntilTheEnd)
{
    FilledPipe in(EncodeNativeFrame(R"({"type":"ping"})") + EncodeNativeFrame("") + EncodeNativeFrame("[1,2]"));
    FrameRead first = ReadNativeFrame(in.fd());
    ASSERT_EQ(first.status, FrameStatus::Message);
    EXPECT_EQ(first.text, R"({"type":"ping"})");
    FrameRead empty = ReadNativeFrame(in.fd());
    ASSERT_EQ(empty.status, FrameStatus::Message);
    EXPECT_EQ(empty.text, "");
    EXPECT_EQ(ReadNativeFrame(in.fd()).text, "[1,2]");
    EXPECT_EQ(ReadNativeFrame(in.fd()).status, FrameStatus::End);
}

TEST(NativeFrames, APipeEndingInsideALengthOrAMessageIsTruncated)
{
    {
        FilledPipe in(lengthBytes(10).substr(0, 3));
        EXPECT_EQ(ReadNativeFrame(in.fd()).status, FrameStatus::Truncated);
    }
    {
        FilledPipe in(lengthBytes(10) + "12345");
        const FrameRead read = ReadNativeFrame(in.fd());
        EXPECT_EQ(read.status, FrameStatus::Truncated);
        EXPECT_EQ(read.declaredBytes, 10u);
        EXPECT_TRUE(read.text.empty());
        EXPECT_NE(read.error.find("5 of 10"), std::string::npos) << read.error;
    }
}

TEST(NativeFrames, ALengthAboveTheLimitIsRefusedWithoutReadingTheBody)
{
    FilledPipe in(lengthBytes(0xFFFFFFF0u) + "body");
    const FrameRead read = ReadNativeFrame(in.fd(), 1024);
    EXPECT_EQ(read.status, FrameStatus::TooLarge);
    EXPECT_EQ(read.declaredBytes, 0xFFFFFFF0u);
    // The body is still in the pipe: nothing of a huge message was read.
    char rest[8] = {};
    EXPECT_EQ(::read(in.fd(), rest, sizeof rest), 4);
}

TEST(NativeFrames, AReplyAboveTheBrowsersLimitIsNotWrittenAtAll)
{
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
    std::string error;
    EXPECT_FALSE(WriteNativeFrame(fds[1], std::string(kMaxHostMessageBytes + 1, 'x'), error));
    EXPECT_NE(error.find("limit"), std::string::npos);
    char byte = 0;
    EXPECT_EQ(::read(fds[0], &byte, 1), -1);  // nothing, not even a length

    ASSERT_TRUE(WriteNativeFrame(fds[1], R"({"ok":true})", error)) << error;
    close(fds[1]);
    fcntl(fds[0], F_SETFL, 0);
    const FrameRead back = ReadNativeFrame(fds[0]);
    EXPECT_EQ(back.status, FrameStatus::Message);
    EXPECT_EQ(back.text, R"({"ok":true})");
    close(fds[0]);
}

}  // namespace
}  // namespace fetchora
