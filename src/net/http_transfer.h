#pragma once
// The HTTP worker: fetches one part's byte range of an "http://" or
// "https://" URL (TLS over whatever connection the proxy setting gives), or
// of an "ftp://" URL sent to a plain HTTP proxy, and reports to the job
// window through its PartChannel: the answer's ResponseInfo, the data blocks
// at the file offsets the server sent them for, errors, the end of a body of
// unknown size.
//
// Each cycle connects (openConnection), sends the request, reads the head and
// then the body, and ends in a new cycle at once (the part got a new range),
// in the error step (the job window decides about the retry), or in the end
// of the worker.
//
// Thread: the part's transfer thread. Owns its connection and buffers;
// borrows the task's channel, limiter, TLS context and cookie jar.
#include <cstdint>

#include "net/transfer_channel.h"

namespace fetchora {

// How long one read waits while a speed limit is on: short, because the
// bytes granted to this worker are reserved while it waits.
inline constexpr int kLimitedReadWaitMs = 5;

// The thread procedure. 0 ended (stopped, the job window ended it, or a
// retry was refused after a stop), 1 finished (a body of unknown size ended),
// 2 failed (the host name could not be resolved, or the job window refused
// the retry).
int HttpTransfer(TransferTask& task);

}  // namespace fetchora
