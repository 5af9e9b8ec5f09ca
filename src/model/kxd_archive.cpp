#include "model/kxd_archive.h"

namespace fetchora {
namespace {

constexpr uint8_t kLength16 = 0xFF;
constexpr uint16_t kLength32 = 0xFFFF;
// A 16-bit length of 0xFFFE announces a wide-character string, which this
// format never holds.
constexpr uint16_t kWideMarker = 0xFFFE;
constexpr uint32_t kLength64 = 0xFFFFFFFF;

}  // namespace

const char* archiveErrorText(ArchiveError error)
{
    switch (error) {
    case ArchiveError::None: return "no error";
    case ArchiveError::EndOfFile: return "unexpected end of file";
    case ArchiveError::BadCount: return "impossible item count";
    case ArchiveError::BadLength: return "unknown string length form";
    case ArchiveError::BadTag: return "unknown node tag";
    }
    return "unknown error";
}

// ---- KxdReader ----------------------------------------------------------------

void KxdReader::fail(ArchiveError error, size_t at)
{
    if (m_error != ArchiveError::None)
        return;
    m_error = error;
    m_errorOffset = at;
}

bool KxdReader::need(size_t count, size_t fieldStart)
{
    if (m_error != ArchiveError::None)
        return false;
    if (count > remaining()) {
        fail(ArchiveError::EndOfFile, fieldStart);
        return false;
    }
    return true;
}

uint64_t KxdReader::readLittle(size_t width)
{
    if (!need(width, m_offset))
        return 0;
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i)
        value |= static_cast<uint64_t>(static_cast<uint8_t>(m_bytes[m_offset + i])) << (8 * i);
    m_offset += width;
    return value;
}

uint8_t KxdReader::readU8()
{
    return static_cast<uint8_t>(readLittle(1));
}

uint16_t KxdReader::readU16()
{
    return static_cast<uint16_t>(readLittle(2));
}

uint32_t KxdReader::readU32()
{
    return static_cast<uint32_t>(readLittle(4));
}

int64_t KxdReader::readI64()
{
    return static_cast<int64_t>(readLittle(8));
}

std::string KxdReader::readString()
{
    const size_t start = m_offset;
    // Every failure points at the start of the string, not into its length.
    uint64_t length = readU8();
    if (length == kLength16) {
        if (!need(2, start))
            return {};
        length = readU16();
        if (length == kWideMarker) {
            fail(ArchiveError::BadLength, start);
            return {};
        }
        if (length == kLength32) {
            if (!need(4, start))
                return {};
            length = readU32();
            if (length == kLength64) {
                fail(ArchiveError::BadLength, start);
                return {};
            }
        }
    }
    if (!need(length, start))
        return {};
    std::string text(m_bytes.substr(m_offset, length));
    m_offset += length;
    return text;
}

bool KxdReader::checkCount(int64_t count, size_t minItemBytes, size_t countOffset)
{
    if (m_error != ArchiveError::None)
        return false;
    const bool fits = count >= 0 && (minItemBytes == 0 || static_cast<uint64_t>(count) <= remaining() / minItemBytes);
    if (!fits)
        fail(ArchiveError::BadCount, countOffset);
    return fits;
}

// ---- KxdWriter ----------------------------------------------------------------

void KxdWriter::writeLittle(uint64_t value, size_t width)
{
    for (size_t i = 0; i < width; ++i)
        m_bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

void KxdWriter::writeString(std::string_view text)
{
    const uint64_t length = text.size();
    if (length >= kLength64) {
        m_ok = false;
        return;
    }
    if (length < kLength16) {
        writeU8(static_cast<uint8_t>(length));
    } else if (length < kWideMarker) {
        writeU8(kLength16);
        writeU16(static_cast<uint16_t>(length));
    } else {
        writeU8(kLength16);
        writeU16(kLength32);
        writeU32(static_cast<uint32_t>(length));
    }
    m_bytes.append(text);
}

}  // namespace fetchora
