// "Merge Database..." through the real dialogs: the file chooser, then the
// tree of the other database's categories, all ticked. The jobs of ticked
// categories land in the matching categories of the open database (special
// ones by kind, others by name ignoring case, new ones made with their
// folder); an unticked category makes nothing and keeps its jobs out.
#include <QFileDialog>
#include <QTreeWidget>

#include "gui_session.h"
#include "model/job_database.h"
#include "model/kxd_format.h"
#include "shell/view_command.h"

namespace fetchora {
namespace {

using test::GuiSession;
using test::TempDir;

DownloadJob* categoryNamed(const CComPtrTree& tree, const std::string& name)
{
    for (DownloadJob* node : tree.nodes())
        if (node->IsCategory() && node->name == name)
            return node;
    return nullptr;
}

std::vector<std::string> urlsUnder(const DownloadJob* category)
{
    std::vector<std::string> urls;
    for (const DownloadJob* child = category->firstChild(); child; child = child->nextSibling())
        if (!child->IsCategory())
            urls.push_back(child->url);
    return urls;
}

void addJob(CZoviradDoc& doc, DownloadJob* category, const std::string& url)
{
    auto job = doc.NewRecord(NodeKind::Job, JobDefaults{}, 1000);
    ASSERT_TRUE(job->SetUrl(url));
    job->categoryId = category->id;
    ASSERT_NE(doc.AddJob(std::move(job), category), nullptr);
}

// Picks `file` in the open dialog.
void chooseFile(const std::filesystem::path& file)
{
    test::answerModal([](QWidget& window) { return qobject_cast<QFileDialog*>(&window) != nullptr; },
                      [file](QWidget& window) {
                          auto& chooser = static_cast<QFileDialog&>(window);
                          chooser.selectFile(QString::fromStdString(file.string()));
                          static_cast<QDialog&>(chooser).accept();
                      });
}

TEST(MergeDatabaseTest, TickedCategoriesBringTheirJobsUnderTheMappedCategories)
{
    TempDir dir;
    // The database to merge, built here: "GAME" matches the open one's
    // "Game", "Books" (with a sub-category) is new, "Music" will be unticked.
    JobLock lock;
    CZoviradDoc other{lock};
    other.OnNewDocument((dir / "other").string());
    DownloadJob* game = categoryNamed(other.tree(), "Game");
    ASSERT_NE(game, nullptr);
    game->name = "GAME";
    DownloadJob* books = other.AddCategory("Books", (dir / "books").string(), other.downloaded());
    DownloadJob* novels = other.AddCategory("Novels", (dir / "novels").string(), books);
    DownloadJob* music = other.AddCategory("Music", (dir / "music").string(), other.downloaded());
    addJob(other, game, "http://127.0.0.1:9/game.zip");
    addJob(other, books, "http://127.0.0.1:9/book.pdf");
    addJob(other, novels, "http://127.0.0.1:9/novel.epub");
    addJob(other, music, "http://127.0.0.1:9/song.ogg");
    addJob(other, other.downloading(), "http://127.0.0.1:9/queued.iso");
    const std::filesystem::path file = dir / "other.kxd";
    test::writeFile(file, StoreTree(other.tree()));

    GuiSession session(dir);
    ASSERT_TRUE(session.started);
    QStringList offered;
    bool allTicked = true;
    QString title;
    chooseFile(file);
    test::answerModal(test::section("MergeDatabase_Dlg"), [&](QWidget& window) {
        title = window.windowTitle();
        auto* tree = window.findChild<QTreeWidget*>();
        ASSERT_NE(tree, nullptr);
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            offered << (*it)->text(0);
            allTicked = allTicked && (*it)->checkState(0) == Qt::Checked;
            if ((*it)->text(0) == QStringLiteral("Music"))
                (*it)->setCheckState(0, Qt::Unchecked);
        }
        static_cast<QDialog&>(window).accept();
    });
    ASSERT_TRUE(session.view->run(ViewCommand::MergeDatabase));

    EXPECT_EQ(title, QStringLiteral("Merge download database"));
    EXPECT_TRUE(allTicked);
    EXPECT_TRUE(offered.contains(QStringLiteral("GAME"))) << offered.join(u',').toStdString();
    EXPECT_TRUE(offered.contains(QStringLiteral("Novels"))) << offered.join(u',').toStdString();

    CZoviradDoc& doc = session.view->doc();
    EXPECT_EQ(urlsUnder(categoryNamed(doc.tree(), "Game")), std::vector<std::string>{"http://127.0.0.1:9/game.zip"});
    DownloadJob* newBooks = categoryNamed(doc.tree(), "Books");
    ASSERT_NE(newBooks, nullptr);
    EXPECT_EQ(newBooks->parent(), doc.downloaded());
    EXPECT_EQ(newBooks->saveFolder, (dir / "books").string());
    EXPECT_EQ(urlsUnder(newBooks), std::vector<std::string>{"http://127.0.0.1:9/book.pdf"});
    DownloadJob* newNovels = categoryNamed(doc.tree(), "Novels");
    ASSERT_NE(newNovels, nullptr);
    EXPECT_EQ(newNovels->parent(), newBooks);
    EXPECT_EQ(urlsUnder(newNovels), std::vector<std::string>{"http://127.0.0.1:9/novel.epub"});
    EXPECT_EQ(urlsUnder(doc.downloading()), std::vector<std::string>{"http://127.0.0.1:9/queued.iso"});
    // Unticked: no category made, its job not taken.
    EXPECT_EQ(categoryNamed(doc.tree(), "Music"), nullptr);
    for (const DownloadJob* node : doc.tree().nodes())
        EXPECT_NE(node->url, "http://127.0.0.1:9/song.ogg");
}

TEST(MergeDatabaseTest, CancelInTheCategoryTreeMergesNothing)
{
    TempDir dir;
    JobLock lock;
    CZoviradDoc other{lock};
    other.OnNewDocument((dir / "other").string());
    addJob(other, other.AddCategory("Books", (dir / "books").string(), other.downloaded()),
           "http://127.0.0.1:9/book.pdf");
    const std::filesystem::path file = dir / "other.kxd";
    test::writeFile(file, StoreTree(other.tree()));

    GuiSession session(dir);
    chooseFile(file);
    test::answerModal(test::section("MergeDatabase_Dlg"),
                      [](QWidget& window) { static_cast<QDialog&>(window).reject(); });
    session.view->run(ViewCommand::MergeDatabase);
    EXPECT_EQ(categoryNamed(session.view->doc().tree(), "Books"), nullptr);
}

}  // namespace
}  // namespace fetchora
