// The entry points' module-level state: host volume mapping, engine
// re-creation at open, flush and time.
#include <gtest/gtest.h>
#include <sim/control.h>

#include "engine/probe.h"
#include "frame/out_quarrow.h"
#include "frame/settings.h"
#include "support/temp_dir.h"

namespace {

class EntryPointState : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        m_module = winampGetOutModule();
        g_nTimeOffset = 0;  // an earlier test in this process may have flushed
        m_module->Init();
        ASSERT_NE(nullptr, g_pCore.load());
    }
    void TearDown() override {
        m_module->Quit();
        g_nHostVolume = 255;
        g_bSettingsChanged = 0;
    }
    KSCore& Core() { return *g_pCore.load(); }

    test::TempDir m_dir;
    OutModule* m_module = nullptr;
};

TEST_F(EntryPointState, HostVolumeMapsThroughTheLogarithmicTable) {
    struct Row {
        int host;
        int logarithmic;
    } rows[] = {{0, 0},     {1, 0},     {15, 0},    {16, 1},    {32, 4},    {64, 16},
                {100, 39},  {128, 64},  {192, 144}, {200, 156}, {254, 253}, {255, 255}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.host);
        g_pSettings->logarithmic_volume = 1;
        m_module->SetVolume(row.host);
        EXPECT_EQ(row.logarithmic, KSCoreProbe::Volume(Core()));
        EXPECT_EQ(row.host, g_nHostVolume.load());
        g_pSettings->logarithmic_volume = 0;
        m_module->SetVolume(row.host);
        EXPECT_EQ(row.host, KSCoreProbe::Volume(Core()));
    }
    for (int i = 0; i < 256; ++i) ASSERT_EQ(i * i / 255, g_LogVolumeTable[i]) << i;
}

TEST_F(EntryPointState, OutOfRangeVolumeChangesNothing) {
    m_module->SetVolume(128);
    for (int v : {-1, 256, -666, 100000}) {
        SCOPED_TRACE(v);
        m_module->SetVolume(v);
        EXPECT_EQ(128, g_nHostVolume.load());
        EXPECT_EQ(64, KSCoreProbe::Volume(Core()));
    }
}

TEST_F(EntryPointState, SwitchingTheCurveReappliesTheHostVolumeAtOnce) {
    m_module->SetVolume(128);
    ASSERT_EQ(64, KSCoreProbe::Volume(Core()));
    g_pSettings->logarithmic_volume = 0;
    ApplyHostVolume(g_nHostVolume);
    EXPECT_EQ(128, KSCoreProbe::Volume(Core()));
    g_pSettings->logarithmic_volume = 1;
    ApplyHostVolume(g_nHostVolume);
    EXPECT_EQ(64, KSCoreProbe::Volume(Core()));
}

TEST_F(EntryPointState, NewEngineStartsAtUnityUntilTheHostSetsAVolume) {
    m_module->SetVolume(128);
    m_module->Quit();
    m_module->Init();
    EXPECT_EQ(255, KSCoreProbe::Volume(Core()));
    EXPECT_EQ(128, g_nHostVolume.load());
}

TEST_F(EntryPointState, OpenAfterSettingsChangedRunsANewEngineWithTheHostVolume) {
    m_module->SetVolume(128);
    KSCore* old = g_pCore;
    ASSERT_EQ(8, KSCoreProbe::Packets(*old));
    g_pSettings->output_buffer_cnt = 3;
    g_bSettingsChanged = 1;

    EXPECT_EQ(-1, m_module->Open(44100, 2, 16));  // no device on this machine
    EXPECT_EQ(0, g_bSettingsChanged.load());
    EXPECT_EQ(3, KSCoreProbe::Packets(Core()));
    EXPECT_EQ(64, KSCoreProbe::Volume(Core()));
    EXPECT_EQ(128, g_nHostVolume.load());
    EXPECT_EQ(&Core(), g_pActiveCore.load());

    // Unchanged settings keep the engine.
    KSCore* current = g_pCore;
    EXPECT_EQ(-1, m_module->Open(44100, 2, 16));
    EXPECT_EQ(current, g_pCore.load());
}

TEST_F(EntryPointState, FlushMovesTheReportedTimeAndOpenClearsTheOffset) {
    EXPECT_EQ(0, m_module->GetOutputTime());
    KSCoreProbe::SetFormat(Core(), TestFormat(44100, 2, 16));
    KSCoreProbe::SetPlayed(Core(), 88200);  // 500 ms handed to the device
    m_module->Flush(5000);
    EXPECT_EQ(5000, m_module->GetOutputTime());
    KSCoreProbe::SetPlayed(Core(), 176400);
    EXPECT_EQ(5500, m_module->GetOutputTime());
    EXPECT_EQ(m_module->GetOutputTime(), m_module->GetWrittenTime());
    m_module->Flush(-200);
    EXPECT_EQ(-200, m_module->GetOutputTime());

    m_module->Open(44100, 2, 16);
    EXPECT_EQ(1000, m_module->GetOutputTime());
}

}  // namespace
