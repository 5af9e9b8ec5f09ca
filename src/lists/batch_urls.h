#pragma once
// Batch URL series: a URL template with one or more "(*)" markers, each
// replaced by the current value of a number or letter series.
//
// A series runs from its first value to its last, inclusive, upwards when
// last >= first and downwards otherwise. Numbers are written in decimal,
// zero-padded to the width (1 to 20); letters are single characters compared
// by their byte value, "a" and "z" when left empty. A series longer than
// kMaxBatchUrls is refused: each value becomes a job, and a template from 0
// to 10^18 would otherwise never finish. The preview needs only the two end
// values, so it is shown for any length.
//
// Thread: any; pure.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace fetchora {

inline constexpr std::string_view kBatchMarker = "(*)";
inline constexpr uint64_t kMaxBatchUrls = 100000;
// The URLs of one series together; a long template with many markers could
// otherwise need gigabytes within the count limit.
inline constexpr uint64_t kMaxBatchTextBytes = 64u * 1024 * 1024;
inline constexpr int kMinBatchWidth = 1;
inline constexpr int kMaxBatchWidth = 20;
inline constexpr std::string_view kBatchPreviewGap = "\r\n...\r\n";

inline constexpr std::string_view kTextMustIncludeParenthesis = "Must include parenthesis in URL.";
inline constexpr std::string_view kTextBadBatchWidth = "Wildcard bytes must lie between 1 and 20.";
inline constexpr std::string_view kTextBatchTooLong = "The series has %s URLs; at most %s can be added at once.";
inline constexpr std::string_view kTextBatchTooLarge = "The series' URLs would take %s bytes; at most %s are allowed.";

enum class BatchKind { Numbers, Letters };

struct BatchSeries {
    std::string urlTemplate;
    BatchKind kind = BatchKind::Numbers;
    uint64_t firstNumber = 0;
    uint64_t lastNumber = 0;
    int width = 1;
    std::string firstLetter;  // the first character counts; empty: "a"
    std::string lastLetter;  // empty: "z"
};

enum class BatchCheck { Ok, NoMarker, Unfetchable, BadWidth, TooLong };

struct BatchValidation {
    BatchCheck check = BatchCheck::Ok;
    std::string message;  // empty when Ok
    std::string unfetchableUrl;  // Unfetchable: the first URL of the series no job can fetch
    bool ok() const { return check == BatchCheck::Ok; }
};

// The distance from the first value to the last (the last value's index).
uint64_t BatchSpan(const BatchSeries& series);
// The number of values; saturates at UINT64_MAX for 0 .. UINT64_MAX.
uint64_t BatchCount(const BatchSeries& series);
// The template with every marker replaced by the value at index (0 = first).
std::string BatchUrlAt(const BatchSeries& series, uint64_t index);
// The decimal text of a number padded with zeros to width (never cut;
// a width above 20 pads to 20).
std::string PaddedNumber(uint64_t value, int width);
// What OK checks: the template holds "(*)"; its first expansion parses as a
// URL that can be fetched; the width is in range; the series has at most
// kMaxBatchUrls values and kMaxBatchTextBytes of URL text; and every further
// URL of the series can be fetched too (a value can end up in a port or a
// host name, and a letter series may run over "/" or ":"), so that no job of
// the series is made from a URL that can never be fetched. A template that
// gives an unusable URL says "Must include parenthesis in URL." as one
// without the marker does; the check tells the two apart.
BatchValidation ValidateBatch(const BatchSeries& series);
// Every URL in order; empty when the series does not validate.
std::vector<std::string> ExpandBatch(const BatchSeries& series);
// First URL, "\r\n...\r\n", last URL; empty while the template has no marker.
std::string BatchPreview(const BatchSeries& series);

}  // namespace fetchora
