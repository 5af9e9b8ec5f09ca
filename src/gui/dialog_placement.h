#pragma once
// Where a dialog was last shown, kept per dialog as the value
// "WindowPlacement" under the dialog's section ("Delete_Dlg", "Find_Dlg",
// "AddFile_Dlg", ...).
//
// The value is binary, 24 bytes, all numbers little-endian:
//   0  4  the bytes "FtWp"
//   4  4  format version, 1
//   8  4  left    (int32, device-independent pixels, of the dialog without
//  12  4  top      its window frame, as QWidget::geometry() gives it)
//  16  4  width
//  20  4  height
// Anything else (another length, magic or version) is ignored, as is a
// placement that does not lie wholly on one of the screens there are now:
// the dialog then opens where it would without one.
//
// Thread: the GUI thread. Borrows the store and the dialog.
#include <QRect>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QWidget;

namespace fetchora {

class Registry;

inline constexpr std::string_view kPlacementValue = "WindowPlacement";

std::vector<uint8_t> EncodePlacement(const QRect& geometry);
// None for bytes that are not a placement of this format.
std::optional<QRect> DecodePlacement(const std::vector<uint8_t>& bytes);
// The rectangle lies wholly within the available area of one screen.
bool PlacementFitsScreens(const QRect& geometry);

// Applies the stored placement of section to dialog (before it is shown);
// false when there was none that fits.
bool RestoreDialogPlacement(QWidget& dialog, const Registry& registry, std::string_view section);
void SaveDialogPlacement(const QWidget& dialog, Registry& registry, std::string_view section);

// Restores the placement now and stores it each time the dialog is hidden
// (when its exec ends). Nothing happens without a store. The registry must
// outlive the dialog.
void KeepDialogPlacement(QWidget& dialog, Registry* registry, std::string section);

}  // namespace fetchora
