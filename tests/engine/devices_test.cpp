// The engine's device list: enumerated at construction, reused until a close
// releases it, and the device chosen by its path.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

#include "engine/probe.h"
#include "frame/settings.h"
#include "ks/audfilter.h"
#include "ks/enum.h"
#include "support/alloc_hook.h"
#include "support/temp_dir.h"

namespace {

const char kFirst[] = "\\\\?\\sim#first#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
const char kSecond[] = "\\\\?\\sim#Second#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\Wave";

class EngineDevices : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        m_settings = std::make_unique<PluginSettings>();
        sim::Machine machine;
        machine.devices = {sim::RenderDevice(kFirst, "First"), sim::RenderDevice(kSecond, "Second")};
        sim::SetMachine(machine);
    }
    void TearDown() override {
        test::DisarmAllocationFailure();
        sim::Reset();
    }

    void SetOutputDevice(const std::string& path) {
        std::strncpy(m_settings->output_device, path.c_str(), sizeof(m_settings->output_device) - 1);
    }

    test::TempDir m_dir;
    std::unique_ptr<PluginSettings> m_settings;
};

TEST_F(EngineDevices, TheDeviceIsChosenByItsPathInAnyLetterCase) {
    struct Case {
        const char* name;
        std::string output_device;
        const char* chosen;
    };
    std::string upper(kSecond);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const Case cases[] = {
        {"exact path", kSecond, kSecond},
        {"other letter case", upper, kSecond},
        {"no setting", "", kFirst},
        {"a device that has gone", "\\\\?\\sim#gone", kFirst},
        {"a prefix of a path", std::string(kSecond).substr(0, 20), kFirst},
    };
    KSCore core(nullptr, nullptr, m_settings.get());
    ASSERT_TRUE(core.Constructed());
    ASSERT_NE(KSCoreProbe::DeviceList(core), nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetOutputDevice(c.output_device);
        CKsAudRenFilter* filter = KSCoreProbe::ChooseRenderFilter(core);
        ASSERT_NE(filter, nullptr);
        EXPECT_STREQ(filter->m_szFilterName, c.chosen);
    }
    EXPECT_TRUE(sim::MessageBoxes().empty());
}

TEST_F(EngineDevices, AFailedEnumerationIsToldOnceAndItsListReused) {
    sim::SetMachine(sim::Machine{});
    HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x5150));
    KSCore core(owner, nullptr, m_settings.get());
    ASSERT_TRUE(core.Constructed());
    std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "CKsEnumFilters::EnumFilters failed");
    EXPECT_EQ(boxes[0].caption, "Error!");
    EXPECT_EQ(boxes[0].owner, owner);

    // A device that appears later is not seen by the list the engine keeps.
    sim::SetMachine(sim::DefaultMachine());
    CKsEnumFilters* list = KSCoreProbe::DeviceList(core);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(KSCoreProbe::GetDeviceList(core), list);
    EXPECT_EQ(list->m_listEnumeratedFilters.m_lCount, 0);
    EXPECT_EQ(KSCoreProbe::ChooseRenderFilter(core), nullptr);
    EXPECT_EQ(sim::MessageBoxes().size(), 1u);
}

TEST_F(EngineDevices, ADeviceListThatCannotBeAllocatedIsTold) {
    // Count the engine's own allocations up to the device list, then fail it.
    int before_list = 0;
    {
        sim::SetMachine(sim::Machine{});
        test::FailNothrowAllocationsAfter(1000000);
        KSCore core(nullptr, nullptr, m_settings.get());
        before_list = test::NothrowAllocations() - 1;  // the list itself is the last one
        test::DisarmAllocationFailure();
    }
    sim::ClearMessageBoxes();
    test::FailNothrowAllocationsAfter(before_list);
    {
        KSCore core(nullptr, nullptr, m_settings.get());
        test::DisarmAllocationFailure();
        EXPECT_TRUE(core.Constructed());
        EXPECT_EQ(KSCoreProbe::DeviceList(core), nullptr);
    }
    const std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Failed to allocate CKsEnumFilters");
}

TEST_F(EngineDevices, TheDevicesAreOpenWhileTheEngineLives) {
    const size_t before = sim::OpenHandleCount();
    {
        KSCore core(nullptr, nullptr, m_settings.get());
        ASSERT_TRUE(core.Constructed());
        EXPECT_EQ(KSCoreProbe::DeviceList(core)->m_listEnumeratedFilters.m_lCount, 2);
    }
    EXPECT_EQ(sim::OpenHandleCount(), before);
}

}  // namespace
