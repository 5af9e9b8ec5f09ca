#include "gui/countdown_dialog.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace fetchora {

CountdownDialog::CountdownDialog(QWidget* parent) : QDialog(parent)
{
    setModal(false);
    // Its name and ids for translations: the text 10, OK 1, Cancel 2.
    setObjectName(QStringLiteral("Countdown_Dlg"));
    auto* layout = new QVBoxLayout(this);
    m_label = new QLabel(this);
    m_label->setProperty("controlId", 10);
    m_label->setWordWrap(true);
    layout->addWidget(m_label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setProperty("controlId", 1);
    buttons->button(QDialogButtonBox::Cancel)->setProperty("controlId", 2);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_timer.setInterval(1000);
    connect(&m_timer, &QTimer::timeout, this, &CountdownDialog::tick);
}

CountdownDialog::~CountdownDialog()
{
    // Destroyed first: the completion is dropped, as the interface says.
    m_done = {};
}

void CountdownDialog::start(const CountdownRequest& request, std::function<void(bool ok)> done)
{
    if (m_done)
        finish(false);
    setWindowTitle(QString::fromStdString(request.caption));
    m_textTemplate = request.text;
    m_secondsLeft = std::max(0, request.seconds);
    m_done = std::move(done);
    showText();
    if (m_secondsLeft == 0) {
        // Nothing to count: completes as reaching zero does, but after
        // start has returned.
        QTimer::singleShot(0, this, [this] {
            if (m_done && m_secondsLeft == 0)
                finish(true);
        });
        return;
    }
    m_timer.start();
    show();
    raise();
}

QString CountdownDialog::text() const
{
    return m_label->text();
}

void CountdownDialog::tick()
{
    if (!m_done)
        return;
    if (--m_secondsLeft <= 0) {
        m_secondsLeft = 0;
        finish(true);
        return;
    }
    showText();
}

void CountdownDialog::done(int result)
{
    if (m_done)
        finish(result == QDialog::Accepted);
    else
        QDialog::done(result);
}

void CountdownDialog::finish(bool ok)
{
    m_timer.stop();
    auto done = std::move(m_done);
    m_done = {};
    QDialog::done(ok ? QDialog::Accepted : QDialog::Rejected);
    hide();
    if (done)
        done(ok);
}

void CountdownDialog::showText()
{
    m_label->setText(QString::fromStdString(CountdownText(m_textTemplate, m_secondsLeft)));
}

}  // namespace fetchora
