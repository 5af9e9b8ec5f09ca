#pragma once
// A small dialog of check boxes ("&Buttons...", "&Columns..."): the user ticks
// what is shown. OK answers the ticks in the order given; Cancel answers
// nothing.
//
// Thread: the GUI thread.
#include <QString>

#include <optional>
#include <vector>

class QWidget;

namespace fetchora {

struct CheckChoice {
    QString text;
    bool checked = false;
};

// atLeast: OK stays off while fewer boxes are ticked (a list needs one column).
// section: the dialog's name for translations ("Buttons_Dlg").
std::optional<std::vector<bool>> askCheckList(QWidget* parent, const QString& title, const QString& prompt,
                                              const std::vector<CheckChoice>& choices, int atLeast,
                                              const char* section = "CheckList_Dlg");

}  // namespace fetchora
