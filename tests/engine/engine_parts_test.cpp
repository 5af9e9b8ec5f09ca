// The runner's smaller pieces: handle-block retirement, the site connection
// table, the thread procedure table and dead channels.
#include <gtest/gtest.h>

#include "config/site_rules.h"
#include "engine/site_connections.h"
#include "engine/thread_handle_block.h"
#include "engine/transfer_threads.h"
#include "model/download_job.h"
#include "net/url.h"
#include "platform/message_loop.h"

namespace fetchora {
namespace {

TEST(RetiredHandleBlocksTest, RetiringKillsTheBlockAndPruningWaitsFiveMinutes)
{
    ManualClock clock(1000);
    RetiredHandleBlocks retired(clock);
    auto block = std::make_shared<ThreadHandleBlock>();
    std::weak_ptr<ThreadHandleBlock> watch = block;
    EXPECT_TRUE(block->alive());
    retired.retire(block);
    EXPECT_FALSE(block->alive());
    block.reset();
    EXPECT_FALSE(watch.expired());

    clock.advance(kRetiredBlockLifetimeMs);
    EXPECT_EQ(retired.prune(), 0u);
    clock.advance(1);
    EXPECT_EQ(retired.prune(), 1u);
    EXPECT_TRUE(watch.expired());
}

TEST(RetiredHandleBlocksTest, PruningNeverFreesABlockAThreadStillHolds)
{
    ManualClock clock(0);
    RetiredHandleBlocks retired(clock);
    auto threadCopy = std::make_shared<ThreadHandleBlock>();
    retired.retire(threadCopy);
    clock.advance(kRetiredBlockLifetimeMs + 10);
    // A second retirement prunes the first entry on the way.
    retired.retire(std::make_shared<ThreadHandleBlock>());
    EXPECT_EQ(retired.size(), 1u);
    EXPECT_FALSE(threadCopy->alive());
}

TEST(RetiredHandleBlocksTest, ABlockHoldsAtMostTenThreads)
{
    ThreadHandleBlock block;
    for (size_t i = 0; i < ThreadHandleBlock::kMaxThreads; ++i)
        EXPECT_TRUE(block.addThread(std::this_thread::get_id()));
    EXPECT_FALSE(block.addThread(std::this_thread::get_id()));
    EXPECT_EQ(block.threadCount(), ThreadHandleBlock::kMaxThreads);
}

UrlEntry url(const std::string& text)
{
    std::optional<UrlEntry> entry = ParseUrl(text);
    EXPECT_TRUE(entry.has_value()) << text;
    return entry.value_or(UrlEntry{});
}

TEST(SiteConnectionTableTest, OnlyLimitingRulesAndAnnouncedLimitsMakeRecords)
{
    SiteRuleList rules;
    SiteRule limited;
    limited.urlMask = "http://Files.Example.org/";
    limited.flags = kSiteDefaultFlags & ~kSiteUnlimited;
    limited.connection = 2;
    rules.AddSiteRule(limited);
    SiteRule unlimited;
    unlimited.urlMask = "http://free.example.org/";
    rules.AddSiteRule(unlimited);
    SiteConnectionTable table(rules);

    EXPECT_EQ(table.lookup(url("http://free.example.org/a")), nullptr);
    EXPECT_EQ(table.lookup(url("http://other.example.org/a")), nullptr);
    SiteConnectionLimit* site = table.lookup(url("http://files.example.org/a.zip"));
    ASSERT_NE(site, nullptr);
    EXPECT_EQ(site->limit, 2);
    EXPECT_EQ(table.lookup(url("http://FILES.example.org/b.zip")), site);

    SiteConnectionTable::acquire(site);
    EXPECT_TRUE(site->hasRoom());
    SiteConnectionTable::acquire(site);
    EXPECT_FALSE(site->hasRoom());
    SiteConnectionTable::release(site);
    SiteConnectionTable::release(site);
    SiteConnectionTable::release(site);
    EXPECT_EQ(site->used, 0);

    SiteConnectionLimit* learnt = table.learnLimit("ftp.example.org", 21, 0);
    EXPECT_EQ(learnt->limit, 1);
    EXPECT_EQ(table.lookup(url("ftp://ftp.example.org/pub/x")), learnt);
    EXPECT_EQ(table.lookup(url("ftp://ftp.example.org:2121/pub/x")), nullptr);
}

TEST(SiteConnectionTableTest, JobLookupFollowsTheStoredUrlAndRuleEdits)
{
    SiteRuleList rules;
    SiteRule rule;
    rule.urlMask = "http://slow.example.org/";
    rule.flags = kSiteDefaultFlags & ~kSiteUnlimited;
    rule.connection = 1;
    SiteRule* stored = rules.AddSiteRule(rule);
    SiteConnectionTable table(rules);
    DownloadJob job;
    ASSERT_TRUE(job.SetUrl("http://slow.example.org/file.iso"));
    SiteConnectionLimit* site = table.lookup(job);
    ASSERT_NE(site, nullptr);
    SiteConnectionTable::acquire(site);
    EXPECT_TRUE(table.hasRecord(job));
    EXPECT_TRUE(table.full(job));
    stored->connection = 3;
    EXPECT_FALSE(table.full(job));
    stored->flags |= kSiteOnePerFile | kSiteUnlimited;
    EXPECT_FALSE(table.full(job));
    EXPECT_TRUE(table.lookup(job)->onePerFile);
}

int servedBy(TransferTask&)
{
    return 0;
}

TEST(TransferThreadsTest, ProceduresAreChosenByServiceAndProxy)
{
    MessageLoop loop;
    JobLock lock;
    TransferThreads threads(loop, lock);
    int calls = 0;
    threads.registerProcedure(ServiceCode::Http, [&](TransferTask&) { return ++calls; });
    threads.registerProcedure(ServiceCode::Ftp, &servedBy);
    threads.registerProcedure(ServiceCode::Mms, &servedBy);
    ProxyEntry httpProxy;
    httpProxy.type = kProxyHttpGet;
    ProxyEntry socks;
    socks.type = kProxySocks5;

    const TransferProcedureFn* http = threads.procedureFor(ServiceCode::Http, nullptr);
    ASSERT_NE(http, nullptr);
    EXPECT_EQ(threads.procedureFor(ServiceCode::Ftp, &httpProxy), http);
    EXPECT_NE(threads.procedureFor(ServiceCode::Ftp, &socks), http);
    EXPECT_NE(threads.procedureFor(ServiceCode::Ftp, nullptr), nullptr);
    EXPECT_EQ(threads.procedureFor(ServiceCode::Mmst, nullptr), threads.procedureFor(ServiceCode::Mms, nullptr));
    EXPECT_EQ(threads.procedureFor(ServiceCode::Https, nullptr), nullptr);
    EXPECT_EQ(threads.procedureFor(ServiceCode::Pnm, nullptr), nullptr);
    EXPECT_EQ(threads.procedureFor(ServiceCode::Rtsp, nullptr), nullptr);
}

TEST(TransferThreadsTest, ChannelOfADeadBlockAnswersStopWithoutSending)
{
    MessageLoop loop;
    JobLock lock;
    DownloadJob job;
    JobPart part(&job);
    ThreadStartBlock start;
    start.job = &job;
    start.part = &part;
    start.block = std::make_shared<ThreadHandleBlock>();
    start.window = 12345;  // no such window
    JobPartChannel channel(loop, lock, start);
    const uint8_t byte = 0;
    EXPECT_TRUE(channel.alive());
    // A window that is gone answers like a stopped part.
    EXPECT_EQ(channel.data(0, {&byte, 1}), WriteResult::Stop);
    start.block->kill();
    EXPECT_FALSE(channel.alive());
    EXPECT_EQ(channel.data(0, {&byte, 1}), WriteResult::Stop);
    EXPECT_EQ(channel.response(ResponseInfo{}, ProtocolKind::Http), 0);
    EXPECT_FALSE(channel.error({}));
    EXPECT_EQ(channel.knownSize(), -1);
}

TEST(TransferThreadsTest, JoinAllWaitsForEveryThread)
{
    MessageLoop loop;
    JobLock lock;
    TransferThreads threads(loop, lock);
    std::atomic<int> ran{0};
    threads.registerProcedure(ServiceCode::Http, [&](TransferTask&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ++ran;
    });
    DownloadJob job;
    JobPart part(&job);
    for (int i = 0; i < 3; ++i) {
        ThreadStartBlock start;
        start.job = &job;
        start.part = &part;
        start.block = std::make_shared<ThreadHandleBlock>();
        ASSERT_TRUE(threads.startTransfer(*threads.procedureFor(ServiceCode::Http, nullptr), start, TransferTask{}));
        EXPECT_EQ(start.block->threadCount(), 1u);
    }
    EXPECT_TRUE(threads.joinAll(std::chrono::seconds(10)));
    EXPECT_EQ(ran.load(), 3);
    EXPECT_EQ(threads.running(), 0u);
}

}  // namespace
}  // namespace fetchora
