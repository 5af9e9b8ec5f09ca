// fetchora-cli --db FILE list: a whole database lists with status 0; a torn
// one, or bytes that are no database at all, list what could be read and
// fail, so that a script never takes the default tree for a file's content.
#include "cli/database_listing.h"

#include <gtest/gtest.h>

#include <sstream>

#include "model/job_database.h"
#include "model/kxd_format.h"
#include "platform/job_lock.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

struct Listing {
    int code = -1;
    size_t lines = 0;
    std::string err;
};

Listing list(const std::filesystem::path& file)
{
    std::ostringstream out;
    std::ostringstream err;
    Listing listing;
    listing.code = listDatabase(file.string(), out, err);
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);)
        ++listing.lines;
    listing.err = err.str();
    return listing;
}

TEST(DatabaseListing, OnlyAWholeDatabaseListsWithoutFailing)
{
    test::TempDir dir;
    JobLock lock;
    CZoviradDoc doc(lock);
    doc.OnNewDocument("");
    auto job = doc.NewRecord(NodeKind::Job, JobDefaults{}, 100);
    job->SetUrl("http://127.0.0.1/file.bin");
    doc.AddJob(std::move(job));
    const std::string whole = StoreTree(doc.tree());

    test::writeFile(dir / "whole.kxd", whole);
    const Listing good = list(dir / "whole.kxd");
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_EQ(good.lines, doc.tree().nodes().size());
    EXPECT_TRUE(good.err.empty()) << good.err;

    test::writeFile(dir / "torn.kxd", whole.substr(0, whole.size() - 7));
    const Listing torn = list(dir / "torn.kxd");
    EXPECT_EQ(torn.code, 1);
    EXPECT_NE(torn.err.find("is damaged"), std::string::npos) << torn.err;

    test::writeFile(dir / "text.kxd", "not a database at all");
    const Listing text = list(dir / "text.kxd");
    EXPECT_EQ(text.code, 1);
    EXPECT_NE(text.err.find("the database " + (dir / "text.kxd").string() + " is damaged"), std::string::npos)
        << text.err;

    const Listing missing = list(dir / "none.kxd");
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.lines, 0u);
    EXPECT_NE(missing.err.find("cannot open the database"), std::string::npos) << missing.err;
}

}  // namespace
}  // namespace fetchora
