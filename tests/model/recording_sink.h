#pragma once
// A notify window for tests: keeps every posted message.
#include <cstdint>
#include <vector>

#include "model/job_notify.h"

namespace fetchora::test {

class RecordingSink : public JobNotifySink {
public:
    struct Message {
        uint32_t message;
        uintptr_t wParam;
        intptr_t lParam;
    };

    void post(uint32_t message, uintptr_t wParam, intptr_t lParam) override
    {
        messages.push_back({message, wParam, lParam});
    }

    // The change masks posted with WM_JOB_CHANGED, in order.
    std::vector<intptr_t> masks() const
    {
        std::vector<intptr_t> out;
        for (const Message& m : messages) {
            if (m.message == WM_JOB_CHANGED)
                out.push_back(m.lParam);
        }
        return out;
    }

    std::vector<Message> messages;
};

}  // namespace fetchora::test
