#include "shell/zip_check.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "lang/string_table.h"

namespace fetchora {
namespace {

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr int64_t kLocalHeaderSize = 30;
constexpr int64_t kCentralHeaderSize = 46;
constexpr int64_t kEndRecordSize = 22;
constexpr int64_t kZip64LocatorSize = 20;
constexpr int64_t kMaxCommentSize = 0xFFFF;
constexpr uint16_t kFlagEncrypted = 0x0001;
constexpr uint16_t kMethodStored = 0;
constexpr uint16_t kMethodDeflated = 8;

uint16_t le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16)
        | (static_cast<uint32_t>(p[3]) << 24);
}

class ReadOnlyFile {
public:
    explicit ReadOnlyFile(const std::filesystem::path& path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat info { };
        if (m_fd >= 0 && ::fstat(m_fd, &info) == 0 && S_ISREG(info.st_mode))
            m_size = info.st_size;
    }
    ~ReadOnlyFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // -1 when the file could not be opened as a regular file.
    int64_t size() const { return m_size; }

    // Exactly length bytes from offset, or false.
    bool readAt(int64_t offset, uint8_t* out, size_t length) const
    {
        while (length > 0) {
            const ssize_t got = ::pread(m_fd, out, length, offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return false;
            out += got;
            offset += got;
            length -= static_cast<size_t>(got);
        }
        return true;
    }

private:
    int m_fd = -1;
    int64_t m_size = -1;
};

struct Entry {
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    int64_t compressedSize = 0;
    int64_t size = 0;
    int64_t localOffset = 0;
};

struct Directory {
    int64_t offset = 0;
    int64_t size = 0;
    uint32_t entries = 0;
};

// The end record, searched backwards over the last 22 + 65535 bytes.
std::optional<Directory> findDirectory(const ReadOnlyFile& file)
{
    const int64_t size = file.size();
    if (size < kEndRecordSize)
        return std::nullopt;
    const int64_t tailLength = std::min<int64_t>(size, kEndRecordSize + kMaxCommentSize);
    std::vector<uint8_t> tail(static_cast<size_t>(tailLength));
    const int64_t tailStart = size - tailLength;
    if (!file.readAt(tailStart, tail.data(), tail.size()))
        return std::nullopt;
    for (int64_t at = tailLength - kEndRecordSize; at >= 0; --at) {
        const uint8_t* record = tail.data() + at;
        if (le32(record) != kEndSignature)
            continue;
        // A signature inside the comment would claim a comment running past
        // the end of the file.
        if (at + kEndRecordSize + le16(record + 20) > tailLength)
            continue;
        const int64_t endOffset = tailStart + at;
        const uint16_t disk = le16(record + 4);
        const uint16_t directoryDisk = le16(record + 6);
        const uint16_t entriesHere = le16(record + 8);
        const uint16_t entries = le16(record + 10);
        const uint32_t directorySize = le32(record + 12);
        const uint32_t directoryOffset = le32(record + 16);
        const bool zip64 = entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF
            || (at >= kZip64LocatorSize && le32(record - kZip64LocatorSize) == kZip64LocatorSignature);
        if (zip64 || disk != 0 || directoryDisk != 0 || entriesHere != entries)
            return std::nullopt;
        if (static_cast<int64_t>(directoryOffset) + directorySize > endOffset)
            return std::nullopt;
        if (static_cast<int64_t>(entries) * kCentralHeaderSize > directorySize)
            return std::nullopt;
        return Directory{directoryOffset, directorySize, entries};
    }
    return std::nullopt;
}

// The central directory's entries; none when it does not hold together.
std::optional<std::vector<Entry>> readDirectory(const ReadOnlyFile& file, const Directory& directory)
{
    std::vector<Entry> entries;
    entries.reserve(directory.entries);
    const int64_t end = directory.offset + directory.size;
    int64_t at = directory.offset;
    uint8_t header[kCentralHeaderSize];
    for (uint32_t i = 0; i < directory.entries; ++i) {
        if (at + kCentralHeaderSize > end || !file.readAt(at, header, sizeof header))
            return std::nullopt;
        if (le32(header) != kCentralHeaderSignature)
            return std::nullopt;
        Entry entry;
        entry.flags = le16(header + 8);
        entry.method = le16(header + 10);
        entry.crc = le32(header + 16);
        entry.compressedSize = le32(header + 20);
        entry.size = le32(header + 24);
        entry.localOffset = le32(header + 42);
        at += kCentralHeaderSize + le16(header + 28) + le16(header + 30) + le16(header + 32);
        if (at > end || entry.localOffset + kLocalHeaderSize > directory.offset)
            return std::nullopt;
        entries.push_back(entry);
    }
    return entries;
}

enum class EntryCheck { Good, Bad, Unchecked, NoMemory };

struct Buffers {
    std::unique_ptr<uint8_t[]> input;
    std::unique_ptr<uint8_t[]> output;
};

// Reads [dataStart, dataStart + compressedSize) and checks size and CRC.
EntryCheck checkData(const ReadOnlyFile& file, const Entry& entry, int64_t dataStart, Buffers& buffers)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    int64_t produced = 0;
    int64_t left = entry.compressedSize;
    int64_t at = dataStart;
    if (entry.method == kMethodStored) {
        if (entry.compressedSize != entry.size)
            return EntryCheck::Bad;
        while (left > 0) {
            const auto length = static_cast<size_t>(std::min<int64_t>(left, kZipReadBlock));
            if (!file.readAt(at, buffers.input.get(), length))
                return EntryCheck::Bad;
            crc = crc32(crc, buffers.input.get(), static_cast<uInt>(length));
            at += static_cast<int64_t>(length);
            left -= static_cast<int64_t>(length);
        }
        return crc == entry.crc ? EntryCheck::Good : EntryCheck::Bad;
    }
    if (entry.method != kMethodDeflated)
        return EntryCheck::Unchecked;

    z_stream stream{};
    const int init = inflateInit2(&stream, -MAX_WBITS);
    if (init == Z_MEM_ERROR)
        return EntryCheck::NoMemory;
    if (init != Z_OK)
        return EntryCheck::Bad;
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        if (stream.avail_in == 0) {
            if (left == 0)
                break;
            const auto length = static_cast<size_t>(std::min<int64_t>(left, kZipReadBlock));
            if (!file.readAt(at, buffers.input.get(), length))
                break;
            at += static_cast<int64_t>(length);
            left -= static_cast<int64_t>(length);
            stream.next_in = buffers.input.get();
            stream.avail_in = static_cast<uInt>(length);
        }
        stream.next_out = buffers.output.get();
        stream.avail_out = static_cast<uInt>(kZipReadBlock);
        status = inflate(&stream, Z_NO_FLUSH);
        const size_t got = kZipReadBlock - stream.avail_out;
        crc = crc32(crc, buffers.output.get(), static_cast<uInt>(got));
        produced += static_cast<int64_t>(got);
        // More output than recorded is damage, and reading on would let a
        // small entry expand without bound.
        if (produced > entry.size || (status != Z_OK && status != Z_STREAM_END))
            break;
    }
    inflateEnd(&stream);
    if (status == Z_MEM_ERROR)
        return EntryCheck::NoMemory;
    const bool good = status == Z_STREAM_END && produced == entry.size && crc == entry.crc;
    return good ? EntryCheck::Good : EntryCheck::Bad;
}

}  // namespace

ZipCheckResult checkZipArchive(const std::filesystem::path& path)
{
    ZipCheckResult result;
    const ReadOnlyFile file(path);
    if (file.size() < 0)
        return result;
    const std::optional<Directory> directory = findDirectory(file);
    if (!directory)
        return result;
    std::optional<std::vector<Entry>> entries = readDirectory(file, *directory);
    if (!entries)
        return result;
    for (const Entry& entry : *entries) {
        if ((entry.flags & kFlagEncrypted) != 0) {
            result.kind = ZipCheckKind::Encrypted;
            return result;
        }
    }
    // In file order, each entry may use the bytes up to the next one; two
    // entries at one place would have the same bytes read twice and more.
    std::sort(entries->begin(), entries->end(),
              [](const Entry& a, const Entry& b) { return a.localOffset < b.localOffset; });
    for (size_t i = 1; i < entries->size(); ++i) {
        if ((*entries)[i].localOffset < (*entries)[i - 1].localOffset + kLocalHeaderSize)
            return result;
    }

    Buffers buffers;
    buffers.input.reset(new (std::nothrow) uint8_t[kZipReadBlock]);
    buffers.output.reset(new (std::nothrow) uint8_t[kZipReadBlock]);
    if (!buffers.input || !buffers.output) {
        result.kind = ZipCheckKind::MemoryError;
        return result;
    }
    for (size_t i = 0; i < entries->size(); ++i) {
        const Entry& entry = (*entries)[i];
        const int64_t limit = i + 1 < entries->size() ? (*entries)[i + 1].localOffset : directory->offset;
        int64_t dataEnd = limit;
        EntryCheck check = EntryCheck::Bad;
        uint8_t header[kLocalHeaderSize];
        if (file.readAt(entry.localOffset, header, sizeof header) && le32(header) == kLocalHeaderSignature) {
            const int64_t dataStart = entry.localOffset + kLocalHeaderSize + le16(header + 26) + le16(header + 28);
            if (dataStart + entry.compressedSize <= limit) {
                dataEnd = dataStart + entry.compressedSize;
                check = checkData(file, entry, dataStart, buffers);
            }
        }
        if (check == EntryCheck::NoMemory) {
            result.kind = ZipCheckKind::MemoryError;
            result.damaged.clear();
            return result;
        }
        if (check == EntryCheck::Unchecked)
            ++result.uncheckedEntries;
        if (check == EntryCheck::Bad)
            result.damaged.push_back({entry.localOffset, std::max(dataEnd, entry.localOffset + 1) - 1});
    }
    result.kind = result.damaged.empty() ? ZipCheckKind::Clean : ZipCheckKind::Damaged;
    return result;
}

std::string zipCheckMessage(ZipCheckKind kind)
{
    switch (kind) {
    case ZipCheckKind::NotArchive: return "It does not appear to be a valid archive.";
    case ZipCheckKind::Encrypted: return "Will support encryption format in later version";
    case ZipCheckKind::Clean: return "No errors detected.";
    case ZipCheckKind::MemoryError: return "Memory Error!";
    case ZipCheckKind::Damaged: break;
    }
    return {};
}

int64_t zipRedownloadBytes(std::span<const FileSpan> damaged)
{
    int64_t bytes = 0;
    for (const FileSpan& span : damaged)
        bytes += span.last - span.first + 1;
    return bytes;
}

std::string zipRedownloadQuestion(std::span<const FileSpan> damaged, int64_t bytesReceived)
{
    const int64_t bytes = zipRedownloadBytes(damaged);
    // In long double: bytes * 100 may not fit 64 bits for a huge file.
    const int64_t percent = bytesReceived > 0
        ? static_cast<int64_t>(static_cast<long double>(bytes) * 100 / static_cast<long double>(bytesReceived))
        : 0;
    return formatMessage("CRC Error!  Need to redownload %1(%2) bytes.  Do you want to continue?",
                         {std::to_string(bytes), std::to_string(percent) + "%"});
}

}  // namespace fetchora
