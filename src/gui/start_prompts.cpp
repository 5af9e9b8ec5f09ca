#include "gui/start_prompts.h"

#include <QMessageBox>
#include <QProgressDialog>

#include <iostream>

#include "gui/ui_text.h"

namespace fetchora {

namespace {

constexpr uint32_t kTakeOverId = 40701;
constexpr uint32_t kWaitId = 40702;
constexpr uint32_t kCancelId = 40703;
constexpr uint32_t kStillRunningId = 40704;
constexpr uint32_t kRefusedId = 40705;
constexpr uint32_t kItRefusedId = 40706;
constexpr uint32_t kUrlRefusedId = 40707;
constexpr uint32_t kNoAnswerId = 40708;
constexpr uint32_t kNotAnsweringId = 40709;
constexpr uint32_t kProgramNameId = 57344;

QString withDetail(uint32_t id, const std::string& detail, uint32_t noDetailId)
{
    return uiString(id).arg(detail.empty() ? uiString(noDetailId) : QString::fromStdString(detail));
}

}  // namespace

bool askTakeOverFromDaemon(QWidget* parent)
{
    return QMessageBox::question(parent, uiString(kProgramNameId), uiString(kTakeOverId),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
        == QMessageBox::Yes;
}

void setUpTakeOverWait(QProgressDialog& progress)
{
    progress.setLabelText(uiString(kWaitId));
    progress.setCancelButtonText(uiString(kCancelId));
    progress.setWindowTitle(uiString(kProgramNameId));
}

QString startFailureText(StartFailure failure, const std::string& detail)
{
    switch (failure) {
    case StartFailure::DaemonStillRunning: return uiString(kStillRunningId);
    case StartFailure::DaemonRefused: return withDetail(kRefusedId, detail, kItRefusedId);
    case StartFailure::UrlRefused: return withDetail(kUrlRefusedId, detail, kNoAnswerId);
    case StartFailure::NoAnswer: return withDetail(kNotAnsweringId, detail, kNoAnswerId);
    }
    return {};
}

void showStartError(const QString& text, QWidget* parent)
{
    std::cerr << "fetchora: " << text.toStdString() << "\n";
    QMessageBox::critical(parent, uiString(kProgramNameId), text);
}

}  // namespace fetchora
