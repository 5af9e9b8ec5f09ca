#pragma once
// The RTSP worker: captures an "rtsp://" stream over one TCP connection with
// interleaved data. Each cycle sends OPTIONS (which tells a Windows Media
// server from a RealMedia one), DESCRIBE (with Basic, NTLM or the RN5 digest
// when the server asks), SETUP for the streams, SET_PARAMETER with the
// subscription of a RealMedia stream, and PLAY (from where the part stands
// when it resumes), then writes what arrives:
// - Windows Media: the description carries the ASF header; the RTP packets
//   carry ASF data packets, written as the MMS worker writes them.
// - RealMedia: the file layout of docs/stream-files.md (a header built from
//   the description, then the data frames as records).
// Requests from the server are answered "451 Parameter Not Understood".
//
// Thread: the part's transfer thread. Owns its connection and buffers;
// borrows the task's channel and limiter.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/sdp.h"
#include "net/transfer_channel.h"

namespace fetchora {

// Authentication answers sent in one cycle; another 401 ends the cycle.
inline constexpr int kRtspMaxAuthAnswers = 2;

// The subscription of a RealMedia description: for each stream, its
// matching rules ("stream=%u;rule=%u," for each), rule 0 for a stream
// without a rule book or whose rule book cannot be evaluated; the trailing
// "," removed.
std::string RtspSubscription(const SdpDescription& sdp);

// The ASF data packets in one RTP packet of a Windows Media stream (whole
// packets, or the fragment that completes one in assembly). False when the
// bytes are not an RTP packet or a length runs past them.
bool SplitAsfRtp(std::span<const uint8_t> rtp, std::vector<uint8_t>& assembly,
                 std::vector<std::vector<uint8_t>>& packets, std::size_t maxPacket);

// The header of the RealMedia file layout (docs/stream-files.md).
std::vector<uint8_t> RealMediaFileHeader(const SdpDescription& sdp);

// The thread procedure: 0 ended, 1 finished (a stream without a size
// ended), 2 failed.
int RtspTransfer(TransferTask& task);

}  // namespace fetchora
