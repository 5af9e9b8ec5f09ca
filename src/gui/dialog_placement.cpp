#include "gui/dialog_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QObject>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <array>

#include "config/settings_key.h"
#include "platform/registry.h"

namespace fetchora {

namespace {

constexpr std::array<uint8_t, 4> kMagic{'F', 't', 'W', 'p'};
constexpr uint32_t kVersion = 1;
constexpr size_t kPlacementBytes = 24;
// Larger than any screen; a bigger number is damage, not a window.
constexpr int32_t kMaxExtent = 1 << 16;

void putU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<uint8_t>(value >> shift));
}

uint32_t getU32(const std::vector<uint8_t>& in, size_t at)
{
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(in[at + i]) << (8 * i);
    return value;
}

int32_t getI32(const std::vector<uint8_t>& in, size_t at)
{
    return static_cast<int32_t>(getU32(in, at));
}

// Stores the placement whenever the dialog it watches is hidden.
class PlacementKeeper final : public QObject {
public:
    PlacementKeeper(QWidget& dialog, Registry& registry, std::string section)
        : QObject(&dialog), m_dialog(dialog), m_registry(registry), m_section(std::move(section))
    {
        dialog.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &m_dialog && event->type() == QEvent::Hide)
            SaveDialogPlacement(m_dialog, m_registry, m_section);
        return false;
    }

private:
    QWidget& m_dialog;
    Registry& m_registry;
    std::string m_section;
};

}  // namespace

std::vector<uint8_t> EncodePlacement(const QRect& geometry)
{
    std::vector<uint8_t> bytes(kMagic.begin(), kMagic.end());
    putU32(bytes, kVersion);
    putU32(bytes, static_cast<uint32_t>(geometry.x()));
    putU32(bytes, static_cast<uint32_t>(geometry.y()));
    putU32(bytes, static_cast<uint32_t>(geometry.width()));
    putU32(bytes, static_cast<uint32_t>(geometry.height()));
    return bytes;
}

std::optional<QRect> DecodePlacement(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() != kPlacementBytes || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin())
        || getU32(bytes, 4) != kVersion)
        return std::nullopt;
    const int32_t x = getI32(bytes, 8);
    const int32_t y = getI32(bytes, 12);
    const int32_t width = getI32(bytes, 16);
    const int32_t height = getI32(bytes, 20);
    auto sane = [](int32_t value) { return value > -kMaxExtent && value < kMaxExtent; };
    if (!sane(x) || !sane(y) || width <= 0 || height <= 0 || width >= kMaxExtent || height >= kMaxExtent)
        return std::nullopt;
    return QRect(x, y, width, height);
}

bool PlacementFitsScreens(const QRect& geometry)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().contains(geometry))
            return true;
    }
    return false;
}

bool RestoreDialogPlacement(QWidget& dialog, const Registry& registry, std::string_view section)
{
    const std::optional<std::vector<uint8_t>> bytes
        = registry.readBinary(Hive::CurrentUser, settingsKey(section), kPlacementValue);
    if (!bytes)
        return false;
    const std::optional<QRect> geometry = DecodePlacement(*bytes);
    if (!geometry || !PlacementFitsScreens(*geometry))
        return false;
    dialog.setGeometry(*geometry);
    return true;
}

void SaveDialogPlacement(const QWidget& dialog, Registry& registry, std::string_view section)
{
    registry.writeBinary(Hive::CurrentUser, settingsKey(section), kPlacementValue, EncodePlacement(dialog.geometry()));
}

void KeepDialogPlacement(QWidget& dialog, Registry* registry, std::string section)
{
    if (registry == nullptr)
        return;
    RestoreDialogPlacement(dialog, *registry, section);
    new PlacementKeeper(dialog, *registry, std::move(section));
}

}  // namespace fetchora
