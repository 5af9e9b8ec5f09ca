// The browser's native-messaging pipe: length-prefixed messages read from a
// file descriptor until it ends.
#include "fuzz_input.h"
#include "host/native_frames.h"

#include <fcntl.h>
#include <unistd.h>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The whole input fits the pipe, so it is written before the reading starts.
    if (size > 60000)
        return 0;
    int ends[2];
    if (::pipe(ends) != 0)
        return 0;
    ::fcntl(ends[1], F_SETPIPE_SZ, 65536);
    const bool written = size == 0 || ::write(ends[1], data, size) == static_cast<ssize_t>(size);
    ::close(ends[1]);
    if (written) {
        for (int frame = 0; frame < 100000; ++frame) {
            const FrameRead read = ReadNativeFrame(ends[0], 4096);
            if (read.status != FrameStatus::Message)
                break;
            if (read.text.size() > 4096 || read.text.size() != read.declaredBytes)
                __builtin_trap();
        }
    }
    ::close(ends[0]);
    return 0;
}
