#include "gui/check_list_dialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace fetchora {

std::optional<std::vector<bool>> askCheckList(QWidget* parent, const QString& title, const QString& prompt,
                                              const std::vector<CheckChoice>& choices, int atLeast, const char* section)
{
    QDialog dialog(parent);
    dialog.setObjectName(QString::fromLatin1(section));
    dialog.setWindowTitle(title);
    auto* layout = new QVBoxLayout(&dialog);
    auto* label = new QLabel(prompt, &dialog);
    auto* list = new QListWidget(&dialog);
    label->setBuddy(list);
    // Ids for translations: the list 10, its label 510, OK 1 and Cancel 2.
    list->setProperty("controlId", 10);
    label->setProperty("controlId", 510);
    for (const CheckChoice& choice : choices) {
        auto* item = new QListWidgetItem(choice.text, list);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(choice.checked ? Qt::Checked : Qt::Unchecked);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto ticked = [list] {
        int count = 0;
        for (int row = 0; row < list->count(); ++row)
            count += list->item(row)->checkState() == Qt::Checked ? 1 : 0;
        return count;
    };
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setProperty("controlId", 1);
    buttons->button(QDialogButtonBox::Cancel)->setProperty("controlId", 2);
    ok->setEnabled(ticked() >= atLeast);
    QObject::connect(list, &QListWidget::itemChanged, &dialog, [=] { ok->setEnabled(ticked() >= atLeast); });
    layout->addWidget(label);
    layout->addWidget(list);
    layout->addWidget(buttons);
    dialog.resize(dialog.fontMetrics().averageCharWidth() * 40, dialog.fontMetrics().height() * 20);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    std::vector<bool> answer;
    for (int row = 0; row < list->count(); ++row)
        answer.push_back(list->item(row)->checkState() == Qt::Checked);
    return answer;
}

}  // namespace fetchora
