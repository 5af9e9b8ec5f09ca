// The Other page: a tree of switches. Plain switches are check boxes; the
// double-click actions are groups whose children behave as radio buttons.
#include <QLabel>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <memory>
#include <vector>

#include "config/app_settings.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

struct Switch {
    OptionId option;
    QString text;
    uint32_t tip;  // string id
};

struct Choice {
    OptionId option;
    QString title;
    QStringList choices;  // choice i stands for value i
};

// The value a choice item stands for, or -1 for a plain switch.
constexpr int kChoiceValueRole = Qt::UserRole + 2;

// The items' tool tips are looked up when shown, so they are always in the
// current language, whenever the items were made.
class SwitchItem final : public QTreeWidgetItem {
public:
    SwitchItem(QTreeWidgetItem* parent, const QString& text, uint32_t tip)
        : QTreeWidgetItem(parent, {text}), m_tip(tip)
    {
    }
    QVariant data(int column, int role) const override
    {
        if (role == Qt::ToolTipRole)
            return uiString(m_tip);
        return QTreeWidgetItem::data(column, role);
    }

private:
    uint32_t m_tip;
};

// "Double-click on a downloaded job opens the file.": the group's text and
// the choice's as they show now.
class ChoiceItem final : public QTreeWidgetItem {
public:
    ChoiceItem(QTreeWidgetItem* parent, const QString& text) : QTreeWidgetItem(parent, {text}) { }
    QVariant data(int column, int role) const override
    {
        if (role != Qt::ToolTipRole || parent() == nullptr)
            return QTreeWidgetItem::data(column, role);
        QString choice = text(0);
        if (!choice.isEmpty())
            choice[0] = choice[0].toLower();
        return uiString(kStrChoiceTip).arg(parent()->text(0), choice);
    }
};

}  // namespace

OtherPage::OtherPage(QWidget* parent) : FormPage("Other_PPG", tr("Other"), parent)
{
    using O = OptionId;
    auto* tree = new QTreeWidget(this);
    setControlId(tree, 1);
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(true);
    auto* label = new QLabel(tr("&Switches:"), this);
    label->setBuddy(tree);
    setControlId(label, 1 + kLabelIdOffset);
    column()->addWidget(label);
    column()->addWidget(tree, 1);

    struct Group {
        QString title;
        std::vector<Switch> switches;
    };
    const std::vector<Group> groups = {
        {tr("Confirmations"),
         {{O::ConfirmExitToolWindows, tr("Confirm exit while tool windows are open"),
           40961},
          {O::ConfirmExitDownloading, tr("Confirm exit while files are downloading"),
           40962},
          {O::ConfirmContextMenuUrl, tr("Confirm a URL added from the browser's menu"),
           40963},
          {O::ConfirmBatchUrls, tr("Confirm settings when batch URLs are added"),
           40964},
          {O::ConfirmDrop, tr("Confirm a URL dropped on the drop zone"),
           40965}}},
        {tr("Window and list"),
         {{O::SortSubCategories, tr("Show sub-categories in alphabetical order"),
           40966},
          {O::HideWhenMinimized, tr("Hide the main window when minimized"),
           40967},
          {O::CloseBoxExits, tr("The window's close box exits the program"),
           40968},
          {O::SizesInBytes, tr("Show file sizes in bytes"),
           40969}}},
        {tr("Downloads"),
         {{O::CloseWhenDone, tr("Close the program when all jobs are done"),
           40970},
          {O::RemoveWhenComplete, tr("Remove a job from the list when it is complete"),
           40971},
          {O::MoveToBottomAfterRetries, tr("Move a job to the bottom of the queue after 10 retries"),
           40972},
          {O::AllocateDiskSpace, tr("Allocate disk space when the file size is known"),
           40973}}},
    };
    const std::vector<Choice> choices = {
        {O::DoubleClickRunning,
         tr("Double-click on a job in progress"),
         {tr("Starts or stops it"), tr("Edits its properties"), tr("Edits its comment")}},
        {O::DoubleClickDownloaded,
         tr("Double-click on a downloaded job"),
         {tr("Opens the file"), tr("Edits its properties"), tr("Edits its comment")}},
        {O::DoubleClickFailed,
         tr("Double-click on a failed job"),
         {tr("Opens its folder"), tr("Edits its properties"), tr("Edits its comment")}},
    };

    struct Bound {
        QTreeWidgetItem* item;
        OptionId option;
    };
    auto switches = std::make_shared<std::vector<Bound>>();
    auto choiceGroups = std::make_shared<std::vector<Bound>>();
    int id = 2;
    for (const Group& group : groups) {
        auto* top = new QTreeWidgetItem(tree, {group.title});
        top->setData(0, kItemControlIdRole, id++);
        for (const Switch& entry : group.switches) {
            auto* item = new SwitchItem(top, entry.text, entry.tip);
            item->setData(0, kItemControlIdRole, id++);
            item->setData(0, kChoiceValueRole, -1);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
            switches->push_back({item, entry.option});
        }
    }
    for (const Choice& choice : choices) {
        auto* top = new QTreeWidgetItem(tree, {choice.title});
        top->setData(0, kItemControlIdRole, id++);
        for (int value = 0; value < choice.choices.size(); ++value) {
            auto* item = new ChoiceItem(top, choice.choices[value]);
            item->setData(0, kItemControlIdRole, id++);
            item->setData(0, kChoiceValueRole, value);
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
        }
        choiceGroups->push_back({top, choice.option});
    }
    tree->expandAll();

    // A choice checked unchecks its siblings; the checked one cannot be
    // unchecked, only replaced.
    connect(tree, &QTreeWidget::itemChanged, this, [tree](QTreeWidgetItem* item) {
        QTreeWidgetItem* parentItem = item->parent();
        if (parentItem == nullptr || item->data(0, kChoiceValueRole).toInt() < 0)
            return;
        const QSignalBlocker blocker(tree);
        if (item->checkState(0) == Qt::Checked) {
            for (int i = 0; i < parentItem->childCount(); ++i) {
                if (parentItem->child(i) != item)
                    parentItem->child(i)->setCheckState(0, Qt::Unchecked);
            }
            return;
        }
        bool any = false;
        for (int i = 0; i < parentItem->childCount(); ++i)
            any = any || parentItem->child(i)->checkState(0) == Qt::Checked;
        if (!any)
            item->setCheckState(0, Qt::Checked);
    });

    // What load saw, so that only changed switches are written (the close box
    // switch is written to the store at once).
    auto loadedSwitches = std::make_shared<std::vector<bool>>();
    auto loadedChoices = std::make_shared<std::vector<int32_t>>();
    addBinding({[=](const AppSettings& s) {
                    const QSignalBlocker blocker(tree);
                    loadedSwitches->clear();
                    for (const Bound& bound : *switches) {
                        const bool on = s.GetOption(bound.option) != 0;
                        loadedSwitches->push_back(on);
                        bound.item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
                    }
                    loadedChoices->clear();
                    for (const Bound& bound : *choiceGroups) {
                        const int32_t value = s.GetOption(bound.option);
                        loadedChoices->push_back(value);
                        for (int i = 0; i < bound.item->childCount(); ++i)
                            bound.item->child(i)->setCheckState(0, i == value ? Qt::Checked : Qt::Unchecked);
                    }
                },
                {},
                [=](AppSettings& s) {
                    for (size_t i = 0; i < switches->size(); ++i) {
                        const bool on = (*switches)[i].item->checkState(0) == Qt::Checked;
                        if (i >= loadedSwitches->size() || on != (*loadedSwitches)[i])
                            s.SetOption((*switches)[i].option, on ? 1 : 0);
                    }
                    for (size_t g = 0; g < choiceGroups->size(); ++g) {
                        const Bound& bound = (*choiceGroups)[g];
                        for (int i = 0; i < bound.item->childCount(); ++i) {
                            if (bound.item->child(i)->checkState(0) == Qt::Checked && i != (*loadedChoices)[g])
                                s.SetOption(bound.option, i);
                        }
                    }
                }});
}

}  // namespace fetchora
