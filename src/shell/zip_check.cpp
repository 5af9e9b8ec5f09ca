#include "shell/zip_check.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <initializer_list>
#include <memory>
#include <new>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include "lang/string_table.h"
#include "shell/shell_texts.h"

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
    uint64_t entries = 0;
};

constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr int64_t kZip64EndRecordSize = 56;
constexpr uint16_t kZip64ExtraTag = 0x0001;
constexpr uint32_t kMarker32 = 0xFFFFFFFF;
constexpr uint16_t kMarker16 = 0xFFFF;

uint64_t le64(const uint8_t* p)
{
    return le32(p) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}

// A directory that lies inside the file before `before` and has room for
// its entries' fixed headers.
std::optional<Directory> checkedDirectory(uint64_t offset, uint64_t size, uint64_t entries, int64_t before)
{
    const auto limit = static_cast<uint64_t>(before);
    if (offset > limit || size > limit - offset || entries > size / kCentralHeaderSize)
        return std::nullopt;
    return Directory{static_cast<int64_t>(offset), static_cast<int64_t>(size), entries};
}

// The zip64 end record that the locator just before the end record points to.
std::optional<Directory> findZip64Directory(const ReadOnlyFile& file, const uint8_t* locator, int64_t locatorOffset)
{
    const uint32_t recordDisk = le32(locator + 4);
    const uint64_t recordOffset = le64(locator + 8);
    const uint32_t disks = le32(locator + 16);
    if (recordDisk != 0 || disks > 1 || recordOffset > static_cast<uint64_t>(locatorOffset - kZip64EndRecordSize))
        return std::nullopt;
    uint8_t record[kZip64EndRecordSize];
    if (!file.readAt(static_cast<int64_t>(recordOffset), record, sizeof record) || le32(record) != kZip64EndSignature)
        return std::nullopt;
    if (le32(record + 16) != 0 || le32(record + 20) != 0 || le64(record + 24) != le64(record + 32))
        return std::nullopt;
    return checkedDirectory(le64(record + 48), le64(record + 40), le64(record + 32),
                            static_cast<int64_t>(recordOffset));
}

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
        const int64_t locatorOffset = endOffset - kZip64LocatorSize;
        uint8_t locator[kZip64LocatorSize];
        // The locator's signature could also be the last bytes of a plain
        // directory; then the plain end record still describes the archive.
        if (locatorOffset >= 0 && file.readAt(locatorOffset, locator, sizeof locator)
            && le32(locator) == kZip64LocatorSignature) {
            if (std::optional<Directory> directory = findZip64Directory(file, locator, locatorOffset))
                return directory;
        }
        const bool zip64 = entries == kMarker16 || directorySize == kMarker32 || directoryOffset == kMarker32;
        if (zip64 || disk != 0 || directoryDisk != 0 || entriesHere != entries)
            return std::nullopt;
        return checkedDirectory(directoryOffset, directorySize, entries, endOffset);
    }
    return std::nullopt;
}

// The 64-bit values of a zip64 extra field, for those of the three fields
// that hold the 0xFFFFFFFF marker, in their fixed order. False when the
// field is missing or short.
bool readZip64Extra(const std::vector<uint8_t>& extra, std::initializer_list<uint64_t*> marked)
{
    size_t at = 0;
    while (at + 4 <= extra.size()) {
        const uint16_t tag = le16(extra.data() + at);
        const uint16_t length = le16(extra.data() + at + 2);
        at += 4;
        if (at + length > extra.size())
            return false;
        if (tag == kZip64ExtraTag) {
            size_t field = at;
            for (uint64_t* value : marked) {
                if (*value != kMarker32)
                    continue;
                if (field + 8 > at + length)
                    return false;
                *value = le64(extra.data() + field);
                field += 8;
            }
            return true;
        }
        at += length;
    }
    return false;
}

// The central directory's entries; none when it does not hold together.
std::optional<std::vector<Entry>> readDirectory(const ReadOnlyFile& file, const Directory& directory)
{
    std::vector<Entry> entries;
    // The count is only a claim until the headers have been read.
    entries.reserve(static_cast<size_t>(std::min<uint64_t>(directory.entries, 65536)));
    const int64_t end = directory.offset + directory.size;
    const auto limit = static_cast<uint64_t>(directory.offset);
    int64_t at = directory.offset;
    uint8_t header[kCentralHeaderSize];
    std::vector<uint8_t> extra;
    for (uint64_t i = 0; i < directory.entries; ++i) {
        if (at + kCentralHeaderSize > end || !file.readAt(at, header, sizeof header))
            return std::nullopt;
        if (le32(header) != kCentralHeaderSignature)
            return std::nullopt;
        const uint16_t nameLength = le16(header + 28);
        const uint16_t extraLength = le16(header + 30);
        uint64_t compressedSize = le32(header + 20);
        uint64_t size = le32(header + 24);
        uint64_t localOffset = le32(header + 42);
        const int64_t next = at + kCentralHeaderSize + nameLength + extraLength + le16(header + 32);
        if (next > end)
            return std::nullopt;
        if (compressedSize == kMarker32 || size == kMarker32 || localOffset == kMarker32) {
            extra.resize(extraLength);
            if (!file.readAt(at + kCentralHeaderSize + nameLength, extra.data(), extra.size())
                || !readZip64Extra(extra, {&size, &compressedSize, &localOffset}))
                return std::nullopt;
        }
        // Sizes past the file are left for the entry check to find wrong;
        // values past what int64_t holds are not.
        constexpr uint64_t kLargest = static_cast<uint64_t>(INT64_MAX);
        if (localOffset > limit || limit - localOffset < kLocalHeaderSize || compressedSize > kLargest
            || size > kLargest)
            return std::nullopt;
        Entry entry;
        entry.flags = le16(header + 8);
        entry.method = le16(header + 10);
        entry.crc = le32(header + 16);
        entry.compressedSize = static_cast<int64_t>(compressedSize);
        entry.size = static_cast<int64_t>(size);
        entry.localOffset = static_cast<int64_t>(localOffset);
        entries.push_back(entry);
        at = next;
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
            if (entry.compressedSize <= limit - dataStart) {
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
    case ZipCheckKind::NotArchive: return builtinText(kStrZipNotArchive);
    case ZipCheckKind::Encrypted: return builtinText(kStrZipEncrypted);
    case ZipCheckKind::Clean: return builtinText(kStrZipClean);
    case ZipCheckKind::MemoryError: return builtinText(kStrZipMemoryError);
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
    return builtinText(kStrZipRedownload, {std::to_string(bytes), std::to_string(percent) + "%"});
}

}  // namespace fetchora
