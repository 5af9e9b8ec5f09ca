#include "net/byte_stream.h"

namespace fetchora {

ByteStream::~ByteStream() = default;

IoResult writeAll(ByteStream& stream, std::string_view data, int idleTimeoutMs)
{
    std::size_t written = 0;
    while (written < data.size()) {
        IoResult result = stream.write(data.data() + written, data.size() - written, idleTimeoutMs);
        if (!result.ok()) {
            result.bytes = written;
            return result;
        }
        written += result.bytes;
    }
    return IoResult{IoStatus::Ok, written, 0, {}};
}

}  // namespace fetchora
