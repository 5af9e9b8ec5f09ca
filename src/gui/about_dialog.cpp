#include "gui/about_dialog.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/dialog_placement.h"
#include "gui/gui_prompts.h"
#include "gui/options_form.h"

#ifndef FETCHORA_VERSION
#error "FETCHORA_VERSION comes from the build (src/gui/CMakeLists.txt)"
#endif

namespace fetchora {

namespace {

constexpr const char* kSection = "About_Dlg";

QLabel* addLine(QVBoxLayout* column, const QString& text, int id, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    setControlId(label, id);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(label);
    return label;
}

}  // namespace

QString programVersion()
{
    return QStringLiteral(FETCHORA_VERSION);
}

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSection));
    setWindowTitle(tr("About Fetchora"));
    const int iconSide = fontMetrics().height() * 4;
    auto* icon = new QLabel(this);
    setControlId(icon, 10);
    icon->setPixmap(QIcon::fromTheme(QStringLiteral("fetchora"), QIcon(QStringLiteral(":/icons/fetchora.svg")))
                        .pixmap(iconSide, iconSide));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    auto* column = new QVBoxLayout;
    QLabel* name = addLine(column, QStringLiteral("Fetchora"), 11, this);
    QFont big = name->font();
    big.setBold(true);
    // A font given in pixels has no point size.
    if (big.pointSizeF() > 0)
        big.setPointSizeF(big.pointSizeF() * 1.6);
    else
        big.setPixelSize(big.pixelSize() * 8 / 5);
    name->setFont(big);
    addLine(column, tr("Version %1").arg(programVersion()), 12, this);
    addLine(column,
            tr("A download manager: it splits each download into parts fetched at once, resumes interrupted "
               "ones, keeps a queue under a speed limit, starts and stops work on a schedule and picks up "
               "URLs from the clipboard, the browser and dropped links."),
            13, this);
    addLine(
        column,
        tr("Built with Qt %1, running on Qt %2.").arg(QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion())),
        14, this);
    addLine(column, tr("Copyright \u00a9 the Fetchora developers. Provided as is, without warranty of any kind."), 15,
            this);
    column->addStretch(1);

    auto* body = new QHBoxLayout;
    body->addWidget(icon);
    body->addSpacing(fontMetrics().averageCharWidth() * 2);
    body->addLayout(column, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    setControlId(buttons->button(QDialogButtonBox::Close), kCancelControlId);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);
}

void showAboutDialog(QWidget* parent, Registry* registry)
{
    AboutDialog dialog(parent);
    KeepDialogPlacement(dialog, registry, kSection);
    dialog.exec();
}

}  // namespace fetchora
