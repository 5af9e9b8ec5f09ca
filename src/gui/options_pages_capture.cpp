// The Monitor, Graph/Log and File Manager pages.
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

#include <memory>
#include <utility>
#include <vector>

#include "config/app_settings.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

constexpr IntRange kGraphScaleRange{1, 1048576};
constexpr IntRange kCellSizeRange{1, 1024};
constexpr IntRange kDeviceIndexRange{0, 255};

}  // namespace

MonitorPage::MonitorPage(QWidget* parent) : FormPage("Monitor_PPG", tr("Monitor"), parent)
{
    const std::vector<std::pair<uint32_t, QString>> switches = {
        {0x1, tr("&Watch the clipboard for URLs")},
        {0x2, tr("As&k before adding a URL taken from the clipboard")},
        {0x80, tr("Fill the job's &comment with the clipboard's text")},
        {0x4, tr("Catch clicks in &Firefox")},
        {0x8, tr("Catch clicks in C&hromium browsers")},
        {0x10, tr("Ask &before adding a caught click")},
        {0x20, tr("Catch a click only while &Alt is held")},
        {0x40, tr("&Open cancelled URLs in the browser")},
        {0x100, tr("Catch clicks by the first &method")},
        {0x200, tr("Match file types with wil&dcards")},
    };
    // One word for all switches, written once; bits without a box (the menu's
    // "disable browser catching" among them) stay as they were.
    auto boxes = std::make_shared<std::vector<std::pair<QCheckBox*, uint32_t>>>();
    int id = 1;
    for (const auto& [bit, text] : switches) {
        auto* box = new QCheckBox(text, this);
        setControlId(box, id++);
        form()->addRow(box);
        boxes->emplace_back(box, bit);
    }
    auto stored = std::make_shared<uint32_t>(0);
    addBinding({[boxes, stored](const AppSettings& s) {
                    *stored = static_cast<uint32_t>(s.GetOption(OptionId::MonitorFlags));
                    for (const auto& [box, bit] : *boxes)
                        box->setChecked((*stored & bit) != 0);
                },
                {},
                [boxes, stored](AppSettings& s) {
                    uint32_t flags = *stored;
                    for (const auto& [box, bit] : *boxes)
                        flags = box->isChecked() ? (flags | bit) : (flags & ~bit);
                    if (flags != *stored)
                        s.SetOption(OptionId::MonitorFlags, static_cast<int32_t>(flags));
                }});
    addText(11, tr("File &types to catch:"), OptionId::MonitorType);
}

GraphLogPage::GraphLogPage(QWidget* parent) : FormPage("Color_PPG", tr("Graph/Log"), parent)
{
    using O = OptionId;
    addColor(1, tr("&State text:"), O::ColorState);
    addColor(2, tr("State &background:"), O::ColorStateBk);
    addColor(3, tr("&Error text:"), O::ColorError);
    addColor(4, tr("E&rror background:"), O::ColorErrorBk);
    addColor(5, tr("&Command text:"), O::ColorCommand);
    addColor(6, tr("C&ommand background:"), O::ColorCommandBk);
    addColor(7, tr("Ser&ver text:"), O::ColorServer);
    addColor(8, tr("Server back&ground:"), O::ColorServerBk);
    addNumber(9, tr("Graph sc&ale (KB/s):"), O::GraphScale, kGraphScaleRange);
    addColor(10, tr("Graph &foreground:"), O::GraphFore);
    addColor(11, tr("Graph bac&kground:"), O::GraphBack);
    addCheck(12, tr("Draw the speed graph in the &drop zone"), O::DropZoneGraph);
    addNumber(13, tr("Block map cell si&ze (KB):"), O::BlockMapCellSize, kCellSizeRange);
    addColor(14, tr("Block &map background:"), O::BlockBack);
}

FileManagerPage::FileManagerPage(QWidget* parent) : FormPage("FileMan_PPG", tr("File Manager"), parent)
{
    using O = OptionId;
    addChoice(1, tr("Move a downloaded job to another &category:"), O::MoveDownloaded,
              [] { return uiList(kStrMoveDownloadedChoices); });
    addChoice(2, tr("When the &file exists:"), O::ExistingFileAction, [] { return uiList(kStrExistingFileChoices); });
    QCheckBox* scan = addCheck(3, tr("&Scan downloaded files for viruses"), O::VirusScan);
    auto* browse = new QPushButton(tr("B&rowse..."), this);
    setControlId(browse, 5);
    QLineEdit* scanner = addText(4, tr("Scanner &program:"), O::VirusScanner, {browse});
    connect(browse, &QPushButton::clicked, this, [this, scanner] {
        const QString file = QFileDialog::getOpenFileName(this, uiString(kStrScannerProgramTitle), scanner->text());
        if (!file.isEmpty())
            scanner->setText(file);
    });
    QLineEdit* args = addText(6, tr("Scanner &arguments:"), O::VirusScannerArgs);
    QLineEdit* types = addText(7, tr("File &types to scan:"), O::VirusScanTypes);
    for (QWidget* field : {static_cast<QWidget*>(scanner), static_cast<QWidget*>(browse), static_cast<QWidget*>(args),
                           static_cast<QWidget*>(types)})
        enableWith(scan, field);
    QCheckBox* open = addCheck(8, tr("&Open files of these types when they finish"), O::OpenWhenDone);
    enableWith(open, addText(9, tr("Types to op&en:"), O::OpenTypes));
    QCheckBox* portable = addCheck(10, tr("Move some files to a portable storage &device"), O::PortableStorage);
    enableWith(portable, addNumber(11, tr("Device &number:"), O::PortableDeviceIndex, kDeviceIndexRange));
}

}  // namespace fetchora
