// "Select links" as the user sees it: ticking hosts and extensions in the
// dialog's own lists hides the links they rule out, the "All" boxes show
// and set their lists, and OK answers what is left shown and ticked.
#include "gui/select_links_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QListWidget>
#include <QTimer>

#include <functional>

#include "gui/gui_prompts.h"

#include <gtest/gtest.h>

namespace fetchora {
namespace {

void whenModal(std::function<void(SelectLinksDialog&)> answer)
{
    QTimer::singleShot(0, [answer = std::move(answer)] {
        auto* dialog = qobject_cast<SelectLinksDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

QStringList texts(const QListWidget* list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        out << list->item(row)->text();
    return out;
}

// The URLs of the rows still shown, ticked or not.
QStringList shownUrls(const QListWidget* list)
{
    QStringList out;
    for (int row = 0; row < list->count(); ++row)
        if (!list->item(row)->isHidden())
            out << list->item(row)->text().section(QStringLiteral("  "), 0, 0);
    return out;
}

QListWidgetItem* entry(const QListWidget* list, const QString& text)
{
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text() == text)
            return list->item(row);
    return nullptr;
}

std::vector<std::string> urls(const std::vector<LinkChoice>& links)
{
    std::vector<std::string> out;
    for (const LinkChoice& link : links)
        out.push_back(link.url);
    return out;
}

const std::vector<LinkChoice> kLinks{
    {"http://127.0.0.1:9/a.zip", "first"},
    {"http://LOCALHOST:8080/b.ZIP", ""},
    {"http://127.0.0.1:9/c.exe", "installer"},
    {"http://localhost:8080/dir/", "folder"},
    {"not a link", "junk"},
    {"http://127.0.0.1:9/d.tar.gz?x=1.exe", ""},
};

TEST(SelectLinksDialogTest, HostAndExtensionTicksDecideWhichLinksStayAndAreAnswered)
{
    GuiPrompts prompts;
    QStringList hosts;
    QStringList extensions;
    QStringList shownAfterHost;
    QStringList shownAfterBoth;
    Qt::CheckState hostAllAfterOne = Qt::Checked;
    whenModal([&](SelectLinksDialog& dialog) {
        hosts = texts(dialog.hostList());
        extensions = texts(dialog.extensionList());
        EXPECT_EQ(dialog.allHosts()->checkState(), Qt::Checked);
        // The user unticks a host, then an extension, in the lists.
        ASSERT_NE(entry(dialog.hostList(), "localhost:8080"), nullptr);
        entry(dialog.hostList(), "localhost:8080")->setCheckState(Qt::Unchecked);
        hostAllAfterOne = dialog.allHosts()->checkState();
        shownAfterHost = shownUrls(dialog.linkList());
        ASSERT_NE(entry(dialog.extensionList(), "exe"), nullptr);
        entry(dialog.extensionList(), "exe")->setCheckState(Qt::Unchecked);
        EXPECT_EQ(dialog.allExtensions()->checkState(), Qt::PartiallyChecked);
        shownAfterBoth = shownUrls(dialog.linkList());
        dialog.accept();
    });
    const std::vector<LinkChoice> chosen = prompts.selectLinks(kLinks);

    EXPECT_EQ(hosts, (QStringList{"127.0.0.1:9", "localhost:8080"}));
    // As written; the query is no part of the name; a folder has none.
    EXPECT_EQ(extensions, (QStringList{"zip", "ZIP", "exe", "(None)", "gz"}));
    EXPECT_EQ(hostAllAfterOne, Qt::PartiallyChecked);
    EXPECT_EQ(
        shownAfterHost,
        (QStringList{"http://127.0.0.1:9/a.zip", "http://127.0.0.1:9/c.exe", "http://127.0.0.1:9/d.tar.gz?x=1.exe"}));
    EXPECT_EQ(shownAfterBoth, (QStringList{"http://127.0.0.1:9/a.zip", "http://127.0.0.1:9/d.tar.gz?x=1.exe"}));
    EXPECT_EQ(urls(chosen),
              (std::vector<std::string>{"http://127.0.0.1:9/a.zip", "http://127.0.0.1:9/d.tar.gz?x=1.exe"}));
    ASSERT_FALSE(chosen.empty());
    EXPECT_EQ(chosen.front().text, "first");
}

TEST(SelectLinksDialogTest, TheAllBoxesSetTheirWholeListAndALinkCanBeUntickedAlone)
{
    SelectLinksDialog dialog(kLinks);
    QCheckBox* all = dialog.allHosts();
    entry(dialog.hostList(), "127.0.0.1:9")->setCheckState(Qt::Unchecked);
    ASSERT_EQ(all->checkState(), Qt::PartiallyChecked);
    // Mixed: a click ticks every host.
    all->click();
    EXPECT_EQ(all->checkState(), Qt::Checked);
    EXPECT_EQ(dialog.hostList()->item(0)->checkState(), Qt::Checked);
    EXPECT_EQ(dialog.chosen().size(), 5u);
    // Ticked: a click unticks every host, and nothing is left.
    all->click();
    EXPECT_EQ(all->checkState(), Qt::Unchecked);
    EXPECT_EQ(dialog.hostList()->item(1)->checkState(), Qt::Unchecked);
    EXPECT_TRUE(shownUrls(dialog.linkList()).isEmpty());
    EXPECT_TRUE(dialog.chosen().empty());
    // Unticked: a click ticks them all again.
    all->click();
    EXPECT_EQ(all->checkState(), Qt::Checked);

    // "All" of the extensions, and one link unticked by hand.
    dialog.allExtensions()->click();
    EXPECT_TRUE(dialog.chosen().empty());
    dialog.allExtensions()->click();
    dialog.linkList()->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(urls(dialog.chosen()),
              (std::vector<std::string>{"http://127.0.0.1:9/a.zip", "http://LOCALHOST:8080/b.ZIP",
                                        "http://localhost:8080/dir/", "http://127.0.0.1:9/d.tar.gz?x=1.exe"}));
}

TEST(SelectLinksDialogTest, CancelAnswersNothing)
{
    GuiPrompts prompts;
    whenModal([](SelectLinksDialog& dialog) { dialog.reject(); });
    EXPECT_TRUE(prompts.selectLinks(kLinks).empty());
}

}  // namespace
}  // namespace fetchora
