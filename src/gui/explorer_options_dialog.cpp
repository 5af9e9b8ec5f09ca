#include "gui/explorer_options_dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include "gui/dialog_placement.h"
#include "gui/ui_text.h"
#include "shell/application.h"

namespace fetchora {

namespace {

// The dialog's texts in the string table.
constexpr uint32_t kTitleId = 40670;
constexpr uint32_t kTypesTipId = 40671;
constexpr uint32_t kTypesLabelId = 40672;
constexpr uint32_t kRetriesLabelId = 40673;

}  // namespace

ExplorerOptionsDialog::ExplorerOptionsDialog(const ExplorerOptions& options, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(uiString(kTitleId));
    setObjectName(QStringLiteral("SiteExplorerOptions"));
    m_types = new QLineEdit(QString::fromStdString(options.pageTypes), this);
    m_types->setProperty("controlId", 1001);
    m_types->setToolTip(uiString(kTypesTipId));
    m_types->setMinimumWidth(fontMetrics().averageCharWidth() * 50);
    m_retries = new QSpinBox(this);
    m_retries->setRange(0, kMaxExplorerRetries);
    m_retries->setValue(options.retries);
    m_retries->setProperty("controlId", 1002);
    auto* form = new QFormLayout(this);
    auto* typesLabel = new QLabel(uiString(kTypesLabelId), this);
    typesLabel->setBuddy(m_types);
    auto* retriesLabel = new QLabel(uiString(kRetriesLabelId), this);
    retriesLabel->setBuddy(m_retries);
    form->addRow(typesLabel, m_types);
    form->addRow(retriesLabel, m_retries);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
    setTabOrder(m_types, m_retries);
}

ExplorerOptions ExplorerOptionsDialog::options() const
{
    return {m_types->text().toStdString(), m_retries->value()};
}

bool editExplorerOptions(Application& app, QWidget* parent)
{
    ExplorerOptionsDialog dialog(ReadExplorerOptions(app.settings()), parent);
    KeepDialogPlacement(dialog, &app.registry(), "SiteExplorerOptions");
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const ExplorerOptions options = dialog.options();
    return app.changeSettings([&](AppSettings& settings) { WriteExplorerOptions(settings, options); });
}

}  // namespace fetchora
