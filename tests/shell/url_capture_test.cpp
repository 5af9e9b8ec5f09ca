#include "shell/url_capture.h"

#include <gtest/gtest.h>

#include <memory>

#include "model/category_tree.h"
#include "model/download_job.h"
#include "shell/scripted_prompts.h"

namespace fetchora {
namespace {

using test::ScriptedPrompts;

// Records every add-download request and answers from a script (Added by
// default, with a new job in the tree).
class UrlCaptureTest : public testing::Test {
protected:
    UrlCaptureTest()
        : m_capture(
            m_tree, m_lock, m_prompts, [this](const AddDownloadRequest& r) { return add(r); },
            [this] { return m_clipboard; })
    {
    }

    DownloadJob* addJob(const std::string& url)
    {
        auto job = std::make_unique<DownloadJob>();
        EXPECT_TRUE(job->SetUrl(url));
        return m_tree.Insert(nullptr, std::move(job));
    }

    AddDownloadOutcome add(const AddDownloadRequest& request)
    {
        m_requests.push_back(request);
        AddDownloadResult result = AddDownloadResult::Added;
        if (!m_results.empty()) {
            result = m_results.front();
            m_results.pop_front();
        }
        return {result, result == AddDownloadResult::Added ? addJob(request.text) : nullptr};
    }

    CComPtrTree m_tree;
    JobLock m_lock;
    ScriptedPrompts m_prompts;
    std::string m_clipboard = "clipboard words";
    std::vector<AddDownloadRequest> m_requests;
    std::deque<AddDownloadResult> m_results;
    UrlCapture m_capture;
};

TEST(UrlCaptureRules, EachSourceAsksByItsOwnSwitch)
{
    struct Case {
        int32_t source;
        int32_t monitorFlags;
        int32_t generalFlags;
        bool asks;
    };
    const Case cases[] = {
        {kUrlFromClipboard, 0x2, 0, true},
        {kUrlFromClipboard, 0x10, 0x8, false},
        {kUrlFromBrowser, 0x10, 0, true},
        {kUrlFromBrowser, 0x2, 0x8, false},
        {kUrlFromCommandLine, 0xFFF, -1, false},
        {kUrlFromDrop, 0xFFF, 0, false},
        {kUrlFromDrop, 0, 0x8, true},
        {7, 0, 0x8, true},
        {7, 0xFFF, 0, false},
    };
    for (const Case& c : cases) {
        CaptureSettings settings{c.monitorFlags, c.generalFlags, true};
        EXPECT_EQ(UrlSourceAsks(c.source, settings), c.asks) << c.source << " " << c.monitorFlags;
    }
    EXPECT_TRUE(IsStreamUrl("mms://h/live"));
    EXPECT_TRUE(IsStreamUrl("rtsp://h/a.rm"));
    EXPECT_TRUE(IsStreamUrl("pnm://h/a.rm"));
    EXPECT_FALSE(IsStreamUrl("http://h/a.rm"));
}

TEST_F(UrlCaptureTest, ABrowserClickCarriesItsReferrerAndTheClipboardAsComment)
{
    CaptureSettings settings{0x10 | 0x80, 0, true};
    EXPECT_EQ(m_capture.addUrl({"http://h/a.zip", "http://h/page", kUrlFromBrowser}, settings), 0);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_TRUE(m_requests[0].showDialog);
    EXPECT_EQ(m_requests[0].referer, "http://h/page");
    EXPECT_EQ(m_requests[0].comment, "clipboard words");

    settings.monitorFlags = 0;
    m_capture.addUrl({"http://h/b.zip", "http://h/page", kUrlFromBrowser}, settings);
    EXPECT_FALSE(m_requests[1].showDialog);
    EXPECT_EQ(m_requests[1].comment, "");
    // Only the browser hands a referrer over this way.
    m_capture.addUrl({"http://h/c.zip", "http://h/page", kUrlFromClipboard}, settings);
    EXPECT_EQ(m_requests[2].referer, "");
}

TEST_F(UrlCaptureTest, SameFileNameYesAddsAnAlternateAndNoGoesOnToTheDialog)
{
    DownloadJob* existing = addJob("http://first/pub/file.zip");
    const CaptureSettings asks{0x2, 0, true};

    m_prompts.yesNoAnswers = {true};
    EXPECT_EQ(m_capture.addUrl({"http://mirror/x/file.zip", "", kUrlFromClipboard}, asks), 0);
    ASSERT_EQ(m_prompts.questions.size(), 1u);
    EXPECT_EQ(m_prompts.questions[0],
              "The file 'file.zip',already exists in your list.\r\n"
              "('http://first/pub/file.zip')\r\n"
              "  Add this one as alternate(mirrored) URL?");
    EXPECT_TRUE(m_requests.empty());
    ASSERT_EQ(existing->alternateUrls.size(), 1u);
    EXPECT_EQ(existing->alternateUrls[0].url, "http://mirror/x/file.zip");

    m_prompts.yesNoAnswers = {false};
    EXPECT_EQ(m_capture.addUrl({"http://other/file.zip", "", kUrlFromClipboard}, asks), 0);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_TRUE(m_requests[0].showDialog);
    EXPECT_EQ(m_requests[0].text, "http://other/file.zip");
    EXPECT_EQ(existing->alternateUrls.size(), 1u);
}

TEST_F(UrlCaptureTest, SameFileNameIsNotAskedWithoutConfirmationForStreamsOrForTheSameUrl)
{
    addJob("http://first/pub/file.zip");
    addJob("mms://first/live");
    EXPECT_EQ(m_capture.addUrl({"http://mirror/file.zip", "", kUrlFromClipboard}, {0, 0, true}), 0);
    EXPECT_EQ(m_capture.addUrl({"mms://mirror/live", "", kUrlFromClipboard}, {0x2, 0, true}), 0);
    m_results = {AddDownloadResult::AlreadyListed};
    EXPECT_EQ(m_capture.addUrl({"http://first/pub/file.zip", "", kUrlFromClipboard}, {0x2, 0, true}), 2);
    EXPECT_TRUE(m_prompts.questions.empty());
    EXPECT_EQ(m_requests.size(), 3u);
}

TEST_F(UrlCaptureTest, ResultsAreReturnedWithTheirMessages)
{
    const CaptureSettings quiet{0, 0, true};
    const CaptureSettings asks{0x2, 0, true};
    m_results = {AddDownloadResult::Invalid, AddDownloadResult::AlreadyListed, AddDownloadResult::AlreadyListed,
                 AddDownloadResult::Cancelled, AddDownloadResult::Invalid};
    EXPECT_EQ(m_capture.addUrl({"http://h/1.zip", "", kUrlFromClipboard}, quiet), 1);
    EXPECT_EQ(m_capture.addUrl({"http://h/2.zip", "", kUrlFromClipboard}, quiet), 2);
    // With the dialog shown the operation has warned already.
    EXPECT_EQ(m_capture.addUrl({"http://h/3.zip", "", kUrlFromClipboard}, asks), 2);
    EXPECT_EQ(m_capture.addUrl({"http://h/4.zip", "", kUrlFromClipboard}, asks), 3);
    // The command line takes its referrer and never asks or tells.
    EXPECT_EQ(m_capture.addUrl({"bad", "http://ref", kUrlFromCommandLine}, asks), 1);
    EXPECT_FALSE(m_requests.back().showDialog);
    EXPECT_EQ(m_requests.back().referer, "http://ref");
    ASSERT_EQ(m_prompts.messages.size(), 2u);
    EXPECT_EQ(m_prompts.messages[0].text, "Invalid input.");
    EXPECT_EQ(m_prompts.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(m_prompts.messages[1].text, "URL now in download list.");
    EXPECT_EQ(m_prompts.messages[1].icon, MessageIcon::Error);
}

LinkListRequest threeLinks(int32_t source)
{
    LinkListRequest request;
    request.links = {{"http://h/1.zip", "one", "http://r/1", 0},
                     {"http://h/2.zip", "two", "http://r/2", 0},
                     {"http://h/3.zip", "three", "http://r/3", 0}};
    request.baseUrl = "http://h/page.html";
    request.source = source;
    return request;
}

TEST_F(UrlCaptureTest, ListsGoThroughSelectLinksAndUseTheSameSettingsWhenTold)
{
    m_prompts.linksToChoose = {0, 2};
    m_prompts.yesNoAnswers = {true};
    const LinkListResult result = m_capture.addLinks(threeLinks(kListFromDrop), {0, 0x8, true});
    EXPECT_EQ(result.added, 2u);
    EXPECT_FALSE(result.cancelled);
    ASSERT_EQ(m_prompts.linkOffers.size(), 1u);
    EXPECT_EQ(m_prompts.linkOffers[0].size(), 3u);
    ASSERT_EQ(m_prompts.questions.size(), 1u);
    EXPECT_EQ(m_prompts.questions[0], "Use the same setting for other files?");
    ASSERT_EQ(m_requests.size(), 2u);
    EXPECT_EQ(m_requests[0].text, "http://h/1.zip");
    EXPECT_EQ(m_requests[0].comment, "one");
    EXPECT_EQ(m_requests[0].referer, "http://h/page.html");
    EXPECT_TRUE(m_requests[0].showDialog);
    EXPECT_EQ(m_requests[0].templateJob, nullptr);
    EXPECT_EQ(m_requests[1].text, "http://h/3.zip");
    EXPECT_FALSE(m_requests[1].showDialog);
    ASSERT_NE(m_requests[1].templateJob, nullptr);
    EXPECT_EQ(m_requests[1].templateJob->url, "http://h/1.zip");
}

TEST_F(UrlCaptureTest, NoToTheSameSettingsAsksForEachAndCancelEndsTheList)
{
    m_prompts.linksToChoose = {0, 1, 2};
    m_prompts.yesNoAnswers = {false};
    m_results = {AddDownloadResult::Added, AddDownloadResult::Cancelled};
    const LinkListResult result = m_capture.addLinks(threeLinks(kListFromDrop), {0, 0x8, true});
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.added, 1u);
    ASSERT_EQ(m_requests.size(), 2u) << "the third link is never offered";
    EXPECT_TRUE(m_requests[1].showDialog);
    EXPECT_EQ(m_requests[1].templateJob, nullptr);
}

TEST_F(UrlCaptureTest, WithoutBatchConfirmationTheOthersTakeTheFirstJobsSettings)
{
    m_prompts.linksToChoose = {0, 1, 2};
    m_results = {AddDownloadResult::AlreadyListed};  // the first job is the second link's
    const LinkListResult result = m_capture.addLinks(threeLinks(1), {0x2, 0, false});
    EXPECT_EQ(result.added, 2u);
    EXPECT_TRUE(m_prompts.questions.empty());
    ASSERT_EQ(m_requests.size(), 3u);
    EXPECT_TRUE(m_requests[0].showDialog);
    EXPECT_TRUE(m_requests[1].showDialog);
    EXPECT_FALSE(m_requests[2].showDialog);
    ASSERT_NE(m_requests[2].templateJob, nullptr);
    EXPECT_EQ(m_requests[2].templateJob->url, "http://h/2.zip");
}

TEST_F(UrlCaptureTest, OwnReferrerListsSkipSelectLinksAndCancelledSelectionAddsNothing)
{
    const LinkListResult own = m_capture.addLinks(threeLinks(kListWithOwnReferers), {0, 0, true});
    EXPECT_EQ(own.added, 3u);
    EXPECT_TRUE(m_prompts.linkOffers.empty());
    ASSERT_EQ(m_requests.size(), 3u);
    EXPECT_EQ(m_requests[1].referer, "http://r/2");
    EXPECT_EQ(m_requests[1].comment, "two");
    // Without a dialog for the first there is no template: each takes the defaults.
    EXPECT_EQ(m_requests[1].templateJob, nullptr);
    EXPECT_FALSE(m_requests[2].showDialog);

    m_requests.clear();
    m_prompts.linksToChoose = {};
    const LinkListResult cancelled = m_capture.addLinks(threeLinks(3), {0x10, 0, true});
    EXPECT_TRUE(cancelled.cancelled);
    EXPECT_TRUE(m_requests.empty());

    // One link needs no selection.
    LinkListRequest single = threeLinks(3);
    single.links.resize(1);
    EXPECT_EQ(m_capture.addLinks(single, {0x10, 0, true}).added, 1u);
    EXPECT_EQ(m_prompts.linkOffers.size(), 1u);
    EXPECT_TRUE(m_requests.at(0).showDialog);
}

TEST_F(UrlCaptureTest, TheBrowsersAgentAndSuggestedNamesReachTheJobsAndStayWithChosenLinks)
{
    CaptureSettings settings{0, 0, true};
    UrlRequest click{"http://h/get?id=1", "http://h/page", kUrlFromBrowser, "Agent/1", "named.zip"};
    EXPECT_EQ(m_capture.addUrl(click, settings), 0);
    ASSERT_EQ(m_requests.size(), 1u);
    EXPECT_EQ(m_requests[0].userAgent, "Agent/1");
    EXPECT_EQ(m_requests[0].fileName, "named.zip");
    // Only the browser hands them over.
    click.source = kUrlFromClipboard;
    click.url = "http://h/other.zip";
    m_capture.addUrl(click, settings);
    ASSERT_EQ(m_requests.size(), 2u);
    EXPECT_EQ(m_requests[1].userAgent, "");
    EXPECT_EQ(m_requests[1].fileName, "");

    LinkListRequest list;
    list.baseUrl = "http://h/page";
    list.source = 4;
    for (int i = 1; i <= 3; ++i) {
        CapturedLink link{"http://h/" + std::to_string(i) + ".bin", "link", {}, 0};
        link.fileName = "name" + std::to_string(i) + ".bin";
        link.userAgent = "Agent/2";
        list.links.push_back(link);
    }
    // The user picks the last two; the names follow the links, not their places.
    m_prompts.linksToChoose = {1, 2};
    m_capture.addLinks(list, settings);
    ASSERT_EQ(m_requests.size(), 4u);
    EXPECT_EQ(m_requests[2].text, "http://h/2.bin");
    EXPECT_EQ(m_requests[2].fileName, "name2.bin");
    EXPECT_EQ(m_requests[3].fileName, "name3.bin");
    EXPECT_EQ(m_requests[3].userAgent, "Agent/2");
}

}  // namespace
}  // namespace fetchora
