// The MMS stream: commands and data frames cut from what the server sends.
#include "engine/mms_commands.h"
#include "fuzz_input.h"

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MmsFrameSplitter splitter;
    bool failed = false;
    fuzz::inPieces(data, size, [&](std::span<const uint8_t> bytes) {
        if (failed)
            return;
        splitter.feed(bytes);
        for (;;) {
            MmsItem item = splitter.next();
            if (item.kind == MmsItem::Kind::NeedMore)
                return;
            if (item.kind == MmsItem::Kind::Error) {
                failed = true;
                return;
            }
            if (item.kind == MmsItem::Kind::Command) {
                item.command.code();
                item.command.result();
                item.command.field(item.command.message.size());
                FromUtf16Le(item.command.message);
            }
        }
    });
    return 0;
}
