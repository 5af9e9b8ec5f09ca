#pragma once
// The desktop program as main() puts it together, over a fresh profile in a
// temporary folder: the real prompts (every question a real dialog), the
// frame, the view and the dialog opener, the loop run by Qt. Tests answer the
// dialogs through answerModal.
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <functional>
#include <memory>

#include "gui/command_actions.h"
#include "gui/dialog_opener.h"
#include "gui/gui_prompts.h"
#include "gui/main_frame.h"
#include "gui/qt_loop_driver.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora::test {

class NoPowerOff final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

inline bool spinUntil(const std::function<bool()>& done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// Once a modal window for which `wanted` is true is open (looked for every
// 10 ms for up to 10 s), `answer` runs on it. The answer must close it.
inline void answerModal(std::function<bool(QWidget&)> wanted, std::function<void(QWidget&)> answer)
{
    auto* poll = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, [poll, clock, wanted = std::move(wanted), answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool found = modal != nullptr && wanted(*modal);
        if (!found && clock->elapsed() < 10000)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        ASSERT_TRUE(found) << "no such modal window opened";
        answer(*modal);
    });
    poll->start();
}

inline std::function<bool(QWidget&)> section(const char* name)
{
    return [name](QWidget& window) { return window.objectName() == QLatin1String(name); };
}

struct GuiSession {
    explicit GuiSession(const TempDir& dir, StartMode startMode = StartMode::Manual)
        : app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                              {"TMPDIR", dir.path().string()},
                              {"HOME", dir.path().string()},
                              {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}}))
    {
        std::string error;
        started = app.start(error);
        EXPECT_TRUE(started) << error;
        app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(startMode));
        app.loop().processPending();
        driver = std::make_unique<QtLoopDriver>(app.loop());
        frame = std::make_unique<CMainFrame>(app, prompts, false);
        prompts.setParent(frame.get());
        view = std::make_unique<MainView>(app, prompts, desktop, power, *frame);
        prompts.setCategoryRoot([this] { return view->doc().root(); });
        prompts.setMaxSplit([this] { return app.settings().GetOption(OptionId::MaxParallelNum); });
        opener = std::make_unique<DialogOpener>(app, *view, frame.get());
        prompts.setDialogOpener([this](const std::string& name) { return opener->open(name); });
        prompts.setApplication(&app);
        view->start();
        frame->attach(*view);
        frame->commands().setKeysFn([] { return CommandKeys{}; });
    }
    ~GuiSession()
    {
        view->close();
        view->joinThreads();
        opener.reset();
        frame.reset();
        view.reset();
        driver.reset();
        app.stop();
    }

    Application app;
    bool started = false;
    std::unique_ptr<QtLoopDriver> driver;
    GuiPrompts prompts;
    RecordingDesktop desktop;
    NoPowerOff power;
    std::unique_ptr<CMainFrame> frame;
    std::unique_ptr<MainView> view;
    std::unique_ptr<DialogOpener> opener;
};

}  // namespace fetchora::test
