#pragma once
// What developers set in the environment to look at the window without a
// window manager or to measure it (docs/developer-aids.md):
//   FETCHORA_LATENCY_PROBE=FILE        the GUI loop's delays, for bench/gui_latency.sh
//   FETCHORA_OPEN_EXPLORER=ADDRESS     a site explorer browsing ADDRESS at start
//   FETCHORA_SWITCH_LANGUAGE=FILE:MS   picks that Language menu entry after MS ms
//   FETCHORA_OPEN_DIALOG=N[,N...]      runs those commands once the window shows,
//                                      each half a second after the one before returned
// None of them is set in normal use, and then nothing here does anything.
//
// Thread: the GUI thread. Lives while the window runs.
#include <QStringList>

#include <functional>
#include <memory>

namespace fetchora {

class Application;
class CMainFrame;
class LoopLatencyProbe;
class MainView;

class DeveloperAids {
public:
    DeveloperAids(Application& app, MainView& view, CMainFrame& frame);
    ~DeveloperAids();
    DeveloperAids(const DeveloperAids&) = delete;
    DeveloperAids& operator=(const DeveloperAids&) = delete;

    // After the window shows.
    void start();

private:
    void runCommands(QStringList commands);

    Application& m_app;
    MainView& m_view;
    CMainFrame& m_frame;
    std::unique_ptr<LoopLatencyProbe> m_probe;
};

}  // namespace fetchora
