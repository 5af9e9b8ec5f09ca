#include "explorer/favorites_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/temp_dir.h"

namespace fetchora {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// Little-endian 32-bit value, written out by hand so that the test does not
// share the code it checks.
std::string le32(uint32_t value)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    return out;
}

std::string shortString(const std::string& text)
{
    return std::string(1, static_cast<char>(text.size())) + text;
}

std::string record(uint32_t id, uint32_t image, uint32_t flags, int32_t parent, const std::string& name,
                   const std::string& url)
{
    return le32(id) + le32(image) + le32(flags) + le32(static_cast<uint32_t>(parent)) + shortString(name)
        + shortString(url);
}

// A folder "Mirrors" with one address in it, and one address at the root.
std::string sampleFile()
{
    return "Y" + le32(3) + record(1, 2, 1, 0, "Mirrors", "") + record(2, 6, 0, 1, "Kernel", "ftp://127.0.0.1/pub/")
        + record(5, 6, 0, -1, "Home", "http://127.0.0.1/index.html");
}

TEST(FavoritesTreeTest, AFileWrittenByteByByteOpensWithItsTreeAndSavesTheSameBytes)
{
    const std::string bytes = sampleFile();
    const std::optional<FavoritesTree> tree = FavoritesTree::parse(bytes);
    ASSERT_TRUE(tree.has_value());
    ASSERT_EQ(tree->records().size(), 3u);
    const std::vector<const Favorite*> top = tree->children(0);
    ASSERT_EQ(top.size(), 2u);
    EXPECT_EQ(top[0]->name, "Mirrors");
    EXPECT_TRUE(top[0]->isFolder());
    EXPECT_EQ(top[1]->url, "http://127.0.0.1/index.html");
    const std::vector<const Favorite*> inFolder = tree->children(1);
    ASSERT_EQ(inFolder.size(), 1u);
    EXPECT_EQ(inFolder[0]->name, "Kernel");
    EXPECT_EQ(inFolder[0]->url, "ftp://127.0.0.1/pub/");
    EXPECT_EQ(tree->serialize(), bytes);
}

TEST(FavoritesTreeTest, LongNamesUseTheWideLengthForms)
{
    const std::string name(300, 'n');
    const std::string bytes = "Y" + le32(1) + le32(1) + le32(6) + le32(0) + le32(0) + "\xFF"
        + std::string("\x2C\x01", 2) + name + shortString("http://h/");
    const std::optional<FavoritesTree> tree = FavoritesTree::parse(bytes);
    ASSERT_TRUE(tree.has_value());
    EXPECT_EQ(tree->records().at(0).name, name);
    EXPECT_EQ(tree->serialize(), bytes);
}

TEST(FavoritesTreeTest, DamagedBytesAreRefused)
{
    const std::string good = sampleFile();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"no Y", "X" + good.substr(1)},
        {"empty", ""},
        {"cut inside a record", good.substr(0, good.size() - 3)},
        {"count larger than the records", "Y" + le32(4) + good.substr(5)},
        {"huge count", "Y" + le32(0xFFFFFFF0u) + good.substr(5)},
        {"bytes after the last record", good + "junk"},
        {"repeated id", "Y" + le32(2) + record(1, 6, 0, 0, "a", "http://a/") + record(1, 6, 0, 0, "b", "http://b/")},
        {"parent not seen before", "Y" + le32(2) + record(2, 6, 0, 1, "a", "http://a/") + record(1, 2, 1, 0, "f", "")},
        {"parent is no folder",
         "Y" + le32(2) + record(1, 6, 0, 0, "a", "http://a/") + record(2, 6, 0, 1, "b", "http://b/")},
        {"zero id", "Y" + le32(1) + record(0, 6, 0, 0, "a", "http://a/")},
    };
    for (const auto& [what, bytes] : cases)
        EXPECT_FALSE(FavoritesTree::parse(bytes).has_value()) << what;
}

TEST(FavoritesTreeTest, EditsKeepParentsBeforeChildrenAndRefuseLoops)
{
    FavoritesTree tree = *FavoritesTree::parse(sampleFile());
    EXPECT_EQ(tree.addUrl("again", "HTTP://127.0.0.1/INDEX.HTML"), 0) << "a URL already present, in any case";
    EXPECT_EQ(tree.addUrl("into a non-folder", "http://x/", 5), 0);
    const int32_t folder = tree.addFolder("New Folder");
    EXPECT_EQ(folder, 3) << "the smallest free id";
    const int32_t inner = tree.addFolder("Inner", folder);
    ASSERT_GT(inner, 0);
    EXPECT_FALSE(tree.move(folder, inner)) << "a folder cannot go under its own child";
    EXPECT_FALSE(tree.move(folder, folder));
    // The earlier "Mirrors" folder goes under the later one: it must follow it in the file.
    ASSERT_TRUE(tree.move(1, inner));
    const std::optional<FavoritesTree> again = FavoritesTree::parse(tree.serialize());
    ASSERT_TRUE(again.has_value());
    ASSERT_EQ(again->children(inner).size(), 1u);
    EXPECT_EQ(again->children(inner)[0]->name, "Mirrors");
    EXPECT_EQ(again->children(1).size(), 1u) << "Kernel moved with its folder";
    EXPECT_TRUE(tree.rename(2, "Linux"));
    ASSERT_TRUE(tree.remove(folder));
    EXPECT_EQ(tree.find(1), nullptr) << "removing a folder removes what is under it";
    EXPECT_EQ(tree.find(2), nullptr);
    ASSERT_EQ(tree.records().size(), 1u);
    EXPECT_EQ(tree.records()[0].id, 5);
}

TEST(FavoritesFileTest, ADamagedFileOpensEmptyAndIsKeptAsideUntilASave)
{
    TempDir dir;
    const std::filesystem::path path = dir / "favorites.qvb";
    const std::string garbled = sampleFile().substr(0, 20);
    writeFile(path, garbled);
    FavoritesFile file(path);
    FavoritesTree tree;
    tree.addFolder("stale");
    EXPECT_EQ(file.load(tree), FavoritesLoad::Damaged);
    EXPECT_TRUE(tree.empty());
    EXPECT_EQ(readFile(path), garbled) << "opening never replaces the file";
    EXPECT_EQ(readFile(dir / "favorites.qvb.damaged"), garbled);
    // A second start finds the same damage and keeps the copy as it is.
    EXPECT_EQ(file.load(tree), FavoritesLoad::Damaged);
    EXPECT_EQ(readFile(dir / "favorites.qvb.damaged"), garbled);

    ASSERT_GT(tree.addUrl("Home", "http://127.0.0.1/"), 0);
    ASSERT_TRUE(file.save(tree));
    EXPECT_EQ(readFile(dir / "favorites.qvb.damaged"), garbled);
    FavoritesTree reread;
    EXPECT_EQ(file.load(reread), FavoritesLoad::Loaded);
    ASSERT_EQ(reread.records().size(), 1u);
    EXPECT_EQ(reread.records()[0].url, "http://127.0.0.1/");
}

TEST(FavoritesFileTest, AMissingFileIsAnEmptyTreeWithNothingWritten)
{
    TempDir dir;
    FavoritesFile file(dir / "favorites.qvb");
    FavoritesTree tree;
    EXPECT_EQ(file.load(tree), FavoritesLoad::Missing);
    EXPECT_TRUE(tree.empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "favorites.qvb"));
    EXPECT_FALSE(std::filesystem::exists(dir / "favorites.qvb.damaged"));
}

}  // namespace
}  // namespace fetchora
