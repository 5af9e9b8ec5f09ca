#pragma once
// String ids of fetchora-cli's own messages (usage and help, argument errors,
// progress and summary lines, the daemon's, the requests' and the list
// modes' messages), so that --lang reaches them. The texts are filled with
// shellText (shell/shell_texts.h). Machine-read output (the --db listing,
// -v's part log lines, the daemon's replies) is not among them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

// --help: the groups, the usage (lines joined by "\n") and the introduction.
inline constexpr uint32_t kStrCliGroupDownload = 41001;
inline constexpr uint32_t kStrCliGroupConnection = 41002;
inline constexpr uint32_t kStrCliGroupOutput = 41003;
inline constexpr uint32_t kStrCliGroupModes = 41004;
inline constexpr uint32_t kStrCliGroupLists = 41005;
inline constexpr uint32_t kStrCliUsage = 41010;
inline constexpr uint32_t kStrCliIntroduction = 41011;

// What each option does, in the order of --help.
inline constexpr uint32_t kStrCliAboutDir = 41020;
inline constexpr uint32_t kStrCliAboutOutput = 41021;
inline constexpr uint32_t kStrCliAboutSplit = 41022;
inline constexpr uint32_t kStrCliAboutInputFile = 41023;
inline constexpr uint32_t kStrCliAboutReferer = 41024;
inline constexpr uint32_t kStrCliAboutMirror = 41025;
inline constexpr uint32_t kStrCliAboutBatch = 41026;
inline constexpr uint32_t kStrCliAboutProxy = 41027;
inline constexpr uint32_t kStrCliAboutCaFile = 41028;
inline constexpr uint32_t kStrCliAboutRetry = 41029;
inline constexpr uint32_t kStrCliAboutTimeout = 41030;
inline constexpr uint32_t kStrCliAboutLimit = 41031;
inline constexpr uint32_t kStrCliAboutQuiet = 41032;
inline constexpr uint32_t kStrCliAboutVerbose = 41033;
inline constexpr uint32_t kStrCliAboutLang = 41034;
inline constexpr uint32_t kStrCliAboutImportList = 41035;
inline constexpr uint32_t kStrCliAboutExportList = 41036;
inline constexpr uint32_t kStrCliAboutExportHtml = 41037;
inline constexpr uint32_t kStrCliAboutCategory = 41038;
inline constexpr uint32_t kStrCliAboutDb = 41039;
inline constexpr uint32_t kStrCliAboutDaemon = 41040;
inline constexpr uint32_t kStrCliAboutSend = 41041;
inline constexpr uint32_t kStrCliAboutInfo = 41042;
inline constexpr uint32_t kStrCliAboutInstallHosts = 41043;
inline constexpr uint32_t kStrCliAboutUninstallHosts = 41044;
inline constexpr uint32_t kStrCliAboutSystem = 41045;
inline constexpr uint32_t kStrCliAboutHelp = 41046;
inline constexpr uint32_t kStrCliAboutVersion = 41047;

// The names of the values options take ("DIR").
inline constexpr uint32_t kStrCliValueDir = 41050;
inline constexpr uint32_t kStrCliValueName = 41051;
inline constexpr uint32_t kStrCliValueCount = 41052;
inline constexpr uint32_t kStrCliValueFile = 41053;
inline constexpr uint32_t kStrCliValueUrl = 41054;
inline constexpr uint32_t kStrCliValueSeries = 41055;
inline constexpr uint32_t kStrCliValueSeconds = 41056;
inline constexpr uint32_t kStrCliValueSpeed = 41057;
inline constexpr uint32_t kStrCliValueCode = 41058;
inline constexpr uint32_t kStrCliValueFileTemplate = 41059;
inline constexpr uint32_t kStrCliValueDatabase = 41060;
inline constexpr uint32_t kStrCliValueSend = 41061;
inline constexpr uint32_t kStrCliValueCategory = 41062;
inline constexpr uint32_t kStrCliValueItem = 41063;

// Argument errors; "%1" the option as given.
inline constexpr uint32_t kStrCliUnknownOption = 41070;
inline constexpr uint32_t kStrCliTakesNoValue = 41071;
inline constexpr uint32_t kStrCliNeedsValue = 41072;  // "%2" the value's name
inline constexpr uint32_t kStrCliNeedsLanguage = 41073;
inline constexpr uint32_t kStrCliNeedsFolder = 41074;
inline constexpr uint32_t kStrCliNeedsFileName = 41075;
inline constexpr uint32_t kStrCliNeedsUrlList = 41076;
inline constexpr uint32_t kStrCliNeedsMirrorUrl = 41077;
inline constexpr uint32_t kStrCliNeedsSplit = 41078;
inline constexpr uint32_t kStrCliNeedsLimit = 41079;
inline constexpr uint32_t kStrCliNeedsCaFile = 41080;
inline constexpr uint32_t kStrCliNeedsRetries = 41081;  // "%1".."%2" the range
inline constexpr uint32_t kStrCliNeedsTimeout = 41082;  // "%1".."%2" the range
inline constexpr uint32_t kStrCliNeedsDatabase = 41083;
inline constexpr uint32_t kStrCliBatchTwice = 41084;
inline constexpr uint32_t kStrCliBatchNotDownloadable = 41085;  // "%2" the first URL it gives
inline constexpr uint32_t kStrCliBatchBounds = 41086;
inline constexpr uint32_t kStrCliNeedsFile = 41087;
inline constexpr uint32_t kStrCliOneListCommand = 41088;
inline constexpr uint32_t kStrCliNeedsCategory = 41089;
inline constexpr uint32_t kStrCliNeedsInfoNumber = 41090;
inline constexpr uint32_t kStrCliDownloadOnly = 41091;
inline constexpr uint32_t kStrCliCategoryOnly = 41092;
inline constexpr uint32_t kStrCliSystemOnly = 41093;
inline constexpr uint32_t kStrCliUnexpectedArgument = 41094;
inline constexpr uint32_t kStrCliDbTakesList = 41095;
inline constexpr uint32_t kStrCliExportHtmlArguments = 41096;
inline constexpr uint32_t kStrCliSendArguments = 41097;
inline constexpr uint32_t kStrCliNoUrl = 41098;
inline constexpr uint32_t kStrCliOutputOneUrl = 41099;
inline constexpr uint32_t kStrCliMirrorOneUrl = 41100;
inline constexpr uint32_t kStrCliNoCaFile = 41101;  // "%1" the file
inline constexpr uint32_t kStrCliBatchNoMarker = 41102;  // "%1" the template

// -x: why a proxy URL is refused.
inline constexpr uint32_t kStrProxyNoScheme = 41110;
inline constexpr uint32_t kStrProxyUnknownScheme = 41111;  // "%1" the scheme
inline constexpr uint32_t kStrProxyHasPath = 41112;
inline constexpr uint32_t kStrProxyBlanks = 41113;
inline constexpr uint32_t kStrProxyEmptyUser = 41114;
inline constexpr uint32_t kStrProxyLoginTooLong = 41115;
inline constexpr uint32_t kStrProxyLoginNul = 41116;
inline constexpr uint32_t kStrProxySocks4Password = 41117;
inline constexpr uint32_t kStrProxyNoClosingBracket = 41118;
inline constexpr uint32_t kStrProxyNotIpv6 = 41119;
inline constexpr uint32_t kStrProxyAfterBracket = 41120;
inline constexpr uint32_t kStrProxyEmptyPort = 41121;
inline constexpr uint32_t kStrProxyNoHost = 41122;
inline constexpr uint32_t kStrProxyNotHostName = 41123;  // "%1" the host
inline constexpr uint32_t kStrProxyBadPort = 41124;

// Refusals of a run while a daemon owns the profile.
inline constexpr uint32_t kStrCliDaemonOwnsLists = 41131;
inline constexpr uint32_t kStrCliAnotherInstance = 41132;  // "%1" its socket
inline constexpr uint32_t kStrCliDaemonOwnsDownloads = 41133;

// A download run: "%1" the URL.
inline constexpr uint32_t kStrCliPnmStream = 41140;
inline constexpr uint32_t kStrCliNotDownloadable = 41141;
inline constexpr uint32_t kStrCliWaiting = 41142;

// Progress and summary lines.
inline constexpr uint32_t kStrCliRetry = 41150;  // "%1" the attempt ("2/5"), "%2" seconds
inline constexpr uint32_t kStrCliTimeLeft = 41151;  // "%1" the time
inline constexpr uint32_t kStrCliConnections = 41152;  // "%1" their number
inline constexpr uint32_t kStrCliFailed = 41153;  // "%1" the name, "%2" why
inline constexpr uint32_t kStrCliFailedWithoutCause = 41154;
inline constexpr uint32_t kStrCliDone = 41155;  // "%1" the name, "%2" the size, "%3" the time
inline constexpr uint32_t kStrCliDoneAtSpeed = 41156;  // and "%4" the speed
inline constexpr uint32_t kStrCliStopped = 41157;  // "%1" the name
inline constexpr uint32_t kStrCliStoppedAt = 41158;  // and "%2" the percent

// The daemon and the requests to it.
inline constexpr uint32_t kStrCliCannotServe = 41165;  // "%1" why
inline constexpr uint32_t kStrCliTakenOver = 41166;
inline constexpr uint32_t kStrCliAnsweredYes = 41167;  // "%1" the question
inline constexpr uint32_t kStrCliAnsweredOk = 41168;  // "%1" the question
inline constexpr uint32_t kStrCliNoInstanceFolder = 41169;  // "%1" why
inline constexpr uint32_t kStrCliNotServed = 41170;  // "%1" the request
inline constexpr uint32_t kStrCliNoInstance = 41171;

// The --db listing and the list modes.
inline constexpr uint32_t kStrCliCannotOpenDatabase = 41172;  // "%1" the file
inline constexpr uint32_t kStrCliDatabaseDamaged = 41173;  // "%1" the file
inline constexpr uint32_t kStrCliNoCategory = 41174;  // "%1" the name
inline constexpr uint32_t kStrCliAddedOne = 41175;  // "%1" 1
inline constexpr uint32_t kStrCliAddedMany = 41176;  // "%1" the number
inline constexpr uint32_t kStrCliAddedOneKnown = 41177;  // and "%2" those already there
inline constexpr uint32_t kStrCliAddedManyKnown = 41178;
inline constexpr uint32_t kStrCliWroteOneUrl = 41179;  // "%1" 1, "%2" the file
inline constexpr uint32_t kStrCliWroteUrls = 41180;
inline constexpr uint32_t kStrCliWroteFile = 41181;  // "%1" the file
inline constexpr uint32_t kStrCliNoTemplate = 41182;  // "%1" the program folder

// --install-browser-hosts.
inline constexpr uint32_t kStrCliHostMissing = 41183;  // "%1" fetchora-host's path
inline constexpr uint32_t kStrCliAddExtension = 41184;

}  // namespace fetchora
