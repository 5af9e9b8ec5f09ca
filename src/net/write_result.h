#pragma once
// What a transfer thread does after handing a block to its job: the answer
// of the job window's write step, which the network readers act on.
#include <cstdint>

namespace fetchora {

enum class WriteResult : uint32_t {
    Stop = 0,  // the part stopped (or the job ended): end the thread
    Continue = 1,  // go on reading; also the answer to a duplicate stream packet
    Reconnect = 2,  // the part has a new position: reconnect there
};

}  // namespace fetchora
