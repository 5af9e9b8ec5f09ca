// SystemDesktop with stand-in programs first on PATH (xdg-open, the sound
// players) that write down how they were started, and a fake file manager
// served on a private bus.
#include "platform/desktop_system.h"

#include "support/private_bus.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <thread>

namespace fetchora {
namespace {

using test::BusService;
using test::PrivateBus;
using test::readFile;
using test::TempDir;
using test::writeFile;

// Polls for a file the started program writes; the program runs on its own.
bool waitForFile(const std::filesystem::path& file, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (std::filesystem::exists(file))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// PATH set to the given folders for the life of the object.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path)
    {
        if (const char* old = std::getenv("PATH"))
            m_old = old;
        ::setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() { ::setenv("PATH", m_old.c_str(), 1); }

private:
    std::string m_old;
};

class DesktopSystemTest : public ::testing::Test {
protected:
    DesktopSystemTest() { std::filesystem::create_directories(m_bin); }

    // A program in the stand-in folder that writes its arguments, one a line,
    // and then its pid into out/<name>; "done" is created last, so a reader
    // never sees half a record.
    void standIn(const std::string& name)
    {
        const std::filesystem::path script = m_bin / name;
        const std::string out = (m_dir / ("out-" + name)).string();
        writeFile(script,
                  "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + out + ".tmp'\necho $$ > '" + out
                      + ".pid'\n/bin/mv '" + out + ".tmp' '" + out + "'\n");
        ::chmod(script.c_str(), 0755);
    }
    std::filesystem::path outputOf(const std::string& name) const { return m_dir / ("out-" + name); }

    std::string systemPath() const { return m_bin.string() + ":/usr/bin:/bin"; }

    TempDir m_dir;
    std::filesystem::path m_bin = m_dir / "bin";
};

TEST_F(DesktopSystemTest, StartProgramRunsItWithEachArgumentIntactAndReapsIt)
{
    standIn("tool");
    SystemDesktop desktop;
    const std::string spaced = (m_dir / "a file with blanks; and $(quotes)\".zip").string();
    ASSERT_TRUE(desktop.startProgram({(m_bin / "tool").string(), "--scan", spaced}));
    ASSERT_TRUE(waitForFile(outputOf("tool")));
    EXPECT_EQ(readFile(outputOf("tool")), "--scan\n" + spaced + "\n");

    // The child is waited for in the background: no zombie stays behind.
    const std::string pid = readFile(m_dir / "out-tool.pid");
    const std::filesystem::path proc = "/proc/" + pid.substr(0, pid.find('\n'));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::filesystem::exists(proc) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(std::filesystem::exists(proc)) << "the finished child was not reaped";
}

TEST_F(DesktopSystemTest, StartProgramReportsAProgramThatCannotRun)
{
    SystemDesktop desktop;
    EXPECT_FALSE(desktop.startProgram({}));
    EXPECT_FALSE(desktop.startProgram({(m_dir / "missing").string()}));
    ScopedPath path(m_bin.string());
    EXPECT_FALSE(desktop.startProgram({"fetchora-no-such-program"}));
}

TEST_F(DesktopSystemTest, OpenHandsThePathToXdgOpen)
{
    standIn("xdg-open");
    ScopedPath path(systemPath());
    SystemDesktop desktop;
    ASSERT_TRUE(desktop.open("/srv/files/a b.mp3"));
    ASSERT_TRUE(waitForFile(outputOf("xdg-open")));
    EXPECT_EQ(readFile(outputOf("xdg-open")), "/srv/files/a b.mp3\n");
}

TEST_F(DesktopSystemTest, ARelativeNameThatLooksLikeAnOptionIsNotReadAsOne)
{
    standIn("xdg-open");
    ScopedPath path(systemPath());
    SystemDesktop desktop;
    ASSERT_TRUE(desktop.open("--help.txt"));
    ASSERT_TRUE(waitForFile(outputOf("xdg-open")));
    EXPECT_EQ(readFile(outputOf("xdg-open")), "./--help.txt\n");
}

TEST_F(DesktopSystemTest, OpenFailsWithoutXdgOpen)
{
    ScopedPath path(m_bin.string());
    SystemDesktop desktop;
    EXPECT_FALSE(desktop.open("/srv/files/a.mp3"));
    EXPECT_FALSE(desktop.open(""));
}

TEST_F(DesktopSystemTest, SoundsPlayWithPaplayElseAplayElseNothing)
{
    SystemDesktop desktop;
    standIn("aplay");
    {
        ScopedPath path(m_bin.string());
        ASSERT_TRUE(desktop.playSound("/usr/share/sounds/done.wav"));
        ASSERT_TRUE(waitForFile(outputOf("aplay")));
        EXPECT_EQ(readFile(outputOf("aplay")), "/usr/share/sounds/done.wav\n");
    }
    standIn("paplay");
    {
        ScopedPath path(m_bin.string());
        ASSERT_TRUE(desktop.playSound("/usr/share/sounds/done.wav"));
        ASSERT_TRUE(waitForFile(outputOf("paplay")));
    }
    TempDir empty;
    ScopedPath path(empty.path().string());
    EXPECT_FALSE(desktop.playSound("/usr/share/sounds/done.wav"));
}

TEST(FindOnPath, FindsExecutablesOnlyAndSkipsTheCurrentFolder)
{
    TempDir dir;
    writeFile(dir / "runnable", "#!/bin/sh\n");
    ::chmod((dir / "runnable").c_str(), 0755);
    writeFile(dir / "plain", "data");
    ::chmod((dir / "plain").c_str(), 0644);
    ScopedPath path(":" + dir.path().string());
    EXPECT_EQ(findOnPath("runnable"), dir / "runnable");
    EXPECT_EQ(findOnPath("plain"), std::nullopt);
    EXPECT_EQ(findOnPath("sub/runnable"), std::nullopt);
    EXPECT_EQ(findOnPath(""), std::nullopt);
}

TEST(FileUri, EncodesEverythingOutsideTheUnreservedSet)
{
    EXPECT_EQ(fileUri("/home/me/Downloads/a-b_c.d~e"), "file:///home/me/Downloads/a-b_c.d~e");
    EXPECT_EQ(fileUri("/tmp/a b/100%#?.zip"), "file:///tmp/a%20b/100%25%23%3F.zip");
    EXPECT_EQ(fileUri("/tmp/\xC3\xBC.txt"), "file:///tmp/%C3%BC.txt");
}

// What the fake file manager was asked.
struct FakeFileManager {
    std::mutex mutex;
    std::vector<std::vector<std::string>> uriLists;
    std::vector<std::string> startupIds;

    static int onShowItems(sd_bus_message* m, void* userdata, sd_bus_error*)
    {
        auto* self = static_cast<FakeFileManager*>(userdata);
        char** uris = nullptr;
        if (const int r = sd_bus_message_read_strv(m, &uris); r < 0)
            return r;
        std::vector<std::string> list;
        for (char** uri = uris; uri && *uri; ++uri) {
            list.emplace_back(*uri);
            free(*uri);
        }
        free(uris);
        const char* startupId = nullptr;
        if (const int r = sd_bus_message_read(m, "s", &startupId); r < 0)
            return r;
        std::lock_guard lock(self->mutex);
        self->uriLists.push_back(std::move(list));
        self->startupIds.emplace_back(startupId);
        return sd_bus_reply_method_return(m, "");
    }
};

const sd_bus_vtable kFileManagerVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("ShowItems", "ass", "", &FakeFileManager::onShowItems, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

TEST_F(DesktopSystemTest, ShowInFolderAsksTheFileManagerForTheFile)
{
    PrivateBus bus;
    FakeFileManager manager;
    BusService service(bus.address(), "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                       "org.freedesktop.FileManager1", kFileManagerVtable, &manager);
    standIn("xdg-open");
    ScopedPath path(systemPath());
    SystemDesktop desktop(bus.address());
    ASSERT_TRUE(desktop.showInFolder("/srv/down loads/r\xC3\xA9sum\xC3\xA9.pdf"));
    {
        std::lock_guard lock(manager.mutex);
        ASSERT_EQ(manager.uriLists.size(), 1u);
        EXPECT_EQ(manager.uriLists.front(), std::vector<std::string>{"file:///srv/down%20loads/r%C3%A9sum%C3%A9.pdf"});
        EXPECT_EQ(manager.startupIds.front(), "");
    }
    // The folder is not opened as well.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(std::filesystem::exists(outputOf("xdg-open")));
}

TEST_F(DesktopSystemTest, WithoutAFileManagerShowInFolderOpensTheFolder)
{
    PrivateBus bus;
    standIn("xdg-open");
    ScopedPath path(systemPath());
    SystemDesktop desktop(bus.address());
    ASSERT_TRUE(desktop.showInFolder("/srv/downloads/file.zip"));
    ASSERT_TRUE(waitForFile(outputOf("xdg-open")));
    EXPECT_EQ(readFile(outputOf("xdg-open")), "/srv/downloads\n");

    // No bus at all: the same fall-back.
    std::filesystem::remove(outputOf("xdg-open"));
    SystemDesktop noBus("unix:path=" + (m_dir / "no-bus").string());
    ASSERT_TRUE(noBus.showInFolder("/srv/other/file.zip"));
    ASSERT_TRUE(waitForFile(outputOf("xdg-open")));
    EXPECT_EQ(readFile(outputOf("xdg-open")), "/srv/other\n");
}

}  // namespace
}  // namespace fetchora
