#include "shell/ipc_fault_text.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/scoped_language.h"
#include "support/temp_dir.h"

namespace fetchora {
namespace {

// Why talking to a running instance failed reads in the current language,
// with the socket, the system's reason and the count in their places; a
// kind the language has no text for keeps its English.
TEST(IpcFaultText, TheFaultsAreSaidInTheCurrentLanguage)
{
    test::TempDir dir;
    const IpcReply none = ipcRequest(dir / "Fetchora", "WWW_OPENURL", "http://x/");
    ASSERT_EQ(none.outcome, IpcReply::Outcome::NoServer);
    const IpcFault refused{IpcFaultKind::CannotConnect, dir / "Fetchora", ENOENT, 0};
    const IpcFault slow{IpcFaultKind::NoReplyInTime, dir / "Fetchora", 0, 500};
    const IpcFault malformed{IpcFaultKind::MalformedReply, dir / "Fetchora", 0, 0};
    EXPECT_EQ(ipcFaultText(none.fault), none.error);
    EXPECT_EQ(ipcFaultText(slow), "no reply from the running instance within 500 ms");
    {
        test::ScopedLanguage german("41767=keine Instanz l\xC3\xA4uft (an %1 wartet niemand)\n"
                                    "41769=mit %1 l\xC3\xA4sst sich keine Verbindung herstellen: %2\n"
                                    "41773=keine Antwort innerhalb von %3 ms\n"
                                    "41495=Datei oder Ordner nicht gefunden\n");
        EXPECT_EQ(ipcFaultText(none.fault),
                  "keine Instanz l\xC3\xA4uft (an " + (dir / "Fetchora").string() + " wartet niemand)");
        EXPECT_EQ(ipcFaultText(refused), "mit " + (dir / "Fetchora").string()
                                             + " l\xC3\xA4sst sich keine Verbindung herstellen: "
                                             + "Datei oder Ordner nicht gefunden");
        EXPECT_EQ(ipcFaultText(slow), "keine Antwort innerhalb von 500 ms");
        EXPECT_EQ(ipcFaultText(malformed), "the running instance sent a malformed reply");
        EXPECT_EQ(ipcFaultText({}), "");
    }
    EXPECT_EQ(ipcFaultText(slow), "no reply from the running instance within 500 ms");
}

}  // namespace
}  // namespace fetchora
