#pragma once
// The byte stream of the job database file: little-endian integers and
// length-prefixed byte strings. A string's length takes one of three forms:
//   length < 255           one byte
//   255 <= length < 65534  0xFF, then the length as u16
//   longer                 0xFF, 0xFFFF as u16, then the length as u32
// The writer always uses the shortest form, so that a file read and written
// again keeps its bytes; the reader accepts any of the three forms for any
// length.
//
// The reader never throws and never trusts a length: every read is checked
// against the bytes that remain, and the first failure is kept (later reads
// give zeros and empty strings) so that a caller reads a whole record and
// asks once whether it was sound. A length or count can never make it
// allocate more than the rest of the data.
//
// Thread: any; each object is used by one thread at a time. The reader
// borrows the bytes it reads; the writer owns the bytes it builds.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora {

// Why reading stopped.
enum class ArchiveError : uint8_t {
    None,
    EndOfFile,  // the data ended inside a field
    BadCount,  // a negative count, or more items than the remaining bytes can hold
    BadLength,  // a string length form this format never writes (0xFFFE marker, 64-bit length)
    BadTag,  // a node tag that names neither a Category nor a job
};

const char* archiveErrorText(ArchiveError error);

class KxdReader {
public:
    explicit KxdReader(std::string_view bytes) : m_bytes(bytes) { }

    uint8_t readU8();
    uint16_t readU16();
    int16_t readI16() { return static_cast<int16_t>(readU16()); }
    uint32_t readU32();
    int32_t readI32() { return static_cast<int32_t>(readU32()); }
    int64_t readI64();
    std::string readString();

    // Accepts a count just read when it is not negative and the remaining
    // bytes can hold that many items of at least minItemBytes each;
    // otherwise marks the data damaged at the count. False when refused or
    // already failed.
    bool checkCount(int64_t count, size_t minItemBytes, size_t countOffset);
    // Marks the data damaged at `at` (the first failure is kept).
    void fail(ArchiveError error, size_t at);

    bool ok() const { return m_error == ArchiveError::None; }
    ArchiveError error() const { return m_error; }
    // Where the failing field starts.
    size_t errorOffset() const { return m_errorOffset; }
    size_t offset() const { return m_offset; }
    size_t remaining() const { return m_bytes.size() - m_offset; }

private:
    // Whether `count` more bytes are there; marks end-of-file at `fieldStart` when not.
    bool need(size_t count, size_t fieldStart);
    uint64_t readLittle(size_t width);

    std::string_view m_bytes;
    size_t m_offset = 0;
    ArchiveError m_error = ArchiveError::None;
    size_t m_errorOffset = 0;
};

class KxdWriter {
public:
    void writeU8(uint8_t value) { m_bytes.push_back(static_cast<char>(value)); }
    void writeU16(uint16_t value) { writeLittle(value, 2); }
    void writeI16(int16_t value) { writeU16(static_cast<uint16_t>(value)); }
    void writeU32(uint32_t value) { writeLittle(value, 4); }
    void writeI32(int32_t value) { writeU32(static_cast<uint32_t>(value)); }
    void writeI64(int64_t value) { writeLittle(static_cast<uint64_t>(value), 8); }
    // A string of 4 GiB or more has no form in this format: nothing is
    // written and the writer is marked failed.
    void writeString(std::string_view text);

    void reserve(size_t size) { m_bytes.reserve(size); }
    bool ok() const { return m_ok; }
    const std::string& bytes() const { return m_bytes; }
    std::string take() { return std::move(m_bytes); }

private:
    void writeLittle(uint64_t value, size_t width);

    std::string m_bytes;
    bool m_ok = true;
};

}  // namespace fetchora
