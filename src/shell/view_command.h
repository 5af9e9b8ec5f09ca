#pragma once
// The main window's commands, numbered as its menus and accelerators send
// them, and the keys held when one is given (Ctrl forces a start, Shift makes
// a delete permanent or a search go up).
#include <cstdint>

namespace fetchora {

enum class ViewCommand : uint32_t {
    NewDatabase = 57600,
    OpenDatabase = 57601,
    SaveDatabase = 57603,
    SaveDatabaseAs = 57604,
    MergeDatabase = 32889,
    ImportPreviousFile = 32821,
    ImportPreviousBatch = 32851,
    ExportInformation = 32808,
    ExportFiles = 32857,
    ImportBrokenDownloads = 32865,
    ImportList = 32859,
    ExportList = 32860,
    ProcessWebPage = 32861,
    RecentlyDownloaded = 32852,
    NewCategory = 32780,
    MoveCategory = 32782,
    DeleteCategory = 32783,
    CategoryProperties = 32781,
    OpenCategory = 32788,
    PasteUrl = 57637,
    SelectAll = 32794,
    InvertSelection = 32795,
    Find = 57636,
    FindNext = 32817,
    NewDownload = 32779,
    BatchDownload = 32819,
    Start = 32773,
    Pause = 32774,
    StartAll = 32849,
    PauseAll = 32802,
    Schedule = 32809,
    MoveJobs = 32793,
    Delete = 32775,
    DeleteAll = 32807,
    Rename = 32822,
    CommentAsFileName = 32888,
    Properties = 32776,
    SiteProperties = 32902,
    Comment = 32816,
    BrowseReferrer = 32850,
    BrowseWithSiteExplorer = 32893,
    CopyUrls = 32803,
    MoveUp = 32799,
    MoveDown = 32800,
    MoveToTop = 32896,
    MoveToBottom = 32897,
    CheckForUpdate = 32813,
    DownloadAgain = 32814,
    FixZip = 32887,
    VirusScan = 32820,
    OpenFile = 32777,
    OpenFolder = 32778,
    SiteExplorer = 32866,
    OfflineBrowser = 32867,
    ShutDownWhenDone = 32805,
    HangUpWhenDone = 32804,
    RedialIfDisconnected = 32806,
    SpeedUnlimited = 32907,
    SpeedManual = 32908,
    SpeedAutomatic = 32909,
    RememberSpeedMode = 32913,
    DownloadRules = 32892,
    SaveAsDefault = 32818,
    DefaultProperties = 32791,
    Options = 32786,
    DetailStart = 32862,
    DetailStop = 32863,
    DetailRestart = 32864,
    IncreaseParts = 32899,
    DecreaseParts = 32900,
    AddLinks = 32825,
    OpenLink = 32826,
};

struct CommandKeys {
    bool ctrl = false;
    bool shift = false;
};

}  // namespace fetchora
