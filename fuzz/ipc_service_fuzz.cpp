// The service socket: what a client writes is read as a topic and an item
// (each with its length first) and handed to the request decoders of the
// topics the program serves.
#include "fuzz_input.h"
#include "platform/ipc_endpoint.h"
#include "platform/message_loop.h"
#include "shell/service_topics.h"

#include <filesystem>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace fetchora;

namespace {

std::optional<std::string> answer(const std::string& topic, const std::string& item)
{
    if (topic == kTopicOpenUrl) {
        const OpenUrlItem open = SplitOpenUrlItem(item);
        return open.url + "," + open.referer;
    }
    const std::vector<DownloadInfoEntry> entries{{"a.zip", 1000, 500, 3}, {"b.iso", -1, 0, -1}};
    ReadDecimalItem(item);
    return DownloadInfoReply(entries, item);
}

// The server, its loop on a thread of its own, for the whole run.
struct Service {
    Service() : server(loop, {std::string(kTopicOpenUrl), std::string(kTopicDownloadInfo)}, answer)
    {
        folder = std::filesystem::temp_directory_path() / ("fetchora-ipc-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        std::promise<void> bound;
        std::future<void> ready = bound.get_future();
        thread = std::thread([this, &bound] {
            loop.processPending();
            bound.set_value();
            loop.run();
        });
        ready.wait();
        std::string error;
        if (!server.listen(folder / "Fetchora", error))
            __builtin_trap();
    }
    MessageLoop loop;
    IpcServer server;
    std::filesystem::path folder;
    std::thread thread;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Service* service = new Service;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (service->folder / "Fetchora").string();
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(fd, data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        // The end of what we send is the end of the request.
        ::shutdown(fd, SHUT_WR);
        char reply[4096];
        while (::recv(fd, reply, sizeof reply, 0) > 0) { }
    }
    ::close(fd);
    return 0;
}
