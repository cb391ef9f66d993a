// CKsFilter: opening, pin enumeration and classification, topology nodes.
#include <cstring>
#include <memory>
#include <string>

#include "ks/filter.h"
#include "ks/pin.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

sim::PropertyRule Fail(const GUID& set, ULONG id, DWORD error = ERROR_GEN_FAILURE) {
    sim::PropertyRule rule;
    rule.set = set;
    rule.id = id;
    rule.fail_error = error;
    return rule;
}

class FilterTest : public KsTest {
protected:
    // A plain filter on a device with these pins, opened and enumerated.
    std::unique_ptr<CKsFilter> Enumerate(const sim::Device& device, HRESULT* phrEnumerate) {
        UseDevices({device});
        HRESULT hr = E_FAIL;
        std::unique_ptr<CKsFilter> filter(new CKsFilter(device.path.c_str(), &hr, "Name"));
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(filter->Instantiate(), S_OK);
        *phrEnumerate = filter->EnumeratePins();
        return filter;
    }

    static std::vector<ULONG> Ids(const TList<CKsPin>& list) {
        std::vector<ULONG> ids;
        for (TListItem<CKsPin>* item = list.m_pHead; item != nullptr; item = item->pNext) {
            ids.push_back(item->pData->m_nId);
        }
        return ids;
    }
};

TEST_F(FilterTest, PinsAreSortedByDataFlowAndCommunication) {
    auto pin = [](int communication, int dataflow) {
        return kstest::PinWith(static_cast<KSPIN_COMMUNICATION>(communication),
                               static_cast<KSPIN_DATAFLOW>(dataflow));
    };
    // Pin ids:         0 NONE/in   1 SINK/in   2 SOURCE/in  3 BOTH/in   4 NONE/out
    //                  5 SINK/out  6 SOURCE/out 7 BOTH/out  8 BRIDGE/in 9 -1/out
    //                  10 SINK with data flow 0 (neither in nor out)
    sim::Device device = kstest::DeviceWithPins(kstest::kPathA,
                                                {pin(0, 1), pin(1, 1), pin(2, 1), pin(3, 1), pin(0, 2), pin(1, 2),
                                                 pin(2, 2), pin(3, 2), pin(4, 1), pin(-1, 2), pin(1, 0)});
    HRESULT hr = E_FAIL;
    TraceEverything();
    auto filter = Enumerate(device, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(filter->m_listPins.m_lCount, 11);
    EXPECT_EQ(Ids(filter->m_listRenderSinkPins), (std::vector<ULONG>{1, 3}));
    EXPECT_EQ(Ids(filter->m_listRenderSourcePins), (std::vector<ULONG>{2, 3}));
    EXPECT_EQ(Ids(filter->m_listCaptureSinkPins), (std::vector<ULONG>{5, 7, 10}));
    EXPECT_EQ(Ids(filter->m_listCaptureSourcePins), (std::vector<ULONG>{6, 7}));
    EXPECT_EQ(Ids(filter->m_listNoCommPins), (std::vector<ULONG>{0, 4}));
    EXPECT_TRUE(Traced("Pin communication type not recognized"));
}

TEST_F(FilterTest, UnreadablePropertiesLeaveZerosThatAreClassifiedAsSuch) {
    sim::Pin no_dataflow = kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    no_dataflow.rules.push_back(Fail(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW));
    sim::Pin no_communication = kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_IN);
    no_communication.rules.push_back(Fail(KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION));
    HRESULT hr = E_FAIL;
    auto filter = Enumerate(kstest::DeviceWithPins(kstest::kPathA, {no_dataflow, no_communication}), &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Ids(filter->m_listCaptureSinkPins), (std::vector<ULONG>{0}));
    EXPECT_EQ(Ids(filter->m_listNoCommPins), (std::vector<ULONG>{1}));
}

TEST_F(FilterTest, AFilterWithoutClassifiedPinsIsNotViable) {
    struct Case {
        const char* name;
        sim::Device device;
        HRESULT expected;
    };
    sim::Device failing_count = kstest::DeviceWithPins(kstest::kPathA, {kstest::RenderPin()});
    failing_count.rules.push_back(Fail(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES));
    const Case cases[] = {
        {"no pins", kstest::DeviceWithPins(kstest::kPathA, {}), E_FAIL},
        {"pin count unreadable", failing_count, E_FAIL},
        {"only unrecognised communication", kstest::DeviceWithPins(kstest::kPathA, {kstest::PinWith(
                                                static_cast<KSPIN_COMMUNICATION>(7), KSPIN_DATAFLOW_IN)}),
         E_FAIL},
        {"only communication none", kstest::DeviceWithPins(kstest::kPathA, {kstest::PinWith(
                                        KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN)}),
         S_OK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        TraceEverything();
        HRESULT hr = S_OK;
        auto filter = Enumerate(c.device, &hr);
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(Traced("Filter is not viable. It has no pins."), FAILED(c.expected));
    }
}

TEST_F(FilterTest, NamesAreKeptAndCut) {
    const std::string long_path(300, 'p');
    const std::string long_name(300, 'n');
    HRESULT hr = E_FAIL;
    CKsFilter filter(long_path.c_str(), &hr, long_name.c_str());
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(std::string(filter.m_szFilterName), long_path.substr(0, 259));
    EXPECT_EQ(std::string(filter.m_szFriendlyName), long_name.substr(0, 259));
    EXPECT_EQ(filter.m_nFilterType, 0);

    TraceEverything();
    CKsFilter unnamed(nullptr, &hr, "Name");
    EXPECT_EQ(hr, E_INVALIDARG);
    EXPECT_TRUE(Traced("pszName cannot be NULL"));
    EXPECT_STREQ(unnamed.m_szFilterName, "");
}

TEST_F(FilterTest, InstantiateReportsTheDeviceThatDoesNotOpen) {
    sim::Device device = sim::RenderDevice(kstest::kPathA, "Device");
    device.open_error = ERROR_ACCESS_DENIED;
    UseDevices({device});
    TraceEverything();
    HRESULT hr = E_FAIL;
    CKsFilter filter(kstest::kPathA, &hr, "Device");
    EXPECT_EQ(filter.Instantiate(), E_FAIL);
    EXPECT_EQ(filter.m_handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(Traced(std::string("CKsFilter::Instantiate: CreateFile failed for device ") + kstest::kPathA +
                       ".  ErrorCode = 0x00000005"));
}

TEST_F(FilterTest, DestroyingTheFilterClosesItAndDeletesItsPins) {
    const size_t open = sim::OpenHandleCount();
    {
        HRESULT hr = E_FAIL;
        auto filter = Enumerate(sim::RenderDevice(kstest::kPathA, "Device"), &hr);
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(sim::OpenHandleCount(), open + 1);
    }
    EXPECT_EQ(sim::OpenHandleCount(), open);
}

TEST_F(FilterTest, TopologyNodesAreListedCompletelyOrNotAtAll) {
    struct Case {
        const char* name;
        std::optional<ULONG> claim_count;
        std::optional<ULONG> claim_size;
        DWORD fail_error;
        HRESULT expected;
        int nodes;
    };
    const Case cases[] = {
        {"as reported", {}, {}, 0, S_OK, 3},
        {"count claims more than the answer holds", 1000000u, {}, 0, E_FAIL, 0},
        {"size claims more than the answer holds", {}, 0xFFFFFFF0u, 0, S_OK, 3},
        {"size claims less than the nodes need", {}, 8u + 16u, 0, E_FAIL, 0},
        {"property fails", {}, {}, ERROR_NOT_FOUND, E_FAIL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Device device = sim::RenderDevice(kstest::kPathA, "Device");
        device.nodes = {KSNODETYPE_SPEAKER, KSCATEGORY_AUDIO, KSCATEGORY_RENDER};
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Topology;
        rule.id = KSPROPERTY_TOPOLOGY_NODES;
        rule.claim_count = c.claim_count;
        rule.claim_size = c.claim_size;
        rule.fail_error = c.fail_error;
        device.rules.push_back(rule);
        UseDevices({device});
        TraceEverything();

        HRESULT hr = E_FAIL;
        CKsFilter filter(kstest::kPathA, &hr, "Device");
        ASSERT_EQ(filter.Instantiate(), S_OK);
        EXPECT_EQ(filter.EnumerateNodes(), c.expected);
        ASSERT_EQ(filter.m_listNodes.m_lCount, c.nodes);
        if (c.nodes == 3) {
            const TListItem<CKsNode>* item = filter.m_listNodes.m_pHead;
            EXPECT_EQ(item->pData->m_nId, 0u);
            EXPECT_TRUE(SameGuid(item->pData->m_guidType, KSNODETYPE_SPEAKER));
            EXPECT_EQ(item->pNext->pNext->pData->m_nId, 2u);
            EXPECT_TRUE(SameGuid(item->pNext->pNext->pData->m_guidType, KSCATEGORY_RENDER));
        }
        if (c.fail_error != 0) {
            EXPECT_TRUE(Traced("Failed to get property KSPROPSETID_Topology.KSPROPERTY_TOPOLOGY_NODES"));
        }
    }
}

TEST_F(FilterTest, GetPinPropertyMultiOfAnEmptyAnswerLeavesThePointer) {
    sim::Pin pin = kstest::RenderPin();
    sim::PropertyRule rule;
    rule.set = KSPROPSETID_Pin;
    rule.id = KSPROPERTY_PIN_MEDIUMS;
    rule.bytes = std::vector<uint8_t>();
    pin.rules.push_back(rule);
    UseDevices({kstest::DeviceWithPins(kstest::kPathA, {pin})});
    HRESULT hr = E_FAIL;
    CKsFilter filter(kstest::kPathA, &hr, "Device");
    ASSERT_EQ(filter.Instantiate(), S_OK);
    PKSMULTIPLE_ITEM sentinel = reinterpret_cast<PKSMULTIPLE_ITEM>(&filter);
    PKSMULTIPLE_ITEM items = sentinel;
    EXPECT_EQ(filter.GetPinPropertyMulti(0, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, &items), S_OK);
    EXPECT_EQ(items, sentinel);

    // The request the driver saw: a KSP_PIN for pin 0.
    const sim::PropertyRequest sent = sim::PropertyRequests().back();
    EXPECT_EQ(sent.in_size, sizeof(KSP_PIN));
    EXPECT_EQ(sent.pin_id, 0u);
    EXPECT_EQ(sent.flags, KSPROPERTY_TYPE_GET);
}

}  // namespace
