#include "shell/daemon_takeover.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(TakeOverReply, CarriesTheRunningJobsAndSkipsWhatIsNoId)
{
    EXPECT_EQ(TakeOverReply({}), "1");
    EXPECT_EQ(TakeOverReply({12, 15}), "1 12 15");
    EXPECT_EQ(ReadTakeOverReply("1 12 15"), (std::vector<int32_t>{12, 15}));
    EXPECT_TRUE(ReadTakeOverReply("1").empty());
    EXPECT_TRUE(ReadTakeOverReply("").empty());
    // Junk from a confused peer never becomes a job id.
    EXPECT_EQ(ReadTakeOverReply("1 7x -3 0  99999999999 8 "), (std::vector<int32_t>{8}));
}

}  // namespace
}  // namespace fetchora
