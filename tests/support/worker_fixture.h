#pragma once
// Shared set-up of the tests that drive one transfer worker against a local
// server without a runner: the task's part is a FakePartChannel, and the
// worker runs on a thread of its own, as on a transfer thread, with a
// deadline, so that a worker that hangs fails its test instead of the run.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>

#include "net/fake_part_channel.h"
#include "net/transfer_channel.h"
#include "net/url.h"

namespace fetchora::test {

class WorkerTest : public testing::Test {
protected:
    // A task for url whose part starts at start (and ends at knownSize, when
    // that is known); the channel stays reachable through m_channel. A retry
    // waits for nothing.
    TransferTask workerTask(const std::string& url, int64_t start = 0, int64_t knownSize = -1, int timeoutMs = 3000)
    {
        auto channel = std::make_unique<FakePartChannel>(start, knownSize);
        m_channel = channel.get();
        TransferTask made;
        made.channel = std::move(channel);
        made.url = ParseUrl(url).value();
        made.settings.connectTimeoutMs = timeoutMs;
        made.settings.dataTimeoutMs = timeoutMs;
        made.settings.retryDelaySeconds = 0;
        return made;
    }

    // What worker(task) returned; one still running at the deadline is told
    // to stop through its channel, and the test fails with what it did.
    int runWorker(int (*worker)(TransferTask&), TransferTask& task, std::chrono::seconds deadline)
    {
        auto result = std::async(std::launch::async, [worker, &task] { return worker(task); });
        if (result.wait_for(deadline) != std::future_status::ready) {
            ADD_FAILURE() << "the worker hung\n" << m_channel->dump();
            m_channel->stop();
        }
        return result.get();
    }

    FakePartChannel* m_channel = nullptr;
};

}  // namespace fetchora::test
