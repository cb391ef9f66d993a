// The settings store: INI path rule, defaults, loading with clamping, saving.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "frame/settings.h"
#include "support/temp_dir.h"

namespace {

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
    }
    std::string Ini() const { return m_dir.File("host.ini"); }

    test::TempDir m_dir;
};

TEST_F(SettingsTest, IniPathReplacesEverythingFromTheFirstDot) {
    const std::string longFolder(250, 'f');
    struct Case {
        std::string host;
        std::string expected;
    } cases[] = {
        {"D:\\Apps\\Host\\host.exe", "D:\\Apps\\Host\\host.ini"},
        {"D:\\Apps\\Player.Old\\host.exe", "D:\\Apps\\Player.ini"},
        {"/opt/host/player", "/opt/host/player.ini"},  // no dot: never the executable itself
        {"/" + std::string(255, 'p'), "/" + std::string(255, 'p') + ".ini"},
        {"/" + std::string(256, 'p'), ""},  // no room for the suffix
        {"/" + std::string(255, 'p') + ".x", "/" + std::string(255, 'p') + ".ini"},
        {"/" + std::string(256, 'p') + ".x", ""},
        {"/" + std::string(300, 'p') + ".exe", ""},  // cut short by the path buffer
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.host);
        sim::SetHostExecutablePath(c.host);
        PluginSettings settings;
        EXPECT_EQ(c.expected, settings.ini_path);
    }
}

TEST_F(SettingsTest, MissingFileOrSectionGivesDefaults) {
    for (const char* contents : {static_cast<const char*>(nullptr), "[Other]\r\ninput_buffer_size=8192\r\n"}) {
        SCOPED_TRACE(contents ? contents : "no file");
        if (contents) test::WriteFile(Ini(), contents);
        PluginSettings settings;
        EXPECT_STREQ("", settings.output_device);
        EXPECT_EQ(0, settings.volume_enabled);
        EXPECT_EQ(0, settings.gapless_enabled);
        EXPECT_EQ(65536, settings.input_buffer_size);
        EXPECT_EQ(8192, settings.output_buffer_size);
        EXPECT_EQ(8, settings.output_buffer_cnt);
        EXPECT_EQ(0, settings.logging_enabled);
        EXPECT_EQ(1, settings.logarithmic_volume);
    }
}

TEST_F(SettingsTest, LoadClampsSizesAndCount) {
    struct Case {
        const char* key;
        const char* value;
        int32_t expected;
    } cases[] = {
        {"input_buffer_size", "5000", 4096},
        {"input_buffer_size", "3000", 4096},
        {"input_buffer_size", "70000", 69632},
        {"input_buffer_size", "4096", 4096},
        {"input_buffer_size", "-70000", 4096},
        {"input_buffer_size", "2147483647", 2147482624},
        {"output_buffer_size", "1024", 2048},
        {"output_buffer_size", "10000", 9216},
        {"output_buffer_size", "8192", 8192},
        {"output_buffer_cnt", "1", 2},
        {"output_buffer_cnt", "20", 8},
        {"output_buffer_cnt", "-5", 2},
        {"output_buffer_cnt", "abc", 2},
        {"output_buffer_cnt", "5", 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << "=" << c.value);
        test::WriteFile(Ini(), std::string("[Quarrow]\r\n") + c.key + "=" + c.value + "\r\n");
        PluginSettings settings;
        const int32_t actual = std::string(c.key) == "input_buffer_size"    ? settings.input_buffer_size
                               : std::string(c.key) == "output_buffer_size" ? settings.output_buffer_size
                                                                            : settings.output_buffer_cnt;
        EXPECT_EQ(c.expected, actual);
    }
}

TEST_F(SettingsTest, LoadReadsEveryKeyWithoutRegardToCase) {
    test::WriteFile(Ini(),
                    "[quarrow]\r\n"
                    "OUTPUT_DEVICE=\\\\?\\hdaudio#func_01&ven_10ec#{6994ad04}\\wave\r\n"
                    "volume_enabled=1\r\ngapless_enabled=1\r\ninput_buffer_size=4096\r\n"
                    "output_buffer_size=8192\r\noutput_buffer_cnt=3\r\nlogging_enabled=1\r\n"
                    "Logarithmic_Volume=0\r\n");
    PluginSettings settings;
    EXPECT_STREQ("\\\\?\\hdaudio#func_01&ven_10ec#{6994ad04}\\wave", settings.output_device);
    EXPECT_EQ(1, settings.volume_enabled);
    EXPECT_EQ(1, settings.gapless_enabled);
    EXPECT_EQ(4096, settings.input_buffer_size);
    EXPECT_EQ(8192, settings.output_buffer_size);
    EXPECT_EQ(3, settings.output_buffer_cnt);
    EXPECT_EQ(1, settings.logging_enabled);
    EXPECT_EQ(0, settings.logarithmic_volume);
}

TEST_F(SettingsTest, SaveCreatesAllEightKeysInOrder) {
    PluginSettings settings;
    snprintf(settings.output_device, sizeof(settings.output_device), "%s", "\\\\?\\dev#1");
    settings.gapless_enabled = 1;
    settings.output_buffer_cnt = 4;
    settings.Save();

    std::string contents = test::ReadFile(Ini());
    contents.erase(std::remove(contents.begin(), contents.end(), '\r'), contents.end());
    EXPECT_EQ(
        "[Quarrow]\n"
        "output_device=\\\\?\\dev#1\n"
        "volume_enabled=0\n"
        "gapless_enabled=1\n"
        "input_buffer_size=65536\n"
        "output_buffer_size=8192\n"
        "output_buffer_cnt=4\n"
        "logging_enabled=0\n"
        "logarithmic_volume=1\n",
        contents);
}

TEST_F(SettingsTest, SaveAfterPartialLoadWritesAllKeysAndKeepsOtherSections) {
    test::WriteFile(Ini(), "[Other]\r\nkey=kept\r\n[Quarrow]\r\noutput_buffer_cnt=20\r\n");
    PluginSettings settings;
    settings.Save();

    PluginSettings reloaded;
    EXPECT_EQ(8, reloaded.output_buffer_cnt);  // the clamped value was saved
    const char* keys[] = {"output_device",     "volume_enabled",    "gapless_enabled", "input_buffer_size",
                          "output_buffer_size", "output_buffer_cnt", "logging_enabled", "logarithmic_volume"};
    for (const char* key : keys) {
        SCOPED_TRACE(key);
        char value[64] = "missing";
        GetPrivateProfileStringA("Quarrow", key, "missing", value, sizeof(value), Ini().c_str());
        EXPECT_STRNE("missing", value);
    }
    char other[64] = "";
    GetPrivateProfileStringA("Other", "key", "", other, sizeof(other), Ini().c_str());
    EXPECT_STREQ("kept", other);
}

TEST_F(SettingsTest, SetDefaultsKeepsThePathAndTouchesNoFile) {
    test::WriteFile(Ini(), "[Quarrow]\r\ngapless_enabled=1\r\n");
    PluginSettings settings;
    ASSERT_EQ(1, settings.gapless_enabled);
    settings.SetDefaults();
    EXPECT_EQ(0, settings.gapless_enabled);
    EXPECT_EQ(Ini(), settings.ini_path);
    EXPECT_EQ("[Quarrow]\r\ngapless_enabled=1\r\n", test::ReadFile(Ini()));
}

TEST_F(SettingsTest, ReadStringKeepsTheCurrentTextWhenTheKeyIsMissing) {
    test::WriteFile(Ini(), "[Quarrow]\r\nname=abcdefgh\r\n");
    PluginSettings settings;
    char buffer[16] = "current";
    settings.ReadString("absent", buffer, sizeof(buffer));
    EXPECT_STREQ("current", buffer);
    char small[5] = "";
    settings.ReadString("name", small, sizeof(small));
    EXPECT_STREQ("abcd", small);
}

TEST_F(SettingsTest, UnusableIniPathLeavesSettingsInMemoryOnly) {
    sim::SetHostExecutablePath(m_dir.File(std::string(300, 'h') + ".exe"));
    PluginSettings settings;
    ASSERT_STREQ("", settings.ini_path);
    settings.gapless_enabled = 1;
    settings.Save();
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path()));
    EXPECT_EQ(1, settings.gapless_enabled);
}

}  // namespace
