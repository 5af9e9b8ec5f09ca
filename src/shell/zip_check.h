#pragma once
// The zip check of a completed download: every entry of the archive is read
// to its end and its CRC-32 compared with the central directory's, so that
// only the byte ranges of damaged entries need fetching again
// (RefetchRanges in model/range_refetch.h hands them back to the job).
//
// Archives are read with bounded work and memory whatever the file holds:
// the central directory must lie inside the file before its end record,
// entries may not share or overlap their places in the file, each entry is
// read only up to where the next one starts, and inflating stops as soon as
// an entry yields more than its recorded size. Zip64 records (more than
// 65535 entries, sizes and offsets past 4 GiB) are read. Split archives and
// archives with data in front of them (their offsets do not match the file)
// count as not a valid archive.
//
// Thread: any; checkZipArchive reads the file and blocks until done, so a
// caller on the loop thread should not hold the job lock meanwhile.
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "model/range_refetch.h"

namespace fetchora {

enum class ZipCheckKind { NotArchive, Encrypted, Clean, Damaged, MemoryError };

struct ZipCheckResult {
    ZipCheckKind kind = ZipCheckKind::NotArchive;
    // Damaged: for each failing entry the bytes it occupies in the file, from
    // its local header to the end of its data, in file order.
    std::vector<FileSpan> damaged;
    // Entries stored with a method other than stored (0) or deflated (8):
    // their CRC cannot be checked here, and they are not counted as damaged.
    size_t uncheckedEntries = 0;
};

// Entries are read in blocks of this many bytes.
inline constexpr size_t kZipReadBlock = 32768;

ZipCheckResult checkZipArchive(const std::filesystem::path& file);

// The information text for NotArchive, Encrypted, Clean and MemoryError;
// empty for Damaged, which asks zipRedownloadQuestion instead.
std::string zipCheckMessage(ZipCheckKind kind);

// "CRC Error!  Need to redownload N(P%) bytes.  Do you want to continue?"
// with N the bytes of the spans and P = N / bytesReceived × 100 truncated
// (0 when nothing was received).
std::string zipRedownloadQuestion(std::span<const FileSpan> damaged, int64_t bytesReceived);

// N of that question: the number of bytes the spans cover.
int64_t zipRedownloadBytes(std::span<const FileSpan> damaged);

}  // namespace fetchora
