#include "gui/job_property_sheet.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "config/proxy_list.h"
#include "gui/category_box.h"
#include "gui/gui_prompts.h"
#include "gui/gui_string_ids.h"
#include "gui/options_form.h"
#include "gui/ui_text.h"
#include "model/download_job.h"
#include "shell/folder_history.h"
#include "shell/shared_job_sheet.h"

namespace fetchora {

namespace {

// Stable numbers of the sheet's controls, for translations and tests.
enum ControlId : int {
    kIdUrl = 1001,
    kIdReferer = 1002,
    kIdCategory = 1003,
    kIdFolder = 1004,
    kIdBrowse = 1005,
    kIdFileName = 1006,
    kIdSplit = 1007,
    kIdStartMode = 1008,
    kIdComment = 1009,
    kIdLogin = 1101,
    kIdUser = 1102,
    kIdPassword = 1103,
    kIdHttpProxy = 1104,
    kIdFtpProxy = 1105,
    kIdStreamProxy = 1106,
    kIdFindMirrors = 1107,
    kIdFtpSubdirectories = 1108,
    kIdCreateSubdirectories = 1109,
    kIdCreateCategory = 1110,
    kIdMirrorList = 1201,
    kIdAddMirror = 1202,
    kIdEditMirror = 1203,
    kIdDeleteMirror = 1204,
    kIdPages = 1301,
    kIdLoginGroup = 1302,
    kIdProxyGroup = 1303,
};

constexpr char kStartState[] = "startState";

QString q(const std::string& text)
{
    return QString::fromStdString(text);
}

std::string s(const QString& text)
{
    return text.trimmed().toStdString();
}

template <typename Widget> Widget* withId(Widget* widget, int id)
{
    widget->setProperty("controlId", id);
    return widget;
}

QLabel* buddyLabel(const QString& text, QWidget* buddy)
{
    auto* label = new QLabel(text, buddy->parentWidget());
    label->setBuddy(buddy);
    label->setProperty("controlId", buddy->property("controlId").toInt() + kLabelIdOffset);
    return label;
}

// The widgets in the order Tab visits them.
void chainTabs(const std::vector<QWidget*>& widgets)
{
    for (size_t i = 1; i < widgets.size(); ++i)
        QWidget::setTabOrder(widgets[i - 1], widgets[i]);
}

QString proxyLabel(const ProxyEntry& entry)
{
    if (!entry.title.empty())
        return q(entry.title);
    return q(entry.server) + u':' + QString::number(entry.port);
}

// Every category a finished job may be filed into, indented by depth.
void addCategories(QComboBox* box, const DownloadJob* category, int depth)
{
    for (const DownloadJob* child = category->firstChild(); child; child = child->nextSibling()) {
        if (!child->IsCategory())
            continue;
        const CategoryKind kind = child->GetCategoryKind();
        if (kind == CategoryKind::Downloading || kind == CategoryKind::Deleted)
            continue;
        box->addItem(QString(depth * 2, u' ') + q(child->GetDisplayName()), child->id);
        addCategories(box, child, depth + 1);
    }
}

const DownloadJob* findCategory(const DownloadJob* root, int id)
{
    if (root == nullptr)
        return nullptr;
    if (root->IsCategory() && root->id == id)
        return root;
    for (const DownloadJob* child = root->firstChild(); child; child = child->nextSibling()) {
        if (const DownloadJob* found = findCategory(child, id))
            return found;
    }
    return nullptr;
}

void setSwitch(QCheckBox* box, const DownloadJob& job, uint32_t bit, bool inverse)
{
    if (IsSeveralSwitch(job, bit)) {
        box->setTristate(true);
        box->setCheckState(Qt::PartiallyChecked);
    } else {
        const bool on = (job.optionFlags & bit) != 0;
        box->setChecked(on != inverse);
    }
    box->setProperty(kStartState, static_cast<int>(box->checkState()));
}

void applySwitch(const QCheckBox* box, DownloadJob& job, uint32_t bit, bool inverse)
{
    const Qt::CheckState state = box->checkState();
    if (state == box->property(kStartState).toInt() || state == Qt::PartiallyChecked)
        return;
    const bool on = (state == Qt::Checked) != inverse;
    job.optionFlags &= ~(bit << kSeveralSwitchShift);
    job.optionFlags = on ? (job.optionFlags | bit) : (job.optionFlags & ~bit);
}

int selectData(QComboBox* box, int value)
{
    const int index = box->findData(value);
    box->setCurrentIndex(std::max(0, index));
    return box->currentIndex();
}

}  // namespace

JobPropertySheet::JobPropertySheet(const QString& title, DownloadJob& job, JobSheetMode mode,
                                   const JobSheetContext& context, QWidget* parent)
    : QDialog(parent), m_job(job), m_mode(mode), m_context(context)
{
    m_context.maxSplit = std::clamp(m_context.maxSplit, 1, static_cast<int>(kMaxSplitCount));
    setWindowTitle(title);
    setObjectName(QStringLiteral("AddFile_Dlg"));

    m_pages = withId(new QTabWidget(this), kIdPages);
    m_pages->addTab(buildGeneral(), tr("&General"));
    m_pages->addTab(buildConnection(), tr("C&onnection"));
    const int mirrorsPage = m_pages->addTab(buildMirrors(), tr("&Mirrors"));
    if (m_mode == JobSheetMode::Defaults)
        m_pages->setTabVisible(mirrorsPage, false);
    else if (m_mode == JobSheetMode::SeveralJobs)
        m_pages->setTabEnabled(mirrorsPage, false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = withId(buttons->button(QDialogButtonBox::Ok), kOkControlId);
    withId(buttons->button(QDialogButtonBox::Cancel), kCancelControlId);
    connect(buttons, &QDialogButtonBox::accepted, this, &JobPropertySheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 72);
}

QWidget* JobPropertySheet::buildGeneral()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("JobGeneral_PPG"));
    auto* form = new QFormLayout(page);
    const bool several = m_mode == JobSheetMode::SeveralJobs;

    m_url = withId(new QLineEdit(q(m_job.url), page), kIdUrl);
    form->addRow(buddyLabel(tr("&URL:"), m_url), m_url);
    m_referer = withId(new QLineEdit(q(m_job.referer), page), kIdReferer);
    form->addRow(buddyLabel(tr("R&eferrer:"), m_referer), m_referer);

    m_category = withId(new QComboBox(page), kIdCategory);
    form->addRow(buddyLabel(tr("Ca&tegory:"), m_category), m_category);
    fillCategories();

    m_folder = withId(new QComboBox(page), kIdFolder);
    m_folder->setEditable(true);
    m_folder->setInsertPolicy(QComboBox::NoInsert);
    if (m_context.folderHistory != nullptr) {
        for (const std::string& folder : ReadFolderHistory(*m_context.folderHistory))
            m_folder->addItem(q(folder));
    }
    m_folder->setEditText(q(m_job.saveFolder));
    if (several) {
        m_folder->lineEdit()->setPlaceholderText(uiString(kStrEachJobKeepsFolder));
        onLanguageChanged(m_folder, [edit = m_folder->lineEdit()] {
            edit->setPlaceholderText(uiString(kStrEachJobKeepsFolder));
        });
    }
    m_browse = withId(new QPushButton(tr("&Browse..."), page), kIdBrowse);
    connect(m_browse, &QPushButton::clicked, this, &JobPropertySheet::browseFolder);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(m_browse);
    form->addRow(buddyLabel(tr("&Save to:"), m_folder), folderRow);

    m_fileName = withId(new QLineEdit(q(m_job.GetDisplayName()), page), kIdFileName);
    form->addRow(buddyLabel(tr("Re&name:"), m_fileName), m_fileName);

    m_split = withId(new QComboBox(page), kIdSplit);
    m_split->setEditable(true);
    m_split->setInsertPolicy(QComboBox::NoInsert);
    for (int parts = 1; parts <= m_context.maxSplit; ++parts)
        m_split->addItem(QString::number(parts));
    m_split->setEditText(m_job.splitCount == kSeveralSplitCounts && several ? QString()
                                                                            : QString::number(m_job.splitCount));
    form->addRow(buddyLabel(tr("S&plit into:"), m_split), m_split);

    m_startMode = withId(new QComboBox(page), kIdStartMode);
    if (several && m_job.startMode == kSeveralStartModes)
        m_startMode->addItem(QString(), static_cast<int>(kSeveralStartModes));
    // "Manual,Immediately,Schedule" in the string table.
    constexpr uint32_t kStartModesId = 40020;
    m_startMode->addItem(uiListItem(kStartModesId, 0), static_cast<int>(StartMode::Manual));
    m_startMode->addItem(uiListItem(kStartModesId, 1), static_cast<int>(StartMode::Immediately));
    m_startMode->addItem(uiListItem(kStartModesId, 2), static_cast<int>(StartMode::Schedule));
    m_startStartMode = selectData(m_startMode, static_cast<int>(m_job.startMode));
    // An open sheet follows a switch of the language; the choice stays.
    onLanguageChanged(m_startMode, [box = m_startMode] {
        const std::array<StartMode, 3> modes{StartMode::Manual, StartMode::Immediately, StartMode::Schedule};
        for (int i = 0; i < box->count(); ++i) {
            for (std::size_t m = 0; m < modes.size(); ++m) {
                if (box->itemData(i).toInt() == static_cast<int>(modes[m]))
                    box->setItemText(i, uiListItem(kStartModesId, m));
            }
        }
    });
    form->addRow(buddyLabel(tr("St&art:"), m_startMode), m_startMode);

    m_comment = withId(new QPlainTextEdit(q(m_job.comment()), page), kIdComment);
    m_comment->setTabChangesFocus(true);
    m_comment->setMaximumHeight(fontMetrics().lineSpacing() * 4);
    form->addRow(buddyLabel(tr("Co&mment:"), m_comment), m_comment);

    if (m_mode == JobSheetMode::Defaults) {
        form->setRowVisible(m_url, false);
        form->setRowVisible(m_fileName, false);
        form->setRowVisible(m_comment, false);
    } else if (several) {
        // Each job keeps its own URL and name.
        m_url->setEnabled(false);
        m_url->clear();
        m_fileName->setEnabled(false);
        m_fileName->clear();
    }
    m_url->setMinimumWidth(fontMetrics().averageCharWidth() * 56);

    m_startUrl = m_url->text();
    m_startReferer = m_referer->text();
    m_startFolder = m_folder->currentText();
    m_startFileName = m_fileName->text();
    m_startSplit = m_split->currentText();
    m_startComment = m_comment->toPlainText();
    chainTabs({m_url, m_referer, m_category, m_folder, m_browse, m_fileName, m_split, m_startMode, m_comment});
    return page;
}

QWidget* JobPropertySheet::buildConnection()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("JobConnection_PPG"));
    auto* layout = new QVBoxLayout(page);

    auto* loginGroup = withId(new QGroupBox(tr("Login"), page), kIdLoginGroup);
    auto* loginForm = new QFormLayout(loginGroup);
    m_login = withId(new QCheckBox(tr("&Login to server"), loginGroup), kIdLogin);
    setSwitch(m_login, m_job, kOptUseLogin, false);
    loginForm->addRow(m_login);
    m_user = withId(new QLineEdit(q(m_job.userName()), loginGroup), kIdUser);
    loginForm->addRow(buddyLabel(tr("&User name:"), m_user), m_user);
    m_password = withId(new QLineEdit(q(m_job.password()), loginGroup), kIdPassword);
    m_password->setEchoMode(QLineEdit::Password);
    loginForm->addRow(buddyLabel(tr("Pass&word:"), m_password), m_password);
    // A name typed here means the user wants to log in with it.
    connect(m_user, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!text.trimmed().isEmpty())
            m_login->setCheckState(Qt::Checked);
    });
    layout->addWidget(loginGroup);

    auto* proxyGroup = withId(new QGroupBox(tr("Proxy"), page), kIdProxyGroup);
    auto* proxyForm = new QFormLayout(proxyGroup);
    m_httpProxy = withId(new QComboBox(proxyGroup), kIdHttpProxy);
    m_ftpProxy = withId(new QComboBox(proxyGroup), kIdFtpProxy);
    m_streamProxy = withId(new QComboBox(proxyGroup), kIdStreamProxy);
    fillProxies(m_httpProxy, m_job.httpProxyId, kProxyKindHttp);
    fillProxies(m_ftpProxy, m_job.ftpProxyId, kProxyKindFtp);
    fillProxies(m_streamProxy, m_job.streamProxyId, kProxyKindAny);
    m_startHttpProxy = m_httpProxy->currentIndex();
    m_startFtpProxy = m_ftpProxy->currentIndex();
    m_startStreamProxy = m_streamProxy->currentIndex();
    proxyForm->addRow(buddyLabel(tr("&HTTP proxy:"), m_httpProxy), m_httpProxy);
    proxyForm->addRow(buddyLabel(tr("&FTP proxy:"), m_ftpProxy), m_ftpProxy);
    proxyForm->addRow(buddyLabel(tr("S&tream proxy:"), m_streamProxy), m_streamProxy);
    layout->addWidget(proxyGroup);

    m_findMirrors = withId(new QCheckBox(tr("F&ind alternate URLs through the mirror list file or Ftp Search"), page),
                           kIdFindMirrors);
    setSwitch(m_findMirrors, m_job, kOptNoMirrorSearch, true);
    m_ftpSubdirectories = withId(new QCheckBox(tr("Download &subdirectories from Ftp"), page), kIdFtpSubdirectories);
    setSwitch(m_ftpSubdirectories, m_job, kOptFtpSubdirectories, false);
    m_createSubdirectories = withId(new QCheckBox(tr("Create sub&directories locally"), page), kIdCreateSubdirectories);
    setSwitch(m_createSubdirectories, m_job, kOptFtpCreateSubdirectories, false);
    m_createCategory = withId(new QCheckBox(tr("Create &Category"), page), kIdCreateCategory);
    setSwitch(m_createCategory, m_job, kOptCreateCategory, false);
    layout->addWidget(m_findMirrors);
    layout->addWidget(m_ftpSubdirectories);
    layout->addWidget(m_createSubdirectories);
    layout->addWidget(m_createCategory);
    layout->addStretch(1);

    m_startUser = m_user->text();
    m_startPassword = m_password->text();
    chainTabs({m_login, m_user, m_password, m_httpProxy, m_ftpProxy, m_streamProxy, m_findMirrors, m_ftpSubdirectories,
               m_createSubdirectories, m_createCategory});
    return page;
}

QWidget* JobPropertySheet::buildMirrors()
{
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("JobMirrors_PPG"));
    auto* layout = new QHBoxLayout(page);
    m_mirrors = withId(new QListWidget(page), kIdMirrorList);
    if (m_mode == JobSheetMode::OneJob) {
        for (const AlternateUrl& mirror : m_job.alternateUrls)
            m_mirrors->addItem(q(mirror.url));
    }
    for (int row = 0; row < m_mirrors->count(); ++row)
        m_startMirrors.push_back(m_mirrors->item(row)->text());
    auto* label = buddyLabel(tr("&Alternate URLs:"), m_mirrors);
    auto* left = new QVBoxLayout;
    left->addWidget(label);
    left->addWidget(m_mirrors, 1);
    layout->addLayout(left, 1);

    m_addMirror = withId(new QPushButton(tr("A&dd..."), page), kIdAddMirror);
    m_editMirror = withId(new QPushButton(tr("&Edit..."), page), kIdEditMirror);
    m_deleteMirror = withId(new QPushButton(tr("De&lete"), page), kIdDeleteMirror);
    connect(m_addMirror, &QPushButton::clicked, this, [this] { askMirror(-1); });
    connect(m_editMirror, &QPushButton::clicked, this, [this] { askMirror(m_mirrors->currentRow()); });
    connect(m_mirrors, &QListWidget::itemDoubleClicked, this, [this] { askMirror(m_mirrors->currentRow()); });
    connect(m_deleteMirror, &QPushButton::clicked, this, [this] { delete m_mirrors->currentItem(); });
    auto syncButtons = [this] {
        const bool chosen = m_mirrors->currentItem() != nullptr;
        m_editMirror->setEnabled(chosen);
        m_deleteMirror->setEnabled(chosen);
    };
    connect(m_mirrors, &QListWidget::currentRowChanged, this, syncButtons);
    syncButtons();
    auto* right = new QVBoxLayout;
    right->addWidget(m_addMirror);
    right->addWidget(m_editMirror);
    right->addWidget(m_deleteMirror);
    right->addStretch(1);
    layout->addLayout(right);
    chainTabs({m_mirrors, m_addMirror, m_editMirror, m_deleteMirror});
    return page;
}

void JobPropertySheet::fillCategories()
{
    const bool several = m_mode == JobSheetMode::SeveralJobs && m_job.categoryId == kSeveralCategories;
    if (several)
        m_category->addItem(QString(), kSeveralCategories);
    if (m_context.categoryRoot != nullptr)
        addCategories(m_category, m_context.categoryRoot, 0);
    // A category the list does not offer stays chosen rather than lost.
    if (!several && m_category->findData(m_job.categoryId) < 0) {
        const int id = m_job.categoryId;
        m_category->addItem(uiString(kStrCategoryByNumber).arg(id), id);
        onLanguageChanged(m_category, [box = m_category, id] {
            if (const int index = box->findData(id); index >= 0)
                box->setItemText(index, uiString(kStrCategoryByNumber).arg(id));
        });
    }
    m_startCategory = selectData(m_category, m_job.categoryId);
    retextCategoryItems(m_category, [this] { return m_context.categoryRoot; });
    if (const DownloadJob* category = findCategory(m_context.categoryRoot, m_job.categoryId))
        m_previousCategoryFolder = q(category->saveFolder);
    connect(m_category, &QComboBox::currentIndexChanged, this, &JobPropertySheet::categoryChanged);
}

void JobPropertySheet::fillProxies(QComboBox* box, uint16_t current, int kind)
{
    if (m_mode == JobSheetMode::SeveralJobs && current == kSeveralProxies)
        box->addItem(QString(), kSeveralProxies);
    if (m_context.proxies != nullptr) {
        for (size_t index = 0; index < m_context.proxies->ProxyCount(); ++index) {
            const int entryKind = m_context.proxies->ProxyKind(index);
            if (entryKind != kProxyKindAny && entryKind != kind)
                continue;
            box->addItem(proxyLabel(*m_context.proxies->ProxyAt(index)), static_cast<int>(index));
        }
    }
    if (box->findData(current) < 0)
        box->addItem(current == 0 ? uiString(kStrDirectConnection) : uiString(kStrProxyByNumber).arg(current), current);
    selectData(box, current);
}

void JobPropertySheet::categoryChanged()
{
    const DownloadJob* category = findCategory(m_context.categoryRoot, m_category->currentData().toInt());
    if (category == nullptr)
        return;
    // The folder follows the category unless the user chose one of their own.
    const QString folder = m_folder->currentText().trimmed();
    if (folder.isEmpty() || folder == m_previousCategoryFolder)
        m_folder->setEditText(q(category->saveFolder));
    m_previousCategoryFolder = q(category->saveFolder);
}

void JobPropertySheet::browseFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, uiString(kStrSaveToTitle), m_folder->currentText());
    if (!folder.isEmpty())
        m_folder->setEditText(folder);
}

void JobPropertySheet::askMirror(int row)
{
    const bool adding = row < 0;
    QString text = adding ? QString() : m_mirrors->item(row)->text();
    for (;;) {
        bool ok = false;
        text = QInputDialog::getText(this, uiString(adding ? kStrAddMirrorTitle : kStrEditMirrorTitle),
                                     uiString(kStrMirrorUrlLabel), QLineEdit::Normal, text, &ok);
        if (!ok)
            return;
        const QString problem = adding ? addMirror(text) : editMirror(row, text);
        if (problem.isEmpty())
            return;
        QMessageBox::warning(this, windowTitle(), problem);
    }
}

QString JobPropertySheet::addMirror(const QString& url)
{
    return editMirror(-1, url);
}

QString JobPropertySheet::editMirror(int row, const QString& url)
{
    DownloadJob probe;
    if (!probe.SetUrl(s(url)))
        return uiString(kStrNotADownloadUrl).arg(url.trimmed());
    const QString parsed = q(probe.url);
    for (int other = 0; other < m_mirrors->count(); ++other) {
        if (other != row && m_mirrors->item(other)->text() == parsed)
            return uiString(kStrMirrorListed).arg(parsed);
    }
    if (row >= 0 && row < m_mirrors->count())
        m_mirrors->item(row)->setText(parsed);
    else
        m_mirrors->addItem(parsed);
    return {};
}

QLineEdit* JobPropertySheet::folderEdit() const
{
    return m_folder->lineEdit();
}

QString JobPropertySheet::refuse(QWidget* field, const QString& message)
{
    for (QWidget* page = field; page != nullptr; page = page->parentWidget()) {
        const int index = m_pages->indexOf(page);
        if (index >= 0) {
            m_pages->setCurrentIndex(index);
            break;
        }
    }
    field->setFocus();
    return message;
}

QString JobPropertySheet::validate()
{
    if (m_mode == JobSheetMode::OneJob) {
        const QString url = m_url->text().trimmed();
        DownloadJob probe;
        if (url.isEmpty())
            return refuse(m_url, uiString(kStrTypeTheUrl));
        if (url != m_startUrl && !probe.SetUrl(url.toStdString()))
            return refuse(m_url, uiString(kStrNotADownloadUrl).arg(url));
    }

    const QString folder = m_folder->currentText().trimmed();
    if (folder.isEmpty()) {
        if (m_mode == JobSheetMode::OneJob)
            return refuse(m_folder, uiString(kStrChooseTheFolder));
    } else if (!std::filesystem::path(folder.toStdString()).is_absolute()) {
        return refuse(m_folder, uiString(kStrNotAFullPath).arg(folder));
    }

    const QString split = m_split->currentText().trimmed();
    if (!(split.isEmpty() && m_mode == JobSheetMode::SeveralJobs)) {
        bool number = false;
        const int parts = split.toInt(&number);
        if (!number || parts < 1 || parts > m_context.maxSplit)
            return refuse(m_split, uiString(kStrSplitRange).arg(m_context.maxSplit));
    }
    return {};
}

bool JobPropertySheet::makeFolderExist()
{
    const QString folder = m_folder->currentText().trimmed();
    if (folder.isEmpty() || folder == m_startFolder.trimmed())
        return true;
    std::error_code error;
    const std::filesystem::path path(folder.toStdString());
    if (std::filesystem::is_directory(path, error))
        return true;
    if (std::filesystem::exists(path, error)) {
        QMessageBox::warning(this, windowTitle(), uiString(kStrFileNotFolder).arg(folder));
        refuse(m_folder, {});
        return false;
    }
    const auto answer = QMessageBox::question(this, windowTitle(), uiString(kStrCreateFolder).arg(folder),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    if (answer != QMessageBox::Yes) {
        refuse(m_folder, {});
        return false;
    }
    if (!std::filesystem::create_directories(path, error) && !std::filesystem::is_directory(path)) {
        QMessageBox::warning(this, windowTitle(), uiString(kStrCannotCreateFolder).arg(folder, q(error.message())));
        refuse(m_folder, {});
        return false;
    }
    return true;
}

QString JobPropertySheet::apply()
{
    const bool several = m_mode == JobSheetMode::SeveralJobs;
    const QString folder = m_folder->currentText().trimmed();
    const bool renamed = m_mode == JobSheetMode::OneJob && m_fileName->text().trimmed() != m_startFileName.trimmed();
    const bool moved = folder != m_startFolder.trimmed() && !(several && folder.isEmpty());
    const auto cannotRename = [this] {
        return refuse(m_fileName,
                      uiString(kStrSheetCannotRename).arg(m_fileName->text().trimmed()));
    };
    // The rename and the move go first: they are the steps that can fail, and
    // then nothing else may have changed. For an existing job the view does
    // both, so that its files follow and the change is noted.
    if (m_mode == JobSheetMode::OneJob && m_context.changeFile && (renamed || moved)) {
        const std::string name = renamed ? s(m_fileName->text()) : m_job.fileName;
        const bool changed = m_context.changeFile(m_job, moved ? folder.toStdString() : m_job.saveFolder, name);
        if (!changed && !moved)
            return cannotRename();
        if (!changed)
            return refuse(m_folder,
                          uiString(kStrSheetCannotMove).arg(folder));
    } else {
        if (renamed && !m_job.SetFileName(s(m_fileName->text())))
            return cannotRename();
        if (moved)
            m_job.SetSaveFolder(folder.toStdString());
    }
    if (m_mode == JobSheetMode::OneJob && m_url->text().trimmed() != m_startUrl.trimmed())
        m_job.SetUrl(s(m_url->text()));
    if (m_referer->text() != m_startReferer)
        m_job.referer = s(m_referer->text());
    if (m_category->currentIndex() != m_startCategory)
        m_job.categoryId = m_category->currentData().toInt();
    if (m_context.folderHistory != nullptr && !folder.isEmpty())
        RememberFolder(*m_context.folderHistory, folder.toStdString());
    const QString split = m_split->currentText().trimmed();
    if (split != m_startSplit.trimmed() && !split.isEmpty())
        m_job.SetSplitCount(split.toInt(), m_context.maxSplit);
    if (m_startMode->currentIndex() != m_startStartMode)
        m_job.SetStartMode(static_cast<StartMode>(m_startMode->currentData().toInt()));
    if (m_mode != JobSheetMode::Defaults && m_comment->toPlainText() != m_startComment)
        m_job.SetComment(m_comment->toPlainText().toStdString());

    if (m_user->text() != m_startUser)
        m_job.editTexts().userName = s(m_user->text());
    if (m_password->text() != m_startPassword)
        m_job.editTexts().password = m_password->text().toStdString();
    applySwitch(m_login, m_job, kOptUseLogin, false);
    if (m_httpProxy->currentIndex() != m_startHttpProxy)
        m_job.httpProxyId = static_cast<uint16_t>(m_httpProxy->currentData().toInt());
    if (m_ftpProxy->currentIndex() != m_startFtpProxy)
        m_job.ftpProxyId = static_cast<uint16_t>(m_ftpProxy->currentData().toInt());
    if (m_streamProxy->currentIndex() != m_startStreamProxy)
        m_job.streamProxyId = static_cast<uint16_t>(m_streamProxy->currentData().toInt());
    applySwitch(m_findMirrors, m_job, kOptNoMirrorSearch, true);
    applySwitch(m_ftpSubdirectories, m_job, kOptFtpSubdirectories, false);
    applySwitch(m_createSubdirectories, m_job, kOptFtpCreateSubdirectories, false);
    applySwitch(m_createCategory, m_job, kOptCreateCategory, false);

    if (m_mode == JobSheetMode::OneJob) {
        QStringList mirrors;
        for (int row = 0; row < m_mirrors->count(); ++row)
            mirrors.push_back(m_mirrors->item(row)->text());
        if (mirrors != m_startMirrors) {
            std::vector<AlternateUrl> kept;
            for (const QString& url : mirrors) {
                AlternateUrl mirror{url.toStdString(), 0};
                // A mirror that stays keeps its tag.
                for (const AlternateUrl& old : m_job.alternateUrls) {
                    if (old.url == mirror.url)
                        mirror.tag = old.tag;
                }
                kept.push_back(std::move(mirror));
            }
            m_job.alternateUrls = std::move(kept);
        }
    }
    return {};
}

void JobPropertySheet::accept()
{
    QString problem = validate();
    if (problem.isEmpty() && !makeFolderExist())
        return;
    if (problem.isEmpty())
        problem = apply();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

}  // namespace fetchora
