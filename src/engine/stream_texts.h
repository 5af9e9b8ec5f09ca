#pragma once
// String ids of the texts the streaming jobs (MMS, RTSP and the ASF files
// they write) put into a job's failure line and its log, so that the current
// language reaches them. The texts with printf fields ("%d", "%X") are filled
// with fillPrintfFields, the others with builtinText; lines sent to servers
// are never among them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

// MMS.
inline constexpr uint32_t kStrMmsCannotFetch = 41701;
inline constexpr uint32_t kStrMmsSendCommand = 41702;  // the command in hex
inline constexpr uint32_t kStrMmsReceivedCommand = 41703;
inline constexpr uint32_t kStrMmsFrameReceived = 41704;  // the frame type, its bytes
inline constexpr uint32_t kStrMmsServerTool = 41705;
inline constexpr uint32_t kStrMmsHeaderSizes = 41706;
inline constexpr uint32_t kStrStreamFlagsTime = 41707;  // the flags in hex, the play time, the preroll
inline constexpr uint32_t kStrMmsReceivedHeader = 41708;
inline constexpr uint32_t kStrMmsIllegalChunkLength = 41709;
inline constexpr uint32_t kStrMmsUnknownHeaderType = 41710;  // type and flags in hex
inline constexpr uint32_t kStrMmsUnknownErrorCode = 41711;

// The server's error codes, then the MMS dialogue's failures.
inline constexpr uint32_t kStrMmsFileFailedToOpen = 41712;
inline constexpr uint32_t kStrMmsNoAccess = 41713;
inline constexpr uint32_t kStrMmsBadParameter = 41714;
inline constexpr uint32_t kStrMmsNetworkBusy = 41715;
inline constexpr uint32_t kStrMmsTooManySessions = 41716;
inline constexpr uint32_t kStrMmsNoTimelyResponse = 41717;
inline constexpr uint32_t kStrMmsFileNotFound = 41718;
inline constexpr uint32_t kStrMmsNetworkFailed = 41719;
inline constexpr uint32_t kStrMmsNoMoreData = 41720;
inline constexpr uint32_t kStrMmsCommandNotTaken = 41721;
inline constexpr uint32_t kStrMmsFunnelClosed = 41722;
inline constexpr uint32_t kStrMmsChallengeUnreadable = 41723;
inline constexpr uint32_t kStrMmsNoAsfHeader = 41724;
inline constexpr uint32_t kStrMmsDataBeforeHeader = 41725;
inline constexpr uint32_t kStrMmsEndedBeforeBegin = 41726;

// Both streaming protocols.
inline constexpr uint32_t kStrStreamServerClosed = 41727;
inline constexpr uint32_t kStrStreamNothingSentFor = 41728;  // "%1" seconds
inline constexpr uint32_t kStrStreamLoginRefused = 41729;
inline constexpr uint32_t kStrStreamNtlmAnswerFailed = 41730;

// RTSP and its interleaved frames.
inline constexpr uint32_t kStrRtspCannotFetch = 41731;
inline constexpr uint32_t kStrRtspRequestNotTaken = 41732;
inline constexpr uint32_t kStrRtspAnswerUnreadable = 41733;
inline constexpr uint32_t kStrRtspRedirectNoLocation = 41734;
inline constexpr uint32_t kStrRtspNoDescription = 41735;
inline constexpr uint32_t kStrRtspNtlmChallengeUnreadable = 41736;
inline constexpr uint32_t kStrRtspDescriptionNoStream = 41737;
inline constexpr uint32_t kStrRtspDescriptionNoAsfHeader = 41738;
inline constexpr uint32_t kStrRtspPacketCounts = 41739;
inline constexpr uint32_t kStrRtspDataBeforeSetup = 41740;
inline constexpr uint32_t kStrRtspFrameNotAsf = 41741;
inline constexpr uint32_t kStrRtspDescriptionTooLarge = 41742;  // "%1" bytes
inline constexpr uint32_t kStrRtspNeitherAnswerNorFrame = 41743;
inline constexpr uint32_t kStrRtspHeadTooLong = 41744;  // "%1" bytes

// The ASF header a stream begins with.
inline constexpr uint32_t kStrAsfHeaderIncomplete = 41745;
inline constexpr uint32_t kStrAsfHeaderNoDataObject = 41746;
inline constexpr uint32_t kStrAsfObjectPastEnd = 41747;
inline constexpr uint32_t kStrAsfPropertiesTooShort = 41748;
inline constexpr uint32_t kStrAsfNoProperties = 41749;
inline constexpr uint32_t kStrAsfNoPacketLength = 41750;
inline constexpr uint32_t kStrAsfNoPacketCount = 41751;

// The ASF packets a stream is written as.
inline constexpr uint32_t kStrAsfPayloadPastPacket = 41752;
inline constexpr uint32_t kStrAsfPayloadShort = 41753;
inline constexpr uint32_t kStrAsfPacketBeyondFile = 41754;  // "%1" the packet, "%2" the count
inline constexpr uint32_t kStrAsfStreamEndedEarly = 41755;  // "%1" packets

}  // namespace fetchora
