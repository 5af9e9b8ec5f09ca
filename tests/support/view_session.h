#pragma once
// A main view over a fresh profile for tests of the commands that add jobs:
// scripted prompts, a recording desktop, no power control and a host whose
// countdowns never end. Jobs start Manually, so nothing opens a connection;
// the test thread is the loop thread.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "config/app_settings.h"
#include "model/job_database.h"
#include "shell/application.h"
#include "shell/main_view.h"
#include "support/temp_dir.h"
#include "support/view_prompts.h"

#include <gtest/gtest.h>

namespace fetchora::test {

// writeFile, with the folders it needs.
inline void writeFileIn(const std::filesystem::path& file, const std::string& bytes)
{
    std::filesystem::create_directories(file.parent_path());
    writeFile(file, bytes);
}

class QuietHost final : public MainViewHost, private Countdown {
public:
    void bringToFront() override { }
    void requestExit() override { }
    std::string clipboardText() override { return {}; }
    void setClipboardText(const std::string&) override { }
    Countdown& countdown() override { return *this; }

private:
    void start(const CountdownRequest&, std::function<void(bool)>) override { }
};

class NoPowerControl final : public PowerControl {
public:
    bool canPowerOff() override { return false; }
    bool powerOff() override { return false; }
    void holdSleepInhibitor(bool) override { }
};

struct ViewSession {
    explicit ViewSession(const TempDir& dir)
        : app(mapEnvironment({{"FETCHORA_HOME", (dir / "profile").string()},
                              {"TMPDIR", dir.path().string()},
                              {"HOME", dir.path().string()},
                              {"XDG_DOWNLOAD_DIR", (dir / "Downloads").string()}}))
    {
        std::string error;
        started = app.start(error);
        EXPECT_TRUE(started) << error;
        app.settings().SetOption(OptionId::DefaultStartMode, static_cast<int32_t>(StartMode::Manual));
        app.loop().processPending();
        view = std::make_unique<MainView>(app, prompts, desktop, power, host);
        view->start();
        prompts.asked.clear();
    }
    ~ViewSession()
    {
        view->close();
        view.reset();
        app.stop();
    }

    CZoviradDoc& doc() { return view->doc(); }

    // The jobs of a category, in order.
    static std::vector<DownloadJob*> jobsOf(DownloadJob* category)
    {
        std::vector<DownloadJob*> jobs;
        for (DownloadJob* job = category->firstChild(); job; job = job->nextSibling()) {
            if (!job->IsCategory())
                jobs.push_back(job);
        }
        return jobs;
    }

    bool started = false;
    Application app;
    ViewPrompts prompts;
    RecordingDesktop desktop;
    NoPowerControl power;
    QuietHost host;
    std::unique_ptr<MainView> view;
};

}  // namespace fetchora::test
