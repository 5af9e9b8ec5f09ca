// ASF headers and packet heads of Windows Media streams, and the fields the
// live recording writes back into them.
#include "engine/asf_header.h"
#include "fuzz_input.h"

#include <vector>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::span<const uint8_t> input(data, size);
    AsfHeaderLength(input);
    std::string error;
    if (const std::optional<AsfInfo> info = ParseAsfHeader(input, &error)) {
        info->fileSize();
        info->playMilliseconds();
        std::vector<uint8_t> header(input.begin(), input.end());
        FinalizeLiveAsfHeader(header, static_cast<int64_t>(size) * 3, 12345, 40);
    }
    if (ParseAsfPacketHead(input)) {
        std::vector<uint8_t> packet(input.begin(), input.end());
        SetAsfSendTime(packet, 6789);
    }
    return 0;
}
