#pragma once
// An FTP control dialogue without sockets: the lines the client would send
// are collected, a PORT command is made up, and the part it works for is a
// FakePartChannel. The tests feed the replies and compare the exact lines.
#include <string>
#include <string_view>
#include <vector>

#include "net/fake_part_channel.h"
#include "net/ftp_control.h"

namespace fetchora::test {

class CollectedFtpDialogue {
public:
    explicit CollectedFtpDialogue(FtpSession session) : control(std::move(session), channel)
    {
        control.writer = [this](std::string_view line) {
            sent.emplace_back(line);
            return true;
        };
        control.preparePort = [this] {
            ++portsPrepared;
            return std::string("PORT 127,0,0,1,4,1");
        };
    }

    // The lines sent since the last call.
    std::vector<std::string> take()
    {
        std::vector<std::string> out;
        out.swap(sent);
        return out;
    }

    FakePartChannel channel;
    FtpControl control;
    std::vector<std::string> sent;
    int portsPrepared = 0;
};

}  // namespace fetchora::test
