#include "lists/batch_urls.h"

#include <algorithm>

#include "lang/string_table.h"
#include "net/url.h"

namespace fetchora {

namespace {

unsigned char letterOr(const std::string& text, char fallback)
{
    return static_cast<unsigned char>(text.empty() ? fallback : text.front());
}

std::string replaceMarkers(const std::string& urlTemplate, std::string_view value)
{
    std::string out;
    out.reserve(urlTemplate.size() + value.size());
    std::size_t pos = 0;
    while (pos < urlTemplate.size()) {
        const std::size_t hit = urlTemplate.find(kBatchMarker, pos);
        if (hit == std::string::npos) {
            out.append(urlTemplate, pos, std::string::npos);
            break;
        }
        out.append(urlTemplate, pos, hit - pos);
        out += value;
        pos = hit + kBatchMarker.size();
    }
    return out;
}

bool fetchable(std::string_view text)
{
    const auto entry = ParseUrl(text);
    return entry && IsTransferable(entry->service);
}

}  // namespace

std::string PaddedNumber(uint64_t value, int width)
{
    std::string digits = std::to_string(value);
    width = std::min(width, kMaxBatchWidth);
    if (width > 0 && digits.size() < static_cast<std::size_t>(width))
        digits.insert(0, static_cast<std::size_t>(width) - digits.size(), '0');
    return digits;
}

uint64_t BatchSpan(const BatchSeries& series)
{
    uint64_t span = 0;
    if (series.kind == BatchKind::Numbers) {
        span = series.lastNumber >= series.firstNumber ? series.lastNumber - series.firstNumber
                                                       : series.firstNumber - series.lastNumber;
    } else {
        const unsigned char first = letterOr(series.firstLetter, 'a');
        const unsigned char last = letterOr(series.lastLetter, 'z');
        span = last >= first ? last - first : first - last;
    }
    return span;
}

uint64_t BatchCount(const BatchSeries& series)
{
    const uint64_t span = BatchSpan(series);
    return span == UINT64_MAX ? span : span + 1;
}

std::string BatchUrlAt(const BatchSeries& series, uint64_t index)
{
    if (series.kind == BatchKind::Numbers) {
        const bool up = series.lastNumber >= series.firstNumber;
        const uint64_t value = up ? series.firstNumber + index : series.firstNumber - index;
        return replaceMarkers(series.urlTemplate, PaddedNumber(value, series.width));
    }
    const unsigned char first = letterOr(series.firstLetter, 'a');
    const unsigned char last = letterOr(series.lastLetter, 'z');
    const int step = last >= first ? 1 : -1;
    const char letter = static_cast<char>(first + step * static_cast<int>(index));
    return replaceMarkers(series.urlTemplate, std::string_view(&letter, 1));
}

BatchValidation ValidateBatch(const BatchSeries& series)
{
    BatchValidation result;
    auto unfetchable = [&](std::string url) {
        result.check = BatchCheck::Unfetchable;
        result.message = kTextMustIncludeParenthesis;
        result.unfetchableUrl = std::move(url);
        return result;
    };
    if (series.urlTemplate.find(kBatchMarker) == std::string::npos) {
        result.check = BatchCheck::NoMarker;
        result.message = kTextMustIncludeParenthesis;
        return result;
    }
    if (std::string first = BatchUrlAt(series, 0); !fetchable(first))
        return unfetchable(std::move(first));
    if (series.kind == BatchKind::Numbers && (series.width < kMinBatchWidth || series.width > kMaxBatchWidth)) {
        result.check = BatchCheck::BadWidth;
        result.message = kTextBadBatchWidth;
        return result;
    }
    const uint64_t count = BatchCount(series);
    if (count > kMaxBatchUrls) {
        result.check = BatchCheck::TooLong;
        const std::string countText = count == UINT64_MAX ? "18446744073709551616" : std::to_string(count);
        result.message = fillPrintfFields(kTextBatchTooLong, {countText, std::to_string(kMaxBatchUrls)});
        return result;
    }
    const uint64_t longest = std::max(BatchUrlAt(series, 0).size(), BatchUrlAt(series, count - 1).size());
    if (longest * count > kMaxBatchTextBytes) {
        result.check = BatchCheck::TooLong;
        result.message = fillPrintfFields(kTextBatchTooLarge,
                                          {std::to_string(longest * count), std::to_string(kMaxBatchTextBytes)});
        return result;
    }
    for (uint64_t i = 1; i < count; ++i) {
        if (std::string url = BatchUrlAt(series, i); !fetchable(url))
            return unfetchable(std::move(url));
    }
    return result;
}

std::vector<std::string> ExpandBatch(const BatchSeries& series)
{
    std::vector<std::string> urls;
    if (!ValidateBatch(series).ok())
        return urls;
    const uint64_t count = BatchCount(series);
    urls.reserve(count);
    for (uint64_t i = 0; i < count; ++i)
        urls.push_back(BatchUrlAt(series, i));
    return urls;
}

std::string BatchPreview(const BatchSeries& series)
{
    if (series.urlTemplate.find(kBatchMarker) == std::string::npos)
        return {};
    std::string preview = BatchUrlAt(series, 0);
    preview += kBatchPreviewGap;
    preview += BatchUrlAt(series, BatchSpan(series));
    return preview;
}

}  // namespace fetchora
