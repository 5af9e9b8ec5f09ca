// The zip check over archives written by python3: clean, with damaged
// entries, and a table of hostile files that must all end in a clear result.
#include "shell/zip_check.h"

#include "shell/zip_fixture.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace fetchora {
namespace {

using test::corruptEntry;
using test::MadeZip;
using test::makeZip;
using test::TempDir;
using test::writeFile;

void put16(std::string& bytes, size_t at, uint16_t value)
{
    bytes[at] = static_cast<char>(value & 0xFF);
    bytes[at + 1] = static_cast<char>(value >> 8);
}
void put32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<size_t>(i)] = static_cast<char>((value >> (8 * i)) & 0xFF);
}
uint16_t get16(const std::string& bytes, size_t at)
{
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) | (static_cast<uint8_t>(bytes[at + 1]) << 8));
}
uint32_t get32(const std::string& bytes, size_t at)
{
    return get16(bytes, at) | (static_cast<uint32_t>(get16(bytes, at + 2)) << 16);
}

// python3 writes no archive comment: the end record is the last 22 bytes.
size_t endRecord(const std::string& bytes)
{
    return bytes.size() - 22;
}
// The central directory header of entry k (in directory order, which is
// file order for these archives).
size_t centralEntry(const std::string& bytes, size_t k)
{
    size_t at = get32(bytes, endRecord(bytes) + 16);
    for (size_t i = 0; i < k; ++i)
        at += 46 + get16(bytes, at + 28) + get16(bytes, at + 30) + get16(bytes, at + 32);
    return at;
}

class ZipCheckTest : public ::testing::Test {
protected:
    ZipCheckTest() : m_zip(makeZip(m_dir.path())) { }

    ZipCheckResult check(const std::string& bytes)
    {
        const std::filesystem::path file = m_dir / "checked.zip";
        writeFile(file, bytes);
        return checkZipArchive(file);
    }

    TempDir m_dir;
    MadeZip m_zip;
};

TEST_F(ZipCheckTest, ACleanArchiveHasNoErrors)
{
    const ZipCheckResult result = checkZipArchive(m_zip.file);
    EXPECT_EQ(result.kind, ZipCheckKind::Clean);
    EXPECT_TRUE(result.damaged.empty());
    EXPECT_EQ(result.uncheckedEntries, 0u);
    EXPECT_EQ(zipCheckMessage(result.kind), "No errors detected.");
}

TEST_F(ZipCheckTest, TwoDamagedEntriesGiveExactlyTheirRanges)
{
    std::string bytes = m_zip.bytes;
    corruptEntry(bytes, m_zip, 1);  // stored
    corruptEntry(bytes, m_zip, 4);  // deflated
    const ZipCheckResult result = check(bytes);
    EXPECT_EQ(result.kind, ZipCheckKind::Damaged);
    EXPECT_EQ(result.damaged, (std::vector<FileSpan>{m_zip.entries[1], m_zip.entries[4]}));
}

TEST_F(ZipCheckTest, DamageInTheLastByteOfAnEntryIsFound)
{
    for (const size_t entry : {size_t{2}, size_t{5}}) {
        std::string bytes = m_zip.bytes;
        bytes[static_cast<size_t>(m_zip.entries[entry].last)] ^= 0x01;
        const ZipCheckResult result = check(bytes);
        EXPECT_EQ(result.damaged, std::vector<FileSpan>{m_zip.entries[entry]}) << "entry " << entry;
    }
}

TEST_F(ZipCheckTest, ADamagedLocalHeaderCoversTheEntryUpToTheNextOne)
{
    std::string bytes = m_zip.bytes;
    bytes[static_cast<size_t>(m_zip.entries[3].first)] = 'X';
    const ZipCheckResult result = check(bytes);
    EXPECT_EQ(result.kind, ZipCheckKind::Damaged);
    const FileSpan expected{m_zip.entries[3].first, m_zip.entries[4].first - 1};
    EXPECT_EQ(result.damaged, std::vector<FileSpan>{expected});
}

TEST_F(ZipCheckTest, AnEncryptedEntryStopsTheCheck)
{
    std::string bytes = m_zip.bytes;
    corruptEntry(bytes, m_zip, 0);
    const size_t central = centralEntry(bytes, 2);
    put16(bytes, central + 8, static_cast<uint16_t>(get16(bytes, central + 8) | 1));
    const ZipCheckResult result = check(bytes);
    EXPECT_EQ(result.kind, ZipCheckKind::Encrypted);
    EXPECT_TRUE(result.damaged.empty());
    EXPECT_EQ(zipCheckMessage(result.kind), "Will support encryption format in later version");
}

TEST_F(ZipCheckTest, AnEntryOfAnUnknownMethodIsCountedAsUnchecked)
{
    std::string bytes = m_zip.bytes;
    put16(bytes, centralEntry(bytes, 0) + 10, 99);
    const ZipCheckResult result = check(bytes);
    EXPECT_EQ(result.kind, ZipCheckKind::Clean);
    EXPECT_EQ(result.uncheckedEntries, 1u);
}

TEST_F(ZipCheckTest, Zip64RecordsAreRead)
{
    MadeZip zip = makeZip(m_dir.path(), "zip64.zip", true);
    // The zip64 end record and locator are there, and entry 0 has its sizes
    // in a zip64 field.
    ASSERT_NE(zip.bytes.find(std::string("PK\x06\x06", 4)), std::string::npos);
    ASSERT_EQ(get32(zip.bytes, endRecord(zip.bytes) - 20), 0x07064b50u);
    ASSERT_EQ(get32(zip.bytes, centralEntry(zip.bytes, 0) + 20), 0xFFFFFFFFu);
    EXPECT_EQ(checkZipArchive(zip.file).kind, ZipCheckKind::Clean);
    // As an archive too large for them has it, the end record's own fields
    // say only "see the zip64 record".
    put16(zip.bytes, endRecord(zip.bytes) + 8, 0xFFFF);
    put16(zip.bytes, endRecord(zip.bytes) + 10, 0xFFFF);
    put32(zip.bytes, endRecord(zip.bytes) + 12, 0xFFFFFFFF);
    put32(zip.bytes, endRecord(zip.bytes) + 16, 0xFFFFFFFF);
    EXPECT_EQ(check(zip.bytes).kind, ZipCheckKind::Clean);

    std::string bytes = zip.bytes;
    corruptEntry(bytes, zip, 2);
    corruptEntry(bytes, zip, 5);
    const ZipCheckResult result = check(bytes);
    EXPECT_EQ(result.kind, ZipCheckKind::Damaged);
    EXPECT_EQ(result.damaged, (std::vector<FileSpan>{zip.entries[2], zip.entries[5]}));

    // A zip64 end record that points outside the file, or a zip64 field
    // that is too short, is no archive.
    std::string lost = zip.bytes;
    put32(lost, endRecord(lost) - 20 + 8, 0x7FFFFFF0);
    EXPECT_EQ(check(lost).kind, ZipCheckKind::NotArchive);
    std::string shortField = zip.bytes;
    const size_t record = zip.bytes.find(std::string("PK\x06\x06", 4));
    const auto directory = static_cast<size_t>(get32(zip.bytes, record + 48));
    const size_t extra = directory + 46 + get16(zip.bytes, directory + 28);
    ASSERT_EQ(get16(zip.bytes, extra), 1);
    put16(shortField, extra + 2, 0);
    EXPECT_EQ(check(shortField).kind, ZipCheckKind::NotArchive);
}

TEST_F(ZipCheckTest, AZip64LocatorSignatureInAPlainDirectoryIsNotTakenForOne)
{
    // The last directory entry gets a comment whose last 20 bytes start like
    // a zip64 locator, right before the end record.
    std::string bytes = m_zip.bytes;
    put16(bytes, centralEntry(bytes, 5) + 32, 20);
    bytes.insert(endRecord(bytes), std::string("PK\x06\x07", 4) + std::string(16, '\x7F'));
    put32(bytes, endRecord(bytes) + 12, get32(bytes, endRecord(bytes) + 12) + 20);
    EXPECT_EQ(check(bytes).kind, ZipCheckKind::Clean);
    corruptEntry(bytes, m_zip, 0);
    EXPECT_EQ(check(bytes).damaged, std::vector<FileSpan>{m_zip.entries[0]});
}

struct HostileCase {
    const char* name;
    std::function<std::string(const MadeZip&)> make;
    ZipCheckKind kind;
    // For Damaged: the entries expected, or for the span that runs to the
    // next entry, -1 - entry.
    std::vector<int> damaged;
};

TEST_F(ZipCheckTest, HostileArchivesEndInAClearResult)
{
    const auto edited = [](std::function<void(std::string&)> edit) {
        return [edit](const MadeZip& zip) {
            std::string bytes = zip.bytes;
            edit(bytes);
            return bytes;
        };
    };
    const HostileCase cases[] = {
        {"empty file", [](const MadeZip&) { return std::string(); }, ZipCheckKind::NotArchive, {}},
        {"random bytes",
         [](const MadeZip&) {
             std::mt19937 random(5);
             std::string bytes(70000, '\0');
             for (char& c : bytes)
                 c = static_cast<char>(random() & 0xFF);
             return bytes;
         },
         ZipCheckKind::NotArchive,
         {}},
        {"an end record alone is an empty archive",
         [](const MadeZip&) { return std::string("PK\x05\x06", 4) + std::string(18, '\0'); },
         ZipCheckKind::Clean,
         {}},
        {"cut in half",
         [](const MadeZip& zip) { return zip.bytes.substr(0, zip.bytes.size() / 2); },
         ZipCheckKind::NotArchive,
         {}},
        {"last byte missing",
         [](const MadeZip& zip) { return zip.bytes.substr(0, zip.bytes.size() - 1); },
         ZipCheckKind::NotArchive,
         {}},
        {"bytes missing in the middle",
         [](const MadeZip& zip) {
             std::string bytes = zip.bytes;
             bytes.erase(static_cast<size_t>(zip.dataStarts[2]) + 100, 1000);
             return bytes;
         },
         ZipCheckKind::NotArchive,
         {}},
        {"absurd entry count",
         edited([](std::string& b) {
             put16(b, endRecord(b) + 8, 0xFFFE);
             put16(b, endRecord(b) + 10, 0xFFFE);
         }),
         ZipCheckKind::NotArchive,
         {}},
        {"zip64 entry count",
         edited([](std::string& b) {
             put16(b, endRecord(b) + 8, 0xFFFF);
             put16(b, endRecord(b) + 10, 0xFFFF);
         }),
         ZipCheckKind::NotArchive,
         {}},
        {"directory beyond the file",
         edited([](std::string& b) { put32(b, endRecord(b) + 16, 0x7FFFFFF0); }),
         ZipCheckKind::NotArchive,
         {}},
        {"absurd directory size",
         edited([](std::string& b) { put32(b, endRecord(b) + 12, 0xFFFFFFF0); }),
         ZipCheckKind::NotArchive,
         {}},
        {"comment longer than the file",
         edited([](std::string& b) { put16(b, endRecord(b) + 20, 0xFFFF); }),
         ZipCheckKind::NotArchive,
         {}},
        {"another disk", edited([](std::string& b) { put16(b, endRecord(b) + 4, 1); }), ZipCheckKind::NotArchive, {}},
        {"absurd name length in the directory",
         edited([](std::string& b) { put16(b, centralEntry(b, 0) + 28, 0xFFFF); }),
         ZipCheckKind::NotArchive,
         {}},
        {"local header offset inside the directory",
         edited([](std::string& b) { put32(b, centralEntry(b, 1) + 42, get32(b, endRecord(b) + 16)); }),
         ZipCheckKind::NotArchive,
         {}},
        {"two entries at one place",
         edited([](std::string& b) { put32(b, centralEntry(b, 3) + 42, get32(b, centralEntry(b, 2) + 42)); }),
         ZipCheckKind::NotArchive,
         {}},
        {"overlapping local headers",
         edited([](std::string& b) { put32(b, centralEntry(b, 3) + 42, get32(b, centralEntry(b, 2) + 42) + 10); }),
         ZipCheckKind::NotArchive,
         {}},
        {"absurd compressed size",
         edited([](std::string& b) { put32(b, centralEntry(b, 0) + 20, 0xFFFFFFF0); }),
         ZipCheckKind::Damaged,
         {-1}},
        {"absurd uncompressed size",
         edited([](std::string& b) { put32(b, centralEntry(b, 0) + 24, 0xFFFFFFF0); }),
         ZipCheckKind::Damaged,
         {0}},
        {"deflated entry said to be empty",
         edited([](std::string& b) { put32(b, centralEntry(b, 2) + 24, 0); }),
         ZipCheckKind::Damaged,
         {2}},
        {"stored entry with unequal sizes",
         edited([](std::string& b) { put32(b, centralEntry(b, 1) + 24, 5); }),
         ZipCheckKind::Damaged,
         {1}},
        {"absurd local extra length",
         edited([](std::string& b) { put16(b, get32(b, centralEntry(b, 4) + 42) + 28, 0xFFFF); }),
         ZipCheckKind::Damaged,
         {-5}},
        {"wrong CRC in the directory",
         edited([](std::string& b) { put32(b, centralEntry(b, 5) + 16, 0x12345678); }),
         ZipCheckKind::Damaged,
         {5}},
    };
    for (const HostileCase& c : cases) {
        const ZipCheckResult result = check(c.make(m_zip));
        EXPECT_EQ(result.kind, c.kind) << c.name;
        std::vector<FileSpan> expected;
        for (const int entry : c.damaged) {
            if (entry >= 0) {
                expected.push_back(m_zip.entries[static_cast<size_t>(entry)]);
            } else {
                const auto k = static_cast<size_t>(-1 - entry);
                const int64_t next = k + 1 < m_zip.entries.size() ? m_zip.entries[k + 1].first
                                                                  : get32(m_zip.bytes, endRecord(m_zip.bytes) + 16);
                expected.push_back({m_zip.entries[k].first, next - 1});
            }
        }
        EXPECT_EQ(result.damaged, expected) << c.name;
    }
}

// Random damage to the headers and the directory: whatever the result, the
// spans it gives lie inside the file, in order and apart, so that handing
// them back to the job is always safe.
TEST_F(ZipCheckTest, RandomHeaderDamageGivesSpansInsideTheFile)
{
    std::mt19937 random(77);
    const size_t directory = get32(m_zip.bytes, endRecord(m_zip.bytes) + 16);
    std::vector<size_t> headers;
    for (const FileSpan& entry : m_zip.entries)
        headers.push_back(static_cast<size_t>(entry.first));
    size_t damagedResults = 0;
    for (int round = 0; round < 300; ++round) {
        std::string bytes = m_zip.bytes;
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            // Half the edits hit the directory and end record, half a local header.
            size_t at = 0;
            if (random() % 2 == 0) {
                at = directory + random() % (bytes.size() - directory);
            } else {
                at = headers[random() % headers.size()] + random() % 30;
            }
            bytes[at] = static_cast<char>(random() & 0xFF);
        }
        const ZipCheckResult result = check(bytes);
        int64_t previousEnd = -1;
        for (const FileSpan& span : result.damaged) {
            EXPECT_GT(span.first, previousEnd) << "round " << round;
            EXPECT_LE(span.first, span.last) << "round " << round;
            EXPECT_LT(span.last, static_cast<int64_t>(bytes.size())) << "round " << round;
            previousEnd = span.last;
        }
        EXPECT_EQ(result.kind == ZipCheckKind::Damaged, !result.damaged.empty()) << "round " << round;
        damagedResults += result.kind == ZipCheckKind::Damaged ? 1 : 0;
    }
    // The edits must reach the entry checks, not only the directory parser.
    EXPECT_GT(damagedResults, 30u);
}

TEST_F(ZipCheckTest, WhatIsNoRegularFileIsNoArchive)
{
    EXPECT_EQ(checkZipArchive(m_dir.path()).kind, ZipCheckKind::NotArchive);
    EXPECT_EQ(checkZipArchive(m_dir / "missing.zip").kind, ZipCheckKind::NotArchive);
    EXPECT_EQ(zipCheckMessage(ZipCheckKind::NotArchive), "It does not appear to be a valid archive.");
}

TEST(ZipRedownloadQuestion, CountsTheBytesOfEverySpanAndTruncatesThePercentage)
{
    const std::vector<FileSpan> one{{100, 199}};
    EXPECT_EQ(zipRedownloadQuestion(one, 1000),
              "CRC Error!  Need to redownload 100(10%) bytes.  Do you want to continue?");
    const std::vector<FileSpan> two{{0, 9}, {20, 29}};
    EXPECT_EQ(zipRedownloadBytes(two), 20);
    EXPECT_EQ(zipRedownloadQuestion(two, 30),
              "CRC Error!  Need to redownload 20(66%) bytes.  Do you want to continue?");
    EXPECT_EQ(zipRedownloadQuestion(two, 0), "CRC Error!  Need to redownload 20(0%) bytes.  Do you want to continue?");
    const std::vector<FileSpan> huge{{0, 8'000'000'000'000'000'000 - 1}};
    EXPECT_EQ(zipRedownloadQuestion(huge, 8'000'000'000'000'000'000),
              "CRC Error!  Need to redownload 8000000000000000000(100%) bytes.  Do you want to continue?");
    EXPECT_EQ(zipCheckMessage(ZipCheckKind::MemoryError), "Memory Error!");
    EXPECT_EQ(zipCheckMessage(ZipCheckKind::Damaged), "");
}

}  // namespace
}  // namespace fetchora
