#include "gui/schedule_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

#include "gui/dialog_placement.h"
#include "gui/gui_string_ids.h"
#include "gui/options_pages.h"
#include "gui/ui_text.h"
#include "model/job_database.h"
#include "platform/job_lock.h"
#include "shell/application.h"
#include "shell/job_list_model.h"
#include "shell/main_view.h"
#include "shell/schedule_jobs.h"

namespace fetchora {

namespace {

constexpr const char* kSection = "Schedule_Dlg";
// The page inside keeps its own ids (1 and up), so the dialog's own
// controls, OK and Cancel included, start here.
constexpr int kJobsBoxId = 100;
constexpr int kCountLabelId = 101;
constexpr int kOkId = 102;
constexpr int kCancelId = 103;
// The same two controls when they show a count.
constexpr int kJobsCountBoxId = 104;
constexpr int kCountedLabelId = 105;
// Texts with a count come from the string table: the section's texts for
// the two controls name no count.
constexpr uint32_t kStrStartSelectedCount = 41806;  // "%1" the selected jobs
constexpr uint32_t kStrScheduledCount = 41807;  // "%1" the jobs that start by schedule

}  // namespace

ScheduleDialog::ScheduleDialog(const AppSettings& settings, int candidates, int candidatesScheduled, int scheduled,
                               QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QString::fromLatin1(kSection));
    setWindowTitle(tr("Schedule"));
    m_page = new SchedulePage(this);
    m_page->load(settings);

    m_jobs = new QCheckBox(this);
    if (candidates > 0) {
        setControlId(m_jobs, kJobsCountBoxId);
        const auto retextJobs = [box = m_jobs, candidates] {
            box->setText(uiString(kStrStartSelectedCount).arg(candidates));
        };
        retextJobs();
        onLanguageChanged(m_jobs, retextJobs);
        if (candidatesScheduled > 0 && candidatesScheduled < candidates) {
            // A mixed selection stays as it is unless the user decides.
            m_jobs->setTristate(true);
            m_jobs->setCheckState(Qt::PartiallyChecked);
        } else {
            m_jobs->setChecked(candidatesScheduled == candidates);
        }
    } else {
        setControlId(m_jobs, kJobsBoxId);
        m_jobs->setText(tr("Start the selected jobs b&y this schedule"));
        m_jobs->setEnabled(false);
        setUiText(m_jobs, kStrScheduleNoJobsTip, UiTextRole::ToolTip);
    }
    auto* count = new QLabel(this);
    if (scheduled > 0) {
        setControlId(count, kCountedLabelId);
        const auto retextCount = [count, scheduled] { count->setText(uiString(kStrScheduledCount).arg(scheduled)); };
        retextCount();
        onLanguageChanged(count, retextCount);
    } else {
        setControlId(count, kCountLabelId);
        count->setText(tr("No job of the download list starts by schedule."));
    }
    count->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    setControlId(buttons->button(QDialogButtonBox::Ok), kOkId);
    setControlId(buttons->button(QDialogButtonBox::Cancel), kCancelId);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_page);
    layout->addWidget(m_jobs);
    layout->addWidget(count);
    layout->addWidget(buttons);
}

std::optional<bool> ScheduleDialog::jobsBySchedule() const
{
    if (!m_jobs->isEnabled() || m_jobs->checkState() == Qt::PartiallyChecked)
        return std::nullopt;
    return m_jobs->checkState() == Qt::Checked;
}

bool showScheduleDialog(Application& app, MainView& view, QWidget* parent)
{
    int candidates = 0;
    int candidatesScheduled = 0;
    int scheduled = 0;
    {
        JobLockGuard lock(app.jobLock());
        const std::vector<DownloadJob*> jobs
            = ScheduleCandidates(view.list().selectedJobs(), *view.doc().downloading());
        candidates = static_cast<int>(jobs.size());
        candidatesScheduled = static_cast<int>(std::count_if(
            jobs.begin(), jobs.end(), [](const DownloadJob* job) { return job->startMode == StartMode::Schedule; }));
        scheduled = ScheduledJobCount(*view.doc().downloading());
    }
    ScheduleDialog dialog(app.settings(), candidates, candidatesScheduled, scheduled, parent);
    KeepDialogPlacement(dialog, &app.registry(), kSection);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    // The schedule page checks nothing today; should it, a refusal keeps all.
    const QString problem = dialog.page().validate();
    if (!problem.isEmpty()) {
        QMessageBox::warning(parent, dialog.windowTitle(), problem);
        return false;
    }
    if (!app.changeSettings([&dialog](AppSettings& settings) { dialog.page().apply(settings); }))
        QMessageBox::warning(parent, dialog.windowTitle(),
                             QObject::tr("The settings could not be saved to the profile folder."));
    const std::optional<bool> bySchedule = dialog.jobsBySchedule();
    if (!bySchedule)
        return true;
    JobLockGuard lock(app.jobLock());
    // The jobs are looked up again: the loop ran while the dialog was open.
    const std::vector<DownloadJob*> jobs = ScheduleCandidates(view.list().selectedJobs(), *view.doc().downloading());
    // Jobs put under a window that is open now start at once, as far as
    // the queue has room; a changed time first closes the window until the
    // next minute's look at the clock.
    if (!SetStartBySchedule(jobs, *bySchedule).empty() && *bySchedule) {
        view.schedule().setSettings(scheduleSettingsFrom(app.settings()));
        view.queue().FillQueue();
    }
    return true;
}

}  // namespace fetchora
