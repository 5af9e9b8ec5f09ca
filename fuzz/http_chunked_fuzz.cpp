// A chunked body: size lines, extensions, data and trailers, split anywhere.
#include "fuzz_input.h"
#include "net/http_body.h"

#include <vector>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ChunkedDecoder decoder;
    bool done = false;
    std::vector<uint8_t> piece;
    fuzz::inPieces(data, size, [&](std::span<const uint8_t> bytes) {
        if (done)
            return;
        piece.assign(bytes.begin(), bytes.end());
        const std::optional<std::size_t> kept = decoder.decode(piece);
        if (!kept || decoder.ended()) {
            done = true;
            return;
        }
        // The decoded data is never more than what came in.
        if (*kept > piece.size())
            __builtin_trap();
    });
    return 0;
}
