// The plug-in as a host sees it: the library loaded by path, driven only
// through the record its export returns.
#include <gtest/gtest.h>
#include <sim/control.h>
#include <sim/machine.h>

#include <filesystem>
#include <algorithm>
#include <cctype>
#include <cstring>

#include "support/host.h"
#include "support/temp_dir.h"

namespace {

const char kBanner[] = "Quarrow Plugin v3.62 (x86) Diagnostic log\n\r\n";
// The default simulated machine has one render device.
#define ENUMERATED_SPEAKERS "Enumerated Filter:\n  Friendly Name:\n  Simulated Speakers\n  Filter Type = 1\n\n\r\n"
const char kConstructed[] =
    "input buffer configured to 65536 bytes\r\n"
    "output buffer configured to 8192 bytes per packet\r\n" ENUMERATED_SPEAKERS
    "Constructed KSCore (Input Size:65536) (Output Size 8192) (Output Cnt 8)\r\n";

class HostTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        m_record = m_library.Record();
        ASSERT_NE(nullptr, m_record) << m_library.Error();
    }
    void TearDown() override { sim::ClearFaults(); }

    void WriteIni(const std::string& body) { test::WriteFile(m_dir.File("host.ini"), "[Quarrow]\r\n" + body); }
    void Initialise() {
        m_record->hMainWindow = test::FakeMainWindow();
        m_record->hDllInstance = test::FakeInstance();
        m_record->Init();
    }
    std::string Log(bool* exists = nullptr) { return test::ReadFile(m_dir.File("quarrow log.txt"), exists); }

    // Every answer of an output that is not open.
    void ExpectClosedAnswers() {
        const char pcm[16] = {};
        EXPECT_EQ(1, m_record->Write(pcm, 16));
        EXPECT_EQ(1, m_record->Write(pcm, -16));
        EXPECT_EQ(0, m_record->CanWrite());
        EXPECT_EQ(0, m_record->IsPlaying());
        EXPECT_EQ(0, m_record->Pause(1));
        EXPECT_EQ(0, m_record->Pause(0));
        m_record->Flush(1234);
        EXPECT_EQ(1234, m_record->GetOutputTime());
        EXPECT_EQ(1234, m_record->GetWrittenTime());
        m_record->SetVolume(100);
        m_record->SetPan(-20);
        m_record->Close();
        EXPECT_EQ(-1, m_record->Open(44100, 2, 16, 0, 0));
        EXPECT_EQ(0, m_record->GetOutputTime());  // open clears the offset
    }

    test::TempDir m_dir;
    test::PluginLibrary m_library;
    test::HostModuleRecord* m_record = nullptr;
};

TEST_F(HostTest, RecordIdentifiesThePluginAndWaitsForTheHostsHandles) {
    EXPECT_EQ(0x10, m_record->version);
    EXPECT_STREQ("Quarrow Output v3.62", m_record->description);
    EXPECT_EQ(0x10000, m_record->id);
    EXPECT_EQ(nullptr, m_record->hMainWindow);
    EXPECT_EQ(nullptr, m_record->hDllInstance);
    EXPECT_EQ(m_record, m_library.Record());
    void (*const* entries)() = reinterpret_cast<void (*const*)()>(&m_record->Configure);
    for (int i = 0; i < 15; ++i) EXPECT_NE(nullptr, entries[i]) << "entry " << i;
}

TEST_F(HostTest, EveryEntryIsSafeBeforeInitialiseAndAfterQuit) {
    ExpectClosedAnswers();
    m_record->Quit();
    Initialise();
    m_record->Quit();
    ExpectClosedAnswers();
    m_record->Quit();
}

TEST_F(HostTest, EngineThatCannotBeCreatedLeavesAClosedOutput) {
    for (sim::Fault fault : {sim::Fault::CreateThread, sim::Fault::CreateEvent}) {
        SCOPED_TRACE(static_cast<int>(fault));
        WriteIni("logging_enabled=1\r\n");
        sim::FailAfter(fault, 0);
        Initialise();
        ExpectClosedAnswers();
        m_record->Quit();
        sim::ClearFaults();
        EXPECT_NE(std::string::npos, Log().find("Failed to construct KSCore\r\n"));
    }
}

TEST_F(HostTest, LogHoldsEveryLineOfInitialiseCloseAndQuit) {
    struct Case {
        const char* ini;
        std::string underrun;
    } cases[] = {
        {"logging_enabled=1\r\n", ""},
        // With gapless on, the player thread's last sleep runs its stop check.
        {"logging_enabled=1\r\ngapless_enabled=1\r\n",
         "Gapless mode buffer underrun - Player Thread is stopping KS player\r\n"
         "End(force=1)\r\n"
         "EndInternal() - mode=0 force=1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        WriteIni(c.ini);
        Initialise();
        EXPECT_EQ(std::string(kBanner) + kConstructed, Log());
        m_record->Close();
        m_record->Quit();
        EXPECT_EQ(std::string(kBanner) + kConstructed +
                      "End()\r\n"
                      "End(force=0)\r\n"
                      "EndInternal() - mode=0 force=0\r\n"
                      "End(force=1)\r\n"
                      "EndInternal() - mode=0 force=1\r\n"
                      "Attempting to close player thread\r\n" +
                      c.underrun +
                      "Player Thread - closing\r\n"
                      "Player thread has closed\r\n"
                      "Destructed KSCore\r\n",
                  Log());
    }
}

TEST_F(HostTest, LogIsEmptiedAtInitialiseAndStaysEmptyWhileDisabled) {
    test::WriteFile(m_dir.File("quarrow log.txt"), "old\r\n");
    Initialise();
    bool exists = false;
    EXPECT_EQ("", Log(&exists));
    EXPECT_TRUE(exists);
    m_record->Quit();
    EXPECT_EQ("", Log());
}

TEST_F(HostTest, ClampedSettingsReachTheEngine) {
    WriteIni("logging_enabled=1\r\ninput_buffer_size=70000\r\noutput_buffer_size=10000\r\noutput_buffer_cnt=20\r\n");
    Initialise();
    EXPECT_EQ(std::string(kBanner) +
                  "input buffer configured to 69632 bytes\r\n"
                  "output buffer configured to 9216 bytes per packet\r\n" ENUMERATED_SPEAKERS
                  "Constructed KSCore (Input Size:69632) (Output Size 9216) (Output Cnt 8)\r\n",
              Log());
    m_record->Quit();
    // Quit does not save: the file is as the user left it.
    EXPECT_EQ("[Quarrow]\r\nlogging_enabled=1\r\ninput_buffer_size=70000\r\noutput_buffer_size=10000\r\n"
              "output_buffer_cnt=20\r\n",
              test::ReadFile(m_dir.File("host.ini")));
}

TEST_F(HostTest, InitialiseEnumeratesTheRenderDevicesInSetupApiOrder) {
    sim::Machine machine;
    machine.devices = {sim::RenderDevice("\\\\?\\sim#second", "Second Speakers"),
                       sim::RenderDevice("\\\\?\\sim#first", "First Speakers")};
    sim::Device capture_only = sim::RenderDevice("\\\\?\\sim#capture", "Microphone");
    capture_only.interfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}}, {KSCATEGORY_CAPTURE, SPINT_ACTIVE, {}}};
    machine.devices.insert(machine.devices.begin() + 1, capture_only);
    sim::SetMachine(machine);
    WriteIni("logging_enabled=1\r\n");
    Initialise();
    EXPECT_EQ(std::string(kBanner) +
                  "input buffer configured to 65536 bytes\r\n"
                  "output buffer configured to 8192 bytes per packet\r\n"
                  "Enumerated Filter:\n  Friendly Name:\n  Second Speakers\n  Filter Type = 1\n\n\r\n"
                  "Enumerated Filter:\n  Friendly Name:\n  First Speakers\n  Filter Type = 1\n\n\r\n"
                  "Constructed KSCore (Input Size:65536) (Output Size 8192) (Output Cnt 8)\r\n",
              Log());
    EXPECT_TRUE(sim::MessageBoxes().empty());
    // The devices stay open while the engine lives and are closed at quit.
    const size_t open = sim::OpenHandleCount();
    m_record->Quit();
    EXPECT_LE(sim::OpenHandleCount() + 2, open);
}

TEST_F(HostTest, OpenWithoutAUsableDeviceOrFormatFailsWithItsMessage) {
    sim::SetMachine(sim::Machine{});
    Initialise();
    // The engine enumerates at construction and says when nothing is there.
    std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("CKsEnumFilters::EnumFilters failed", boxes[0].text);
    EXPECT_EQ("Error!", boxes[0].caption);
    EXPECT_EQ(test::FakeMainWindow(), boxes[0].owner);

    struct Case {
        int rate, channels, bits;
        const char* message;
    } cases[] = {
        {44100, 2, 16, "Could not find suitable output filter"},
        {44100, 2, 20, "20 bit audio is not currently supported"},
        {44100, 6, 24, "Only 1 or 2 channels is supported for 24 bit playback."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        sim::ClearMessageBoxes();
        EXPECT_EQ(-1, m_record->Open(c.rate, c.channels, c.bits, 0, 0));
        boxes = sim::MessageBoxes();
        ASSERT_EQ(1u, boxes.size());
        EXPECT_EQ(test::FakeMainWindow(), boxes[0].owner);
        EXPECT_EQ(c.message, boxes[0].text);
        EXPECT_EQ("Error!", boxes[0].caption);
        EXPECT_EQ(MB_OK, boxes[0].flags);
        const char pcm[4] = {};
        EXPECT_EQ(1, m_record->Write(pcm, 4));
        EXPECT_EQ(0, m_record->CanWrite());
    }
    m_record->Quit();
}

TEST_F(HostTest, AboutBoxNamesTheBuildDate) {
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x4242));
    m_record->About(owner);
    const std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(owner, boxes[0].owner);
    EXPECT_EQ("About", boxes[0].caption);
    EXPECT_EQ(MB_OK, boxes[0].flags);
    // Seven lines, each ended by a line feed.
    std::vector<std::string> lines;
    std::string text = boxes[0].text;
    ASSERT_EQ('\n', text.back());
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    ASSERT_EQ(7u, lines.size()) << text;
    EXPECT_EQ("Quarrow Plugin v3.62 (x86)", lines[0]);
    EXPECT_FALSE(lines[1].empty());
    EXPECT_EQ("", lines[2]);
    EXPECT_EQ("Contains portions of code designed", lines[3]);
    EXPECT_EQ(0u, lines[4].find("and written by "));
    EXPECT_GT(lines[4].size(), strlen("and written by "));
    EXPECT_EQ("", lines[5]);
    // "Mmm dd yyyy", the day right-aligned in two characters: the build's date.
    const std::string date = lines[6].substr(std::min(lines[6].size(), strlen("Compiled on ")));
    EXPECT_EQ(0u, lines[6].find("Compiled on "));
    ASSERT_EQ(11u, date.size()) << lines[6];
    EXPECT_NE(std::string::npos, std::string("JanFebMarAprMayJunJulAugSepOctNovDec").find(date.substr(0, 3)));
    EXPECT_TRUE(date[3] == ' ' && date[6] == ' ') << date;
    EXPECT_TRUE((date[4] == ' ' || isdigit(date[4])) && isdigit(date[5])) << date;
    EXPECT_TRUE(isdigit(date[7]) && isdigit(date[8]) && isdigit(date[9]) && isdigit(date[10])) << date;
}

TEST_F(HostTest, HostPathsThatGiveNoUsableFileNamesWriteNothing) {
    for (const std::string& host : {m_dir.File(std::string(300, 'h') + ".exe"), m_dir.File("noext")}) {
        SCOPED_TRACE(host);
        sim::SetHostExecutablePath(host);
        Initialise();
        ExpectClosedAnswers();
        m_record->Quit();
    }
    // The dotless host gets "noext.ini" only when something saves; the log
    // beside it is the one file initialise makes.
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
        files.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(std::vector<std::string>{"quarrow log.txt"}, files);
}

}  // namespace
