#pragma once
// Database file images for tests, assembled byte by byte from the file
// layout without the code under test, so that a reader and writer that
// agree on the same mistake cannot pass.
#include <cstdint>
#include <string>
#include <string_view>

namespace fetchora::test {

// Appends little-endian fields. Strings get the one-byte length form only.
class KxdBytes {
public:
    KxdBytes& u8(uint32_t value) { return le(value, 1); }
    KxdBytes& i16(int64_t value) { return le(static_cast<uint64_t>(value), 2); }
    KxdBytes& i32(int64_t value) { return le(static_cast<uint64_t>(value), 4); }
    KxdBytes& i64(int64_t value) { return le(static_cast<uint64_t>(value), 8); }
    KxdBytes& str(std::string_view text)
    {
        u8(static_cast<uint32_t>(text.size()));  // callers keep texts under 255 bytes
        data.append(text);
        return *this;
    }
    std::string data;

private:
    KxdBytes& le(uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
            data.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        return *this;
    }
};

// Four nodes: the root, "Download" (marked), an HTTP job with 32-bit
// offsets (marked) in state `httpJobState`, and a completed stream job with
// 64-bit offsets and stream positions. Every value is one that a load with
// startUnfinishedJobs and "Max Parallel Num" 10 keeps, so that with state 1
// storing the loaded tree gives these bytes again.
inline std::string handAssembledDatabase(uint32_t httpJobState = 1)
{
    KxdBytes b;
    b.u8(0x48);  // "H"
    b.i32(4);  // node count

    // Node 1: the root Category.
    b.i32(1)  // tag: Category
        .i32(1)  // id
        .i32(0)  // image
        .i32(1)  // nodeFlags: Category
        .i32(-1)  // parentId: none
        .i32(1)  // kind: root
        .i32(13)  // formatFlags
        .str("Fetchora")  // name
        .str("C:\\Downloads");  // saveFolder

    // Node 2: "Download", the current Category.
    b.i32(1 + 4).i32(2).i32(1).i32(1).i32(1).i32(2).i32(13).str("Download").str("C:\\Downloads");

    // Node 3: an HTTP job, the current job.
    b.i32(2 + 4)  // tag: job, marked
        .i32(9)  // id
        .i32(6)  // image
        .i32(0)  // nodeFlags
        .i32(2)  // parentId: Download
        .i32(0)  // kind
        .i32(0x0F);  // formatFlags: times, temporary file, referer, alternates
    b.str("http://example.com/dir/file.zip")  // 1 url
        .i32(0x0303)  // 2 optionFlags: resumable, resume known, time known, size known
        .str("bob")  // 3 userName
        .str("pw")  // 4 password
        .i32(3)  // 5 categoryId
        .str("")  // 6 fileName
        .i32(4)  // 7 splitCount
        .str("C:\\Downloads\\Soft")  // 8 saveFolder
        .str("note")  // 9 comment
        .i16(2)  // 10 httpProxyId
        .i16(1)  // 11 startMode: Immediately
        .i32(httpJobState)  // 12 state
        .i32(1000)  // 13 fileSize (32-bit)
        .str("http://example.com/moved")  // 14 location
        .i32(1000000)  // 15 remoteFileTime
        .i32(1000001)  //    createTime
        .i32(-1)  //    completeTime
        .str("http://example.com/")  // 16 referer
        .i32(77)  // 17 totalTime
        .i16(0x0304)  // 18 proxyPair: streamProxyId 3, ftpProxyId 4
        .i32(1)  // 19 alternate count
        .str("ftp://mirror.example.com/file.zip")  // 20 url
        .i32(7)  //    tag
        .i32(2)  // 21 range count
        .i32(0)  // 22 [0, 100)
        .i32(100)
        .i32(500)  //    [500, 600)
        .i32(600);

    // Node 4: a completed stream job, five thousand million bytes.
    b.i32(2)  // tag: job
        .i32(10)  // id
        .i32(6)  // image
        .i32(0)  // nodeFlags
        .i32(2)  // parentId
        .i32(0)  // kind
        .i32(0x3D);  // formatFlags: times, referer, alternates, stream ranges, 64-bit offsets
    b.str("mms://media.example.com/live.asf")  // 1
        .i32(0x0200)  // 2 size known
        .str("")  // 3
        .str("")  // 4
        .i32(3)  // 5
        .str("clip.asf")  // 6
        .i32(1)  // 7
        .str("C:\\Media")  // 8
        .str("")  // 9
        .i16(0)  // 10
        .i16(1)  // 11
        .i32(4)  // 12 Completed
        .i64(5000000000LL)  // 13 fileSize (64-bit)
        .str("")  // 14
        .i32(1)  // 15
        .i32(2)
        .i32(3)
        .str("")  // 16
        .i32(5)  // 17
        .i16(0x0500)  // 18 streamProxyId 5, ftpProxyId 0
        .i32(0)  // 19 no alternates
        .i32(6)  // 21 three ranges, written doubled
        .i64(0)  // 22 [0, 1000) at stream positions 10..11
        .i64(1000)
        .i32(10)
        .i32(11)
        .i64(2147483648LL)  //    [2^31, 2^31 + 52)
        .i64(2147483700LL)
        .i32(20)
        .i32(21)
        .i64(4294967301LL)  //    [2^32 + 5, 2^32 + 100)
        .i64(4294967396LL)
        .i32(40)
        .i32(41);
    return b.data;
}

}  // namespace fetchora::test
