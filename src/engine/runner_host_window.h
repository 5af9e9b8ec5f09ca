#pragma once
// A message window of the list side that turns the runner's posted messages
// (1227, save the database) into RunnerHost calls, so that the host runs them
// from the loop's queue after the runner's handler has returned.
//
// Thread: loop thread. Borrows the loop and the host.
#include "engine/engine_context.h"
#include "platform/message_window.h"

namespace fetchora {

class RunnerHostWindow final : public MessageWindow {
public:
    RunnerHostWindow(MessageLoop& loop, RunnerHost& host);
    ~RunnerHostWindow() override;

protected:
    intptr_t handleMessage(uint32_t msg, uintptr_t wParam, intptr_t lParam) override;

private:
    RunnerHost& m_host;
};

}  // namespace fetchora
