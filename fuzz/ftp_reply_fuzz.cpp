// FTP control replies: lines cut from the reply buffer, multi-line replies
// gathered, and the numbers read out of them.
#include "fuzz_input.h"
#include "net/ftp_reply.h"

#include <algorithm>
#include <cstring>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FtpReplyReader reader;
    FtpReply reply;
    bool broken = false;
    fuzz::inPieces(data, size, [&](std::span<const uint8_t> bytes) {
        while (!broken && !bytes.empty()) {
            const std::span<char> room = reader.room();
            if (room.empty()) {
                broken = true;
                return;
            }
            const size_t count = std::min(room.size(), bytes.size());
            std::memcpy(room.data(), bytes.data(), count);
            reader.added(count);
            bytes = bytes.subspan(count);
            std::string line;
            for (;;) {
                const FtpReplyReader::Status status = reader.nextLine(line);
                if (status == FtpReplyReader::Status::Broken) {
                    broken = true;
                    return;
                }
                if (status == FtpReplyReader::Status::NeedMore)
                    break;
                FtpReplyEndCode(line);
                ParseMaxConnectionHint(line);
                ParseFtpAnnouncedSize(line);
                if (reader.gather(std::move(line), reply)) {
                    if (reply.lines.empty())
                        __builtin_trap();
                    reply.text();
                    reply = FtpReply();
                }
                if (reader.broken()) {
                    broken = true;
                    return;
                }
            }
        }
    });
    ParseFtpNumber(fuzz::text(data, size));
    return 0;
}
