#pragma once
// The native-messaging host: reads the browser's messages from standard
// input, hands each download or list to the running program over its
// service socket (the click-catcher topic), and writes one reply per message
// to standard output. When no program answers, it starts one and tries
// again for a while. Nothing but reply frames ever goes to standard output;
// what the user or a developer should know goes to the log (standard error).
//
// A message that is too large, or a pipe that ends inside a message, ends the
// host (after a well-formed error reply where the stream allows one); a
// malformed message gets an error reply and the host reads on.
//
// Thread: the caller's; run() blocks until the browser closes the pipe.
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "net/cookie_jar.h"

namespace fetchora {

struct BrowserHostSetup {
    std::filesystem::path socket;  // the program's service socket
    // Where "kxcatch.tmp" goes for a list too large for one request; empty
    // when the program's temporary folder is not known (such lists are refused).
    std::filesystem::path temporaryFolder;
    // Starts the program; false with error when it cannot.
    std::function<bool(std::string& error)> startProgram;
    // How long a started program has to answer.
    std::chrono::milliseconds startWait{std::chrono::seconds(15)};
    // How long a hand-over may take: the program may ask the user first.
    std::chrono::milliseconds handOverWait{std::chrono::minutes(10)};
    std::string version;
    // The captured file types of the program's settings (";"-separated
    // patterns), read when a captured download asks.
    std::function<std::string()> capturedTypes;
    // Adds the browser's cookies to the profile's cookie jar; false with
    // error when the jar cannot be written. Empty: cookies are dropped.
    std::function<bool(const std::vector<Cookie>&, std::string& error)> storeCookies;
};

class BrowserHost {
public:
    explicit BrowserHost(BrowserHostSetup setup);

    // Serves messages until the browser closes the pipe. 0 after a clean end,
    // 1 when the stream broke or the program could not be reached.
    int run(int in, int out, std::ostream& log);

    // One message's reply (exposed for tests).
    std::string answer(const std::string& message, std::ostream& log);

private:
    enum class HandOver { Answered, Refused, Failed };
    // The hand-over's reply text from the program; Refused when the program
    // does not serve the topic, Failed with error otherwise.
    HandOver handOver(std::string_view topic, const std::string& item, std::string& reply, std::string& error,
                      std::ostream& log);
    bool programRuns();

    BrowserHostSetup m_setup;
    bool m_started = false;
    // The program refused the browser topic once: it is an older one, which
    // only takes the plain click-catcher codes.
    bool m_plainOnly = false;
};

}  // namespace fetchora
