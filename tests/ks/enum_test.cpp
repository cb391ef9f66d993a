// CKsEnumFilters: which devices are listed, in which order, under which
// names, and what the enumeration writes to the trace log.
#include <cstring>
#include <memory>
#include <string>

#include "frame/tracelog.h"
#include "ks/audfilter.h"
#include "ks/enum.h"
#include "ks_fixture.h"
#include "support/temp_dir.h"

namespace {

using kstest::KsTest;

const GUID kRenderCategories[2] = {KSCATEGORY_AUDIO, KSCATEGORY_RENDER};

std::string Path(const std::string& name) {
    return "\\\\?\\sim#" + name + "#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
}

sim::Device Named(const std::string& id, const std::string& name) { return sim::RenderDevice(Path(id), name); }

sim::RegistryValue Raw(DWORD type, const std::string& bytes) {
    sim::RegistryValue value;
    value.type = type;
    value.data.assign(bytes.begin(), bytes.end());
    return value;
}

class EnumTest : public KsTest {
protected:
    void SetUp() override {
        KsTest::SetUp();
        sim::SetHostExecutablePath(dir_.File("host.exe"));
        TraceLog::Open();
        TraceLog::SetEnabled(1);
    }
    void TearDown() override {
        TraceLog::SetEnabled(0);
        TraceLog::Close();
        KsTest::TearDown();
    }
    std::string Log() const { return test::ReadFile(dir_.File("quarrow log.txt")); }

    struct Listed {
        std::string path;
        std::string name;
        int32_t type;
    };
    static std::vector<Listed> Contents(const CKsEnumFilters& list) {
        std::vector<Listed> listed;
        for (TListItem<CKsFilter>* item = list.m_listEnumeratedFilters.m_pHead; item != nullptr; item = item->pNext) {
            listed.push_back({item->pData->m_szFilterName, item->pData->m_szFriendlyName, item->pData->m_nFilterType});
        }
        return listed;
    }
    static std::vector<std::string> Names(const CKsEnumFilters& list) {
        std::vector<std::string> names;
        for (const Listed& l : Contents(list)) names.push_back(l.name);
        return names;
    }

    test::TempDir dir_;
};

TEST_F(EnumTest, RenderDevicesAreListedInSetupApiOrderWithTheirNames) {
    sim::Device capture_only = Named("capture", "Capture Only");
    capture_only.interfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}}, {KSCATEGORY_CAPTURE, SPINT_ACTIVE, {}}};
    sim::Device removed_alias = Named("removed", "Removed Alias");
    removed_alias.interfaces[1].flags = SPINT_ACTIVE | SPINT_REMOVED;
    sim::Device flagless_alias = Named("flagless", "Flagless Alias");
    flagless_alias.interfaces[1].flags = 0;
    sim::Device nameless = Named("nameless", "");
    nameless.friendly_name.reset();
    sim::Device closed_key = Named("closedkey", "Unreadable Key");
    closed_key.key_opens = false;
    sim::Device unopenable = Named("unopenable", "Will Not Open");
    unopenable.open_error = ERROR_ACCESS_DENIED;
    sim::Device bridge_only = Named("bridge", "Bridge Only");
    bridge_only.pins = {kstest::PinWith(KSPIN_COMMUNICATION_BRIDGE, KSPIN_DATAFLOW_OUT)};
    sim::Device absent = Named("absent", "Not Present");
    absent.present = false;

    UseDevices({Named("alpha", "Alpha"), capture_only, removed_alias, flagless_alias, nameless, closed_key,
                unopenable, bridge_only, absent, Named("omega", "Omega")});
    TraceEverything();
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);

    const std::vector<Listed> listed = Contents(list);
    ASSERT_EQ(listed.size(), 4u);
    EXPECT_EQ(listed[0].path, Path("alpha"));
    EXPECT_EQ(listed[0].name, "Alpha");
    EXPECT_EQ(listed[1].path, Path("nameless"));
    EXPECT_EQ(listed[1].name, "");  // not the name of the device before it
    EXPECT_EQ(listed[2].path, Path("closedkey"));
    EXPECT_EQ(listed[2].name, "");
    EXPECT_EQ(listed[3].path, Path("omega"));
    for (const Listed& l : listed) EXPECT_EQ(l.type, 1);

    EXPECT_TRUE(Traced("Failed to get requested DeviceInterfaceAlias"));
    EXPECT_TRUE(Traced("DeviceInterfaceAlias disabled."));
    EXPECT_TRUE(Traced("Failed to create filter for " + Path("unopenable")));
    EXPECT_TRUE(Traced("Failed to create filter for " + Path("bridge")));
    EXPECT_FALSE(TracedContaining(Path("absent")));

    EXPECT_EQ(Log(),
              "Enumerated Filter:\n  Friendly Name:\n  Alpha\n  Filter Type = 1\n\n\r\n"
              "Enumerated Filter:\n  Friendly Name:\n  \n  Filter Type = 1\n\n\r\n"
              "Enumerated Filter:\n  Friendly Name:\n  \n  Filter Type = 1\n\n\r\n"
              "Enumerated Filter:\n  Friendly Name:\n  Omega\n  Filter Type = 1\n\n\r\n");

    // Every listed filter is open; destroying the list closes them.
    const size_t open = sim::OpenHandleCount();
    list.DestroyLists();
    EXPECT_EQ(sim::OpenHandleCount(), open - 4);
}

TEST_F(EnumTest, FriendlyNamesOfAnyTypeAndLengthBecomeTerminatedTexts) {
    struct Case {
        const char* name;
        sim::RegistryValue value;
        std::string expected;
    };
    const Case cases[] = {
        {"plain text", sim::RegistryValue::Text("Speakers"), "Speakers"},
        {"300 characters", sim::RegistryValue::Text(std::string(300, 'a')), std::string(259, 'a')},
        {"259 characters", sim::RegistryValue::Text(std::string(259, 'b')), std::string(259, 'b')},
        {"260 characters, unterminated", Raw(REG_SZ, std::string(260, 'c')), std::string(259, 'c')},
        {"short, unterminated", Raw(REG_SZ, "Short"), "Short"},
        {"binary with a NUL inside", Raw(REG_BINARY, std::string("Bin\0xyz", 7)), "Bin"},
        {"empty value", Raw(REG_SZ, ""), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Device device = Named("named", "");
        device.friendly_name = c.value;
        UseDevices({device});
        HRESULT hr = E_FAIL;
        CKsEnumFilters list(&hr);
        ASSERT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
        EXPECT_EQ(Names(list), std::vector<std::string>{c.expected});
    }
}

TEST_F(EnumTest, NothingToListIsAFailure) {
    struct Case {
        const char* name;
        const GUID* categories;
        ULONG count;
    };
    const GUID zero[1] = {GUID{}};
    const Case cases[] = {
        {"no categories", nullptr, 0},
        {"all-zero first category", zero, 1},
        {"no present device", kRenderCategories, 2},
    };
    UseDevices({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TraceEverything();
        HRESULT hr = E_FAIL;
        CKsEnumFilters list(&hr);
        EXPECT_EQ(list.EnumFilters(1, c.categories, c.count, TRUE, FALSE, TRUE), E_FAIL);
        EXPECT_EQ(list.m_listEnumeratedFilters.m_lCount, 0);
        EXPECT_FALSE(Traced("No devices found"));
    }
}

TEST_F(EnumTest, ASingleCategoryChecksNoAlias) {
    sim::Device capture_only = Named("capture", "Capture Only");
    capture_only.interfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}}, {KSCATEGORY_CAPTURE, SPINT_ACTIVE, {}}};
    capture_only.pins = {kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT)};
    UseDevices({Named("render", "Render"), capture_only});
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    EXPECT_EQ(list.EnumFilters(2, kRenderCategories, 1, TRUE, FALSE, TRUE), S_OK);
    EXPECT_EQ(Names(list), (std::vector<std::string>{"Render", "Capture Only"}));
    EXPECT_EQ(Contents(list)[1].type, 2);
}

TEST_F(EnumTest, OtherFilterTypesGivePlainFiltersButAreLoggedAsAsked) {
    UseDevices({Named("render", "Render")});
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    EXPECT_EQ(list.EnumFilters(7, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
    ASSERT_EQ(list.m_listEnumeratedFilters.m_lCount, 1);
    CKsFilter* filter = list.m_listEnumeratedFilters.m_pHead->pData;
    EXPECT_EQ(filter->m_nFilterType, 0);
    EXPECT_EQ(filter->m_listPins.m_lCount, 2);  // the plain filter keeps the bridge pin too
    EXPECT_NE(Log().find("Filter Type = 7"), std::string::npos);
}

TEST_F(EnumTest, FlagsDecideWhatIsDoneToEachFilter) {
    sim::Device device = Named("render", "Render");
    device.nodes = {KSNODETYPE_SPEAKER};
    UseDevices({device});
    struct Case {
        const char* name;
        BOOL pins, nodes, instantiate;
        bool open;
        int pin_count, node_count;
    };
    const Case cases[] = {
        {"nothing", FALSE, FALSE, FALSE, false, 0, 0},
        {"instantiate only", FALSE, FALSE, TRUE, true, 0, 0},
        {"nodes without instantiate", FALSE, TRUE, FALSE, true, 0, 1},
        {"pins and nodes", TRUE, TRUE, TRUE, true, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HRESULT hr = E_FAIL;
        CKsEnumFilters list(&hr);
        ASSERT_EQ(list.EnumFilters(1, kRenderCategories, 2, c.pins, c.nodes, c.instantiate), S_OK);
        ASSERT_EQ(list.m_listEnumeratedFilters.m_lCount, 1);
        CKsFilter* filter = list.m_listEnumeratedFilters.m_pHead->pData;
        EXPECT_EQ(CKsIrpTarget::IsValidHandle(filter->m_handle) != 0, c.open);
        EXPECT_EQ(filter->m_listPins.m_lCount, c.pin_count);
        EXPECT_EQ(filter->m_listNodes.m_lCount, c.node_count);
    }
}

TEST_F(EnumTest, ASecondRunReplacesTheFirst) {
    UseDevices({Named("a", "A"), Named("b", "B")});
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    ASSERT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
    const size_t open = sim::OpenHandleCount();
    UseDevices({Named("c", "C")});
    ASSERT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
    EXPECT_EQ(Names(list), std::vector<std::string>{"C"});
    EXPECT_EQ(sim::OpenHandleCount(), open - 1);
}

TEST_F(EnumTest, APathTooLongForTheDetailBufferIsSkipped) {
    sim::Device long_path = sim::RenderDevice("\\\\?\\" + std::string(600, 'x'), "Long");
    UseDevices({long_path, Named("short", "Short")});
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    EXPECT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
    EXPECT_EQ(Names(list), std::vector<std::string>{"Short"});
}

TEST_F(EnumTest, OutOfMemoryForALaterDeviceKeepsTheEarlierOnes) {
    // Count what listing one device allocates, then fail the allocation that
    // follows: the second device's detail buffer.
    UseDevices({Named("a", "A")});
    int per_device = 0;
    {
        HRESULT hr = E_FAIL;
        CKsEnumFilters list(&hr);
        test::FailNothrowAllocationsAfter(1000000);
        ASSERT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), S_OK);
        per_device = test::NothrowAllocations();
        test::DisarmAllocationFailure();
    }
    UseDevices({Named("a", "A"), Named("b", "B")});
    TraceEverything();
    HRESULT hr = E_FAIL;
    CKsEnumFilters list(&hr);
    test::FailNothrowAllocationsAfter(per_device);
    EXPECT_EQ(list.EnumFilters(1, kRenderCategories, 2, TRUE, FALSE, TRUE), E_OUTOFMEMORY);
    test::DisarmAllocationFailure();
    EXPECT_EQ(Names(list), std::vector<std::string>{"A"});
    EXPECT_TRUE(Traced("Failed to allocate SP_DEVICE_INTERFACE_DETAIL_DATA structure"));
}

TEST_F(EnumTest, TheTraceFollowsTheEntryAndExitConvention) {
    UseDevices({});
    TraceEverything();
    {
        HRESULT hr = E_FAIL;
        CKsEnumFilters list(&hr);
        list.EnumFilters(1, nullptr, 0, TRUE, FALSE, TRUE);
    }
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "CKsEnumFilters::CKsEnumFilters() Enter",
                           "CKsEnumFilters::CKsEnumFilters Leave, returning 00000000",
                           "CKsEnumFilters::EnumFilters() Enter",
                           "CKsEnumFilters::DestroyLists() Enter",
                           "CKsEnumFilters::DestroyLists Leave, returning 00000000",
                           "CKsIrpTarget::IsValidHandle() Enter",
                           "CKsIrpTarget::IsValidHandle() Leave",
                           "CKsEnumFilters::EnumFilters Leave, returning 0x80004005",
                           "CKsEnumFilters::~CKsEnumFilters() Enter",
                           "CKsEnumFilters::DestroyLists() Enter",
                           "CKsEnumFilters::DestroyLists Leave, returning 00000000",
                           "CKsEnumFilters::~CKsEnumFilters Leave, returning 00000000",
                       }));
}

}  // namespace
