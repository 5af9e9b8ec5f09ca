#pragma once
// "Add batch job": a URL template with "(*)" markers and a number or letter
// series, with a preview of the first and the last URL it makes. OK checks
// the series (a marker in a URL that can be fetched, a width of 1 to 20, not
// more URLs than can be added at once) and, when it fails, says why and
// stays open with the fields as typed.
//
// Thread: the GUI thread (the loop thread).
#include <QDialog>

#include "lists/batch_urls.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSpinBox;

namespace fetchora {

class MainView;

class BatchDialog final : public QDialog {
    Q_OBJECT
public:
    explicit BatchDialog(QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "Batch_Dlg";

    // The series as the fields give it now. A number that is not a whole
    // number in range reads as 0; validate() names it.
    BatchSeries series() const;
    // Empty when OK may close; otherwise the message OK shows.
    QString validate() const;

    QLineEdit* urlEdit() const { return m_url; }
    QRadioButton* numbersButton() const { return m_numbers; }
    QRadioButton* lettersButton() const { return m_letters; }
    QLineEdit* fromEdit() const { return m_from; }
    QLineEdit* toEdit() const { return m_to; }
    QSpinBox* widthBox() const { return m_width; }
    QLineEdit* firstLetterEdit() const { return m_firstLetter; }
    QLineEdit* lastLetterEdit() const { return m_lastLetter; }
    // The preview as shown: first URL, "...", last URL on three lines.
    QString previewText() const;
    QString countText() const;

public slots:
    void accept() override;

private:
    void updatePreview();
    void updateEnabled();

    QLineEdit* m_url = nullptr;
    QRadioButton* m_numbers = nullptr;
    QLineEdit* m_from = nullptr;
    QLineEdit* m_to = nullptr;
    QSpinBox* m_width = nullptr;
    QRadioButton* m_letters = nullptr;
    QLineEdit* m_firstLetter = nullptr;
    QLineEdit* m_lastLetter = nullptr;
    QPlainTextEdit* m_preview = nullptr;
    QLabel* m_count = nullptr;
};

// Runs the dialog; on OK the series is added through the view (the first URL
// with the add-download dialog). The number of jobs added.
std::size_t showBatchDialog(MainView& view, QWidget* parent);

}  // namespace fetchora
