#include "gui/options_sheet.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "gui/dialog_placement.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_text.h"
#include "platform/desktop_system.h"
#include "shell/application.h"

namespace fetchora {

namespace {

// The section name of the page shown last, for the rest of the run; by name,
// so that pages added or inserted later do not shift it.
QByteArray& lastPageShown()
{
    static QByteArray section;
    return section;
}

}  // namespace

OptionsSheet::OptionsSheet(Application& app, QWidget* parent) : QDialog(parent), m_app(app)
{
    setObjectName(QStringLiteral("Options_Dlg"));
    setWindowTitle(tr("Options"));
    setObjectName(QStringLiteral("Options_Dlg"));
    m_list = new QListWidget(this);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_stack = new QStackedWidget(this);
    m_stack->setMinimumWidth(fontMetrics().averageCharWidth() * 100);
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row >= 0)
            m_stack->setCurrentIndex(row);
        rememberCurrent();
    });

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    // The ids every dialog gives OK and Cancel, for translations.
    buttons->button(QDialogButtonBox::Ok)->setProperty("controlId", 1);
    buttons->button(QDialogButtonBox::Cancel)->setProperty("controlId", 2);
    m_list->setProperty("controlId", 10);
    connect(buttons, &QDialogButtonBox::accepted, this, &OptionsSheet::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pages = new QHBoxLayout;
    pages->addWidget(m_list);
    pages->addWidget(m_stack, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(pages, 1);
    layout->addWidget(buttons);
}

void OptionsSheet::addPage(OptionsPage* page)
{
    insertPage(pageCount(), page);
}

void OptionsSheet::insertPage(int index, OptionsPage* page)
{
    index = std::clamp(index, 0, pageCount());
    m_stack->insertWidget(index, page);
    m_list->insertItem(index, page->title());
    // The list is as wide as its longest title, whatever the font.
    int width = 0;
    for (int i = 0; i < m_list->count(); ++i)
        width = std::max(width, m_list->fontMetrics().horizontalAdvance(m_list->item(i)->text()));
    m_list->setFixedWidth(width + m_list->fontMetrics().averageCharWidth() * 4
                          + m_list->style()->pixelMetric(QStyle::PM_ScrollBarExtent));
    if (m_loaded)
        page->load(m_app.settings());
}

int OptionsSheet::pageCount() const
{
    return m_stack->count();
}

OptionsPage* OptionsSheet::page(int index) const
{
    return static_cast<OptionsPage*>(m_stack->widget(index));
}

int OptionsSheet::currentIndex() const
{
    return m_stack->currentIndex();
}

void OptionsSheet::setCurrentIndex(int index)
{
    m_list->setCurrentRow(index);
}

void OptionsSheet::rememberCurrent()
{
    if (OptionsPage* current = page(currentIndex()))
        lastPageShown() = current->sectionName();
}

void OptionsSheet::loadPages()
{
    for (int i = 0; i < pageCount(); ++i)
        page(i)->load(m_app.settings());
    m_loaded = true;
    int shown = 0;
    for (int i = 0; i < pageCount(); ++i) {
        if (lastPageShown() == page(i)->sectionName())
            shown = i;
    }
    setCurrentIndex(shown);
}

void OptionsSheet::showEvent(QShowEvent* event)
{
    if (!m_loaded && !event->spontaneous())
        loadPages();
    QDialog::showEvent(event);
}

bool OptionsSheet::applyPages()
{
    for (int i = 0; i < pageCount(); ++i) {
        const QString message = page(i)->validate();
        if (message.isEmpty())
            continue;
        setCurrentIndex(i);
        QMessageBox::warning(this, windowTitle(), message);
        // validate gave the field the focus while its page was hidden.
        if (QWidget* field = page(i)->focusWidget())
            field->setFocus();
        return false;
    }
    const bool saved = m_app.changeSettings([this](AppSettings& settings) {
        for (int i = 0; i < pageCount(); ++i)
            page(i)->apply(settings);
    });
    if (!saved)
        QMessageBox::warning(this, windowTitle(), uiString(kStrSettingsNotSaved));
    return true;
}

void OptionsSheet::accept()
{
    if (applyPages())
        QDialog::accept();
}

void addStandardPages(OptionsSheet& sheet, SoundPlayer player)
{
    sheet.addPage(new GeneralPage);
    sheet.addPage(new ConnectionPage);
    sheet.addPage(new ProtocolPage);
    sheet.addPage(new MonitorPage);
    sheet.addPage(new GraphLogPage);
    sheet.addPage(new FileManagerPage);
    sheet.addPage(new DialUpPage);
    sheet.addPage(new SoundsPage(std::move(player)));
    sheet.addPage(new OtherPage);
    sheet.addPage(new SchedulePage);
    sheet.addPage(new MirrorsPage);
}

bool showOptionsSheet(Application& app, QWidget* parent, const std::function<void(OptionsSheet&)>& addMore)
{
    SystemDesktop desktop;
    OptionsSheet sheet(app, parent);
    addStandardPages(sheet, [&desktop](const std::filesystem::path& file) { desktop.playSound(file); });
    if (addMore)
        addMore(sheet);
    KeepDialogPlacement(sheet, &app.registry(), "Options_Dlg");
    return sheet.exec() == QDialog::Accepted;
}

}  // namespace fetchora
