#include "gui/gui_prompts.h"

#include "gui/backup_chooser.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "config/app_settings.h"
#include "gui/dialog_placement.h"
#include "gui/gui_string_ids.h"
#include "gui/job_property_sheet.h"
#include "gui/options_form.h"
#include "gui/select_links_dialog.h"
#include "gui/ui_text.h"
#include "model/download_job.h"
#include "shell/application.h"
#include "shell/find_memory.h"
#include "shell/shell_texts.h"

namespace fetchora {

namespace {

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

QMessageBox::Icon boxIcon(MessageIcon icon)
{
    switch (icon) {
    case MessageIcon::Information: return QMessageBox::Information;
    case MessageIcon::Warning: return QMessageBox::Warning;
    case MessageIcon::Error: return QMessageBox::Critical;
    case MessageIcon::Question: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// "This window (%1) is not available in this version."
constexpr uint32_t kNotAvailableId = 40110;
// "URL already exists in list, now\n%1"
constexpr uint32_t kDuplicateUrlId = 40111;

QString appTitle()
{
    return QStringLiteral("Fetchora");
}

// A message box's section and the ids of its buttons (the numbers the
// answers have always had: OK 1, Cancel 2, Yes 6, No 7).
void nameBox(QMessageBox& box)
{
    box.setObjectName(QStringLiteral("MessageBox_Dlg"));
    const std::pair<QMessageBox::StandardButton, int> ids[]
        = {{QMessageBox::Ok, 1}, {QMessageBox::Cancel, 2}, {QMessageBox::Yes, 6}, {QMessageBox::No, 7}};
    for (const auto& [which, id] : ids) {
        if (QAbstractButton* button = box.button(which))
            setControlId(button, id);
    }
}

int runBox(QWidget* parent, const std::string& text, MessageIcon icon, QMessageBox::StandardButtons buttons)
{
    QMessageBox message(boxIcon(icon), appTitle(), q(text), buttons, parent);
    nameBox(message);
    return message.exec();
}

// A tree of the categories under root, each item carrying its record.
void addCategories(QTreeWidgetItem* into, DownloadJob* category)
{
    for (DownloadJob* child = category->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            continue;
        auto* item = new QTreeWidgetItem(into, QStringList{q(child->GetDisplayName())});
        item->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(child)));
        addCategories(item, child);
    }
}

QTreeWidget* categoryTree(DownloadJob* root, DownloadJob* current, QWidget* parent)
{
    auto* tree = new QTreeWidget(parent);
    tree->setHeaderHidden(true);
    if (root == nullptr)
        return tree;
    auto* top = new QTreeWidgetItem(tree, QStringList{q(root->GetDisplayName())});
    top->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(root)));
    addCategories(top, root);
    tree->expandAll();
    tree->setCurrentItem(top);
    if (current != nullptr) {
        for (QTreeWidgetItemIterator it(tree); *it; ++it) {
            if ((*it)->data(0, Qt::UserRole).value<void*>() == current)
                tree->setCurrentItem(*it);
        }
    }
    return tree;
}

DownloadJob* chosenCategory(const QTreeWidget* tree)
{
    const QTreeWidgetItem* item = tree->currentItem();
    return item == nullptr ? nullptr : static_cast<DownloadJob*>(item->data(0, Qt::UserRole).value<void*>());
}

QDialogButtonBox* okCancel(QDialog& dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    setControlId(buttons->button(QDialogButtonBox::Ok), kOkControlId);
    setControlId(buttons->button(QDialogButtonBox::Cancel), kCancelControlId);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    return buttons;
}

// A label for a field, carrying the field's id plus kLabelIdOffset.
QLabel* fieldLabel(const QString& text, QWidget* field)
{
    auto* label = new QLabel(text, field->parentWidget());
    label->setBuddy(field);
    setControlId(label, controlId(field) + kLabelIdOffset);
    return label;
}

template <typename Widget> Widget* withId(Widget* widget, int id)
{
    setControlId(widget, id);
    return widget;
}

// Rename and Comment share a layout but are placed and translated apart.
const char* textDialogSection(const std::string& title)
{
    if (title == builtinText(kStrTitleRename))
        return "Rename_Dlg";
    if (title == builtinText(kStrTitleComment))
        return "Comment_Dlg";
    return "Text_Dlg";
}

}  // namespace

QString QtFileFilter(const std::string& filter)
{
    const QStringList parts = q(filter).split(u'|');
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i].trimmed();
        const QString patterns = parts[i + 1].trimmed();
        if (label.isEmpty() && patterns.isEmpty())
            break;
        // The label's own "(...)" would be read as patterns; ours follow.
        const qsizetype open = label.lastIndexOf(u'(');
        if (open > 0 && label.endsWith(u')'))
            label = label.left(open).trimmed();
        QStringList globs;
        for (const QString& glob : patterns.split(u';', Qt::SkipEmptyParts))
            globs.push_back(glob.trimmed() == QStringLiteral("*.*") ? QStringLiteral("*") : glob.trimmed());
        if (globs.isEmpty())
            globs.push_back(QStringLiteral("*"));
        entries.push_back(label + QStringLiteral(" (") + globs.join(u' ') + u')');
    }
    return entries.join(QStringLiteral(";;"));
}

GuiPrompts::GuiPrompts(QWidget* parent) : m_parent(parent)
{
}

int GuiPrompts::maxSplit() const
{
    if (m_maxSplit)
        return m_maxSplit();
    return m_app != nullptr ? m_app->settings().GetOption(OptionId::MaxParallelNum) : 10;
}

void GuiPrompts::message(const std::string& text, MessageIcon icon)
{
    runBox(parent(), text, icon, QMessageBox::Ok);
}

bool GuiPrompts::askYesNo(const std::string& text, MessageIcon icon)
{
    return runBox(parent(), text, icon, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

bool GuiPrompts::askOkCancel(const std::string& text, MessageIcon icon)
{
    return runBox(parent(), text, icon, QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
}

bool GuiPrompts::askYesNoRemember(const std::string& text, bool& doNotAskAgain)
{
    QMessageBox box(QMessageBox::Question, appTitle(), q(text), QMessageBox::Yes | QMessageBox::No, parent());
    // The message box owns the check box: read it while the box lives.
    nameBox(box);
    box.setCheckBox(withId(new QCheckBox(QObject::tr("&Do not ask me again")), 10));
    const bool yes = box.exec() == QMessageBox::Yes;
    doNotAskAgain = box.checkBox()->isChecked();
    return yes;
}

std::optional<std::filesystem::path> GuiPrompts::chooseOpenFile(const std::string& title, const std::string& filter)
{
    const QString file = QFileDialog::getOpenFileName(parent(), q(title), {}, QtFileFilter(filter));
    if (file.isEmpty())
        return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> GuiPrompts::chooseSaveFile(const std::string& title, const std::string& filter,
                                                                const std::string& suggestedName)
{
    const QString file = QFileDialog::getSaveFileName(parent(), q(title), q(suggestedName), QtFileFilter(filter));
    if (file.isEmpty())
        return std::nullopt;
    return std::filesystem::path(file.toStdString());
}

std::optional<std::filesystem::path> GuiPrompts::chooseFolder(const std::string& title,
                                                              const std::filesystem::path& start)
{
    const QString folder = QFileDialog::getExistingDirectory(parent(), q(title), q(start.string()));
    if (folder.isEmpty())
        return std::nullopt;
    return std::filesystem::path(folder.toStdString());
}

JobSheetContext GuiPrompts::sheetContext() const
{
    JobSheetContext context;
    context.maxSplit = maxSplit();
    context.categoryRoot = m_root ? m_root() : nullptr;
    if (m_app != nullptr) {
        context.proxies = &m_app->settings().proxies();
        context.folderHistory = &m_app->registry();
    }
    return context;
}

bool GuiPrompts::editJob(const std::string& title, DownloadJob& job, const JobFileChange& changeFile)
{
    return runJobSheet(title, job, JobSheetMode::OneJob, changeFile);
}

bool GuiPrompts::editDefaults(const std::string& title, DownloadJob& sample)
{
    return runJobSheet(title, sample, JobSheetMode::Defaults);
}

bool GuiPrompts::runJobSheet(const std::string& title, DownloadJob& job, JobSheetMode mode,
                             const JobFileChange& changeFile)
{
    JobSheetContext context = sheetContext();
    context.changeFile = changeFile;
    JobPropertySheet sheet(q(title), job, mode, context, parent());
    KeepDialogPlacement(sheet, registry(), sheet.objectName().toStdString());
    return sheet.exec() == QDialog::Accepted;
}

bool GuiPrompts::editJobs(const std::string& title, DownloadJob& sample, std::size_t count)
{
    JobPropertySheet sheet(QObject::tr("%1 (%2)").arg(q(title), QString::number(count)), sample,
                           JobSheetMode::SeveralJobs, sheetContext(), parent());
    KeepDialogPlacement(sheet, registry(), sheet.objectName().toStdString());
    return sheet.exec() == QDialog::Accepted;
}

Registry* GuiPrompts::registry() const
{
    return m_app != nullptr ? &m_app->registry() : nullptr;
}

void GuiPrompts::prepare(QWidget& dialog, const char* section) const
{
    dialog.setObjectName(QString::fromLatin1(section));
    KeepDialogPlacement(dialog, registry(), section);
}

DuplicateAnswer GuiPrompts::askDuplicateUrl(const DownloadJob& existing, const DownloadJob&)
{
    QMessageBox box(QMessageBox::Question, QObject::tr("Duplicated URL"),
                    uiString(kDuplicateUrlId).arg(q(existing.url)), QMessageBox::NoButton, parent());
    prepare(box, "Duplicate_Dlg");
    QPushButton* update = withId(box.addButton(QObject::tr("Check for &update"), QMessageBox::AcceptRole), 10);
    QPushButton* again = withId(box.addButton(QObject::tr("&Download Again"), QMessageBox::AcceptRole), 11);
    QPushButton* cancel = withId(box.addButton(QObject::tr("&Cancel"), QMessageBox::RejectRole), kCancelControlId);
    box.setDefaultButton(cancel);
    auto* useNew = withId(new QCheckBox(QObject::tr("&Use new settings")), 12);
    box.setCheckBox(useNew);
    box.exec();
    DuplicateAnswer answer;
    answer.useNewSettings = useNew->isChecked();
    if (box.clickedButton() == update)
        answer.choice = DuplicateChoice::CheckForUpdate;
    else if (box.clickedButton() == again)
        answer.choice = DuplicateChoice::DownloadAgain;
    return answer;
}

PermanentDeleteAnswer GuiPrompts::confirmPermanentDelete(bool deleteFiles, bool deleteUnfinished)
{
    QDialog dialog(parent());
    prepare(dialog, "Delete_Dlg");
    dialog.setWindowTitle(QObject::tr("Delete"));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(withId(new QLabel(QObject::tr("Delete the selected job(s) permanently?"), &dialog), 10));
    auto* files = withId(new QCheckBox(QObject::tr("Also delete the downloaded &file"), &dialog), 11);
    files->setChecked(deleteFiles);
    auto* unfinished = withId(new QCheckBox(QObject::tr("Also delete &unfinished files"), &dialog), 12);
    unfinished->setChecked(deleteUnfinished);
    layout->addWidget(files);
    layout->addWidget(unfinished);
    layout->addWidget(okCancel(dialog));
    PermanentDeleteAnswer answer;
    answer.confirmed = dialog.exec() == QDialog::Accepted;
    answer.deleteFiles = files->isChecked();
    answer.deleteUnfinished = unfinished->isChecked();
    return answer;
}

std::optional<FindRequest> GuiPrompts::askFind(const FindRequest& last)
{
    Registry* store = registry();
    FindRequest shown = last;
    // The first search of a run starts from what the last run remembered.
    if (store != nullptr && last.text.empty())
        ApplyFindFlags(ReadFindFlags(*store), shown);
    QDialog dialog(parent());
    prepare(dialog, "Find_Dlg");
    dialog.setWindowTitle(QObject::tr("Find"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    auto* text = withId(new QComboBox(&dialog), 10);
    text->setEditable(true);
    text->setInsertPolicy(QComboBox::NoInsert);
    text->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    text->setMinimumContentsLength(30);
    if (store != nullptr) {
        for (const std::string& earlier : ReadFindHistory(*store))
            text->addItem(q(earlier));
    }
    text->setCurrentText(q(shown.text));
    form->addRow(fieldLabel(QObject::tr("&Find What:"), text), text);
    layout->addLayout(form);
    auto* fields = withId(new QGroupBox(QObject::tr("Search fields"), &dialog), 11);
    auto* fieldLayout = new QVBoxLayout(fields);
    auto* name = withId(new QCheckBox(QObject::tr("&NAME"), fields), 12);
    auto* url = withId(new QCheckBox(QObject::tr("&URL"), fields), 13);
    auto* comment = withId(new QCheckBox(QObject::tr("&Comment"), fields), 14);
    name->setChecked(shown.name);
    url->setChecked(shown.url);
    comment->setChecked(shown.comment);
    fieldLayout->addWidget(name);
    fieldLayout->addWidget(url);
    fieldLayout->addWidget(comment);
    layout->addWidget(fields);
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    FindRequest request{text->currentText().toStdString(), name->isChecked(), url->isChecked(), comment->isChecked()};
    if (store != nullptr)
        RememberFind(*store, request);
    return request;
}

DownloadJob* GuiPrompts::chooseCategory(const std::string& title, const std::string& prompt)
{
    QDialog dialog(parent());
    prepare(dialog, "MoveTo_Dlg");
    dialog.setWindowTitle(q(title));
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(withId(new QLabel(q(prompt), &dialog), 10));
    QTreeWidget* tree = withId(categoryTree(m_root ? m_root() : nullptr, nullptr, &dialog), 11);
    layout->addWidget(tree);
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted)
        return nullptr;
    return chosenCategory(tree);
}

std::optional<CategoryAnswer> GuiPrompts::editCategory(const std::string& title, const CategoryAnswer& start)
{
    QDialog dialog(parent());
    prepare(dialog, "Category_Dlg");
    dialog.setWindowTitle(q(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    auto* name = withId(new QLineEdit(q(start.name), &dialog), 10);
    auto* folder = withId(new QLineEdit(q(start.folder), &dialog), 11);
    auto* browse = withId(new QPushButton(QObject::tr("&Browse..."), &dialog), 12);
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, folder] {
        const QString chosen = QFileDialog::getExistingDirectory(&dialog, uiString(kStrFolderTitle), folder->text());
        if (!chosen.isEmpty())
            folder->setText(chosen);
    });
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folder, 1);
    folderRow->addWidget(browse);
    form->addRow(fieldLabel(QObject::tr("&Name:"), name), name);
    form->addRow(fieldLabel(QObject::tr("&Folder:"), folder), folderRow);
    layout->addLayout(form);
    QTreeWidget* tree = nullptr;
    if (start.parent != nullptr) {
        tree = withId(categoryTree(m_root ? m_root() : nullptr, start.parent, &dialog), 13);
        QLabel* where
            = fieldLabel(QObject::tr("Select the category in which the new category should be created:"), tree);
        where->setWordWrap(true);
        layout->addWidget(where);
        layout->addWidget(tree);
    }
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted || name->text().trimmed().isEmpty())
        return std::nullopt;
    CategoryAnswer answer;
    answer.name = name->text().trimmed().toStdString();
    answer.folder = folder->text().trimmed().toStdString();
    answer.parent = tree != nullptr ? chosenCategory(tree) : nullptr;
    if (tree != nullptr && answer.parent == nullptr)
        answer.parent = start.parent;
    return answer;
}

std::optional<FolderChangeAnswer> GuiPrompts::askFolderChange()
{
    QDialog dialog(parent());
    prepare(dialog, "FolderChange_Dlg");
    dialog.setWindowTitle(QObject::tr("Folder changed"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* sub = withId(new QCheckBox(QObject::tr("Change the folders of the &sub-categories too"), &dialog), 10);
    auto* move = withId(new QCheckBox(QObject::tr("&Move the downloaded files into the new folder"), &dialog), 11);
    layout->addWidget(sub);
    layout->addWidget(move);
    layout->addWidget(okCancel(dialog));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return FolderChangeAnswer{sub->isChecked(), move->isChecked()};
}

std::optional<std::string> GuiPrompts::askText(const std::string& title, const std::string& start)
{
    QDialog dialog(parent());
    prepare(dialog, textDialogSection(title));
    dialog.setWindowTitle(q(title));
    auto* layout = new QVBoxLayout(&dialog);
    auto* edit = withId(new QLineEdit(q(start), &dialog), 10);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 50);
    // The label names the field; its mnemonic is the title's first letter.
    layout->addWidget(fieldLabel(QObject::tr("&%1:").arg(q(title)), edit));
    layout->addWidget(edit);
    layout->addWidget(okCancel(dialog));
    edit->selectAll();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return edit->text().toStdString();
}

std::vector<LinkChoice> GuiPrompts::selectLinks(const std::vector<LinkChoice>& links)
{
    SelectLinksDialog dialog(links, parent());
    prepare(dialog, SelectLinksDialog::kSection);
    if (dialog.exec() != QDialog::Accepted)
        return {};
    return dialog.chosen();
}

namespace {

// The categories under `category` as ticked items, each carrying its record.
void addMergeCategories(QTreeWidgetItem* into, const DownloadJob& category,
                        const std::unordered_set<const DownloadJob*>& ticked)
{
    for (const DownloadJob* child = category.firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            continue;
        auto* item = new QTreeWidgetItem(into, QStringList{q(child->GetDisplayName())});
        item->setData(0, Qt::UserRole, QVariant::fromValue(const_cast<void*>(static_cast<const void*>(child))));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, ticked.count(child) != 0 ? Qt::Checked : Qt::Unchecked);
        addMergeCategories(item, *child, ticked);
    }
}

}  // namespace

bool GuiPrompts::chooseMergeCategories(const DownloadJob& root, std::unordered_set<const DownloadJob*>& ticked)
{
    QDialog dialog(parent());
    prepare(dialog, "MergeDatabase_Dlg");
    dialog.setWindowTitle(QObject::tr("Merge download database"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* tree = withId(new QTreeWidget(&dialog), 10);
    tree->setHeaderHidden(true);
    addMergeCategories(tree->invisibleRootItem(), root, ticked);
    tree->expandAll();
    QLabel* prompt = fieldLabel(QObject::tr("&Categories whose jobs are taken over:"), tree);
    prompt->setWordWrap(true);
    layout->addWidget(prompt);
    layout->addWidget(tree, 1);
    layout->addWidget(okCancel(dialog));
    if (!dialog.testAttribute(Qt::WA_Resized))
        dialog.resize(dialog.fontMetrics().averageCharWidth() * 50, dialog.fontMetrics().height() * 20);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    for (QTreeWidgetItemIterator it(tree); *it; ++it) {
        if ((*it)->checkState(0) != Qt::Checked)
            ticked.erase(static_cast<const DownloadJob*>((*it)->data(0, Qt::UserRole).value<void*>()));
    }
    return true;
}

ChooseBackup GuiPrompts::backupChooser()
{
    return fetchora::backupChooser(parent(), m_app != nullptr ? &m_app->registry() : nullptr);
}

void GuiPrompts::openDialog(const std::string& name)
{
    if (m_opener && m_opener(name))
        return;
    // The frame keeps the commands of dialogs that do not exist yet
    // disabled; one reached another way says so instead of doing nothing.
    QMessageBox::information(parent(), appTitle(), uiString(kNotAvailableId).arg(q(name)));
}

}  // namespace fetchora
