#include "gui/batch_dialog.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSpinBox>
#include <QVBoxLayout>

#include "gui/rules_controls.h"
#include "gui/ui_text.h"
#include "shell/list_commands.h"

namespace fetchora {

namespace {

constexpr uint32_t kStrMoreThanUrls = 41821;  // "%1" the largest count
constexpr uint32_t kStrUrlCount = 41822;

// A field of the number series: digits only, at most what 64 bits hold.
QLineEdit* numberEdit(const QString& text, QWidget* parent)
{
    auto* edit = new QLineEdit(text, parent);
    edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,20}")), edit));
    edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 24);
    return edit;
}

QLineEdit* letterEdit(QWidget* parent)
{
    auto* edit = new QLineEdit(parent);
    edit->setMaxLength(1);
    edit->setMaximumWidth(edit->fontMetrics().averageCharWidth() * 6);
    return edit;
}

bool readNumber(const QLineEdit* edit, uint64_t& value)
{
    bool ok = false;
    value = edit->text().toULongLong(&ok);
    return ok;
}

QString fromUtf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

BatchDialog::BatchDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSectionName));
    setWindowTitle(tr("Add batch job"));

    m_url = new QLineEdit(this);
    m_url->setMinimumWidth(fontMetrics().averageCharWidth() * 60);
    m_url->setPlaceholderText(QStringLiteral("http://example.com/file(*).zip"));
    auto* urlLabel = new QLabel(tr("&URL:"), this);
    urlLabel->setBuddy(m_url);
    auto* hint = new QLabel(tr("Every (*) in the URL is replaced by the number or letter of the series."), this);
    hint->setWordWrap(true);

    m_numbers = new QRadioButton(tr("&From:"), this);
    m_from = numberEdit(QStringLiteral("1"), this);
    auto* toLabel = new QLabel(tr("&To:"), this);
    m_to = numberEdit(QStringLiteral("10"), this);
    toLabel->setBuddy(m_to);
    auto* widthLabel = new QLabel(tr("Wi&ldcard bytes:"), this);
    m_width = new QSpinBox(this);
    m_width->setRange(kMinBatchWidth, kMaxBatchWidth);
    m_width->setValue(1);
    widthLabel->setBuddy(m_width);

    m_letters = new QRadioButton(tr("F&rom:"), this);
    m_firstLetter = letterEdit(this);
    m_firstLetter->setPlaceholderText(QStringLiteral("a"));
    auto* lastLabel = new QLabel(tr("T&o:"), this);
    m_lastLetter = letterEdit(this);
    m_lastLetter->setPlaceholderText(QStringLiteral("z"));
    lastLabel->setBuddy(m_lastLetter);
    auto* caseNote = new QLabel(tr("Note: It is case sensitive"), this);
    m_numbers->setChecked(true);

    auto* series = new QGridLayout;
    series->addWidget(m_numbers, 0, 0);
    series->addWidget(m_from, 0, 1);
    series->addWidget(toLabel, 0, 2);
    series->addWidget(m_to, 0, 3);
    series->addWidget(widthLabel, 0, 4);
    series->addWidget(m_width, 0, 5);
    series->addWidget(m_letters, 1, 0);
    series->addWidget(m_firstLetter, 1, 1);
    series->addWidget(lastLabel, 1, 2);
    series->addWidget(m_lastLetter, 1, 3);
    series->addWidget(caseNote, 1, 4, 1, 2);
    series->setColumnStretch(6, 1);

    auto* previewLabel = new QLabel(tr("&Preview:"), this);
    m_preview = new QPlainTextEdit(this);
    m_preview->setReadOnly(true);
    m_preview->setFixedHeight(m_preview->fontMetrics().lineSpacing() * 4 + 2 * m_preview->frameWidth()
                              + static_cast<int>(m_preview->document()->documentMargin()) * 2);
    previewLabel->setBuddy(m_preview);
    m_count = new QLabel(this);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &BatchDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(urlLabel);
    layout->addWidget(m_url);
    layout->addWidget(hint);
    layout->addLayout(series);
    layout->addWidget(previewLabel);
    layout->addWidget(m_preview);
    layout->addWidget(m_count);
    layout->addWidget(buttons);

    setTabOrder(m_url, m_numbers);
    setTabOrder(m_numbers, m_from);
    setTabOrder(m_from, m_to);
    setTabOrder(m_to, m_width);
    setTabOrder(m_width, m_letters);
    setTabOrder(m_letters, m_firstLetter);
    setTabOrder(m_firstLetter, m_lastLetter);
    setTabOrder(m_lastLetter, m_preview);

    int id = 2101;
    for (QObject* control : std::initializer_list<QObject*>{m_url, m_numbers, m_from, m_to, m_width, m_letters,
                                                            m_firstLetter, m_lastLetter, m_preview, m_count})
        setControlId(control, id++);
    setControlId(urlLabel, 2151);
    setControlId(toLabel, 2152);
    setControlId(widthLabel, 2153);
    setControlId(lastLabel, 2154);
    setControlId(caseNote, 2155);
    setControlId(previewLabel, 2156);
    setControlId(hint, 2157);
    setControlId(buttons->button(QDialogButtonBox::Ok), 1);
    setControlId(buttons->button(QDialogButtonBox::Cancel), 2);

    for (QLineEdit* edit : {m_url, m_from, m_to, m_firstLetter, m_lastLetter})
        connect(edit, &QLineEdit::textChanged, this, &BatchDialog::updatePreview);
    connect(m_width, &QSpinBox::valueChanged, this, &BatchDialog::updatePreview);
    connect(m_numbers, &QRadioButton::toggled, this, [this] {
        updateEnabled();
        updatePreview();
    });
    updateEnabled();
    updatePreview();
}

BatchSeries BatchDialog::series() const
{
    BatchSeries series;
    series.urlTemplate = m_url->text().trimmed().toStdString();
    series.kind = m_numbers->isChecked() ? BatchKind::Numbers : BatchKind::Letters;
    readNumber(m_from, series.firstNumber);
    readNumber(m_to, series.lastNumber);
    series.width = m_width->value();
    series.firstLetter = m_firstLetter->text().toStdString();
    series.lastLetter = m_lastLetter->text().toStdString();
    return series;
}

QString BatchDialog::validate() const
{
    if (m_numbers->isChecked()) {
        uint64_t value = 0;
        if (!readNumber(m_from, value))
            return tr("\"From\" must be a whole number from 0 to %1.").arg(UINT64_MAX);
        if (!readNumber(m_to, value))
            return tr("\"To\" must be a whole number from 0 to %1.").arg(UINT64_MAX);
    }
    const BatchValidation validation = ValidateBatch(series());
    return validation.ok() ? QString() : fromUtf8(validation.message);
}

QString BatchDialog::previewText() const
{
    return m_preview->toPlainText();
}

QString BatchDialog::countText() const
{
    return m_count->text();
}

void BatchDialog::accept()
{
    const QString problem = validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

void BatchDialog::updateEnabled()
{
    const bool numbers = m_numbers->isChecked();
    for (QWidget* field : std::initializer_list<QWidget*>{m_from, m_to, m_width})
        field->setEnabled(numbers);
    for (QWidget* field : std::initializer_list<QWidget*>{m_firstLetter, m_lastLetter})
        field->setEnabled(!numbers);
}

void BatchDialog::updatePreview()
{
    uint64_t ignored = 0;
    const bool numbersRead = !m_numbers->isChecked() || (readNumber(m_from, ignored) && readNumber(m_to, ignored));
    const BatchSeries current = series();
    QString preview;
    if (numbersRead)
        preview = fromUtf8(BatchPreview(current)).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    m_preview->setPlainText(preview);
    if (preview.isEmpty()) {
        m_count->clear();
        return;
    }
    const uint64_t count = BatchCount(current);
    // The count saturates for the whole 64-bit range.
    m_count->setText(count == UINT64_MAX ? uiString(kStrMoreThanUrls).arg(count - 1)
                                         : uiString(kStrUrlCount).arg(static_cast<qulonglong>(count)));
}

std::size_t showBatchDialog(MainView& view, QWidget* parent)
{
    BatchDialog dialog(parent);
    if (dialog.exec() != QDialog::Accepted)
        return 0;
    bool busy = false;
    const BatchAddOutcome outcome = addBatchJobs(view, dialog.series(), [&busy](std::size_t remaining) {
        if (remaining > 0) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            busy = true;
        }
    });
    if (busy)
        QApplication::restoreOverrideCursor();
    if (!outcome.validation.ok())
        QMessageBox::warning(parent, dialog.windowTitle(), fromUtf8(outcome.validation.message));
    return outcome.added;
}

}  // namespace fetchora
