// An HTTP answer as the worker reads it: the status line and header lines
// out of the head buffer, then the body (chunked or not) after it.
#include "fuzz_input.h"
#include "net/http_body.h"
#include "net/http_response.h"

#include <algorithm>
#include <cstring>
#include <optional>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The second byte chooses the range asked for and whether the size is known.
    const int64_t rangeStart = (data[1] & 0x0F) * 100;
    const int64_t knownSize = (data[1] & 0x10) ? 5000 : -1;
    HttpResponseParser parser(rangeStart, knownSize);
    HeaderBuffer head;
    std::optional<HttpBodyReader> body;
    bool stopped = false;
    const BodySink sink = [&](int64_t position, std::span<const uint8_t> block) {
        if (position < 0 || block.empty())
            __builtin_trap();
        return WriteResult::Continue;
    };
    std::vector<uint8_t> piece;
    fuzz::inPieces(data + 1, size - 1, [&](std::span<const uint8_t> bytes) {
        if (stopped)
            return;
        piece.assign(bytes.begin(), bytes.end());
        if (body) {
            stopped = body->take(piece, sink) != BodyStatus::Continue || body->complete();
            return;
        }
        const std::span<char> room = head.room();
        if (room.empty()) {
            stopped = true;
            return;
        }
        const size_t count = std::min(room.size(), piece.size());
        std::memcpy(room.data(), piece.data(), count);
        head.added(count);
        std::string line;
        while (head.nextLine(line) == SplitStatus::Line) {
            parser.ParseResponseLine(line, nullptr);
            if (!parser.error().empty()) {
                stopped = true;
                return;
            }
            if (parser.state() == ResponseState::Body)
                break;
        }
        if (parser.state() != ResponseState::Body)
            return;
        BodySetup setup;
        setup.offset = parser.bodyOffset();
        setup.end = parser.bodyEnd();
        setup.chunked = parser.chunked();
        setup.holdBack = data[1] & 0x20 ? 64 : 0;
        body.emplace(setup);
        stopped = body->take(head.rest(), sink) != BodyStatus::Continue;
        head.clear();
    });
    if (body && !stopped) {
        body->flush(sink);
        decideBodyEnd(*body, knownSize);
    }
    return 0;
}
