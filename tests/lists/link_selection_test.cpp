#include "lists/link_selection.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

TEST(LinkSelection, KeysAreLowerCaseHostWithPortAndTheLastExtension)
{
    struct Case {
        const char* url;
        const char* host;
        const char* extension;
    };
    const Case cases[] = {
        {"http://Example.COM/a/b.tar.gz", "example.com:80", "gz"},
        {"https://h.org:8443/x.ZIP?v=1.2", "h.org:8443", "ZIP"},
        {"ftp://files.h/pub/README", "files.h:21", "(None)"},
        {"http://h/dir.v2/", "h:80", "(None)"},
        {"http://h/", "h:80", "(None)"},
        {"http://h/name.", "h:80", "(None)"},
        {"not a url", "", ""},
    };
    for (const Case& c : cases) {
        const LinkKeys keys = LinkKeysOf(c.url);
        EXPECT_EQ(keys.host, c.host) << c.url;
        if (*c.host) {
            EXPECT_EQ(keys.extension, c.extension) << c.url;
        }
    }
}

TEST(LinkSelection, ListsHoldDistinctEntriesInFirstSeenOrder)
{
    const LinkSelection selection({"http://b.com/1.zip", "http://A.com/2.exe", "http://b.com/3.zip", "junk"});
    ASSERT_EQ(selection.hosts().size(), 2u);
    EXPECT_EQ(selection.hosts().entry(0), "b.com:80");
    EXPECT_EQ(selection.hosts().entry(1), "a.com:80");
    ASSERT_EQ(selection.extensions().size(), 2u);
    EXPECT_EQ(selection.extensions().entry(0), "zip");
    EXPECT_EQ(selection.SelectedLinks().size(), 3u);
}

TEST(LinkSelection, OnlyLinksWithBothHostAndExtensionTickedSurvive)
{
    LinkSelection selection(
        {"http://a.com/1.zip", "http://a.com/2.exe", "http://b.com/3.zip", "http://b.com/4", "http://a.com/5.zip"});
    selection.extensions().Toggle(1);  // exe
    selection.hosts().Toggle(1);  // b.com
    EXPECT_EQ(selection.SelectedLinks(), (std::vector<std::string>{"http://a.com/1.zip", "http://a.com/5.zip"}));
    selection.hosts().Toggle(1);
    EXPECT_EQ(
        selection.SelectedLinks(),
        (std::vector<std::string>{"http://a.com/1.zip", "http://b.com/3.zip", "http://b.com/4", "http://a.com/5.zip"}));
}

TEST(LinkSelection, AllBoxIsTriStateAndClickingItSetsEveryEntry)
{
    TickList list;
    list.Add("a");
    list.Add("b");
    list.Add("c");
    EXPECT_EQ(list.Add("b"), 1u);
    EXPECT_EQ(list.AllState(), TriState::Ticked);
    list.Toggle(1);
    EXPECT_EQ(list.AllState(), TriState::Mixed);
    list.ClickAll();  // mixed -> every entry ticked
    EXPECT_EQ(list.AllState(), TriState::Ticked);
    list.ClickAll();  // ticked -> none
    EXPECT_EQ(list.AllState(), TriState::Unticked);
    EXPECT_FALSE(list.IsTicked(std::string_view("a")));
    list.Toggle(2);
    EXPECT_EQ(list.AllState(), TriState::Mixed);
    EXPECT_TRUE(list.IsTicked(std::string_view("c")));
    list.Toggle(99);  // out of range: nothing happens
    EXPECT_EQ(list.AllState(), TriState::Mixed);

    LinkSelection selection({"http://a.com/1.zip", "http://b.com/2.zip"});
    selection.hosts().ClickAll();
    EXPECT_TRUE(selection.SelectedLinks().empty());
}

}  // namespace
}  // namespace fetchora
