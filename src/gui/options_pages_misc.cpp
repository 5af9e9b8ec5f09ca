// The Dial-Up Networking, Sounds, Schedule and Mirrors pages.
#include <QCheckBox>
#include <QDateTime>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimeEdit>

#include <array>
#include <memory>

#include "config/app_settings.h"
#include "gui/gui_prompts.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_language.h"
#include "gui/ui_text.h"
#include "shell/file_filters.h"

namespace fetchora {

namespace {

constexpr uint32_t kScheduleDays = 0x7F;
constexpr uint32_t kScheduleStopEnabled = 0x8000;

// The stored time with its time of day replaced; only the time of day of a
// schedule time is used, so the date part is kept as it was.
int32_t withTimeOfDay(int32_t stored, const QTime& time)
{
    QDateTime when = QDateTime::fromSecsSinceEpoch(stored);
    when.setTime(time);
    return static_cast<int32_t>(when.toSecsSinceEpoch());
}

}  // namespace

DialUpPage::DialUpPage(QWidget* parent) : FormPage("DialUp_PPG", tr("Dial-Up Networking"), parent)
{
    using O = OptionId;
    auto* notice = new QLabel(tr("Dial-up networking is not available on this system."), this);
    setControlId(notice, 9);
    notice->setWordWrap(true);
    form()->addRow(notice);
    QList<QWidget*> controls;
    controls << addCheck(1, tr("&Redial when the connection drops"), O::Redial);
    controls << addCheck(2, tr("&Hang up when all jobs are done"), O::HangUpWhenDone);
    controls << addText(3, tr("&Connection:"), O::DialUpEntry);
    controls << addText(4, tr("&User name:"), O::DialUpUserName);
    QLineEdit* password = addText(5, tr("&Password:"), O::DialUpPassword);
    password->setEchoMode(QLineEdit::Password);
    controls << password;
    controls << addNumber(6, tr("Redial &attempts:"), O::DialUpRetry, kDialUpRetryRange);
    controls << addNumber(7, tr("&Wait between attempts (seconds):"), O::DialUpWait, kDialUpWaitRange);
    controls << addText(8, tr("&Title of the connection window:"), O::DialUpTitle);
    for (QWidget* control : controls)
        control->setEnabled(false);
}

SoundsPage::SoundsPage(std::function<void(const std::filesystem::path&)> player, QWidget* parent)
    : FormPage("Sound_PPG", tr("Sounds"), parent)
{
    using O = OptionId;
    auto play = std::make_shared<std::function<void(const std::filesystem::path&)>>(std::move(player));
    addCheck(1, tr("&Play sounds"), O::PlaySounds);
    struct Row {
        OptionId sound;
        OptionId bit;  // the switch of this sound; PlaySounds for the one without its own
        QString text;
    };
    const std::array<Row, 4> rows = {{{O::SoundAdded, O::PlaySounds, tr("Job &added:")},
                                      {O::SoundDone, O::PlayDoneSound, tr("Job &finished:")},
                                      {O::SoundFailed, O::PlayFailedSound, tr("Job fai&led:")},
                                      {O::SoundAllDone, O::PlayAllDoneSound, tr("All jobs &done:")}}};
    int id = 2;
    for (const Row& row : rows) {
        auto* edit = new QLineEdit(this);
        setControlId(edit, id + 1);
        edit->setPlaceholderText(uiString(kStrNoSound));
        // Four rows of the same buttons: no mnemonic would be unique.
        auto* browse = new QPushButton(tr("Browse..."), this);
        setControlId(browse, id + 2);
        auto* test = new QPushButton(tr("Test"), this);
        setControlId(test, id + 3);
        auto* line = new QHBoxLayout;
        line->addWidget(edit, 1);
        line->addWidget(browse);
        line->addWidget(test);
        if (row.bit == O::PlaySounds) {
            addRow(row.text, edit, line);
        } else {
            // The row's own switch doubles as its label.
            auto* box = new QCheckBox(row.text, this);
            setControlId(box, id);
            nameAfter(edit, box);
            form()->addRow(box, line);
            const OptionId bit = row.bit;
            addBinding({[box, bit](const AppSettings& s) { box->setChecked(s.GetOption(bit) != 0); },
                        {},
                        [box, bit](AppSettings& s) { s.SetOption(bit, box->isChecked() ? 1 : 0); }});
        }
        const OptionId sound = row.sound;
        addBinding(
            {[edit, sound](const AppSettings& s) { edit->setText(QString::fromStdString(s.GetOptionText(sound))); },
             {},
             [edit, sound](AppSettings& s) { s.SetOptionText(sound, edit->text().trimmed().toStdString()); }});
        connect(browse, &QPushButton::clicked, this, [this, edit] {
            const QString file = QFileDialog::getOpenFileName(
                this, uiString(kStrSoundFileTitle), edit->text(),
                QtFileFilter(fileFilter({{uiString(kStrSoundFiles).toStdString(), "*.wav;*.ogg;*.oga;*.flac;*.mp3"}})));
            if (!file.isEmpty())
                edit->setText(file);
        });
        connect(test, &QPushButton::clicked, this, [edit, play] {
            const QString file = edit->text().trimmed();
            if (!file.isEmpty() && *play)
                (*play)(std::filesystem::path(file.toStdString()));
        });
        auto follow = [edit, test] { test->setEnabled(!edit->text().trimmed().isEmpty()); };
        connect(edit, &QLineEdit::textChanged, test, follow);
        follow();
        id += 4;
    }
}

SchedulePage::SchedulePage(QWidget* parent) : FormPage("Schedule_PPG", tr("Schedule"), parent)
{
    const std::array<QString, 7> names = {tr("&Monday"), tr("&Tuesday"),  tr("&Wednesday"), tr("T&hursday"),
                                          tr("&Friday"), tr("S&aturday"), tr("S&unday")};
    auto days = std::make_shared<std::array<QCheckBox*, 7>>();
    for (size_t day = 0; day < names.size(); ++day) {
        (*days)[day] = new QCheckBox(names[day], this);
        setControlId((*days)[day], static_cast<int>(day) + 1);
        form()->addRow((*days)[day]);
    }
    auto* start = new QTimeEdit(this);
    setControlId(start, 8);
    start->setDisplayFormat(QStringLiteral("HH:mm"));
    start->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    addRow(tr("&Start at:"), start);
    auto* stopEnabled = new QCheckBox(tr("Sto&p at:"), this);
    setControlId(stopEnabled, 9);
    auto* stop = new QTimeEdit(this);
    setControlId(stop, 10);
    stop->setDisplayFormat(QStringLiteral("HH:mm"));
    stop->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    nameAfter(stop, stopEnabled);
    form()->addRow(stopEnabled, stop);
    enableWith(stopEnabled, stop);

    struct Loaded {
        uint32_t flags = 0;
        int32_t start = 0;
        int32_t stop = 0;
        QTime startShown;
        QTime stopShown;
    };
    auto loaded = std::make_shared<Loaded>();
    addBinding({[=](const AppSettings& s) {
                    loaded->flags = static_cast<uint32_t>(s.GetOption(OptionId::ScheduleFlags));
                    loaded->start = s.GetOption(OptionId::ScheduleStartTime);
                    loaded->stop = s.GetOption(OptionId::ScheduleStopTime);
                    for (size_t day = 0; day < days->size(); ++day)
                        (*days)[day]->setChecked((loaded->flags & (1u << day)) != 0);
                    stopEnabled->setChecked((loaded->flags & kScheduleStopEnabled) != 0);
                    loaded->startShown = QDateTime::fromSecsSinceEpoch(loaded->start).time();
                    loaded->stopShown = QDateTime::fromSecsSinceEpoch(loaded->stop).time();
                    start->setTime(loaded->startShown);
                    stop->setTime(loaded->stopShown);
                },
                {},
                [=](AppSettings& s) {
                    uint32_t flags = (loaded->flags & ~(kScheduleDays | kScheduleStopEnabled)) | kScheduleWrittenBit;
                    for (size_t day = 0; day < days->size(); ++day) {
                        if ((*days)[day]->isChecked())
                            flags |= 1u << day;
                    }
                    if (stopEnabled->isChecked())
                        flags |= kScheduleStopEnabled;
                    s.SetOption(OptionId::ScheduleFlags, static_cast<int32_t>(flags));
                    // A time written anew makes the schedule evaluate again, so
                    // only a time the user changed is written.
                    if (start->time() != loaded->startShown)
                        s.SetOption(OptionId::ScheduleStartTime, withTimeOfDay(loaded->start, start->time()));
                    if (stop->time() != loaded->stopShown)
                        s.SetOption(OptionId::ScheduleStopTime, withTimeOfDay(loaded->stop, stop->time()));
                }});
}

MirrorsPage::MirrorsPage(QWidget* parent) : FormPage("Mirrors_PPG", tr("Mirrors"), parent)
{
    using O = OptionId;
    QCheckBox* search = addCheck(1, tr("&Search for mirrors"), O::MirrorSearch);
    QList<QWidget*> dependent;
    dependent << addCheck(2, tr("Compute and add &alternate URLs automatically"), O::AutoAlternateUrls);
    addCheck(3, tr("Use the URL-sha&ring mirror service"), O::UrlSharingService);
    addCheck(4, tr("Share my &URLs with the mirror service"), O::ShareUrls);
    dependent << addCheck(5, tr("Use &FTP search services"), O::FtpSearch);
    dependent << addCheck(6, tr("Select the &best mirror automatically"), O::AutoSelectMirror);
    dependent << addText(7, tr("Search &template:"), O::MirrorSearchServer);
    dependent << addNumber(8, tr("&Minimum file size (KB):"), O::FtpSearchMinSize, kFtpSearchMinSizeRange);
    dependent << addNumber(9, tr("Maximum &hits:"), O::FtpSearchMaxHit, kFtpSearchMaxHitRange);
    for (QWidget* widget : dependent)
        enableWith(search, widget);

    auto* code = new QLineEdit(this);
    setControlId(code, 10);
    code->setMaxLength(8);
    QLabel* codeLabel = addRow(tr("&Country code:"), code);
    addBinding(
        {[code](const AppSettings& s) { code->setText(QString::fromStdString(s.GetOptionText(O::MirrorCountryCode))); },
         [code, codeLabel] {
             static const QRegularExpression twoLetters(QStringLiteral("^[A-Za-z]{2}$"));
             if (twoLetters.match(code->text().trimmed()).hasMatch())
                 return QString();
             code->setFocus();
             return uiString(kStrTwoLetters).arg(fieldName(codeLabel->text()));
         },
         [code](AppSettings& s) {
             s.SetOptionText(O::MirrorCountryCode, code->text().trimmed().toUpper().toStdString());
         }});
    addText(11, tr("Country &list:"), O::MirrorCountryList);
}

}  // namespace fetchora
