#include "lists/batch_urls.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

BatchSeries numbers(const std::string& url, uint64_t first, uint64_t last, int width)
{
    BatchSeries s;
    s.urlTemplate = url;
    s.kind = BatchKind::Numbers;
    s.firstNumber = first;
    s.lastNumber = last;
    s.width = width;
    return s;
}

BatchSeries letters(const std::string& url, const std::string& first, const std::string& last)
{
    BatchSeries s;
    s.urlTemplate = url;
    s.kind = BatchKind::Letters;
    s.firstLetter = first;
    s.lastLetter = last;
    return s;
}

TEST(BatchUrls, SeriesExpandInOrderInBothDirections)
{
    struct Case {
        const char* what;
        BatchSeries series;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"descending numbers padded to width 3",
         numbers("http://h/f(*).zip", 10, 8, 3),
         {"http://h/f010.zip", "http://h/f009.zip", "http://h/f008.zip"}},
        {"ascending numbers, width 1 never cuts",
         numbers("http://h/(*)", 9, 11, 1),
         {"http://h/9", "http://h/10", "http://h/11"}},
        {"single value", numbers("http://h/(*)", 5, 5, 2), {"http://h/05"}},
        {"letters descending, two markers",
         letters("http://h/(*)/(*).jpg", "z", "x"),
         {"http://h/z/z.jpg", "http://h/y/y.jpg", "http://h/x/x.jpg"}},
        {"letters by character code, case kept",
         letters("http://h/(*)", "Y", "]"),
         {"http://h/Y", "http://h/Z", "http://h/[", "http://h/\\", "http://h/]"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExpandBatch(c.series), c.expected) << c.what;
}

TEST(BatchUrls, EmptyLetterBoundsDefaultToAToZ)
{
    const auto urls = ExpandBatch(letters("http://h/(*)", "", ""));
    ASSERT_EQ(urls.size(), 26u);
    EXPECT_EQ(urls.front(), "http://h/a");
    EXPECT_EQ(urls.back(), "http://h/z");
}

TEST(BatchUrls, WidthTwentyPadsTheLargestNumbers)
{
    EXPECT_EQ(PaddedNumber(42, 20), "00000000000000000042");
    EXPECT_EQ(PaddedNumber(UINT64_MAX, 20), "18446744073709551615");
    EXPECT_EQ(PaddedNumber(7, 1000000000).size(), 20u);
}

TEST(BatchUrls, ValidationRefusesWhatOkMustRefuse)
{
    struct Case {
        const char* what;
        BatchSeries series;
        BatchCheck expected;
    };
    const Case cases[] = {
        {"no marker", numbers("http://h/file.zip", 1, 2, 1), BatchCheck::NoMarker},
        {"not a URL", numbers("just text (*)", 1, 2, 1), BatchCheck::Unfetchable},
        {"no scheme and no host", numbers("(*)", 1, 2, 1), BatchCheck::Unfetchable},
        {"unsupported scheme", numbers("gopher://h/(*)", 1, 2, 1), BatchCheck::Unfetchable},
        {"recognised but not fetched", numbers("pnm://h/(*)", 1, 2, 1), BatchCheck::Unfetchable},
        {"empty template", numbers("", 1, 2, 1), BatchCheck::NoMarker},
        {"width 0", numbers("http://h/(*)", 1, 2, 0), BatchCheck::BadWidth},
        {"width 21", numbers("http://h/(*)", 1, 2, 21), BatchCheck::BadWidth},
        {"width 20", numbers("http://h/(*)", 1, 2, 20), BatchCheck::Ok},
        {"marker in the host name", numbers("http://www(*).h.com/f", 1, 2, 1), BatchCheck::Ok},
        {"ftp", letters("ftp://h/pub/(*).txt", "a", "c"), BatchCheck::Ok},
        {"at the limit", numbers("http://h/(*)", 1, kMaxBatchUrls, 1), BatchCheck::Ok},
        {"one above the limit", numbers("http://h/(*)", 0, kMaxBatchUrls, 1), BatchCheck::TooLong},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ValidateBatch(c.series).check, c.expected) << c.what;
    EXPECT_EQ(ValidateBatch(numbers("http://h/", 1, 2, 1)).message, "Must include parenthesis in URL.");
}

TEST(BatchUrls, ASeriesThatRunsIntoAnUnusableUrlIsRefusedNamingIt)
{
    // The first URL is fine; a later value leaves the port range.
    BatchValidation check = ValidateBatch(numbers("http://h:(*)/f", 65534, 65536, 1));
    EXPECT_EQ(check.check, BatchCheck::Unfetchable);
    EXPECT_EQ(check.unfetchableUrl, "http://h:65536/f");
    EXPECT_EQ(check.message, "Must include parenthesis in URL.");
    EXPECT_TRUE(ExpandBatch(numbers("http://h:(*)/f", 65534, 65536, 1)).empty());
    // Port 0 is refused from the first value on.
    check = ValidateBatch(numbers("http://h:(*)/f", 0, 3, 1));
    EXPECT_EQ(check.check, BatchCheck::Unfetchable);
    EXPECT_EQ(check.unfetchableUrl, "http://h:0/f");
    // A letter series through ':' in the host name: "h:x.com" has no port.
    check = ValidateBatch(letters("http://h(*)x.com/f", "9", ";"));
    EXPECT_EQ(check.check, BatchCheck::Unfetchable);
    EXPECT_EQ(check.unfetchableUrl, "http://h:x.com/f");
    // The same letters in the path make URLs that can be fetched.
    EXPECT_EQ(ValidateBatch(letters("http://h.com/(*)", "9", ";")).check, BatchCheck::Ok);
    EXPECT_TRUE(ValidateBatch(numbers("http://h/(*)", 1, 2, 1)).unfetchableUrl.empty());
}

TEST(BatchUrls, AHugeSeriesIsRefusedWithoutExpandingIt)
{
    const BatchSeries huge = numbers("http://h/(*)", 0, 1000000000000000000ull, 19);
    const BatchValidation check = ValidateBatch(huge);
    EXPECT_EQ(check.check, BatchCheck::TooLong);
    EXPECT_NE(check.message.find("1000000000000000001"), std::string::npos) << check.message;
    EXPECT_TRUE(ExpandBatch(huge).empty());

    const BatchSeries full = numbers("http://h/(*)", 0, UINT64_MAX, 20);
    EXPECT_EQ(BatchCount(full), UINT64_MAX);
    EXPECT_EQ(ValidateBatch(full).check, BatchCheck::TooLong);
    EXPECT_EQ(BatchPreview(full), "http://h/00000000000000000000\r\n...\r\nhttp://h/18446744073709551615");
}

TEST(BatchUrls, ASeriesWhoseTextWouldBeHugeIsRefused)
{
    std::string manyMarkers = "http://h/";
    for (int i = 0; i < 2000; ++i)
        manyMarkers += "(*)";
    const BatchSeries series = numbers(manyMarkers, 1, 90000, 5);
    const BatchValidation check = ValidateBatch(series);
    EXPECT_EQ(check.check, BatchCheck::TooLong);
    EXPECT_NE(check.message.find("900810000"), std::string::npos) << check.message;
    EXPECT_TRUE(ExpandBatch(series).empty());
    EXPECT_EQ(ValidateBatch(numbers(manyMarkers, 1, 3, 5)).check, BatchCheck::Ok);
}

TEST(BatchUrls, PreviewShowsFirstAndLastOrNothing)
{
    EXPECT_EQ(BatchPreview(numbers("http://h/f(*).zip", 10, 8, 3)), "http://h/f010.zip\r\n...\r\nhttp://h/f008.zip");
    EXPECT_EQ(BatchPreview(letters("http://h/(*)", "", "c")), "http://h/a\r\n...\r\nhttp://h/c");
    EXPECT_EQ(BatchPreview(numbers("http://h/file", 1, 3, 1)), "");
    EXPECT_EQ(BatchPreview(numbers("", 1, 3, 1)), "");
}

}  // namespace
}  // namespace fetchora
