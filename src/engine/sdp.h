#pragma once
// The session description an RTSP server sends in answer to DESCRIBE: the
// streams ("m=audio", "m=video") with their control texts and the RealMedia
// attributes ("a=Name:integer;5", "a=Name:string;\"text\"",
// "a=Name:buffer;\"base64\""), the texts of the session, and for Windows
// Media the ASF header carried in "a=pgmpu:data:...;base64,".
//
// Thread: any; a pure function. Bounded: at most kMaxSdpStreams streams; a
// value that is not of its kind is left at its default.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr std::size_t kMaxSdpStreams = 64;

struct SdpStream {
    bool video = false;
    std::string control;  // "a=control:"
    int32_t streamNumber = -1;  // from "a=control:streamid=N"; -1 when not given
    int32_t liveStream = 0;
    int32_t maxBitRate = 0;
    int32_t avgBitRate = 0;
    int32_t maxPacketSize = 0;
    int32_t avgPacketSize = 0;
    int32_t startTime = 0;
    int32_t endTime = 0;
    int32_t preroll = 0;
    double duration = 0;  // seconds, "a=length:npt="
    std::string streamName;
    std::string mimeType;
    bool realAudio = false;  // one of the RealAudio MIME types
    std::vector<uint8_t> opaqueData;
    std::string ruleBook;
};

struct SdpDescription {
    std::vector<SdpStream> streams;
    std::string control;  // the session's own "a=control:"
    double duration = 0;  // the session's "a=length:npt="
    std::string title;
    std::string author;
    std::string copyright;
    std::string comment;
    std::vector<uint8_t> asfHeader;  // Windows Media: the decoded header
};

SdpDescription ParseSdp(std::string_view body);

}  // namespace fetchora
