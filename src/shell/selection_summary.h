#pragma once
// The texts that sum up jobs: status pane 0 (how many files are selected, or
// are in the open category, and how much of them is on disk) and the tray
// icon's tooltip (how many jobs wait in the queue and how many run).
//
// Thread: any; pure functions. The tooltip's words come from the string
// lookup, so a language file translates them.
#include <cstdint>
#include <string>

#include "model/job_database.h"

namespace fetchora {

inline constexpr uint32_t kStrTrayQueueRunning = 61269;  // "Fetchora - %1 file(s) in queue %2 file(s) downloading"
inline constexpr uint32_t kStrTrayQueue = 61270;  // "Fetchora - %1 file(s) in queue"

// Above 1 GiB (strictly) "%0.2f GB"; below 1024 "%d Byte"; below 1 MiB
// "%0.2f KB"; else "%0.2f M". A negative total (a damaged record) counts as 0.
std::string selectionSizeText(int64_t bytes);
// "<count> File(s)  <size text>".
std::string selectionSummaryText(int64_t count, int64_t bytes);

// queued: jobs in the "Download" category; running: jobs in state
// Downloading. "Fetchora" (string 57344) when nothing is queued. Ids the
// lookup has no text for fall back to the built-in English table.
std::string trayTooltipText(int queued, int running, const StringLookup& strings);

}  // namespace fetchora
