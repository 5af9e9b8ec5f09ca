#pragma once
// Zip archives for the zip-check tests, written by python3's zipfile so that
// the checker is tested against another implementation's output. The entry
// places come from python3 too, read back from what it wrote.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "model/range_refetch.h"
#include "support/peer_process.h"
#include "support/temp_dir.h"

namespace fetchora::test {

struct MadeZip {
    std::filesystem::path file;
    std::string bytes;
    // Per entry in file order: its local header to the last byte of its data.
    std::vector<FileSpan> entries;
    // Per entry: the offset of its first data byte.
    std::vector<int64_t> dataStarts;
};

// Six entries of 40000 to 140000 bytes, alternately deflated (text that
// compresses) and stored (random bytes), so that most span several
// 32768-byte read blocks.
// With zip64, python3 is made to write zip64 records for these small
// entries by lowering its limits.
inline MadeZip makeZip(const std::filesystem::path& folder, const std::string& name = "archive.zip", bool zip64 = false)
{
    const std::string python = requireExecutable("python3", "python3");
    MadeZip made;
    made.file = folder / name;
    const std::filesystem::path script = folder / "make_zip.py";
    const std::filesystem::path places = folder / "places.txt";
    writeFile(script, R"(import random, struct, sys, zipfile
out, places = sys.argv[1], sys.argv[2]
if sys.argv[3] == 'zip64':
    zipfile.ZIP64_LIMIT = 1000
    zipfile.ZIP_FILECOUNT_LIMIT = 2
r = random.Random(20261209)
words = [b'alpha', b'bravo', b'charlie', b'delta', b'echo', b'foxtrot', b'golf']
with zipfile.ZipFile(out, 'w') as z:
    for i in range(6):
        size = 40000 + 20000 * i
        info = zipfile.ZipInfo('entry%d.%s' % (i, 'txt' if i % 2 == 0 else 'bin'), (2026, 12, 9, 5, 0, 0))
        if i % 2 == 0:
            data = b' '.join(r.choice(words) for _ in range(size // 6))[:size]
            info.compress_type = zipfile.ZIP_DEFLATED
        else:
            data = bytes(r.getrandbits(8) for _ in range(size))
            info.compress_type = zipfile.ZIP_STORED
        z.writestr(info, data)
with open(out, 'rb') as f, zipfile.ZipFile(out) as z, open(places, 'w') as p:
    for info in sorted(z.infolist(), key=lambda e: e.header_offset):
        f.seek(info.header_offset)
        header = f.read(30)
        name_len, extra_len = struct.unpack('<HH', header[26:30])
        start = info.header_offset + 30 + name_len + extra_len
        p.write('%d %d %d\n' % (info.header_offset, start, start + info.compress_size - 1))
)");
    const int exit
        = runProgram({python, script.string(), made.file.string(), places.string(), zip64 ? "zip64" : "plain"},
                     folder / "python.log");
    EXPECT_EQ(exit, 0) << logTail(folder / "python.log");
    made.bytes = readFile(made.file);
    std::istringstream lines(readFile(places));
    int64_t header = 0;
    int64_t start = 0;
    int64_t last = 0;
    while (lines >> header >> start >> last) {
        made.entries.push_back({header, last});
        made.dataStarts.push_back(start);
    }
    EXPECT_EQ(made.entries.size(), 6u);
    return made;
}

// Flips the byte in the middle of an entry's data.
inline void corruptEntry(std::string& bytes, const MadeZip& zip, size_t entry)
{
    const int64_t middle = (zip.dataStarts[entry] + zip.entries[entry].last) / 2;
    bytes[static_cast<size_t>(middle)] = static_cast<char>(bytes[static_cast<size_t>(middle)] ^ 0x5A);
}

}  // namespace fetchora::test
