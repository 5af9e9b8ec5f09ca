// The General, Connection and Protocol pages.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include <memory>

#include "config/app_settings.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_text.h"

namespace fetchora {

namespace {

constexpr IntRange kAutoSaveMinutesRange{1, 1440};
constexpr IntRange kBlockSizeKbRange{10, 102400};
constexpr int32_t kKb = 1024;

}  // namespace

GeneralPage::GeneralPage(QWidget* parent) : FormPage("General_PPG", tr("General"), parent)
{
    using O = OptionId;
    addCheck(1, tr("Start with the main window &hidden"), O::StartHidden);
    QCheckBox* nonResumable
        = addCheck(2, tr("Still download from sites that cannot &resume"), O::SkipNonResumable, true);
    QCheckBox* stop = addCheck(3, tr("&Stop such a download when an error occurs"), O::StopOnError);
    enableWith(nonResumable, stop);
    QCheckBox* autoSave = addCheck(4, tr("Save the job list &automatically"), O::AutoSave);
    enableWith(autoSave, addNumber(5, tr("Minutes &between saves:"), O::AutoSaveTime, kAutoSaveMinutesRange));
    addCheck(6, tr("Take the file &date and time from the server"), O::FileTimeFromServer);
    addCheck(7, tr("Start downloading when the &program starts"), O::StartDownloadingAtLaunch);
    addCheck(8, tr("Give unfinished files the e&xtension \".kx!\""), O::UnfinishedExtension);
    addCheck(9, tr("Back &up the job list once a day"), O::DailyBackup);
    addCheck(10, tr("Write a separate &log file for each download"), O::SeparateLogFile);
    addCheck(11, tr("&Move or delete the log file with its download"), O::MoveLogWithFile);
    addNumber(12, tr("Mi&nimum part size (KB):"), O::BlockSize, kBlockSizeKbRange, kKb);
    QCheckBox* buffer = addCheck(13, tr("&Write data to disk in blocks"), O::WriteEveryBufferSize);
    enableWith(buffer, addNumber(14, tr("Block si&ze for writing (KB):"), O::BufferSize, kBufferSizeRange));
}

ConnectionPage::ConnectionPage(QWidget* parent) : FormPage("Conn_PPG", tr("Connection"), parent)
{
    using O = OptionId;
    addNumber(1, tr("Connect &timeout (seconds):"), O::ConnectTimeout, kTimeoutRange);
    addNumber(2, tr("&Data timeout (seconds):"), O::DataTimeout, kTimeoutRange);
    addNumber(3, tr("&Wait before a retry (seconds):"), O::RetryDelay, kRetryDelayRange);
    // Its upper end is "MaxSimJobs", as the settings held it at load.
    auto maxSimJobs = std::make_shared<int32_t>(kMaxSimJobsRange.max);
    addBinding({[maxSimJobs](const AppSettings& s) { *maxSimJobs = s.GetOption(O::MaxSimJobs); }, {}, {}});
    addNumber(
        4, tr("&Max. simultaneous jobs:"),
        [maxSimJobs] {
            return IntRange{1, *maxSimJobs};
        },
        [](const AppSettings& s) { return s.GetOption(O::SimJobs); },
        [](AppSettings& s, int32_t value) { s.SetOption(O::SimJobs, value); });
    QCheckBox* always = addCheck(6, tr("&Always retry"), O::AlwaysRetry);
    enableWith(always, addNumber(5, tr("&Number of retries:"), O::RetryCount, kRetryCountRange), false);
    enableWith(always, addCheck(7, tr("Stop after 99 tries that bring n&o data"), O::StopAfterFruitlessTries));

    QComboBox* type = addChoice(
        8, tr("&Connection type:"), [] { return uiList(kStrConnectionTypes); },
        [](const AppSettings& s) { return s.connType(); },
        [](AppSettings& s, int32_t value) { s.setConnType(value); });
    // The speed field is editable for "Other" only; the other types show
    // their own figure.
    auto storedBandWidth = std::make_shared<int32_t>(0);
    addBinding({[storedBandWidth](const AppSettings& s) { *storedBandWidth = s.bandWidth(); }, {}, {}});
    QLineEdit* bandWidth = addNumber(
        9, tr("Connection &speed (bytes/s):"), [] { return kBandWidthRange; },
        [](const AppSettings& s) { return s.bandWidth(); },
        [type](AppSettings& s, int32_t value) {
            if (type->currentIndex() == kConnTypeOther)
                s.setBandWidth(value);
        });
    auto follow = [type, bandWidth, storedBandWidth] {
        const int index = type->currentIndex();
        setFieldEnabled(bandWidth, index == kConnTypeOther);
        if (index >= 0 && index < kConnTypeOther)
            bandWidth->setText(QString::number(kConnTypeBandwidth[static_cast<size_t>(index)]));
        else
            bandWidth->setText(QString::number(*storedBandWidth));
    };
    connect(type, &QComboBox::currentIndexChanged, bandWidth, follow);
    addBinding({[follow](const AppSettings&) { follow(); }, {}, {}});
    // The limits may not exceed the connection's speed.
    auto speed = [type, bandWidth] {
        const int index = type->currentIndex();
        if (index >= 0 && index < kConnTypeOther)
            return kConnTypeBandwidth[static_cast<size_t>(index)];
        bool ok = false;
        const qlonglong typed = bandWidth->text().trimmed().toLongLong(&ok);
        if (ok && typed >= kBandWidthRange.min && typed <= kBandWidthRange.max)
            return static_cast<int32_t>(typed);
        return kBandWidthRange.max;
    };
    addNumber(
        10, tr("Manual speed &limit (bytes/s):"),
        [speed] {
            return IntRange{kSpeedLimitRange.min, speed()};
        },
        [](const AppSettings& s) { return s.speedLimit(); },
        [](AppSettings& s, int32_t value) { s.setSpeedLimit(value); });
    addNumber(
        11, tr("&Keep free for each outside connection (bytes/s):"),
        [speed] {
            return IntRange{kKeepRange.min, speed()};
        },
        [](const AppSettings& s) { return s.keepPerConnection(); },
        [](AppSettings& s, int32_t value) { s.setKeepPerConnection(value); });
}

ProtocolPage::ProtocolPage(QWidget* parent) : FormPage("Protocol_PPG", tr("Protocol"), parent)
{
    using O = OptionId;
    addCheck(1, tr("Send and keep &cookies"), O::SendCookies);
    addText(2, tr("FTP &ASCII mode file types:"), O::AsciiModeTypes);
    addText(3, tr("&Password for anonymous FTP:"), O::AnonymousEMail);
    addCheck(4, tr("&Reuse FTP connections"), O::ReuseFtpConnections);
    addCheck(5, tr("Do not send the r&eferrer"), O::NoReferer);
    // The agents' own texts are what is sent, never translated.
    const auto agents = [] {
        return QStringList{uiString(kStrNoUserAgent),
                           QStringLiteral("Fetchora"),
                           QStringLiteral("Mozilla/2.0 (compatible; MSIE 3.02; Windows 95)"),
                           QStringLiteral("Mozilla/4.0 (compatible; MSIE 4.01; Windows 98)"),
                           QStringLiteral("Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)"),
                           QStringLiteral("Mozilla/3.04 (Win98; I))"),
                           QStringLiteral("Mozilla/4.05 [en] (Win98; I))"),
                           uiString(kStrCustomUserAgent)};
    };
    QComboBox* agent = addChoice(6, tr("&User agent:"), O::UserAgentChoice, agents);
    QLineEdit* text = addText(7, tr("Custom user agent &text:"), O::UserAgentText);
    // Choices from 7 up send the custom text.
    auto follow = [agent, text] { setFieldEnabled(text, agent->currentIndex() >= 7); };
    connect(agent, &QComboBox::currentIndexChanged, text, follow);
    follow();
}

}  // namespace fetchora
