#pragma once
// The MMS (over TCP) command messages and the framing of what a server sends
// on the same connection: commands (the 16-byte common header with the
// session signature, then sequence, time, chunk length and the message
// identifier) and data frames (an 8-byte header, then ASF header bytes or one
// ASF data packet). Numbers are little-endian, texts UTF-16LE, every command
// padded to a multiple of 8 bytes.
//
// Field layout of the commands this client sends (offsets from the start of
// the message; the fixed part up to 40 is the same for all):
//   connect (1)        40 play incarnation, 44/48 protocol revisions, 52 text
//   connect funnel (2) 40..59 incarnation and limits, 60 text
//   open file (5)      40 incarnation, 44 spare, 48 token, 52 token length, 56 name
//   start playing (7)  40 file id, 48 start time (double, seconds), 56 -1,
//                      60 first packet wanted, 64..83 incarnation and rates
//   read block (0x15), funnel information (0x18), pong (0x1B): fixed fields
//   security response (0x1A) 40 zero, 44 length, 48 the response bytes
// Server commands carry their result code at offset 40 (pings carry none).
// A security challenge holds the length of its data at 44 and the data
// (empty, or an NTLM type-2 message) from 48.
//
// Thread: any; no state beyond the splitter's own buffer.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr uint32_t kMmsSessionSignature = 0xB00BFACE;
// Bytes up to and including the message identifier.
inline constexpr std::size_t kMmsFixedSize = 40;
// No command this client knows comes near this; a longer one is hostile.
inline constexpr std::size_t kMmsMaxCommandSize = 65536;
inline constexpr std::size_t kMmsFrameHeaderSize = 8;

// Client command codes (the identifier's low half; the high half is 3).
enum class MmsClientCode : uint32_t {
    Connect = 0x01,
    ConnectFunnel = 0x02,
    OpenFile = 0x05,
    StartPlaying = 0x07,
    ReadBlock = 0x15,
    FunnelInfo = 0x18,
    SecurityResponse = 0x1A,
    Pong = 0x1B,
};

// Server command codes (the identifier's low half; the high half is 4).
inline constexpr uint32_t kMmsConnected = 0x01;
inline constexpr uint32_t kMmsFunnelConnected = 0x02;
inline constexpr uint32_t kMmsFunnelDisconnected = 0x03;
inline constexpr uint32_t kMmsStartedPlaying = 0x05;
inline constexpr uint32_t kMmsOpenFileReport = 0x06;
inline constexpr uint32_t kMmsFunnelInfo = 0x15;
inline constexpr uint32_t kMmsSecurityChallenge = 0x1A;
inline constexpr uint32_t kMmsPing = 0x1B;
inline constexpr uint32_t kMmsEndOfStream = 0x1E;

// Frame types of data frames.
inline constexpr uint8_t kMmsFrameData = 0x00;
inline constexpr uint8_t kMmsFrameHeader = 0x02;
inline constexpr uint8_t kMmsFrameData2 = 0x04;

// The text as UTF-16LE with a terminating zero character. Bytes that are not
// valid UTF-8 stand for the Latin-1 character of the same number.
std::vector<uint8_t> Utf16Le(std::string_view text);
// UTF-16LE back to UTF-8, up to the first zero character; bounded by bytes.
std::string FromUtf16Le(std::span<const uint8_t> bytes);

// A whole client message: the common header, sequence, zero time, the
// identifier 0x0003xxxx and the fields, padded to a multiple of 8.
std::vector<uint8_t> BuildMmsCommand(MmsClientCode code, uint32_t sequence, std::span<const uint8_t> fields);

// The fields of each client command.
std::vector<uint8_t> MmsConnectFields(std::string_view clientGuid, std::string_view host);
std::vector<uint8_t> MmsConnectFunnelFields(std::string_view localAddress, uint16_t localPort);
std::vector<uint8_t> MmsOpenFileFields(std::string_view object);
// firstPacket goes at offset 60 of the message, the start time at 48.
std::vector<uint8_t> MmsStartPlayingFields(uint32_t firstPacket, double startSeconds);
std::vector<uint8_t> MmsReadBlockFields();
std::vector<uint8_t> MmsFunnelInfoFields();
std::vector<uint8_t> MmsPongFields();
std::vector<uint8_t> MmsSecurityResponseFields(std::span<const uint8_t> response);

// A server (or client) command taken from the wire.
struct MmsCommand {
    uint32_t identifier = 0;  // 0x0004xxxx from a server
    uint32_t sequence = 0;
    std::vector<uint8_t> message;  // the whole message

    uint32_t code() const { return identifier & 0xFFFF; }
    // The 32-bit value at a message offset; 0 past the end.
    uint32_t field(std::size_t offset) const;
    // The result code at offset 40 (0 when the message is too short).
    uint32_t result() const { return field(kMmsFixedSize); }
};

// What the splitter cut from the received bytes.
struct MmsItem {
    enum class Kind { NeedMore, Command, Frame, Error };
    Kind kind = Kind::NeedMore;
    MmsCommand command;  // Command
    uint32_t location = 0;  // Frame: sequence / location
    uint8_t type = 0;  // Frame
    uint8_t flags = 0;  // Frame
    std::vector<uint8_t> payload;  // Frame: the bytes after the 8-byte header
    std::string error;  // Error: the line for the log
};

// Cuts commands and data frames out of the byte stream. A frame with a
// length the header cannot mean, or of an unknown type, is an error; after
// an error the splitter must not be used again (the cycle ends).
class MmsFrameSplitter {
public:
    void feed(std::span<const uint8_t> bytes);
    MmsItem next();
    std::size_t buffered() const { return m_buffer.size() - m_start; }

private:
    std::vector<uint8_t> m_buffer;
    std::size_t m_start = 0;
};

// The server result codes that have a text of their own.
struct MmsServerError {
    std::string text;
    bool refused = false;  // the file is refused for good; otherwise retry
};
// A result code with its high bit set is a failure; 0 and other success
// codes give nothing.
std::optional<MmsServerError> MmsErrorFor(uint32_t result);

// A stream time in milliseconds as "d:hh:mm:ss.mmm", dropping leading zero
// units ("12.345", "1:02.003").
std::string FormatMmsTime(uint64_t milliseconds);

}  // namespace fetchora
