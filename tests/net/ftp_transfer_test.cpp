// The FTP worker against scripted control and data servers: the exact
// dialogue of a passive download, active mode after a refused PASV, a data
// connection that drops halfway, a 227 that names another address, and a
// file whose size nobody tells.
#include <arpa/inet.h>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "net/fake_part_channel.h"
#include "net/ftp_data_address.h"
#include "net/ftp_transfer.h"
#include "net/url.h"
#include "support/ftp_scripts.h"
#include "support/scripted_server.h"
#include "support/worker_fixture.h"

namespace fetchora {
namespace {

using test::FakePartChannel;
using test::passiveReply;
using test::ScriptedServer;
using test::ServerScript;
using namespace std::chrono_literals;

constexpr auto kWorkerDeadline = 15s;

// The control dialogue up to the size answer.
ServerScript loginAndSize(const std::string& sizeReply)
{
    return test::ftpLoginAndSize("/f.bin", sizeReply, "me@example.com");
}

class FtpTransferTest : public test::WorkerTest {
protected:
    TransferTask task(const ScriptedServer& control, int64_t start = 0, int64_t knownSize = -1)
    {
        TransferTask made
            = workerTask("ftp://127.0.0.1:" + std::to_string(control.port()) + "/f.bin", start, knownSize);
        made.settings.anonymousPassword = "me@example.com";
        return made;
    }

    int run(TransferTask& made) { return runWorker(FtpTransfer, made, kWorkerDeadline); }
};

TEST_F(FtpTransferTest, PassiveDownloadSendsTheExactDialogue)
{
    ScriptedServer data(ServerScript().send("hello world").close());
    ScriptedServer control(std::move(loginAndSize("213 11\r\n")
                                         .readUntil("PASV\r\n")
                                         .send(passiveReply("127.0.0.1", data.port()))
                                         .readUntil("RETR /f.bin\r\n")
                                         .send("150 Opening BINARY mode data connection (11 bytes)\r\n")
                                         .send("226 Transfer complete\r\n")
                                         .stall()));
    TransferTask made = task(control);
    EXPECT_EQ(run(made), 0) << m_channel->dump();  // the part is complete: the job window ended it
    EXPECT_EQ(m_channel->file(), "hello world");
    EXPECT_EQ(control.received(0),
              "USER anonymous\r\nPASS me@example.com\r\nREST 100\r\nREST 0\r\nTYPE I\r\nSIZE /f.bin\r\nPASV\r\n"
              "RETR /f.bin\r\n");
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].size, 11);
    EXPECT_EQ(m_channel->responses()[0].resume, ResumeInfo::Honoured);
    EXPECT_EQ(m_channel->resumeMark(), 1);
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Sent, "PASS ********"));
    EXPECT_FALSE(m_channel->loggedContaining("me@example.com")) << m_channel->dump();
}

TEST_F(FtpTransferTest, PassiveAddressOfAnotherHostIsReplacedByTheControlPeer)
{
    ScriptedServer data(ServerScript().send("0123456789").close());
    // 127.0.0.2 has no listener: only a worker that keeps to the control
    // connection's peer gets the data.
    ScriptedServer control(std::move(loginAndSize("213 10\r\n")
                                         .readUntil("PASV\r\n")
                                         .send(passiveReply("127.0.0.2", data.port()))
                                         .readUntil("RETR /f.bin\r\n")
                                         .send("150 Opening (10 bytes)\r\n")
                                         .stall()));
    TransferTask made = task(control);
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), "0123456789");
    EXPECT_TRUE(m_channel->loggedContaining("The server named 127.0.0.2 for the data connection")) << m_channel->dump();
}

TEST_F(FtpTransferTest, DroppedDataConnectionKeepsTheBytesAtTheirOffsetsAndTakesTheErrorStep)
{
    ScriptedServer data(ServerScript().closeAfter("0123456789", 4));
    ScriptedServer control(std::move(ServerScript()
                                         .send("220 ready\r\n")
                                         .readUntil("USER anonymous\r\n")
                                         .send("230 no password needed\r\n")
                                         .readUntil("REST 100\r\n")
                                         .send("350 ok\r\n")
                                         .readUntil("REST 0\r\n")
                                         .send("350 ok\r\n")
                                         .readUntil("TYPE I\r\n")
                                         .send("200 ok\r\n")
                                         .readUntil("SIZE /f.bin\r\n")
                                         .send("213 16\r\n")
                                         .readUntil("PASV\r\n")
                                         .send(passiveReply("127.0.0.1", data.port()))
                                         .readUntil("REST 6\r\n")
                                         .send("350 Restarting at 6\r\n")
                                         .readUntil("RETR /f.bin\r\n")
                                         .send("150 Opening (10 bytes)\r\n")
                                         .pause(300)
                                         .send("426 Connection closed; transfer aborted.\r\n")
                                         .stall()));
    // The part resumes at byte 6 of a 16-byte file.
    TransferTask made = task(control, 6, 16);
    EXPECT_EQ(run(made), 2) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), std::string(6, '\0') + "0123");
    EXPECT_EQ(m_channel->position(), 10);
    EXPECT_EQ(m_channel->errors(), 1);
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, "Error occured!")) << m_channel->dump();
    EXPECT_EQ(m_channel->doneCount(), 0);
}

TEST_F(FtpTransferTest, RefusedPassiveModeFallsBackToAConnectionFromTheServer)
{
    ScriptedServer control(std::move(loginAndSize("213 11\r\n")
                                         .readUntil("PASV\r\n")
                                         .send("502 PASV not allowed here\r\n")
                                         .readUntil("PORT ")
                                         .readUntil("\r\n")
                                         .send("200 PORT command successful\r\n")
                                         .readUntil("RETR /f.bin\r\n")
                                         .pause(200)
                                         .send("150 Opening BINARY mode data connection (11 bytes)\r\n")
                                         .stall()));
    TransferTask made = task(control);
    auto worker = std::async(std::launch::async, [&made] { return FtpTransfer(made); });

    // The server's side of active mode: connect to the PORT address.
    std::optional<FtpHostPort> target;
    for (int i = 0; i < 200 && !target; ++i) {
        const std::string received = control.received(0);
        const std::size_t at = received.find("PORT ");
        if (at != std::string::npos && received.find("\r\n", at) != std::string::npos)
            target = ParsePasvReply(received.substr(at, received.find("\r\n", at) - at));
        else
            std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(target.has_value()) << control.received(0);
    EXPECT_EQ(target->address, "127.0.0.1");
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(target->port);
    ::inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(fd, "hello world", 11, 0), 11);
    ::close(fd);

    ASSERT_EQ(worker.wait_for(kWorkerDeadline), std::future_status::ready) << m_channel->dump();
    EXPECT_EQ(worker.get(), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), "hello world");
    EXPECT_TRUE(m_channel->loggedContaining("trying active mode")) << m_channel->dump();
}

TEST_F(FtpTransferTest, FileOfUnknownSizeEndsOnTheDataCloseAndTheFinalReply)
{
    ScriptedServer data(ServerScript().pause(100).send("abc").close());
    ScriptedServer control(std::move(loginAndSize("550 SIZE not allowed\r\n")
                                         // The PASV behind the size query is answered, and dropped.
                                         .readUntil("PASV\r\n")
                                         .send("227 (127,0,0,1,0,9)\r\n")
                                         .readUntil("SIZE f.bin\r\n")
                                         .send("550 SIZE not allowed\r\n")
                                         .readUntil("PASV\r\n")
                                         .send(passiveReply("127.0.0.1", data.port()))
                                         .readUntil("RETR /f.bin\r\n")
                                         .send("150 File status okay. About to open data connection.\r\n")
                                         .pause(400)
                                         .send("226 Transfer complete.\r\n")
                                         .stall()));
    TransferTask made = task(control);
    EXPECT_EQ(run(made), 1) << m_channel->dump();
    EXPECT_EQ(m_channel->file(), "abc");
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].size, -1);
    EXPECT_EQ(m_channel->doneCount(), 1);
    EXPECT_TRUE(m_channel->logged(ConnectionLogKind::Error, "TEST UNKNOW SIZE!")) << m_channel->dump();
}

// Where a line of the connection log ("<kind> <text>") last occurs in its
// dump; the dump's size when it never does.
std::size_t logPosition(const std::string& dump, const std::string& line)
{
    const std::size_t at = dump.rfind(line + "\n");
    return at == std::string::npos ? dump.size() : at;
}

TEST_F(FtpTransferTest, LaterConnectionOfAResumingSiteSendsItsCommandsWithoutWaiting)
{
    ScriptedServer data(ServerScript().send(" world").close());
    // The server answers only once all of a group has arrived: a worker that
    // waited for each reply would hang here.
    ScriptedServer control(std::move(ServerScript()
                                         .send("220 scripted server ready\r\n")
                                         .readUntil("USER anonymous\r\n")
                                         .send("331 password please\r\n")
                                         .readUntil("PASS me@example.com\r\n")
                                         .send("230 ok\r\n")
                                         .readUntil("TYPE I\r\nSIZE /f.bin\r\nPASV\r\n")
                                         .send("200 Type set to I\r\n213 11\r\n" + passiveReply("127.0.0.1", data.port()))
                                         .readUntil("REST 5\r\nRETR /f.bin\r\n")
                                         .send("350 Restarting at 5\r\n150 Opening (6 bytes)\r\n")
                                         .stall()));
    TransferTask made = task(control, 5, 11);
    made.url.resumeProbe = 1;
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file().substr(5), " world");
    EXPECT_EQ(control.received(0),
              "USER anonymous\r\nPASS me@example.com\r\nTYPE I\r\nSIZE /f.bin\r\nPASV\r\nREST 5\r\nRETR /f.bin\r\n");
    ASSERT_EQ(m_channel->responses().size(), 1u);
    EXPECT_EQ(m_channel->responses()[0].size, 11);
    EXPECT_EQ(m_channel->responses()[0].resume, ResumeInfo::Honoured);
    EXPECT_EQ(m_channel->resumeMark(), 0);
}

TEST_F(FtpTransferTest, ACycleThatFailedSendingAheadWaitsForEachReplyInTheNext)
{
    ScriptedServer data(ServerScript().send(" world").close());
    // The first connection drops once the group arrives; the second answers
    // one command at a time.
    ServerScript dropping = std::move(ServerScript()
                                          .send("220 ready\r\n")
                                          .readUntil("USER anonymous\r\n")
                                          .send("230 no password needed\r\n")
                                          .readUntil("PASV\r\n")
                                          .close());
    ServerScript patient = std::move(ServerScript()
                                         .send("220 ready\r\n")
                                         .readUntil("USER anonymous\r\n")
                                         .send("230 no password needed\r\n")
                                         .readUntil("TYPE I\r\n")
                                         .send("200 Type set to I\r\n")
                                         .readUntil("SIZE /f.bin\r\n")
                                         .send("213 11\r\n")
                                         .readUntil("PASV\r\n")
                                         .send(passiveReply("127.0.0.1", data.port()))
                                         .readUntil("REST 5\r\n")
                                         .send("350 Restarting at 5\r\n")
                                         .readUntil("RETR /f.bin\r\n")
                                         .send("150 Opening (6 bytes)\r\n")
                                         .stall());
    ScriptedServer control(std::vector<ServerScript>{std::move(dropping), std::move(patient)});
    TransferTask made = task(control, 5, 11);
    made.url.resumeProbe = 1;
    m_channel->retriesAllowed = 1;
    EXPECT_EQ(run(made), 0) << m_channel->dump();
    EXPECT_EQ(m_channel->file().substr(5), " world");
    EXPECT_EQ(control.received(1), "USER anonymous\r\nTYPE I\r\nSIZE /f.bin\r\nPASV\r\nREST 5\r\nRETR /f.bin\r\n");
    // In the second cycle each command follows the reply to the one before.
    const std::string log = m_channel->dump();
    EXPECT_LT(logPosition(log, "3 200 Type set to I"), logPosition(log, "1 SIZE /f.bin")) << log;
    EXPECT_LT(logPosition(log, "3 350 Restarting at 5"), logPosition(log, "1 RETR /f.bin")) << log;
}

TEST_F(FtpTransferTest, UnreachableDataPortLogsTheAddressAndTakesTheErrorStep)
{
    ScriptedServer control(std::move(loginAndSize("550 No such file\r\n")
                                         // The PASV behind the size query is answered, and dropped.
                                         .readUntil("PASV\r\n")
                                         .send("227 (127,0,0,1,0,9)\r\n")
                                         .readUntil("SIZE f.bin\r\n")
                                         .send("550 No such file\r\n")
                                         .readUntil("PASV\r\n")
                                         .send("227 (127,0,0,1,0,1)\r\n")
                                         .stall()));
    // Port 1 on loopback refuses: the data connection fails, the error step
    // follows, and the job window refuses the retry.
    TransferTask made = task(control);
    EXPECT_EQ(run(made), 2) << m_channel->dump();
    EXPECT_TRUE(m_channel->loggedContaining("Error Connected to 127.0.0.1 , Port 1.")) << m_channel->dump();
    EXPECT_EQ(m_channel->errors(), 1);
}

}  // namespace
}  // namespace fetchora
