// Writes the binary seeds of fuzz/corpus/ with the program's own encoders
// (and the test suite's builders of the same files): fuzz_seeds <corpus>.
// The text seeds, and the server-side MMS stream, are written by hand.
#include "config/app_settings.h"
#include "engine/asf_header.h"
#include "engine/mms_commands.h"
#include "explorer/favorites_file.h"
#include "host/native_frames.h"
#include "lists/companion_file.h"
#include "model/download_job.h"
#include "model/job_database.h"
#include "model/kxd_format.h"
#include "platform/ipc_endpoint.h"
#include "platform/registry.h"
#include "shell/click_catcher.h"

#include "engine/asf_test_files.h"
#include "model/kxd_fixture.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace fetchora;

namespace {

std::filesystem::path g_corpus;

void put(const std::string& target, const std::string& name, std::string_view bytes)
{
    const std::filesystem::path folder = g_corpus / target;
    std::filesystem::create_directories(folder);
    std::ofstream(folder / name, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void put(const std::string& target, const std::string& name, const std::vector<uint8_t>& bytes)
{
    put(target, name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::vector<uint8_t> mmsFrame(uint8_t type, std::string_view payload)
{
    const size_t length = payload.size() + kMmsFrameHeaderSize;
    std::vector<uint8_t> frame{1, 0, 0, 0, type, 0x04, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds <corpus folder>\n");
        return 2;
    }
    g_corpus = argv[1];

    const std::string database = test::handAssembledDatabase();
    put("kxd", "hand-assembled.kxd", database);
    put("kxd", "completed-http-job.kxd", test::handAssembledDatabase(3));
    {
        JobLock lock;
        CZoviradDoc doc(lock);
        LoadTree(database, doc, {});
        for (DownloadJob* node : doc.tree().nodes()) {
            if (!node->IsCategory()) {
                put("kxe", "job-" + std::to_string(node->fileSize) + ".kxe", StoreCompanionJob(*node));
            }
        }
    }

    FavoritesTree favorites;
    const int32_t folder = favorites.addFolder("Mirrors");
    favorites.addUrl("Local files", "http://127.0.0.1/files/", folder);
    favorites.addUrl("FTP root", "ftp://user@127.0.0.1:2121/pub/");
    put("favorites", "two-levels.qvb", favorites.serialize());

    test::AsfSpec spec;
    put("asf_header", "seekable.asf", test::asfHeader(spec));
    put("asf_header", "packet.bin", test::asfPacket(spec, 3));
    spec.flags = 0x1;
    spec.title = "Live";
    put("asf_header", "broadcast.asf", test::asfHeader(spec));

    std::vector<uint8_t> mms = BuildMmsCommand(MmsClientCode::OpenFile, 2, MmsOpenFileFields("clip.asf"));
    mms.insert(mms.begin(), 0x10);  // the piece size byte of the fuzz program
    const std::vector<uint8_t> header = mmsFrame(kMmsFrameHeader, test::text(test::asfHeader({})));
    mms.insert(mms.end(), header.begin(), header.end());
    const std::vector<uint8_t> data = mmsFrame(kMmsFrameData, std::string(200, 'd'));
    mms.insert(mms.end(), data.begin(), data.end());
    put("mms", "client-command-header-data.bin", mms);

    put("click_catcher", "url-referer.bin", EncodeCaughtUrlBlock("http://127.0.0.1/a.zip", "http://127.0.0.1/"));
    put("click_catcher", "url.bin", EncodeCaughtUrlBlock("http://127.0.0.1/b.iso", std::nullopt));
    put("click_catcher", "links.bin",
        EncodeCaughtLinks("A page", {{"http://127.0.0.1/1.zip", "one", ""}, {"ftp://127.0.0.1/2.zip", "two", ""}}));

    // click_catcher_serve: a control byte (topic, form, closing, refused-click
    // flags), a code byte, then the data.
    const auto serveSeed = [](uint8_t control, uint8_t code, std::string_view data) {
        return std::string{static_cast<char>(control), static_cast<char>(code)} + std::string(data);
    };
    put("click_catcher_serve", "file-url.bin", serveSeed(0x02, 0x00, "http://127.0.0.1/a.zip\r\n"));
    put("click_catcher_serve", "file-list.bin",
        serveSeed(
            0x02, 0x81,
            EncodeCaughtLinks("http://127.0.0.1/page.html",
                              {{"http://127.0.0.1/1.zip", "one", ""}, {"mailto:x@127.0.0.1", "not a file", ""}})));
    put("click_catcher_serve", "block-url-referer-refused.bin",
        serveSeed(0x34, 0x86, EncodeCaughtUrlBlock("http://127.0.0.1/b.iso", "http://127.0.0.1/")));
    put("click_catcher_serve", "block-list.bin",
        serveSeed(
            0x04, 0x04,
            EncodeCaughtLinks("", {{"http://127.0.0.1/1.zip", "one", ""}, {"ftp://127.0.0.1/2.zip", "two", ""}})));
    CaughtUrl browserUrl{"http://127.0.0.1/c.tar.gz", "http://127.0.0.1/", "Mozilla/5.0 (X11; Linux x86_64)",
                         "c.tar.gz"};
    put("click_catcher_serve", "browser-block-url.bin", serveSeed(0x05, 0x83, EncodeBrowserUrlBlock(browserUrl)));
    put("click_catcher_serve", "browser-file-list.bin",
        serveSeed(0x03, 0x01,
                  EncodeBrowserLinks("", "Mozilla/5.0", {{"http://127.0.0.1/1.zip", "one", {}, 0, "first.zip"}})));
    put("click_catcher_serve", "item-text.bin", serveSeed(0x00, 0x00, "0x44 FgAAAGh0dHA6Ly8xMjcuMC4wLjEveC56aXA="));
    put("click_catcher_serve", "closing.bin", serveSeed(0x0C, 0x05, EncodeCaughtUrlBlock("http://127.0.0.1/d", {})));

    put("native_frames", "two-messages.bin",
        EncodeNativeFrame(R"({"type":"ping","id":1})") + EncodeNativeFrame(R"({"type":"download","url":"x"})"));

    put("ipc_service", "open-url.bin", encodeIpcRequest("WWW_OPENURL", "http://127.0.0.1/a.zip,http://127.0.0.1/"));
    put("ipc_service", "download-info.bin", encodeIpcRequest("DownloadInfo", "1"));
    put("ipc_service", "refused-topic.bin", encodeIpcRequest("Other", ""));
    put("ipc_reply", "data.bin", encodeIpcReply(IpcStatus::Data, "a.zip\t1000\t500\t3"));
    put("ipc_reply", "no-data.bin", encodeIpcReply(IpcStatus::NoData, ""));

    // The settings a first run writes, with a few values changed.
    const std::filesystem::path settingsFolder = std::filesystem::temp_directory_path() / "fetchora-fuzz-seeds";
    std::filesystem::create_directories(settingsFolder);
    Registry registry(settingsFolder / "settings.reg");
    SettingsEnvironment environment;
    environment.programFile = (settingsFolder / "fetchora").string();
    environment.defaultDownloadFolder = (settingsFolder / "downloads").string();
    environment.temporaryFolder = (settingsFolder / "temp").string();
    environment.localeName = "de_DE.UTF-8";
    AppSettings settings(registry, environment);
    settings.LoadSettings();
    settings.SaveSettings();
    put("settings", "first-run.reg", registry.toText());
    std::filesystem::remove_all(settingsFolder);
    return 0;
}
