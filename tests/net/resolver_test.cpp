#include <atomic>
#include <gtest/gtest.h>

#include "net/resolver.h"

#include <netdb.h>

namespace fetchora {
namespace {

TEST(Resolver, DottedIpv4NeedsExactlyThreeDotsAndNumbersUpTo255)
{
    EXPECT_TRUE(isIpv4Address("127.0.0.1"));
    EXPECT_TRUE(isIpv4Address("255.255.255.255"));
    EXPECT_FALSE(isIpv4Address("256.1.1.1"));
    EXPECT_FALSE(isIpv4Address("1.2.3"));
    EXPECT_FALSE(isIpv4Address("1.2.3.4.5"));
    EXPECT_FALSE(isIpv4Address("1..3.4"));
    EXPECT_FALSE(isIpv4Address("1.2.3.4 "));
    EXPECT_FALSE(isIpv4Address("localhost"));
}

TEST(Resolver, Ipv6LiteralsAreRecognisedWithoutBrackets)
{
    EXPECT_TRUE(isIpv6Address("::1"));
    EXPECT_TRUE(isIpv6Address("fe80::1"));
    EXPECT_FALSE(isIpv6Address("[::1]"));
    EXPECT_FALSE(isIpv6Address("127.0.0.1"));
    EXPECT_FALSE(isIpv6Address("host:80"));
}

TEST(Resolver, AddressLiteralIsItsOwnAnswer)
{
    EXPECT_EQ(lookUpHostAddress("127.0.0.1").address, "127.0.0.1");
    EXPECT_EQ(lookUpHostAddress("::1").address, "::1");
    EXPECT_EQ(lookUpHostAddress("").status, LookupStatus::NotFound);
}

TEST(Resolver, ResolveGivesTheFallbackOnFailureAndCountsTheLookUpWhileItRuns)
{
    std::atomic<int> pending{0};
    int seenPending = -1;
    const HostLookup failing = [&](std::string_view, const AliveCheck&) {
        seenPending = pending.load();
        return LookupResult{LookupStatus::NotFound, {}};
    };
    EXPECT_EQ(ResolveHostAddress("nowhere.test", "10.0.0.9", {}, &pending, failing), "10.0.0.9");
    EXPECT_EQ(seenPending, 1);
    EXPECT_EQ(pending.load(), 0);
    EXPECT_EQ(ResolveHostAddress("nowhere.test", "", {}, nullptr, failing), "");
}

TEST(Resolver, ANameThatDoesNotExistFailsForGoodAndANameServiceFailureMayPass)
{
    // The resolver's answers are mapped without asking any name server.
    EXPECT_EQ(lookupStatusOfGaiError(0), LookupStatus::Found);
    EXPECT_EQ(lookupStatusOfGaiError(EAI_NONAME), LookupStatus::NotFound);
    EXPECT_EQ(lookupStatusOfGaiError(EAI_NODATA), LookupStatus::NotFound);
    EXPECT_EQ(lookupStatusOfGaiError(EAI_AGAIN), LookupStatus::TryLater);
    EXPECT_EQ(lookupStatusOfGaiError(EAI_FAIL), LookupStatus::TryLater);
    EXPECT_EQ(lookupStatusOfGaiError(EAI_SYSTEM), LookupStatus::TryLater);
}

}  // namespace
}  // namespace fetchora
