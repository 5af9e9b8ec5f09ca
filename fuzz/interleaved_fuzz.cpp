// An RTSP connection's bytes: answers, requests, bodies and interleaved data
// frames, as either kind of server sends them.
#include "engine/interleaved_frames.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    InterleavedSplitter splitter(data[1] & 1 ? RtspServerKind::WindowsMedia : RtspServerKind::RealMedia);
    bool failed = false;
    fuzz::inPieces(data + 1, size - 1, [&](std::span<const uint8_t> bytes) {
        if (failed)
            return;
        splitter.feed(bytes);
        for (;;) {
            const RtspItem item = splitter.next();
            if (item.kind == RtspItem::Kind::NeedMore)
                return;
            if (item.kind == RtspItem::Kind::Error) {
                failed = true;
                return;
            }
            // An answer with a body: its length from the answer's last byte.
            if (item.kind == RtspItem::Kind::Answer && !item.text.empty())
                splitter.expectBody(static_cast<uint8_t>(item.text.back()) % 200);
        }
    });
    return 0;
}
