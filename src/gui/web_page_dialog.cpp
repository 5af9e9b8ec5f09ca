#include "gui/web_page_dialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/gui_prompts.h"
#include "gui/gui_string_ids.h"
#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "lang/string_table.h"
#include "lists/page_url_history.h"
#include "lists/url_list.h"
#include "shell/application.h"
#include "shell/file_filters.h"
#include "shell/list_commands.h"

namespace fetchora {

namespace {

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

EnterUrlDialog::EnterUrlDialog(const std::vector<std::string>& history, QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Enter URL"));
    auto* prompt = new QLabel(fromUtf8(kTextEnterPageUrl), this);
    prompt->setWordWrap(true);
    m_url = new QComboBox(this);
    m_url->setEditable(true);
    m_url->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& entry : history)
        m_url->addItem(qText(entry));
    m_url->setCurrentIndex(-1);
    m_url->setEditText({});
    m_url->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    prompt->setBuddy(m_url);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(prompt);
    layout->addWidget(m_url);
    layout->addWidget(buttons);
    setControlId(prompt, 2301);
    setControlId(m_url, 2302);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);
}

std::string EnterUrlDialog::url() const
{
    return m_url->currentText().trimmed().toStdString();
}

bool processSavedPage(Application& app, MainView& view, const std::filesystem::path& page, QWidget* parent)
{
    PageUrlHistory history;
    history.Load(app.registry());
    EnterUrlDialog ask(history.entries(), parent);
    if (ask.exec() != QDialog::Accepted)
        return false;
    if (processWebPage(app, view, page, ask.url()) == WebPageOutcome::NoValidUrl) {
        QMessageBox::warning(parent, ask.windowTitle(), fromUtf8(builtinString(kStrNoValidUrl)));
        return false;
    }
    return true;
}

void showProcessWebPage(Application& app, MainView& view, QWidget* parent)
{
    const QString page
        = QFileDialog::getOpenFileName(parent, uiString(kStrProcessWebPageFile), {}, QtFileFilter(htmlFileFilter()));
    if (page.isEmpty())
        return;
    processSavedPage(app, view, page.toStdString(), parent);
}

}  // namespace fetchora
