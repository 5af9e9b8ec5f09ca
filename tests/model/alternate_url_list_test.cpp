#include "model/alternate_url_list.h"

#include <gtest/gtest.h>

#include <vector>

namespace fetchora {
namespace {

using Urls = std::vector<AlternateUrl>;

TEST(AlternateUrlList, EmptyInEveryWayItCanBecomeEmpty)
{
    AlternateUrlList list;
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list.size(), 0u);
    EXPECT_EQ(list.begin(), list.end());
    list.reserve(4);  // room but no entries: still empty
    EXPECT_TRUE(list.empty());
    list.push_back({"http://one/f", 1});
    EXPECT_FALSE(list.empty());
    list = Urls{};
    EXPECT_TRUE(list.empty());
    list = {{"http://two/f", 2}};
    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(list, Urls{});
}

TEST(AlternateUrlList, CopiesAreIndependentAndKeepOrderAndTags)
{
    AlternateUrlList list{{"http://a/f", 3}, {"ftp://b/f", -5}};
    AlternateUrlList copy = list;
    copy.push_back({"http://c/f", 0});
    EXPECT_EQ(list, (Urls{{"http://a/f", 3}, {"ftp://b/f", -5}}));
    EXPECT_EQ(copy.size(), 3u);
    EXPECT_EQ(copy[2].url, "http://c/f");

    AlternateUrlList assigned;
    assigned = copy;
    copy.clear();
    EXPECT_EQ(assigned.size(), 3u);
    EXPECT_EQ(assigned[1].tag, -5);
    const AlternateUrlList& same = assigned;
    assigned = same;  // assigning itself keeps the entries
    EXPECT_EQ(assigned.size(), 3u);

    AlternateUrlList moved = std::move(assigned);
    EXPECT_EQ(moved.size(), 3u);
    const std::vector<AlternateUrl>& read = moved;  // reads as the vector it stands for
    EXPECT_EQ(read.front().url, "http://a/f");
    EXPECT_FALSE(list == moved);
}

}  // namespace
}  // namespace fetchora
