// The client side of the service socket: whatever a server answers is read
// as a status and a text, within the request's time.
#include "fuzz_input.h"
#include "platform/ipc_endpoint.h"

#include <filesystem>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace fetchora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::filesystem::path socketPath = [] {
        const std::filesystem::path folder
            = std::filesystem::temp_directory_path() / ("fetchora-ipc-reply-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(folder);
        return folder / "Fetchora";
    }();
    static const int listener = [] {
        std::filesystem::remove(socketPath);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socketPath.native().copy(address.sun_path, sizeof address.sun_path - 1);
        if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0
            || ::listen(fd, 4) != 0)
            __builtin_trap();
        return fd;
    }();
    // The fake server takes the request and answers with the input.
    std::thread server([&] {
        pollfd waiting{listener, POLLIN, 0};
        if (::poll(&waiting, 1, 3000) != 1)
            return;
        const int connection = ::accept(listener, nullptr, nullptr);
        if (connection < 0)
            return;
        size_t done = 0;
        while (done < size) {
            const ssize_t n = ::send(connection, data + done, size - done, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            done += static_cast<size_t>(n);
        }
        ::close(connection);
    });
    const IpcReply reply = ipcRequest(socketPath, "DownloadInfo", "0", std::chrono::milliseconds(2000));
    if (reply.outcome == IpcReply::Outcome::Data && reply.text.size() > kMaxReplyBytes)
        __builtin_trap();
    server.join();
    return 0;
}
