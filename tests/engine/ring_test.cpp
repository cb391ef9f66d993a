// The input ring: writes, wrap-around, 24-bit widening, writable space, time.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <memory>
#include <numeric>

#include "engine/probe.h"
#include "frame/settings.h"
#include "support/temp_dir.h"
#include "support/wait.h"

namespace {

class RingTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        m_settings = std::make_unique<PluginSettings>();
        m_core = std::make_unique<KSCore>(nullptr, nullptr, m_settings.get());
        ASSERT_TRUE(m_core->Constructed());
    }
    void TearDown() override {
        KSCoreProbe::CloseWithoutDevice(*m_core);
        m_core.reset();
    }
    void Open(int bits) { KSCoreProbe::OpenWithoutDevice(*m_core, TestFormat(44100, 2, bits)); }
    bool WakeSignalled() { return WaitForSingleObject(KSCoreProbe::WakeEvent(*m_core), 0) == WAIT_OBJECT_0; }
    static std::vector<char> Pattern(size_t n, int seed = 1) {
        std::vector<char> bytes(n);
        for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + static_cast<size_t>(seed)) & 0xFF);
        return bytes;
    }

    test::TempDir m_dir;
    std::unique_ptr<PluginSettings> m_settings;
    std::unique_ptr<KSCore> m_core;
};

TEST_F(RingTest, WritesAreRefusedUnlessTheOutputIsOpen) {
    const std::vector<char> bytes = Pattern(64);
    for (int mode : {0, 2}) {
        SCOPED_TRACE(mode);
        KSCoreProbe::SetMode(*m_core, mode);
        EXPECT_EQ(1, m_core->Write(bytes.data(), 64));
        EXPECT_EQ(0, m_core->CanWrite());
        EXPECT_EQ(0, m_core->IsPlaying());
        EXPECT_EQ(0, KSCoreProbe::Fill(*m_core));
    }
}

TEST_F(RingTest, EmptyOrNegativeWritesStoreNothingAndDoNotWake) {
    Open(16);
    const std::vector<char> bytes = Pattern(64);
    EXPECT_EQ(0, m_core->Write(bytes.data(), 0));
    EXPECT_EQ(0, m_core->Write(bytes.data(), -1));
    EXPECT_EQ(0, m_core->Write(bytes.data(), INT32_MIN));
    EXPECT_EQ(0, KSCoreProbe::Fill(*m_core));
    EXPECT_EQ(0, KSCoreProbe::WriteOffset(*m_core));
    EXPECT_FALSE(WakeSignalled());

    EXPECT_EQ(0, m_core->Write(bytes.data(), 64));
    EXPECT_EQ(64, KSCoreProbe::Fill(*m_core));
    EXPECT_TRUE(WakeSignalled());
}

TEST_F(RingTest, WriteReachingPastTheEndContinuesAtTheStart) {
    Open(16);
    const int32_t ring = KSCoreProbe::RingSize(*m_core);
    KSCoreProbe::MoveEmptyRing(*m_core, ring - 10);
    const std::vector<char> bytes = Pattern(30);
    ASSERT_EQ(0, m_core->Write(bytes.data(), 30));

    const std::vector<BYTE> tail = KSCoreProbe::Ring(*m_core, ring - 10, 10);
    const std::vector<BYTE> head = KSCoreProbe::Ring(*m_core, 0, 20);
    std::vector<BYTE> stored(tail);
    stored.insert(stored.end(), head.begin(), head.end());
    EXPECT_EQ(std::vector<BYTE>(bytes.begin(), bytes.end()), stored);
    EXPECT_EQ(20, KSCoreProbe::WriteOffset(*m_core));
    EXPECT_EQ(30, KSCoreProbe::Fill(*m_core));
}

TEST_F(RingTest, PackedTwentyFourBitSamplesAreWidenedToContainers) {
    struct Case {
        int cb;
        std::vector<BYTE> stored;
    } cases[] = {
        {3, {0x00, 0x01, 0x02, 0x03}},
        {6, {0x00, 0x01, 0x02, 0x03, 0x00, 0x04, 0x05, 0x06}},
        {7, {0x00, 0x01, 0x02, 0x03, 0x00, 0x04, 0x05, 0x06}},  // the seventh byte is dropped
        {8, {0x00, 0x01, 0x02, 0x03, 0x00, 0x04, 0x05, 0x06}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cb);
        KSCoreProbe::CloseWithoutDevice(*m_core);
        Open(24);
        const char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
        EXPECT_EQ(0, m_core->Write(bytes, c.cb));
        EXPECT_EQ(static_cast<int32_t>(c.stored.size()), KSCoreProbe::Fill(*m_core));
        EXPECT_EQ(c.stored, KSCoreProbe::Ring(*m_core, 0, static_cast<int32_t>(c.stored.size())));
        EXPECT_EQ(static_cast<int32_t>(c.stored.size()), KSCoreProbe::WriteOffset(*m_core));
    }
}

TEST_F(RingTest, TwentyFourBitWriteWrapsOnContainerBoundaries) {
    Open(24);
    const int32_t ring = KSCoreProbe::RingSize(*m_core);
    KSCoreProbe::MoveEmptyRing(*m_core, ring - 8);
    // Six packed samples: two fit before the end, four continue at the start.
    const std::vector<char> bytes = Pattern(18);
    ASSERT_EQ(0, m_core->Write(bytes.data(), 18));
    std::vector<BYTE> stored = KSCoreProbe::Ring(*m_core, ring - 8, 8);
    const std::vector<BYTE> head = KSCoreProbe::Ring(*m_core, 0, 16);
    stored.insert(stored.end(), head.begin(), head.end());
    std::vector<BYTE> expected;
    for (size_t k = 0; k < 6; ++k) {
        expected.push_back(0);
        for (size_t b = 0; b < 3; ++b) expected.push_back(static_cast<BYTE>(bytes[3 * k + b]));
    }
    EXPECT_EQ(expected, stored);
    EXPECT_EQ(16, KSCoreProbe::WriteOffset(*m_core));
    EXPECT_EQ(24, KSCoreProbe::Fill(*m_core));
}

TEST_F(RingTest, Pack24KeepsTheSignOfEverySample) {
    // -1, the largest and the smallest 24-bit values, little-endian.
    const BYTE packed[] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x80};
    BYTE wide[12] = {};
    ASSERT_EQ(12, KSCore::Pack24(wide, packed, 9));
    const int32_t expected[] = {-1 * 256, 0x7FFFFF * 256, -0x800000 * 256};
    for (int k = 0; k < 3; ++k) {
        int32_t sample;
        memcpy(&sample, wide + 4 * k, 4);
        EXPECT_EQ(expected[k], sample) << "sample " << k;
    }
    EXPECT_EQ(0, KSCore::Pack24(wide, packed, 0));
    EXPECT_EQ(0, KSCore::Pack24(wide, packed, -3));
}

TEST_F(RingTest, WritableSpaceNeverInvitesLessThanOnePacket) {
    // Ring 65536 bytes, packets of 8192 bytes.
    struct Case {
        int bits;
        int32_t held;
        int expected;
    } cases[] = {
        {16, 57344, 8192},
        {16, 57345, 0},
        {16, 0, 65536},
        // 24-bit: the threshold is 10920 free ring bytes, the answer in packed units.
        {24, 65536 - 10920, 8190},
        {24, 65536 - 10919, 0},
        {24, 0, 49152},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.held << " held");
        KSCoreProbe::CloseWithoutDevice(*m_core);
        Open(c.bits);
        KSCoreProbe::Preload(*m_core, c.held);
        EXPECT_EQ(c.expected, m_core->CanWrite());
    }
}

TEST_F(RingTest, WriteThatDoesNotFitIsRefusedWhole) {
    Open(16);
    const std::vector<char> bytes = Pattern(8192);
    KSCoreProbe::Preload(*m_core, 57345);
    EXPECT_EQ(1, m_core->Write(bytes.data(), 8192));
    EXPECT_EQ(57345, KSCoreProbe::Fill(*m_core));
    EXPECT_EQ(0, m_core->Write(bytes.data(), 8191));
    EXPECT_EQ(65536, KSCoreProbe::Fill(*m_core));
    EXPECT_EQ(1, m_core->Write(bytes.data(), 1));
}

TEST_F(RingTest, PlayingOnlyWhenRingIsEmptyAndEveryPacketIsBack) {
    EXPECT_EQ(0, m_core->IsPlaying());  // nothing open
    Open(16);
    EXPECT_EQ(0, m_core->IsPlaying());  // packets still with the device
    KSCoreProbe::Preload(*m_core, 4);
    KSCoreProbe::FreeAllPackets(*m_core);
    EXPECT_EQ(0, m_core->IsPlaying());  // audio still buffered
    KSCoreProbe::MoveEmptyRing(*m_core, 4);
    EXPECT_EQ(1, m_core->IsPlaying());
    ResetEvent(KSCoreProbe::Event(*m_core, 3));
    EXPECT_EQ(0, m_core->IsPlaying());
}

TEST_F(RingTest, TimeCountsBytesHandedToTheDevice) {
    EXPECT_EQ(0u, m_core->GetTime());  // no format before the first open
    struct Case {
        int rate, channels, bits;
        uint32_t played;
        uint32_t expected;
    } cases[] = {
        {44100, 2, 16, 176400, 1000},
        {44100, 2, 16, 88200, 500},
        {44100, 2, 16, 176399, 999},
        {44100, 2, 16, 0xFFFFFFFFu, 24347887},
        // 384 kHz, 8 channels of 32 bits: the part below one second must not
        // overflow 32 bits on its way.
        {384000, 8, 32, 12287999, 999},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << "/" << c.channels << "/" << c.bits << " " << c.played);
        KSCoreProbe::SetFormat(*m_core, TestFormat(c.rate, c.channels, c.bits));
        KSCoreProbe::SetPlayed(*m_core, c.played);
        EXPECT_EQ(c.expected, m_core->GetTime());
    }
}

TEST_F(RingTest, VolumeIsClampedAndNegativeIgnored) {
    EXPECT_EQ(255, KSCoreProbe::Volume(*m_core));
    m_core->SetVolume(100);
    m_core->SetVolume(-5);
    EXPECT_EQ(100, KSCoreProbe::Volume(*m_core));
    m_core->SetVolume(300);
    EXPECT_EQ(255, KSCoreProbe::Volume(*m_core));
    m_core->SetVolume(0);
    EXPECT_EQ(0, KSCoreProbe::Volume(*m_core));
}

}  // namespace
