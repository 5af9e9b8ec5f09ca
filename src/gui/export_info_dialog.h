#pragma once
// "Export Downloaded information": the jobs of a category (and of its
// sub-categories when asked) as an HTML page shaped by an export style, or
// as one job information file per job. A file that cannot be written is
// said and the dialog stays open; a finished export closes it.
//
// Thread: the GUI thread (the loop thread). Borrows the application and
// the view for its lifetime.
#include <QDialog>

#include <filesystem>

class QCheckBox;
class QComboBox;
class QLabel;
class QRadioButton;

namespace fetchora {

class Application;
class MainView;
struct InformationExportRequest;

class ExportInfoDialog final : public QDialog {
    Q_OBJECT
public:
    ExportInfoDialog(Application& app, MainView& view, QWidget* parent = nullptr);

    static constexpr const char* kSectionName = "ExportInfo_Dlg";

    // The request the fields make for an output file.
    InformationExportRequest request(const std::filesystem::path& output) const;
    // Runs the export into output (ignored for the log files). Empty when it
    // succeeded; otherwise the message, which has been shown.
    QString exportTo(const std::filesystem::path& output);

    QComboBox* categoryBox() const { return m_category; }
    QComboBox* styleBox() const { return m_style; }
    QRadioButton* htmlButton() const { return m_html; }
    QRadioButton* logButton() const { return m_log; }
    QCheckBox* subCategoriesBox() const { return m_subCategories; }
    QCheckBox* viewBox() const { return m_view; }

public slots:
    // HTML asks for the page's file first; then the export runs.
    void accept() override;

private:
    void updateEnabled();

    Application& m_app;
    MainView& m_mainView;
    QComboBox* m_category = nullptr;
    QRadioButton* m_html = nullptr;
    QRadioButton* m_log = nullptr;
    QCheckBox* m_subCategories = nullptr;
    QComboBox* m_style = nullptr;
    QLabel* m_noStyle = nullptr;
    QCheckBox* m_view = nullptr;
};

void showExportInfoDialog(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora
