#include "engine/sdp.h"

#include <charconv>
#include <cstdlib>
#include <optional>

#include "net/base64_codec.h"

namespace fetchora {

namespace {

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::optional<int32_t> integer(std::string_view text)
{
    int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || value < INT32_MIN || value > INT32_MAX)
        return std::nullopt;
    (void)end;
    return static_cast<int32_t>(value);
}

std::string unquoted(std::string_view text)
{
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"')
        text = text.substr(1, text.size() - 2);
    return std::string(text);
}

std::vector<uint8_t> buffer(std::string_view text)
{
    return Base64Codec().decode(unquoted(text));
}

std::string bufferText(std::string_view text)
{
    const std::vector<uint8_t> bytes = buffer(text);
    std::string out(bytes.begin(), bytes.end());
    // Texts of RealMedia descriptions end with a zero byte.
    while (!out.empty() && out.back() == '\0')
        out.pop_back();
    return out;
}

double seconds(std::string_view text)
{
    // "a=length:npt=12.5" or "npt=0-12.5": the end of the range when given.
    if (const auto dash = text.find('-'); dash != std::string_view::npos)
        text = text.substr(dash + 1);
    const std::string copy(text);
    const double value = std::strtod(copy.c_str(), nullptr);
    return value > 0 && value < 1e9 ? value : 0;
}

}  // namespace

SdpDescription ParseSdp(std::string_view body)
{
    SdpDescription out;
    SdpStream* stream = nullptr;
    bool skipping = false;  // inside a stream beyond the limit
    while (!body.empty()) {
        const auto end = body.find('\n');
        std::string_view line = body.substr(0, end);
        body = end == std::string_view::npos ? std::string_view() : body.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);

        if (startsWith(line, "m=")) {
            const bool video = startsWith(line, "m=video");
            if (!video && !startsWith(line, "m=audio")) {
                stream = nullptr;
                skipping = true;
                continue;
            }
            skipping = out.streams.size() >= kMaxSdpStreams;
            stream = skipping ? nullptr : &out.streams.emplace_back();
            if (stream)
                stream->video = video;
            continue;
        }
        if (!startsWith(line, "a=") || skipping)
            continue;
        const std::string_view attribute = line.substr(2);
        const auto colon = attribute.find(':');
        if (colon == std::string_view::npos)
            continue;
        const std::string_view name = attribute.substr(0, colon);
        std::string_view value = attribute.substr(colon + 1);
        // "Name:kind;value"
        std::string_view kind;
        if (const auto semicolon = value.find(';');
            semicolon != std::string_view::npos && name != "control" && name != "pgmpu") {
            kind = value.substr(0, semicolon);
            value = value.substr(semicolon + 1);
        }

        if (name == "pgmpu") {
            constexpr std::string_view kAsf = "data:application/vnd.ms.wms-hdr.asfv1;base64,";
            if (startsWith(value, kAsf))
                out.asfHeader = Base64Codec().decode(value.substr(kAsf.size()));
            continue;
        }
        if (name == "control") {
            std::string& target = stream ? stream->control : out.control;
            target = std::string(value);
            if (stream && startsWith(value, "streamid="))
                stream->streamNumber = integer(value.substr(9)).value_or(-1);
            continue;
        }
        if (name == "length") {
            if (startsWith(value, "npt="))
                (stream ? stream->duration : out.duration) = seconds(value.substr(4));
            continue;
        }
        if (!stream) {
            if (kind != "buffer" && kind != "string")
                continue;
            const std::string text = kind == "buffer" ? bufferText(value) : unquoted(value);
            if (name == "Title")
                out.title = text;
            else if (name == "Author")
                out.author = text;
            else if (name == "Copyright")
                out.copyright = text;
            else if (name == "Comment")
                out.comment = text;
            continue;
        }
        if (kind == "integer") {
            const std::optional<int32_t> number = integer(value);
            if (!number)
                continue;
            struct Field {
                std::string_view name;
                int32_t SdpStream::*member;
            };
            static constexpr Field kFields[] = {
                {"LiveStream", &SdpStream::liveStream},
                {"MaxBitRate", &SdpStream::maxBitRate},
                {"AvgBitRate", &SdpStream::avgBitRate},
                {"MaxPacketSize", &SdpStream::maxPacketSize},
                {"AvgPacketSize", &SdpStream::avgPacketSize},
                {"StartTime", &SdpStream::startTime},
                {"EndTime", &SdpStream::endTime},
                {"Preroll", &SdpStream::preroll},
            };
            for (const Field& field : kFields) {
                if (field.name == name)
                    stream->*field.member = *number;
            }
        } else if (kind == "string") {
            if (name == "StreamName") {
                stream->streamName = unquoted(value);
            } else if (name == "mimetype") {
                stream->mimeType = unquoted(value);
                stream->realAudio = stream->mimeType == "audio/x-pn-realaudio"
                    || stream->mimeType == "audio/x-pn-multirate-realaudio-live";
            } else if (name == "ASMRuleBook") {
                stream->ruleBook = unquoted(value);
            }
        } else if (kind == "buffer" && name == "OpaqueData") {
            stream->opaqueData = buffer(value);
        }
    }
    return out;
}

}  // namespace fetchora
