#include "support/ftp_scripts.h"

namespace fetchora::test {

std::string passiveReply(const std::string& address, uint16_t port)
{
    std::string numbers = address;
    for (char& c : numbers)
        c = c == '.' ? ',' : c;
    return "227 Entering Passive Mode (" + numbers + "," + std::to_string(port >> 8) + "," + std::to_string(port & 0xFF)
        + ").\r\n";
}

ServerScript ftpLoginAndSize(const std::string& path, const std::string& sizeReply, const std::string& password)
{
    ServerScript script;
    script.send("220 scripted server ready\r\n").readUntil("USER anonymous\r\n").send("331 password please\r\n");
    if (password.empty())
        script.readUntil("PASS ").readUntil("\r\n");
    else
        script.readUntil("PASS " + password + "\r\n");
    script.send("230 ok\r\n")
        .readUntil("REST 100\r\n")
        .send("350 Restarting at 100\r\n")
        .readUntil("REST 0\r\n")
        .send("350 Restarting at 0\r\n")
        .readUntil("TYPE I\r\n")
        .send("200 Type set to I\r\n")
        .readUntil("SIZE " + path + "\r\n")
        .send(sizeReply);
    return script;
}

}  // namespace fetchora::test
