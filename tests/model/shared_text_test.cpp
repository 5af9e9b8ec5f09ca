#include "model/shared_text.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fetchora {
namespace {

TEST(SharedText, EmptyTextReadsAsEmptyStringAndHoldsNoBuffer)
{
    const SharedText none;
    EXPECT_TRUE(none.empty());
    EXPECT_EQ(none.size(), 0u);
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_EQ(none.str(), std::string());
    EXPECT_FALSE(none.sharesWith(none)) << "an empty text has no buffer to share";

    // Assigning an empty text keeps no buffer either, and drops the old one.
    SharedText text("value");
    text = std::string();
    EXPECT_TRUE(text.empty());
    EXPECT_FALSE(text.sharesWith(SharedText(text)));
    text = "again";
    text.clear();
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(text, "");
}

TEST(SharedText, CopiesShareOneBufferUntilOneOfThemChanges)
{
    SharedText folder(std::string("/home/user/Downloads/long folder name"));
    SharedText copy = folder;
    SharedText assigned;
    assigned = copy;
    EXPECT_TRUE(copy.sharesWith(folder));
    EXPECT_TRUE(assigned.sharesWith(folder));
    EXPECT_EQ(&copy.str(), &folder.str()) << "reads give the same string object";

    // Each kind of change gives the changed text a buffer of its own and
    // leaves the others' bytes as they were.
    copy += "/sub";
    EXPECT_EQ(copy, "/home/user/Downloads/long folder name/sub");
    EXPECT_EQ(folder, "/home/user/Downloads/long folder name");
    EXPECT_FALSE(copy.sharesWith(folder));
    assigned = "/elsewhere";
    EXPECT_EQ(folder, "/home/user/Downloads/long folder name");
    EXPECT_TRUE(SharedText(folder).sharesWith(folder));
    folder.clear();
    EXPECT_EQ(assigned, "/elsewhere");
    EXPECT_EQ(copy, "/home/user/Downloads/long folder name/sub");
}

TEST(SharedText, AssigningFromItsOwnBytesKeepsThem)
{
    SharedText text("a text long enough to live on the heap");
    text = std::string_view(text).substr(2, 4);
    EXPECT_EQ(text, "text");
    const SharedText& same = text;
    text = same;
    EXPECT_EQ(text, "text");
    SharedText other = text;
    text = std::move(other);
    EXPECT_EQ(text, "text");
    text += std::string_view(text);
    EXPECT_EQ(text, "texttext");
}

TEST(SharedText, MovesHandTheBufferOver)
{
    SharedText from("moved text that is longer than a short string");
    const std::string* before = &from.str();
    SharedText to(std::move(from));
    EXPECT_EQ(&to.str(), before);
    EXPECT_TRUE(from.empty());  // NOLINT(bugprone-use-after-move): the moved-from state is specified
    SharedText again;
    again = std::move(to);
    EXPECT_EQ(&again.str(), before);
    EXPECT_TRUE(to.empty());  // NOLINT(bugprone-use-after-move)
}

TEST(SharedText, ReadsLikeTheStringItReplaces)
{
    const SharedText text("http://example.org/page");
    const std::string& asString = text;
    const std::string_view asView = text;
    EXPECT_EQ(asString, "http://example.org/page");
    EXPECT_EQ(asView, "http://example.org/page");
    EXPECT_TRUE(text == std::string("http://example.org/page"));
    EXPECT_TRUE("http://example.org/page" == text);
    EXPECT_FALSE(text == "http://example.org");
    EXPECT_LT(text, SharedText("http://example.org/query"));
    EXPECT_EQ(text + "?q=1", "http://example.org/page?q=1");
    EXPECT_EQ(std::string("<") + text + '>', "<http://example.org/page>");
    EXPECT_EQ(text.find("example"), 7u);
    EXPECT_TRUE(text.starts_with("http://"));
    EXPECT_EQ(text.substr(0, 4), "http");
    EXPECT_EQ(text.back(), 'e');
    const bool useText = true;
    EXPECT_EQ(useText ? text : std::string("other"), "http://example.org/page");
    std::ostringstream out;
    out << text;
    EXPECT_EQ(out.str(), "http://example.org/page");
}

TEST(SharedText, CopiesOnOtherThreadsKeepTheirBytes)
{
    // The share count is atomic: copies made and dropped on several threads
    // at once neither free the bytes early nor leak them (the sanitizer
    // builds check the latter).
    const SharedText source("a folder that every thread copies many times over");
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&source, &mismatches, t] {
            for (int i = 0; i < 20000; ++i) {
                SharedText copy = source;
                if (copy != "a folder that every thread copies many times over")
                    ++mismatches[static_cast<size_t>(t)];
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    for (int count : mismatches)
        EXPECT_EQ(count, 0);
    EXPECT_EQ(source, "a folder that every thread copies many times over");
}

}  // namespace
}  // namespace fetchora
