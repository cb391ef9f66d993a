// Engine construction and teardown, and the player thread's wake/sleep/exit.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <memory>

#include "engine/probe.h"
#include "frame/settings.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

class EngineLifecycle : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        m_settings = std::make_unique<PluginSettings>();
    }
    void TearDown() override { sim::ClearFaults(); }

    test::TempDir m_dir;
    std::unique_ptr<PluginSettings> m_settings;
};

TEST_F(EngineLifecycle, ConstructAndTearDownReleasesEveryHandle) {
    const size_t before = sim::OpenHandleCount();
    m_settings->output_buffer_cnt = 3;
    m_settings->input_buffer_size = 16384;
    m_settings->output_buffer_size = 4096;
    {
        KSCore core(nullptr, nullptr, m_settings.get());
        ASSERT_TRUE(core.Constructed());
        EXPECT_EQ(&core, g_pActiveCore.load());
        EXPECT_EQ(3, KSCoreProbe::Packets(core));
        EXPECT_EQ(16384, KSCoreProbe::RingSize(core));
        EXPECT_EQ(4096, KSCoreProbe::PacketSize(core));
        EXPECT_EQ(THREAD_PRIORITY_TIME_CRITICAL, GetThreadPriority(KSCoreProbe::Thread(core)));
        // Abort event, three completion events, wake event, thread, and the
        // default machine's one device, opened by the enumeration.
        EXPECT_EQ(before + 7, sim::OpenHandleCount());
        EXPECT_EQ(-1, KSCoreProbe::FillPacketIndex(core));
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            const KSSTREAM_HEADER& header = KSCoreProbe::Header(core, i);
            EXPECT_EQ(sizeof(KSSTREAM_HEADER), header.Size);
            EXPECT_EQ(1u, header.PresentationTime.Numerator);
            EXPECT_EQ(1u, header.PresentationTime.Denominator);
            EXPECT_EQ(0u, header.DataUsed);
            EXPECT_EQ(0u, header.FrameExtent);
            EXPECT_EQ(KSCoreProbe::Event(core, 1 + i), KSCoreProbe::Overlapped(core, i).hEvent);
            if (i > 0) {
                EXPECT_EQ(static_cast<BYTE*>(KSCoreProbe::Header(core, 0).Data) + 4096 * i, header.Data);
            }
            // Created not signalled: a packet is free only once an output opens.
            EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(KSCoreProbe::Event(core, 1 + i), 0));
        }
    }
    EXPECT_EQ(before, sim::OpenHandleCount());
    EXPECT_EQ(nullptr, g_pActiveCore.load());
}

TEST_F(EngineLifecycle, EngineMissingAnyResourceIsNotConstructedAndTearsDownCleanly) {
    m_settings->output_buffer_cnt = 2;
    const size_t before = sim::OpenHandleCount();
    struct Case {
        sim::Fault fault;
        int successes;
    } cases[] = {
        {sim::Fault::CreateEvent, 0},  // first completion event
        {sim::Fault::CreateEvent, 1},  // second completion event
        {sim::Fault::CreateEvent, 2},  // abort event
        {sim::Fault::CreateEvent, 3},  // wake event
        {sim::Fault::CreateThread, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.fault) << " after " << c.successes);
        sim::FailAfter(c.fault, c.successes);
        {
            KSCore core(nullptr, nullptr, m_settings.get());
            EXPECT_FALSE(core.Constructed());
        }
        sim::ClearFaults();
        EXPECT_EQ(before, sim::OpenHandleCount());
    }
}

TEST_F(EngineLifecycle, PlayerThreadFillsOneFreePacketThenSleeps) {
    KSCore core(nullptr, nullptr, m_settings.get());
    ASSERT_TRUE(core.Constructed());
    KSCoreProbe::OpenWithoutDevice(core, TestFormat(44100, 2, 16));
    KSCoreProbe::FreeAllPackets(core);

    std::vector<char> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i + 1);
    ASSERT_EQ(0, core.Write(bytes.data(), 100));

    // The bytes move into packet 0, which is not full and so not handed over;
    // the next pass finds the ring empty and sleeps.
    ASSERT_TRUE(test::WaitUntil([&] { return KSCoreProbe::Sleeping(core) == 1 && KSCoreProbe::Fill(core) == 0; }));
    EXPECT_EQ(0, KSCoreProbe::FillPacketIndex(core));
    EXPECT_EQ(std::vector<BYTE>(bytes.begin(), bytes.end()), KSCoreProbe::PacketBytes(core, 0));
    EXPECT_EQ(0u, KSCoreProbe::Header(core, 0).FrameExtent);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(KSCoreProbe::Event(core, 1), 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(KSCoreProbe::WakeEvent(core), 0));
    EXPECT_EQ(100, KSCoreProbe::ReadOffset(core));

    // A second write wakes it again and continues the same packet.
    ASSERT_EQ(0, core.Write(bytes.data(), 50));
    ASSERT_TRUE(test::WaitUntil([&] { return KSCoreProbe::Fill(core) == 0 && KSCoreProbe::Sleeping(core) == 1; }));
    EXPECT_EQ(150u, KSCoreProbe::Header(core, 0).DataUsed);
    KSCoreProbe::CloseWithoutDevice(core);
}

TEST_F(EngineLifecycle, TeardownEndsThreadWaitingForABusyPacket) {
    KSCore* core = new KSCore(nullptr, nullptr, m_settings.get());
    ASSERT_TRUE(core->Constructed());
    KSCoreProbe::OpenWithoutDevice(*core, TestFormat(44100, 2, 16));
    const char bytes[4] = {};
    ASSERT_EQ(0, core->Write(bytes, 4));  // wakes the thread; no packet is free
    HANDLE thread = KSCoreProbe::Thread(*core);
    KSCoreProbe::CloseWithoutDevice(*core);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeThread(thread, &exitCode));
    EXPECT_EQ(STILL_ACTIVE, exitCode);
    delete core;  // returns only after the thread has ended
}

}  // namespace
