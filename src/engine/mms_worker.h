#pragma once
// The MMS (over TCP) worker: captures an "mms://" or "mmst://" stream into
// an ASF file. Each cycle connects like every worker, runs the command
// dialogue (connect, funnel, open file, the security exchange when the
// server asks for it, read block), collects the ASF header, reports it to
// the job window, writes it at offset 0 of a new file, asks the server to
// play from the first packet still missing and hands each data packet over
// at header size + packet number × packet length, padded to the packet
// length.
//
// An on-demand stream has a known size (its header gives the packet count):
// a packet that arrives past the next expected place is also written into
// the slots it skipped, so the file has no holes, and the end of the stream
// completes the file when only a few packets are missing. A live stream has
// no size: its packets follow each other from where the part stands, their
// send times rebased so that the recording starts at 0, and the end of the
// stream finishes the job.
//
// Thread: the part's transfer thread. Owns its connection and buffers;
// borrows the task's channel and limiter.
#include "net/transfer_channel.h"

namespace fetchora {

// Server pings in a row, with nothing else between them, that mean the
// stream has ended.
inline constexpr int kMmsMaxPingsInARow = 3;
// Security challenges answered in one cycle; the next ends the cycle.
inline constexpr int kMmsMaxSecurityExchanges = 2;

// The thread procedure: 0 ended, 1 finished (a live stream ended), 2 failed.
int MmsTransfer(TransferTask& task);

}  // namespace fetchora
