#pragma once
// The "Schedule" command's dialog: the daily schedule (weekdays, start and
// stop time, as on the options' Schedule page) and whether the selected
// jobs of the download list start by it. OK writes the schedule to the
// settings (a changed time makes the schedule wait for its window again) and
// puts the selected jobs under the schedule or takes them off it; Cancel
// changes nothing.
//
// Thread: the GUI thread. Borrows the application and the view.
#include <QDialog>

#include <optional>

class QCheckBox;
class QLabel;

namespace fetchora {

class Application;
class AppSettings;
class MainView;
class SchedulePage;

class ScheduleDialog final : public QDialog {
    Q_OBJECT
public:
    // candidates: how many selected jobs the schedule can take, and how
    // many of them start by schedule already; scheduled: how many jobs of
    // the download list do.
    ScheduleDialog(const AppSettings& settings, int candidates, int candidatesScheduled, int scheduled,
                   QWidget* parent = nullptr);

    SchedulePage& page() const { return *m_page; }
    QCheckBox& jobsBox() const { return *m_jobs; }
    // Whether the selected jobs start by schedule; none to leave each as it
    // is (no candidates, or a mixed selection left half ticked).
    std::optional<bool> jobsBySchedule() const;

private:
    SchedulePage* m_page = nullptr;
    QCheckBox* m_jobs = nullptr;
};

// Runs the dialog for the view's selection; true when OK was pressed.
bool showScheduleDialog(Application& app, MainView& view, QWidget* parent);

}  // namespace fetchora
