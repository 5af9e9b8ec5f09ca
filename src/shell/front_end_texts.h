#pragma once
// String ids of the texts both front ends print outside any window: the
// application's start errors, the messages at the end of a run and the lines
// of the browser-host setup, so that the current language reaches them.
//
// Thread: any (the ids are constants; see lang/string_table.h).
#include <cstdint>

namespace fetchora {

// Application::start.
inline constexpr uint32_t kStrCannotUseProfile = 41201;  // "%1" the folder's fault
inline constexpr uint32_t kStrCannotMakeTemporaryFolder = 41202;  // "%1" the folder's fault
inline constexpr uint32_t kStrCannotReadSettings = 41203;  // "%1" the settings file

// The end of a run.
inline constexpr uint32_t kStrCannotSaveSettings = 41204;  // "%1" the settings file
inline constexpr uint32_t kStrThreadsDidNotEnd = 41205;
inline constexpr uint32_t kStrServiceOff = 41206;  // "%1" why

// The browser hosts' manifests: "%1" the browser, "%2" the manifest, "%3" why.
inline constexpr uint32_t kStrHostCannotWrite = 41211;
inline constexpr uint32_t kStrHostCannotWriteBecause = 41212;
inline constexpr uint32_t kStrHostWrote = 41213;
inline constexpr uint32_t kStrHostNoBrowser = 41214;
inline constexpr uint32_t kStrHostCannotRemove = 41215;
inline constexpr uint32_t kStrHostRemoved = 41216;
inline constexpr uint32_t kStrHostNoneInstalled = 41217;
// Sandboxed browsers: "%1" the browser, "%2" its Flatpak id.
inline constexpr uint32_t kStrHostFlatpakNote = 41218;
inline constexpr uint32_t kStrHostChromiumSnapNote = 41219;
inline constexpr uint32_t kStrHostFirefoxSnapNote = 41220;

}  // namespace fetchora
