// Session descriptions of an RTSP DESCRIBE answer.
#include "engine/sdp.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const SdpDescription description = ParseSdp(fuzz::text(data, size));
    if (description.streams.size() > kMaxSdpStreams)
        __builtin_trap();
    return 0;
}
