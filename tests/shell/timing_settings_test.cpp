#include "config/app_settings.h"
#include "platform/registry.h"
#include "shell/end_of_work.h"
#include "shell/schedule.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace fetchora {
namespace {

class TimingSettings : public ::testing::Test {
protected:
    void put(std::string_view section, std::string_view name, uint32_t value)
    {
        m_registry.writeDword(Hive::CurrentUser, std::string(kSettingsRoot) + "\\" + std::string(section), name, value);
    }
    void put(std::string_view section, std::string_view name, std::string_view value)
    {
        m_registry.writeString(Hive::CurrentUser, std::string(kSettingsRoot) + "\\" + std::string(section), name,
                               value);
    }
    AppSettings& load()
    {
        m_settings.LoadSettings();
        return m_settings;
    }

    test::TempDir m_dir;
    Registry m_registry;
    AppSettings m_settings{m_registry,
                           {"/opt/fetchora/bin/fetchora", "/opt/fetchora/share", "/home/user/Downloads",
                            (m_dir.path() / "tmp").string(), "en_GB.UTF-8"}};
};

TEST_F(TimingSettings, EndOfWorkReadsTheSwitchesCountdownsAndSound)
{
    put("DialUp", "Flags", 0x2 | 0x4 | 0x8 | 0x10);
    put("General", "Hang Up Time", 7);
    put("General", "Shut Down Time", 9);
    put("General", "Close Time", 11);
    put("General", "AlwaysShutDown", 1);
    put("General", "Flags", 0x2001558 | 0x80);
    put("Sounds", "Sound3", "/home/user/all.wav");
    const EndOfWorkSettings s = endOfWorkSettingsFrom(load());
    EXPECT_EQ(s.dialUpFlags & 0xE, 0xE);
    EXPECT_EQ(s.hangUpSeconds, 7);
    EXPECT_EQ(s.shutDownSeconds, 9);
    EXPECT_EQ(s.closeSeconds, 11);
    EXPECT_TRUE(s.alwaysShutDown);
    EXPECT_TRUE(s.playSounds);
    EXPECT_EQ(s.allDoneSound, "/home/user/all.wav");
}

TEST_F(TimingSettings, EndOfWorkDefaultsAndASwitchedOffSound)
{
    put("Sounds", "Sound3", " ");
    const EndOfWorkSettings s = endOfWorkSettingsFrom(load());
    EXPECT_EQ(s.dialUpFlags, 0);
    EXPECT_EQ(s.hangUpSeconds, 15);
    EXPECT_EQ(s.shutDownSeconds, 30);
    EXPECT_EQ(s.closeSeconds, 15);
    EXPECT_FALSE(s.alwaysShutDown);
    EXPECT_FALSE(s.playSounds);
    EXPECT_EQ(s.allDoneSound, "");
}

TEST_F(TimingSettings, ScheduleReadsTheDayMaskAndTimes)
{
    put("General", "Schedule flags", 0x8081);
    put("General", "Schedule Start Time", 82800);
    put("General", "Schedule Stop Time", 7200);
    const ScheduleSettings s = scheduleSettingsFrom(load());
    EXPECT_EQ(s.dayMask, 0x8081);
    EXPECT_EQ(s.startTime, 82800);
    EXPECT_EQ(s.stopTime, 7200);
    EXPECT_TRUE(s.stopEnabled());
    EXPECT_TRUE(s.dayEnabled(0));
    EXPECT_FALSE(s.dayEnabled(1));
    // Bit 7 is not a day.
    EXPECT_FALSE(s.dayEnabled(7));
}

}  // namespace
}  // namespace fetchora
