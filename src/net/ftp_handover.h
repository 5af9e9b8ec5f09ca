#pragma once
// A logged-in FTP control connection on its way from the worker of a job that
// has just finished to the first FTP worker of the next job for the same site
// (same host, port, user name and proxy), which then needs no new login.
//
// The giving worker learns only after its job has finished whether its
// connection is wanted, and the taking worker may start before the giver has
// read the server's last reply. So the hand-over is a meeting point: the
// runner marks it wanted as the job finishes, the giver delivers the idle
// connection or declines, and the taker waits a bounded time for either.
// Whoever drops the last reference to a connection nobody took closes it.
//
// Thread: any; every member is guarded by the object's own mutex. Shared by
// the runner (loop thread), the giving and the taking worker.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#include "net/byte_stream.h"
#include "net/url_entry.h"

namespace fetchora {

struct ProxyEntry;

class FtpHandover {
public:
    // The giver's URL and proxy (null: direct), by which the taker's runner
    // decides whether the connection serves its part. The proxy is compared
    // as an entry of the proxy list, never read.
    explicit FtpHandover(UrlEntry route = {}, const ProxyEntry* proxy = nullptr)
        : m_route(std::move(route)), m_proxy(proxy)
    {
    }
    const UrlEntry& route() const { return m_route; }
    const ProxyEntry* proxy() const { return m_proxy; }

    struct Taken {
        std::unique_ptr<ByteStream> stream;
        uint32_t idleSince = 0;  // tick of the last reply the giver read
    };

    // The job finished: its connection is to be handed on. False when the
    // giver has declined already (its worker ended without a connection).
    bool want();
    bool wanted() const;

    // The giver's connection, idle after a complete reply, and the tick of
    // that reply. Closed at once when it was not wanted.
    void deliver(std::unique_ptr<ByteStream> stream, uint32_t idleSince);
    // The giver has no connection to give.
    void decline();
    // Nobody is going to take the connection (no next job for the site, or
    // it went elsewhere): a giver still waiting for the server's last reply
    // stops, and a connection delivered already or later is closed.
    void withdraw();

    // Waits up to waitMs for the giver, asking keepWaiting about every 100
    // ms. Nothing when the giver declined, the wait ended or the connection
    // was taken already.
    std::optional<Taken> take(int waitMs, const std::function<bool()>& keepWaiting);

private:
    enum class State { Open, Wanted, Delivered, Declined, Taken };

    const UrlEntry m_route;
    const ProxyEntry* const m_proxy;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Open;
    Taken m_connection;
};

}  // namespace fetchora
