#include "lang/string_table.h"

#include "lang/current_language.h"

#include <algorithm>
#include <cstddef>
#include <optional>

namespace fetchora {
namespace {

// Sorted by id, so that a lookup is a binary search; the static_assert below
// refuses an entry out of order or an id given twice.
constexpr BuiltinString kStrings[] = {
    {104, "Windows sockets initialization failed."},
    {105, "Failed to initialize Object Linking and Embedding"},
    {211, "Fetchora Offline Browser"},
    {212, "Fetchora Site Explorer"},
    // The window's own texts (40000-40999; see docs/design-notes.md).
    {40001, "Part,Range"},
    {40002, "Log,Graph,Information,Links"},
    {40003, "Type,Title,URL"},
    {40004, "%1-%2  %3 bytes  %4"},
    {40005, "running,waiting,stopped,end"},
    {40010, "&Encoding"},
    {40011, "&Sort by"},
    {40012, "&Default,Baltic,Chinese(BIG5),Chinese(GB),Easteurope,Greek,Russian,Japanese,Turkish,Korean,Hebrew,Arabic,"
            "Thai"},
    {40013, "&Type,Tit&le,&URL"},
    {40020, "Manual,Immediately,Schedule"},
    {40101, "Toolbar"},
    {40102, "Speed"},
    {40103, "Download speed"},
    {40104, "Speed limit: %1KB/s"},
    {40105, "&Reset Toolbar"},
    {40106, "Toolbar Buttons"},
    {40107, "&Buttons shown on the toolbar:"},
    {40108, "Columns"},
    {40109, "&Columns shown in the list:"},
    {40110, "This window (%1) is not available in this version."},
    {40111, "URL already exists in list, now\n%1"},
    // The update check's and the language packs' texts.
    {40201, "Downloading the update information..."},
    {40202, "Downloading language pack..."},
    {40203, "Can't get update information."},
    {40204, "A newer version(%1) of Fetchora was found. Download it first?"},
    {40205, "A newer version(%1) of Fetchora was found.View More Information?"},
    {40206, "You already have the latest version of Fetchora."},
    {40207, "Download language pach successfully, You need to restart Fetchora to get effect."},
    {40208, "No update source is configured (the setting \"Update\" \"Source\" is empty)."},
    {40209, "Language,Current version,Latest version"},
    {40210, "Download Additional/Update language pack"},
    {40211, "Check for a new version"},
    // The main view's questions and messages.
    {40301, "Can not move downloading job."},
    {40302, "Some file(s) can't move!"},
    {40303, "Are you sure you want to delete downloading job(s)?"},
    {40304, "Downloading again will delete current downloaded files.  Do you want to continue?"},
    {40305, "File is missing, browse for it?"},
    {40306, "Item not found!"},
    // The site explorer's and offline browser's window and dialogs.
    {40601, "Address"},
    {40602, "&Address:"},
    {40603, "&Go"},
    {40604, "&File"},
    {40605, "&New Window"},
    {40606, "&Download..."},
    {40607, "&Open in browser"},
    {40608, "&Copy URL to clipboard"},
    {40609, "Save to file..."},
    {40610, "E&xit"},
    {40611, "&Edit"},
    {40612, "Select &All"},
    {40613, "&Invert Selection"},
    {40614, "&Filter..."},
    {40615, "Clear l&og"},
    {40616, "Clear &history lists"},
    {40617, "&View"},
    {40618, "&Small Icon"},
    {40619, "&Large Icon"},
    {40620, "&List"},
    {40621, "&Detail"},
    {40622, "Arrange &Icons"},
    {40623, "By &Name"},
    {40624, "By &Type"},
    {40625, "By &Title"},
    {40626, "By &Size"},
    {40627, "By &URL"},
    {40628, "By &Date"},
    {40629, "By &Referer"},
    {40630, "&Stop"},
    {40631, "&Refresh"},
    {40632, "F&avourites"},
    {40633, "Commands"},
    {40634, "&Tools"},
    {40635, "&Connect/Disconnect"},
    {40636, "There is no dial-up connection to make or drop on this system."},
    {40640, "Site &Explorer Options..."},
    {40644, "Find &Previous"},
    {40645, "&Help"},
    {40646, "&About Fetchora..."},
    {40647, "&Add to Favourites..."},
    {40648, "&Organize Favourites..."},
    {40649, "Listing entries: %1..."},
    {40650, "Entries: %1"},
    {40651, "Fetching..."},
    {40652, "Done"},
    {40653, "Filter"},
    {40654, "Show &Only..."},
    {40655, "Show all &except..."},
    {40656, "File &Types:"},
    {40657, "Add to Favourites"},
    {40658, "&Name:"},
    {40659, "&URL:"},
    {40660, "U&sername:"},
    {40661, "&Password:"},
    {40662, "Text files (*.txt)"},
    {40663, "The favourites file could not be read; a copy is kept as %1"},
    {40664, "URL already in favourites"},
    {40665, "The favourite could not be added"},
    {40666, "The favourites could not be written to %1"},
    {40667, "The log could not be saved to %1"},
    {40670, "Site Explorer Options"},
    {40671, "Extensions separated by \";\", with \"?\" for one character and \"[0-9]\" for one digit. Links to these "
            "files are read for more links, besides the usual web page types."},
    {40672, "File types read as &pages:"},
    {40673, "&Retries of a fetch:"},
    {40675, "Organize Favourites"},
    {40676, "Name,URL"},
    {40677, "&New Folder"},
    {40678, "&Edit"},
    {40679, "&Delete"},
    {40680, "&Move To..."},
    {40681, "New Folder"},
    {40682, "Edit"},
    {40683, "Move To..."},
    {40684, "&Folder:"},
    {40685, "A folder cannot be moved into itself."},
    // The desktop program's messages at its start, beside another instance.
    {40701, "A Fetchora daemon (fetchora-cli --daemon) is running and owns the job database.\n\n"
            "Take its jobs over into this window? The daemon saves the jobs and ends, and the downloads it was "
            "running go on here."},
    {40702, "Waiting for the daemon to save its jobs and end..."},
    {40703, "&Cancel"},
    {40704, "The daemon has not ended yet. It may still be saving its jobs; start Fetchora again once it has ended."},
    {40705, "The daemon did not hand its jobs over (%1)."},
    {40706, "it refused"},
    {40707, "The running Fetchora did not take the URL (%1)."},
    {40708, "no answer"},
    {40709, "Another Fetchora is running but does not answer (%1)."},
    // The shell's file, database and command messages and its dialog titles.
    {40801, "Cannot save the job database: %1"},
    {40802, "Check that the disk has room and the folder is writable."},
    {40803, "Cannot write %1: %2"},
    {40804, "Cannot rename %1 to %2: a file of that name exists or the folder is not writable."},
    {40805, "The damaged parts of %1 cannot be fetched again: the file has changed or cannot be renamed."},
    {40806, "Cannot start the virus scanner %1. Check the path in the options."},
    {40807, "HTTPS is unavailable: %1"},
    {40808, "Writing the file to the disk failed (%1); download it again."},
    {40809, "No category to export."},
    {40810, "%1 is missing. Restore it from its newest backup?\r\n(No starts with the default database.)"},
    {40821, "Open Database"},
    {40822, "Save As"},
    {40823, "Move"},
    {40824, "Move the item(s) to the selected Category:"},
    {40825, "Merge Database"},
    {40826, "Export"},
    {40827, "Import list"},
    {40828, "Export list"},
    {40829, "Rename"},
    {40830, "Comment"},
    {40831, "Properties"},
    {40832, "Browse missing file"},
    {40833, "Create new Category"},
    // The zip check's results.
    {40851, "It does not appear to be a valid archive."},
    {40852, "Will support encryption format in later version"},
    {40853, "No errors detected."},
    {40854, "Memory Error!"},
    {40855, "CRC Error!  Need to redownload %1(%2) bytes.  Do you want to continue?"},
    // Powering off at the end of the work.
    {40861, "Power-off requested."},
    {40862, "Power-off not permitted for this user; only the program ends."},
    {40863, "The system refused to power off; only the program ends."},
    // The site explorer's log lines.
    {40871, "You are using a HTTP Proxy for FTP address. This may not work well (if at all) for browsing an FTP site. "
            "If available, it is recommended you use an FTP Proxy server."},
    {40872, "Not an http, https or ftp address: %1"},
    {40873, "List %1"},
    // The options pages' fixed choices and their refusals.
    {40901, "14.4K Modem,28.8K Modem,33.6K Modem,56K Modem/ISDN,128K ISDN,256K Cable/DSL,300K Cable/DSL,512K Cable/DSL,"
            "T1,LAN 10M,Other"},
    {40902, "None"},
    {40903, "Custom"},
    {40904, "No,Ask,Yes"},
    {40905, "Overwrite it,Rename the new file,Stop the download"},
    {40906, "Other (%1)"},
    {40907, "%1 must be between %2 and %3."},
    {40908, "%1 must be two letters."},
    {40909, "Name,Server,Type,Multi-Proxy"},
    {40910, "Site,User,Connections,Log In"},
    {40911, "Yes"},
    {40912, "Unlimited"},
    {40913, " bytes"},
    {40914, "No sound"},
    {40915, "Direct connection,FTP <Open host>,FTP <User user@host:port>,HTTP <Get>,FTP <User user@host port>,"
            "FTP <Site host>,FTP <Site user@host>,SOCKS5,HTTP <Connect>,SOCKS4"},
    {40916, "Unknown (%1)"},
    {40917, "The settings could not be saved to the profile folder."},
    // File choosers: the labels of their filters and their titles.
    {40921, "All Files"},
    {40922, "Fetchora Files"},
    {40923, "URL list files"},
    {40924, "%1 File"},
    {40925, "HTML File"},
    {40926, "Sounds"},
    {40931, "Sound file"},
    {40932, "Scanner program"},
    {40933, "Import Proxies"},
    {40934, "Export Proxies"},
    {40935, "Export to HTML"},
    {40936, "Process Web Page File"},
    {40937, "Save to"},
    {40938, "Add previously downloaded file"},
    {40939, "Recover browser's broken downloads"},
    {40940, "Get previously downloaded files directory"},
    {40941, "Folder"},
    // The job sheet that edits the defaults of new downloads.
    {40951, "Default download properties"},
    // The Other page's tool tips: a choice's is its group's text and its own.
    {40960, "%1 %2."},
    {40961, "Asks before the program exits while a site explorer or another tool window is open."},
    {40962, "Asks before the program exits while jobs are still downloading."},
    {40963, "Shows the new-job dialog for a link sent from the browser's context menu."},
    {40964, "Shows the job settings once before a batch of URLs is added."},
    {40965, "Shows the new-job dialog for a link dropped on the drop zone."},
    {40966, "Sorts the categories under each category by name; takes effect after a restart."},
    {40967, "A minimized main window leaves the task bar and stays reachable from the tray icon."},
    {40968, "When off, the close box only minimizes the main window."},
    {40969, "Shows exact byte counts instead of sizes rounded to KB or MB."},
    {40970, "Exits the program once the last running job has finished."},
    {40971, "A job that downloaded successfully leaves the job list; its file stays on disk."},
    {40972, "Lets other waiting jobs run before a job that keeps failing."},
    {40973, "Reserves the whole file on disk at the start, so a full disk is found early."},
    // The proxy list's files and entries.
    {40981, "Cannot read \"%1\": %2"},
    {40982, "\"%1\" is too large to be a proxy list."},
    {40983, "\"%1\" is not a proxy list: line %2 is not of the form server:port@TYPE or "
            "server:port@TYPE:user:password."},
    {40984, "\"%1\" holds no proxies."},
    {40985, "There is nothing to export: the list holds only the direct connection."},
    {40986, "Cannot create \"%1\"."},
    {40987, "Could not write \"%1\"."},
    {40988, "Please enter the proxy's server name or address, without blanks."},
    {40989, "The port must be a number from 1 to 65535."},
    {40990, "The rollback must be from %1 to %2 bytes."},
    // Messages about files and folders of the job sheet and the file dialogs.
    {40991, "%1 is a file, not a folder."},
    {40992, "The folder %1 does not exist. Create it?"},
    {40993, "The file is no longer there:\n%1"},
    {40994, "No program could open %1."},
    {40995, "The folder %1 cannot be shown."},
    {40996, "Import"},
    {40997, "The file's information file is not used: %1"},
    {40998, "(proxy %1)"},
    // fetchora-cli's own messages (41000-41199; ids in cli/cli_texts.h).
    {41001, "Download"},
    {41002, "Connection (this run only; the settings file keeps its values)"},
    {41003, "Output"},
    {41004, "Other modes"},
    {41005, "Job lists (the profile's job database; not while a daemon runs)"},
    {41010, "usage: fetchora-cli [-d DIR] [-s N] [-o NAME] [--referer URL] [--mirror URL]... [--limit "
            "BYTES_PER_S] [-q] [-v] [-i FILE]\n"
            "                    [-x PROXY_URL] [--ca-file FILE] [--retry N] [--timeout S] URL...\n"
            "       fetchora-cli --db FILE list\n"
            "       fetchora-cli --daemon\n"
            "       fetchora-cli --send URL [REFERER]\n"
            "       fetchora-cli --info N\n"
            "       fetchora-cli --batch TEMPLATE FROM TO [WIDTH] [download options] [URL...]\n"
            "       fetchora-cli --import-list FILE [--category NAME]\n"
            "       fetchora-cli --export-list FILE [--category NAME]\n"
            "       fetchora-cli --export-html FILE [TEMPLATE] [--category NAME]\n"
            "       fetchora-cli --install-browser-hosts | --uninstall-browser-hosts [--system]\n"
            "       fetchora-cli --help | --version"},
    {41011, "Downloads http://, https:// and ftp:// URLs into files, each over parallel connections; run the "
            "same\ncommand again to resume an interrupted download. Exit status: 0 all completed, 1 any failed or\n"
            "interrupted, 2 bad arguments."},
    {41020, "save into DIR (default: the current folder)"},
    {41021, "save the one URL given as NAME"},
    {41022, "fetch each file over up to N connections"},
    {41023, "also download the URLs of a URL list file, one a line"},
    {41024, "send URL as the page that links to the files"},
    {41025, "fetch the one file from URL too (repeatable); parts spread over the mirrors"},
    {41026, "also download the series TEMPLATE with each (*) replaced by FROM..TO (numbers zero-padded to WIDTH, "
            "or letters)"},
    {41027, "go through SCHEME://[USER:PASS@]HOST[:PORT], SCHEME: http, https (CONNECT), socks4, socks5"},
    {41028, "trust the PEM certificate authorities of FILE besides the system's"},
    {41029, "retry a failing job at most N times (0 to 9999)"},
    {41030, "give up a connection attempt or a silent peer after S seconds (30 to 600)"},
    {41031, "keep the total speed under BYTES_PER_S"},
    {41032, "print no progress lines and no end messages"},
    {41033, "print every part log line on standard error"},
    {41034, "print the program's messages in language CODE (deu, de or de_DE) from its kx???.ini file"},
    {41035, "add the URLs of a URL list file as jobs without downloading them"},
    {41036, "write the URLs of the jobs to a URL list file"},
    {41037, "write the jobs as an HTML page shaped by an export template (.kxs file or style name)"},
    {41038, "the category (name or A/B path) the list commands add to or export; default: new jobs go to "
            "Download, exports take every job"},
    {41039, "print every node of a job database as one JSON line"},
    {41040, "run headless with the job queue and the service socket"},
    {41041, "hand a URL to the running daemon"},
    {41042, "print the N-th waiting or running job of the daemon (-1: all)"},
    {41043, "let Firefox and Chromium browsers start fetchora-host for the extension"},
    {41044, "remove what --install-browser-hosts wrote"},
    {41045, "with the two above: the system-wide folders of every user (needs root)"},
    {41046, "print this help"},
    {41047, "print the version"},
    {41050, "DIR"},
    {41051, "NAME"},
    {41052, "N"},
    {41053, "FILE"},
    {41054, "URL"},
    {41055, "TEMPLATE FROM TO [WIDTH]"},
    {41056, "S"},
    {41057, "BYTES_PER_S"},
    {41058, "CODE"},
    {41059, "FILE [TEMPLATE]"},
    {41060, "FILE list"},
    {41061, "URL [REFERER]"},
    {41062, "NAME"},
    {41063, "N"},
    {41070, "unknown option %1"},
    {41071, "%1 takes no value"},
    {41072, "%1 needs %2"},
    {41073, "%1 needs a language code"},
    {41074, "%1 needs a folder"},
    {41075, "%1 needs a file name"},
    {41076, "%1 needs a URL list file"},
    {41077, "%1 needs an http://, https:// or ftp:// URL"},
    {41078, "%1 needs a number of connections of at least 1"},
    {41079, "--limit needs a speed in bytes per second above 0"},
    {41080, "--ca-file needs a file of PEM certificate authorities"},
    {41081, "--retry needs a number of retries from %1 to %2"},
    {41082, "--timeout needs a number of seconds from %1 to %2"},
    {41083, "--db needs a database file"},
    {41084, "--batch is given twice"},
    {41085, "--batch %1 gives %2, not a URL fetchora can download (use http://, https://, ftp://, mms://, mmst:// or rtsp://)"},
    {41086, "--batch FROM and TO are both numbers or both single letters"},
    {41087, "%1 needs a file"},
    {41088, "give one of --import-list, --export-list and --export-html"},
    {41089, "--category needs a category name"},
    {41090, "--info needs a number"},
    {41091, "-i, --batch, --mirror, -x, --ca-file, --retry and --timeout apply to a download run only"},
    {41092, "--category applies to --import-list, --export-list and --export-html only"},
    {41093, "--system goes with --install-browser-hosts or --uninstall-browser-hosts"},
    {41094, "unexpected argument %1"},
    {41095, "--db FILE takes the command list"},
    {41096, "--export-html takes a file and an optional template"},
    {41097, "--send takes a URL and an optional referer"},
    {41098, "no URL given"},
    {41099, "-o names one file; give a single URL with it"},
    {41100, "--mirror names another source of one file; give a single URL with it"},
    {41101, "--ca-file %1: no such file"},
    {41102, "--batch %1 has no (*) where the values of the series go"},
    {41110, "a proxy URL starts with http://, https://, socks4:// or socks5://"},
    {41111, "unknown proxy scheme \"%1\" (use http, https, socks4 or socks5)"},
    {41112, "a proxy URL has no path"},
    {41113, "a proxy URL holds no blanks or control characters"},
    {41114, "the user name before @ is empty"},
    {41115, "user name and password are at most 255 bytes each"},
    {41116, "user name and password hold no NUL bytes"},
    {41117, "a SOCKS4 proxy takes a user name but no password"},
    {41118, "an IPv6 address needs its closing ]"},
    {41119, "not an IPv6 address in [ ]"},
    {41120, "only :port may follow ]"},
    {41121, "the port after : is empty"},
    {41122, "the proxy URL names no host"},
    {41123, "not a host name: %1"},
    {41124, "the proxy port is a number from 1 to 65535"},
    {41131, "a fetchora daemon is running and owns the job database; stop it before importing or exporting lists "
            "(or hand single URLs to it with fetchora-cli --send URL)"},
    {41132, "another fetchora instance is already running (its service is %1)"},
    {41133, "a fetchora daemon is running and owns the job database; hand URLs to it with fetchora-cli --send URL"},
    {41140, "pnm:// streams cannot be captured: %1 (ask the server for the same stream as rtsp://)"},
    {41141, "not a URL fetchora can download: %1 (use http://, https://, ftp://, mms://, mmst:// or rtsp://)"},
    {41142, "waiting"},
    {41150, "retry %1 in %2 s"},
    {41151, "ETA %1"},
    {41152, "%1 conn"},
    {41153, "%1: failed: %2"},
    {41154, "the download failed"},
    {41155, "%1: done, %2 in %3"},
    {41156, "%1: done, %2 in %3 (%4/s)"},
    {41157, "%1: stopped; run the same command again to resume"},
    {41158, "%1: stopped at %2; run the same command again to resume"},
    {41165, "cannot start the service: %1"},
    {41166, "the desktop program takes over; saving the jobs and ending"},
    {41167, "%1 Yes"},
    {41168, "%1 OK"},
    {41169, "cannot find the running instance: %1"},
    {41170, "the running instance does not serve %1"},
    {41171, "no fetchora instance is running (start one with fetchora-cli --daemon)"},
    {41172, "cannot open the database %1"},
    {41173, "the database %1 is damaged; the listing shows what could be read"},
    {41174, "no category named %1 in the job database"},
    {41175, "Added %1 job"},
    {41176, "Added %1 jobs"},
    {41177, "Added %1 job; %2 already in the database"},
    {41178, "Added %1 jobs; %2 already in the database"},
    {41179, "Wrote %1 URL to %2"},
    {41180, "Wrote %1 URLs to %2"},
    {41181, "Wrote %1"},
    {41182, "no export template in %1; give one: --export-html FILE TEMPLATE.kxs"},
    {41183, "%1 is missing; install Fetchora with cmake --install first"},
    {41184, "Now add the Fetchora extension to the browser (its folder is share/fetchora/browser of the install)."},
    // What both front ends print outside a window: start errors, the end of a run and the browser
    // hosts' setup (ids in shell/front_end_texts.h).
    {41201, "cannot use the profile folder: %1 (set FETCHORA_HOME to a writable folder)"},
    {41202, "cannot create a private temporary folder: %1 (check TMPDIR)"},
    {41203, "cannot read the settings file %1 (check its permissions; the defaults are used until it can be read)"},
    {41204, "cannot save the settings to %1"},
    {41205, "some transfer threads did not end in time"},
    {41206, "the service for other programs is off: %1"},
    {41211, "%1: cannot write %2"},
    {41212, "%1: cannot write %2 (%3)"},
    {41213, "%1: wrote %2"},
    {41214, "no browser found: start Firefox or a Chromium browser once, then run this again"},
    {41215, "%1: cannot remove %2 (%3)"},
    {41216, "%1: removed %2"},
    {41217, "no browser host manifest of Fetchora was installed"},
    {41218, "%1 is installed as a Flatpak (%2): its sandbox cannot start fetchora-host. Use the browser from "
            "Debian's packages for browser capture, or allow it to run host programs with \"flatpak override "
            "--user --talk-name=org.freedesktop.Flatpak %2\" and a manifest whose program calls \"flatpak-spawn "
            "--host fetchora-host\"."},
    {41219, "Chromium is installed as a Snap: its confinement keeps it from starting fetchora-host. Use the "
            "browser from Debian's packages for browser capture."},
    {41220, "Firefox is installed as a Snap: it reaches fetchora-host through the desktop's portal, which may "
            "ask once whether to allow it."},
    // The failure causes the lower layers put into words: connections, TLS, proxies, HTTP, FTP, the
    // engine, the platform's folder checks, list files and the database (ids in net/net_texts.h,
    // engine/engine_texts.h, shell/folder_fault_text.h, lists/file_error.h, model/database_file.h and
    // model/kxd_archive.h).
    {41301, "the connection failed"},
    {41302, "connection refused"},
    {41303, "connection reset by the peer"},
    {41304, "connection aborted"},
    {41305, "connection timed out"},
    {41306, "network unreachable"},
    {41307, "host unreachable"},
    {41308, "socket error %1"},
    {41311, "cannot look up the host name %1 now"},
    {41312, "cannot look up the host name %1 now (%2)"},
    {41313, "the host name %1 does not exist"},
    {41321, "TLS is not available for %1."},
    {41322, "the certificate is not valid for %1 (%2)"},
    {41323, "the certificate of %1 is not trusted (%2)"},
    {41324, "TLS handshake with %1 failed"},
    {41325, "the peer closed the connection"},
    {41326, "no reason given"},
    {41327, "TLS read failed"},
    {41328, "TLS write failed"},
    {41331, "The proxy type %1 is unknown."},
    {41332, "An FTP proxy cannot carry a secure connection to %1."},
    {41333, "The proxy closed the connection during the handshake."},
    {41334, "The proxy's answer is too long."},
    {41335, "The tunnel target is not a host name: %1"},
    {41336, "The proxy's answer is not HTTP: %1"},
    {41337, "The proxy's answer is not HTTP: it begins with an empty line."},
    {41338, "The proxy refused the tunnel: %1"},
    {41339, "The proxy's answer is not SOCKS4: %1."},
    {41340, "The proxy's answer is not SOCKS5."},
    {41341, "SOCKS4 can only reach an IPv4 address, not %1."},
    {41342, "The SOCKS4 proxy refused the connection: %1."},
    {41343, "The SOCKS5 proxy accepts none of the offered login methods."},
    {41344, "The SOCKS5 proxy rejected the user name or password."},
    {41345, "The SOCKS5 proxy's answer has an unknown address type."},
    {41346, "The SOCKS5 user name or password is longer than 255 bytes."},
    {41347, "SOCKS5 cannot carry the host name %1."},
    {41348, "The SOCKS5 proxy could not connect: %1."},
    {41349, "unknown answer %1"},
    {41350, "the request was rejected or failed"},
    {41351, "the proxy could not reach the identification service"},
    {41352, "the identification service did not confirm the user"},
    {41353, "general failure"},
    {41354, "connection not allowed by its rules"},
    {41355, "connection refused by the target"},
    {41356, "time-to-live expired"},
    {41357, "command not supported"},
    {41358, "address type not supported"},
    {41361, "the server did not take the request in time"},
    {41362, "the server took more than %1 s to send its answer's head"},
    {41363, "the server sent nothing for %1 s"},
    {41364, "The server closed the connection before its answer's head was complete."},
    {41365, "The server sent a header line longer than %1 bytes."},
    {41371, "The server answered \"%1\"."},
    {41372, "The server has no room for another login now."},
    {41373, "The login was refused: FTP %1"},
    {41374, "Active mode is not possible through this proxy."},
    {41375, "No listening socket for the data connection could be made."},
    {41376, "The server announced a transfer of 0 bytes."},
    {41377, "The passive-mode answer names no address: %1"},
    {41378, "The server refused to start at byte %1."},
    {41379, "The server refused to list the folder: %1"},
    {41380, "The folder was not found on the server."},
    {41381, "The folder was not found on the server: %1"},
    {41382, "The command could not be sent."},
    {41383, "The server sent too many replies."},
    {41384, "The server closed the session: %1"},
    {41385, "The server closed the control connection."},
    {41386, "the data connection failed"},
    {41387, "The data connection ended at byte %1, before the file's end at %2."},
    {41388, "The server's answer does not fit the dialogue."},
    {41391, "Download success %1"},
    {41392, "Download failure %1"},
    {41401, "the download failed"},
    {41402, "%1 (gave up after %2 retries)"},
    {41403, "Too many redirects (more than %1)."},
    {41404, "The redirect does not lead to a usable URL."},
    {41405, "The server sent the whole file instead of the range from byte %1."},
    {41406, "The stream's size changed on the server: it is fetched again from its start."},
    {41411, "The server sent a reply line longer than %1 bytes."},
    {41412, "The server sent a reply of more than %1 lines."},
    {41413, "The listing was stopped."},
    {41414, "The control connection failed."},
    {41415, "The server's answer ended the listing."},
    {41416, "The server did not answer in time."},
    {41417, "The data connection to port %1 failed."},
    {41418, "The server's data connection could not be taken."},
    {41419, "The folder listing is larger than %1 MiB; it was not read."},
    {41420, "The folder listing has more than %1 lines; it was not read."},
    {41421, "The host name %1 could not be resolved."},
    {41422, "The server could not be reached."},
    {41423, "The login did not succeed."},
    {41424, "The server's answer does not fit the listing."},
    {41425, "The server ended the listing without a data connection."},
    {41426, "This is no FTP address that can be listed."},
    {41431, "no profile folder: neither FETCHORA_HOME, XDG_DATA_HOME nor HOME is set"},
    {41432, "cannot create %1: %2"},
    {41433, "%1 exists but is not a folder"},
    {41434, "cannot open %1: %2"},
    {41435, "%1 is a symbolic link"},
    {41436, "cannot examine %1: %2"},
    {41437, "%1 belongs to another user; the folder must be one of ours"},
    {41438, "cannot make private %1: %2"},
    {41439, "%1 may be written by every user; make it private (chmod 700)"},
    {41440, "cannot create a private folder in %1: %2"},
    {41451, "%1: larger than %2 bytes"},
    {41452, "%1: read error"},
    {41453, "%1: cannot be written"},
    {41454, "the file is too large"},
    {41455, "not a database file"},
    {41456, "%1 at byte %2"},
    {41457, "read error"},
    {41471, "Cannot write %1: %2"},
    {41472, "write failed"},
    {41473, "A text of the database is too long to be stored."},
    {41481, "no error"},
    {41482, "unexpected end of file"},
    {41483, "impossible item count"},
    {41484, "unknown string length form"},
    {41485, "unknown node tag"},
    {41486, "unknown error"},
    {41487, "Is a directory"},
    {41488, "Too many open files"},
    {41491, "No space left on device"},
    {41492, "Permission denied"},
    {41493, "Read-only file system"},
    {41494, "Not a directory"},
    {41495, "No such file or directory"},
    {41496, "Disk quota exceeded"},
    {41497, "Input/output error"},
    {41498, "File name too long"},
    {41499, "File exists"},
    // The job sheet's refusals.
    {41501, "\"%1\" is not a URL that can be downloaded. Type it with http://, https:// or ftp:// in front."},
    {41502, "%1 is already in the list."},
    {41503, "Type the URL of the file to download."},
    {41504, "Choose the folder to save the file in."},
    {41505, "\"%1\" is not a full folder path: it must start with /."},
    {41506, "The file can be split into 1 to %1 parts."},
    {41507, "The folder %1 cannot be created: %2"},
    {41508, "The file cannot be renamed to %1: a file of that name exists or the folder is not writable."},
    {41509, "The files cannot be moved to %1: a file of that name exists there or the folder is not writable."},
    // The job sheet's texts without a control id, then the causes below the engine.
    {41601, "(each job keeps its folder)"},
    {41602, "(category %1)"},
    {41603, "Add alternate URL"},
    {41604, "Edit alternate URL"},
    {41605, "&URL:"},
    {41611, "The server's answer has more than %1 header lines."},
    {41612, "The server sent a bad Content-Length: %1"},
    {41613, "The server sent two different Content-Length values."},
    {41614, "The server sent a Content-Length that does not fit: %1"},
    {41615, "The server sent a bad Content-Range: %1"},
    {41616, "The server sent a range beyond the end of the file: %1"},
    {41617, "The server sent a bad chunk size: \"%1\""},
    {41618, "The server sent a chunk size that does not fit: \"%1\""},
    {41619, "The server sent a chunk without a size: \"%1\""},
    {41620, "The server sent a chunk-size line longer than %1 bytes."},
    {41621, "The connection closed inside a chunked body."},
    {41622, "The connection closed after %1 of %2 bytes."},
    {41623, "The connection closed at byte %1 of %2."},
    {41631, "the server refused the search"},
    {41632, "Mirror search is off: no search host is set on the Mirrors page."},
    {41633, "Mirror search is off: web search is switched off on the Mirrors page."},
    {41634, "no answer"},
    {41701, "The MMS worker cannot fetch this URL."},
    {41702, "Send Command %X"},
    {41703, "Rev Command %X"},
    {41704, "Type=%d,Rev %d Byte(s)"},
    {41705, "Server: %s Tool: %s Encryption type: %s"},
    {41706, "Packet Length: %d Total Packets: %d Header Size: %d"},
    {41707, "Flags: %x  Time: %s / %d"},
    {41708, "Received ASF header!"},
    {41709, "Illegal ChunkLength. Chunk is %d bytes!\n"},
    {41710, "Unknown header type: %02X:%02X\n"},
    {41711, "Unknow ErrorCode: 0X%X"},
    {41712, "file failed to open"},
    {41713, "You do not have access to the location or file"},
    {41714, "A parameter in the location is incorrect"},
    {41715, "the network is busy"},
    {41716, "too many connected sessions to server exist"},
    {41717, "There was no timely response from the server"},
    {41718, "File Not Found."},
    {41719, "the network has failed - connection was lost"},
    {41720, "There is no more data in the stream (UDP)"},
    {41721, "the server did not take the command in time"},
    {41722, "The server closed the funnel."},
    {41723, "The server's security challenge could not be read."},
    {41724, "The server sent no usable ASF header."},
    {41725, "The server sent data before the stream header."},
    {41726, "The stream ended before it began."},
    {41727, "The server closed the connection."},
    {41728, "the server sent nothing for %1 s"},
    {41729, "The server refused the login."},
    {41730, "The NTLM answer could not be computed."},
    {41731, "The RTSP worker cannot fetch this URL."},
    {41732, "the server did not take the request in time"},
    {41733, "The server's answer could not be read."},
    {41734, "The server redirected without a location."},
    {41735, "The server sent no description of the stream."},
    {41736, "The server's NTLM challenge could not be read."},
    {41737, "The stream's description names no stream."},
    {41738, "The description carries no ASF header."},
    {41739, "Total Packets: %d Packet Length: %d Packet Length2: %d"},
    {41740, "The server sent data before the stream was set up."},
    {41741, "The server sent a data frame that is no ASF packet."},
    {41742, "The server announced a description of %1 bytes."},
    {41743, "The server sent bytes that are neither an answer nor a data frame."},
    {41744, "The server sent a head longer than %1 bytes."},
    {41745, "The stream header is not a complete ASF header."},
    {41746, "The stream header has no data object after its header object."},
    {41747, "An object of the stream header runs past its end."},
    {41748, "The stream header's file properties are too short."},
    {41749, "The stream header has no file properties."},
    {41750, "The stream header gives no usable packet length."},
    {41751, "The stream header gives no usable packet count."},
    {41752, "WARNING! buffer pointer %d bytes after packet!\n"},
    {41753, "NOTE: %d bytes not covered by payload\n"},
    {41754, "The server sent packet %1 of a file of %2 packets."},
    {41755, "The stream ended %1 packets before the end of the file."},
    {41756, "the service already listens at %1"},
    {41757, "the socket path %1 is longer than the %3 bytes a socket address holds (set XDG_RUNTIME_DIR or TMPDIR to a shorter folder)"},
    {41758, "%1 exists and is not a socket; remove it if it is not needed"},
    {41759, "%1 belongs to another user; the service cannot start there"},
    {41760, "another instance already serves %1"},
    {41761, "cannot create a socket: %2"},
    {41762, "cannot bind %1: %2"},
    {41763, "cannot serve at %1: %2"},
    {41764, "cannot create a pipe: %2"},
    {41765, "the socket path %1 is too long for a socket address"},
    {41766, "the request is too long"},
    {41767, "no instance is running (nothing listens at %1)"},
    {41768, "the running instance did not accept the connection in time"},
    {41769, "cannot connect to %1: %2"},
    {41770, "the service at %1 is run by another user; nothing was sent"},
    {41771, "the running instance did not take the request in time"},
    {41772, "the connection to the running instance broke"},
    {41773, "no reply from the running instance within %3 ms"},
    {41774, "the running instance closed the connection without a reply"},
    {41775, "the running instance sent a malformed reply"},
    {41776, "the reply of the running instance was cut short"},
    {41777, "the running instance did not answer the request to hand over"},
    {41778, "the running instance did not answer the request to hand over (%1)"},
    {41779, "the file is cut short"},
    {41780, "the file does not hold a job record"},
    {41781, "the file holds a Category, not a job"},
    {41782, "%1 bytes follow the job record"},
    {41783, "%1: too large for a job record"},
    {41784, "%1: the job record is too large to store"},
    {41785, "%1: not a regular file"},
    {41786, "the database has no Category to add to"},
    {41787, "not a valid URL: %1"},
    {41788, "the job could not be added"},
    {41789, "the database has no \"Download\" Category"},
    {41790, "%1 stays where it is: %2"},
    {41791, "%1: already in the export folder"},
    // Tool tips of the dialogs and the drop zone.
    {41801, "Select unfinished jobs of the download list first."},
    {41802, "Every folder gets a new category of its name for its files"},
    {41803, "A host name, or extensions separated by \";\" such as .ZIP;.R[0-9][0-9]"},
    {41804, "Drop links here"},
    {41805, "Moves the file into the folder of the chosen category"},
    // Messages and texts of the dialogs composed at run time.
    {41806, "Start the %1 selected job(s) b&y this schedule"},
    {41807, "%1 job(s) of the download list start by schedule."},
    {41808, "Choose a folder that exists."},
    {41809, "... and %1 more"},
    {41810, "No export style (*.kxs) was found in %1."},
    {41811, "%1\n%2 of %3 files could not be written."},
    {41812, "(no such category)"},
    {41813, "Site"},
    {41814, "Extension"},
    {41815, "None"},
    {41816, "Please choose the rule's condition."},
    {41817, "Please enter the site the rule is for."},
    {41818, "Please enter the extensions the rule is for."},
    {41819, "Please choose the category the rule moves files to."},
    {41820, "Rule \"%1\": %2"},
    {41821, "More than %1 URLs"},
    {41822, "%1 URL(s)"},
    {41823, "The job's address is not a URL the program can download."},
    {41824, "Site Properties"},
    {41851, "Add Previously Downloaded File"},
    {41852, "Add Broken Download"},
    {41853, "%1 (%2 bytes)"},
    {41854, "Enter the URL the file was downloaded from (http, https or ftp)."},
    {41855, "Proxy #%1 (not in the list)"},
    {41856, "Please put \"http://\" or \"ftp://\" before the address to tell what type of connection to use."},
    {41857, "The number of connections must be from 1 to %1."},
    {57344, "Fetchora"},
    {61204, "Download"},
    {61206, "Downloaded"},
    {61208, ",,Name,Size,Completed,Percent,Elapsed,Left,Speed,Num,Retry,URL,Comment,Create Time,Complete Time"},
    {61210, "Connecting %1 [IP=%2]"},
    {61211, "Connected."},
    {61212, "Cannot resolve host name"},
    {61213, "Connecting %1"},
    {61214, "Closed."},
    {61216, "Create or Open file error."},
    {61217, "Invalid input."},
    {61218, "Time out."},
    {61219, "Wait %d second for retry"},
    {61220, "Encountered maximum error.  This part job is halted."},
    {61221, "Start Receiving Data!"},
    {61224, "Can't move or delete special Category!"},
    {61225, "Delete Category and all it's sub-categories?"},
    {61226, "Can't move Category!"},
    {61229, "Add new download"},
    {61231, "Deleted"},
    {61238, "Status,Resume,Name,Size,Completed,Percent,Elapsed,Left,Speed,Num,Retry,URL,Comment,Create Time,Complete "
             "Time"},
    {61239, "Connecting proxy %1"},
    {61241, "Error occured!"},
    {61242, "Connecting proxy %1 [IP=%2]"},
    {61243, "Socket connected, Waiting for welcome message."},
    {61244, "Login Successful"},
    {61245, "This site can resume broken downloads."},
    {61246, "This site can't resume broken downloads."},
    {61248, "Error Connected to %s , Port %d."},
    {61249, "File Not Found."},
    {61250, "Site doesn't support resume, download stopped"},
    {61251, "URL now in download list."},
    {61252, "File size unknown, can't start other parts."},
    {61268, "Also move downloaded file?"},
    {61269, "Fetchora - %1 file(s) in queue %2 file(s) downloading"},
    {61270, "Fetchora - %1 file(s) in queue"},
    {61272, "Write to file error!  Please use SCANDISK utility to fix this error."},
    {61273, "Re-establish Connection"},
    {61274, "(Fetchora Should Never Dial)"},
    {61275, "Start dialing..."},
    {61276, "Wait dialing..."},
    {61277, "Dial-up Error: %1"},
    {61281, "Redirect to %1"},
    {61285, "Name,URL,Size,Date,Complete Time,Save as,Comment"},
    {61287, "Schedule stop!"},
    {61288, "Site does not support resume downloading.  This part job is halted."},
    {61289, "Shutdown"},
    {61290, "Fetchora will shutdown Windows in %d seconds."},
    {61291, "HangUp"},
    {61292, "Fetchora will hangup in %d seconds."},
    {61293, "Destination file exists, auto rename"},
    {61294, "Destination file exists, download job is halted."},
    {61296, "Software,Game,Driver,Mp3"},
    {61298, "The file on the server is newer, you should download it again."},
    {61299, "Didn't receive any data within 99 tries, should stop."},
    {61301, "Date,Information"},
    {61307, "Direct Connection"},
    {61313, "Error encountered.  Download again later."},
    {61315, "Connected."},
    {61316, "Disconnected"},
    {61317, "Opening the port..."},
    {61318, "Port has been opened successfully"},
    {61319, "Connecting to the device..."},
    {61320, "The device has connected successfully."},
    {61321, "All devices in the device chain have been successfully connected."},
    {61322, "Verifying the user name and password..."},
    {61323, "An authentication event has occurred."},
    {61324, "Requested another validation attempt with a new user."},
    {61325, "Server has requested a callback number."},
    {61326, "The client has requested you to change the password"},
    {61327, "Registering your computer on the network..."},
    {61328, "The link-speed calculation phase is starting..."},
    {61329, "An authentication request is being acknowledged."},
    {61330, "Re-authentication (after callback) is starting."},
    {61331, "The client has successfully completed authentication."},
    {61332, "The line is about to disconnect for callback."},
    {61333, "Delaying to give the modem time to reset for callback."},
    {61334, "Waiting for an incoming call from server."},
    {61335, "Projection result information is available."},
    {61336, "User authentication is being initiated or retried."},
    {61337, "Client has been called back and is about to resume authentication."},
    {61338, "Logging on to the network..."},
    {61339, "Subentry has been connected"},
    {61340, "Subentry has been disconnected"},
    {61341, "Terminal state supported by RASPHONE.EXE."},
    {61342, "Retry authentication state supported by RASPHONE.EXE."},
    {61343, "Callback state supported by RASPHONE.EXE."},
    {61344, "Change password state supported by RASPHONE.EXE."},
    {61346, "File size already changed!"},
    {61351, "Are you sure you really want to hangup?"},
    {61355, "Doesn't include valid URL(s)!"},
    {61360, "File size is different,can't download from this site."},
    {61361, "No Response"},
    {61362, "Start Ping."},
    {61363, "Ping Done!"},
    {61364, "Start Ftp Search."},
    {61365, "Ftp search finished.  Total found %d mirror sites."},
    {61366, "Download using Fetchora"},
    {61367, "Download All by Fetchora"},
    {61373, "Please put \"http://\" or \"ftp://\" before the address to tell what type of connection "
            "to use."},
    {61374, "Name,Type,Title,URL,Size,Modified,From"},
    {61381, "The file '%1',already exists in your list.\r\n"
            "('%2')\r\n"
            "  Add this one as alternate(mirrored) URL?"},
    {61388, "Fetchora will close in %d seconds."},
    {61400, "Where the file is from {specific site}"},
    {61401, "Where the filename extension is {specific string}"},
    {61402, "Move it to the {specified} category"},
    {61403, "New download rule"},
    {61404, "Favourites"},
    {61408, "Network is unreachable."},
    {61409, "Connection reset by peer."},
    {61410, "Connection refused."},
    {61411, "Please read user manual for more information."},
    {61425, "Reached max connections of this site"},
    {61426, "Only can use one connection for each file in this site."},
    {61427, "14.4K Modem,28.8K Modem,33.6K Modem,56K Modem/ISDN,128K ISDN,256K Cable/DSL,"
            "300K Cable/DSL,512K Cable/DSL,T1,LAN 10M,Other"},
    {61428, "Download database '%1' is corrupted, cannot find any backup database, please delete it "
            "then restart Fetchora."},
    {61429, "Restore download database"},
    {61430, "Download database '%1' is corrupted, please select one backup database and restore it."},
    {61431, "Download database '%1' is lost, please select one backup database and restore it."},
    {61440, "Use the same setting for other files?"},
    {61696, "Invalid filename."},
    {61729, "An unknown error occurred while accessing %1."},
    {61730, "%1 was not found."},
    {61731, "%1 contains an incorrect path."},
    {61732, "%1 could not be opened because there are too many open files."},
    {61733, "Access to %1 was denied."},
    {61734, "An incorrect file handle was associated with %1."},
    {62464, "Multi-Proxy"},
};

constexpr bool idsStrictlyAscending() {
    for (std::size_t i = 1; i < std::size(kStrings); ++i) {
        if (kStrings[i - 1].id >= kStrings[i].id) {
            return false;
        }
    }
    return true;
}
static_assert(idsStrictlyAscending(), "kStrings must be sorted by id, each id once");

// A hostile translation must not make us allocate gigabytes for "%2000000000d".
constexpr std::size_t kMaxFieldWidth = 256;

struct PrintfField {
    std::size_t length = 0;  // characters from the "%" to the conversion letter, inclusive
    std::size_t width = 0;
    bool leftAlign = false;
    bool zeroPad = false;
};

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Reads "%[flags][width][.precision][length]conversion" at `start`, which
// holds a "%"; nothing when the text there is no field.
std::optional<PrintfField> parsePrintfField(std::string_view text, std::size_t start) {
    PrintfField field;
    std::size_t i = start + 1;
    for (; i < text.size() && std::string_view("-+ #0").find(text[i]) != std::string_view::npos; ++i) {
        field.leftAlign = field.leftAlign || text[i] == '-';
        field.zeroPad = field.zeroPad || text[i] == '0';
    }
    for (; i < text.size() && isDigit(text[i]); ++i) {
        field.width = std::min(kMaxFieldWidth, field.width * 10 + static_cast<std::size_t>(text[i] - '0'));
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && isDigit(text[i]); ++i) {
        }
    }
    for (std::string_view length : {"I64", "I32", "hh", "ll", "h", "l", "L", "I"}) {
        if (text.substr(i, length.size()) == length) {
            i += length.size();
            break;
        }
    }
    if (i >= text.size() || std::string_view("diouxXcseEfgGaAp").find(text[i]) == std::string_view::npos) {
        return std::nullopt;
    }
    field.length = i + 1 - start;
    return field;
}

}  // namespace

std::span<const BuiltinString> builtinStringTable() { return kStrings; }

std::string_view builtinString(uint32_t id) {
    if (const ActiveLanguage* language = currentLanguage()) {
        if (const auto text = language->file.string(id)) {
            return *text;
        }
    }
    return englishString(id);
}

std::string_view englishString(uint32_t id) {
    const auto table = builtinStringTable();
    const auto it = std::lower_bound(table.begin(), table.end(), id,
                                     [](const BuiltinString& entry, uint32_t wanted) { return entry.id < wanted; });
    if (it == table.end() || it->id != id) {
        return {};
    }
    return it->text;
}

// One pass over the pattern only: text that an argument brings in is never
// scanned again, so an argument holding "%1" stays as it is. A placeholder is
// one digit, so "%10" is the first argument followed by "0".
std::string_view builtinListItem(uint32_t id, std::size_t index) {
    const auto item = [index](std::string_view list) -> std::optional<std::string_view> {
        for (std::size_t at = 0;; ++at) {
            const std::size_t comma = list.find(',');
            if (at == index) {
                return list.substr(0, comma);
            }
            if (comma == std::string_view::npos) {
                return std::nullopt;
            }
            list.remove_prefix(comma + 1);
        }
    };
    if (const auto shown = item(builtinString(id))) {
        return *shown;
    }
    return item(englishString(id)).value_or(std::string_view{});
}

std::string formatMessage(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size()) {
                out += args.begin()[index];
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string builtinText(uint32_t id, std::initializer_list<std::string_view> args) {
    return formatMessage(builtinString(id), args);
}

std::string fillPrintfFields(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    auto next = args.begin();
    std::size_t i = 0;
    while (i < pattern.size()) {
        if (pattern[i] != '%') {
            out += pattern[i++];
            continue;
        }
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        const auto field = parsePrintfField(pattern, i);
        if (!field || next == args.end()) {
            out += pattern[i++];
            continue;
        }
        const std::string_view value = *next++;
        const std::size_t padding = field->width > value.size() ? field->width - value.size() : 0;
        if (field->leftAlign) {
            out += value;
            out.append(padding, ' ');
        } else if (field->zeroPad && !value.empty() && (value[0] == '-' || value[0] == '+')) {
            out += value[0];
            out.append(padding, '0');
            out += value.substr(1);
        } else {
            out.append(padding, field->zeroPad ? '0' : ' ');
            out += value;
        }
        i += field->length;
    }
    return out;
}

}  // namespace fetchora
