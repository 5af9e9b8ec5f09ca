#pragma once
// String ids of window texts that no control id names: the fixed items of
// the options pages' drop-downs, their refusals and the file choosers'
// titles (their filters' labels are in shell/file_filters.h).
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

// Comma lists, item i standing for value i.
inline constexpr uint32_t kStrConnectionTypes = 40901;  // "14.4K Modem,...,Other"
inline constexpr uint32_t kStrMoveDownloadedChoices = 40904;  // "No,Ask,Yes"
inline constexpr uint32_t kStrExistingFileChoices = 40905;  // "Overwrite it,Rename the new file,..."
// The user agents that are no agent's own text.
inline constexpr uint32_t kStrNoUserAgent = 40902;  // "None"
inline constexpr uint32_t kStrCustomUserAgent = 40903;  // "Custom"
// A stored value no item stands for.
inline constexpr uint32_t kStrOtherValue = 40906;  // "Other (%1)"
inline constexpr uint32_t kStrOutOfRange = 40907;  // "%1 must be between %2 and %3."
inline constexpr uint32_t kStrTwoLetters = 40908;  // "%1 must be two letters."
// The Other page's tool tips: "%1 %2." of a choice (its group's text and its
// own), then one for each switch from 40961.
inline constexpr uint32_t kStrChoiceTip = 40960;

// The proxy and login lists.
inline constexpr uint32_t kStrProxyColumns = 40909;  // "Name,Server,Type,Multi-Proxy"
inline constexpr uint32_t kStrLoginColumns = 40910;  // "Site,User,Connections,Log In"
inline constexpr uint32_t kStrYes = 40911;
inline constexpr uint32_t kStrUnlimited = 40912;
inline constexpr uint32_t kStrBytesSuffix = 40913;  // " bytes"
inline constexpr uint32_t kStrNoSound = 40914;
// The proxy types' names, item i for type i.
inline constexpr uint32_t kStrProxyTypeNames = 40915;
inline constexpr uint32_t kStrUnknownProxyType = 40916;  // "Unknown (%1)"
inline constexpr uint32_t kStrSettingsNotSaved = 40917;

// The proxy list's files and entries.
inline constexpr uint32_t kStrCannotReadFile = 40981;  // "%1" the file, "%2" why
inline constexpr uint32_t kStrProxyFileTooLarge = 40982;
inline constexpr uint32_t kStrNotAProxyList = 40983;  // "%1" the file, "%2" the line number
inline constexpr uint32_t kStrNoProxiesInFile = 40984;
inline constexpr uint32_t kStrNoProxiesToExport = 40985;
inline constexpr uint32_t kStrCannotCreateFile = 40986;
inline constexpr uint32_t kStrCannotWriteFile = 40987;
inline constexpr uint32_t kStrProxyServerNeeded = 40988;
inline constexpr uint32_t kStrProxyPortRange = 40989;
inline constexpr uint32_t kStrRollbackRange = 40990;

// Messages about files and folders of the job sheet and the file dialogs.
inline constexpr uint32_t kStrFileNotFolder = 40991;  // "%1 is a file, not a folder."
inline constexpr uint32_t kStrCreateFolder = 40992;  // "The folder %1 does not exist. Create it?"
inline constexpr uint32_t kStrRecentFileGone = 40993;
inline constexpr uint32_t kStrNoProgramOpens = 40994;
inline constexpr uint32_t kStrFolderNotShown = 40995;
inline constexpr uint32_t kStrImportTitle = 40996;  // "Import"
inline constexpr uint32_t kStrCompanionNotUsed = 40997;

// A job's proxy that the list no longer holds.
inline constexpr uint32_t kStrDirectConnection = 61307;
inline constexpr uint32_t kStrProxyByNumber = 40998;  // "(proxy %1)"

// The job sheet's refusals.
inline constexpr uint32_t kStrNotADownloadUrl = 41501;  // "%1" the text typed
inline constexpr uint32_t kStrMirrorListed = 41502;
inline constexpr uint32_t kStrTypeTheUrl = 41503;
inline constexpr uint32_t kStrChooseTheFolder = 41504;
inline constexpr uint32_t kStrNotAFullPath = 41505;
inline constexpr uint32_t kStrSplitRange = 41506;  // "%1" the highest split count
inline constexpr uint32_t kStrCannotCreateFolder = 41507;  // "%1" the folder, "%2" why
inline constexpr uint32_t kStrSheetCannotRename = 41508;
inline constexpr uint32_t kStrSheetCannotMove = 41509;

// The job sheet's texts that no control id names.
inline constexpr uint32_t kStrEachJobKeepsFolder = 41601;  // the folder's hint when several jobs are shown
inline constexpr uint32_t kStrCategoryByNumber = 41602;  // "(category %1)"
inline constexpr uint32_t kStrAddMirrorTitle = 41603;
inline constexpr uint32_t kStrEditMirrorTitle = 41604;
inline constexpr uint32_t kStrMirrorUrlLabel = 41605;  // "&URL:"

// File and folder choosers.
inline constexpr uint32_t kStrSoundFileTitle = 40931;
inline constexpr uint32_t kStrScannerProgramTitle = 40932;
inline constexpr uint32_t kStrImportProxies = 40933;
inline constexpr uint32_t kStrExportProxies = 40934;
inline constexpr uint32_t kStrExportToHtml = 40935;
inline constexpr uint32_t kStrProcessWebPageFile = 40936;
inline constexpr uint32_t kStrSaveToTitle = 40937;
inline constexpr uint32_t kStrAddPreviousFile = 40938;
inline constexpr uint32_t kStrRecoverBrokenDownload = 40939;
inline constexpr uint32_t kStrPreviousFilesFolder = 40940;
inline constexpr uint32_t kStrFolderTitle = 40941;

// Tool tips of the dialogs and the drop zone.
inline constexpr uint32_t kStrScheduleNoJobsTip = 41801;
inline constexpr uint32_t kStrAutoCategoryTip = 41802;
inline constexpr uint32_t kStrRuleValueTip = 41803;
inline constexpr uint32_t kStrDropZoneTip = 41804;
inline constexpr uint32_t kStrMoveToCategoryTip = 41805;

// The import of a file downloaded before: its two captions (one section
// serves both modes, so neither caption can be a key of it), the size line
// and the refusal of a URL that cannot be fetched.
inline constexpr uint32_t kStrPreviousFileTitle = 41851;
inline constexpr uint32_t kStrBrokenDownloadTitle = 41852;
inline constexpr uint32_t kStrSizeInBytes = 41853;  // "%1" the size in units, "%2" in bytes
inline constexpr uint32_t kStrPreviousFileNeedsUrl = 41854;

// The site rule dialog: a proxy the list no longer has, and its refusals.
inline constexpr uint32_t kStrProxyNotListed = 41855;  // "%1" the proxy's number
inline constexpr uint32_t kStrSiteNeedsScheme = 41856;
inline constexpr uint32_t kStrSiteConnectionRange = 41857;  // "%1" the most connections

}  // namespace fetchora
