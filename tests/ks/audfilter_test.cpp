// Audio filters: which pin objects the enumeration makes, and how the render
// filter finds, creates and hands over a render pin.
#include <cstring>
#include <memory>
#include <string>

#include "ks/audfilter.h"
#include "ks/audpin.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

class AudFilterTest : public KsTest {
protected:
    std::unique_ptr<CKsAudRenFilter> Enumerate(std::vector<sim::Pin> pins, HRESULT* phr) {
        UseDevices({kstest::DeviceWithPins(kstest::kPathA, std::move(pins))});
        HRESULT hr = E_FAIL;
        std::unique_ptr<CKsAudRenFilter> filter(new CKsAudRenFilter(kstest::kPathA, &hr, "Device"));
        EXPECT_EQ(hr, S_OK);
        EXPECT_EQ(filter->m_nFilterType, 1);
        EXPECT_EQ(filter->Instantiate(), S_OK);
        *phr = filter->EnumeratePins();
        return filter;
    }

    static std::vector<ULONG> Ids(const TList<CKsPin>& list) {
        std::vector<ULONG> ids;
        for (TListItem<CKsPin>* item = list.m_pHead; item != nullptr; item = item->pNext) {
            ids.push_back(item->pData->m_nId);
        }
        return ids;
    }

    // A render sink pin taking 16-bit stereo at 44.1 to 48 kHz.
    static sim::Pin Render() {
        sim::Pin pin = kstest::RenderPin();
        pin.ranges = {kstest::Range(2, 16, 16, 44100, 48000)};
        pin.possible_instances = 1;
        return pin;
    }

    static const WAVEFORMATEX* Stereo16() {
        static const WAVEFORMATEX format = kstest::PlainFormat(2, 16, 48000);
        return &format;
    }
};

TEST_F(AudFilterTest, EnumerationMakesOneAudioPinObjectPerUsablePin) {
    sim::Pin capture = kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT);
    sim::Pin both_in = kstest::PinWith(KSPIN_COMMUNICATION_BOTH, KSPIN_DATAFLOW_IN);
    sim::Pin source_out = kstest::PinWith(KSPIN_COMMUNICATION_SOURCE, KSPIN_DATAFLOW_OUT);
    sim::Pin bridge = kstest::PinWith(KSPIN_COMMUNICATION_BRIDGE, KSPIN_DATAFLOW_OUT);
    sim::Pin none = kstest::PinWith(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN);
    sim::Pin no_interface = kstest::RenderPin();
    no_interface.interfaces.clear();
    sim::Pin no_dataflow = kstest::RenderPin();
    no_dataflow.rules.push_back({KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, ERROR_NOT_FOUND, {}, {}, {}, false, {}});
    TraceEverything();
    HRESULT hr = E_FAIL;
    //                           0          1        2        3           4       5     6              7
    auto filter = Enumerate({Render(), capture, both_in, source_out, bridge, none, no_interface, no_dataflow}, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(Ids(filter->m_listPins), (std::vector<ULONG>{0, 1, 2, 3}));
    EXPECT_EQ(Ids(filter->m_listRenderSinkPins), (std::vector<ULONG>{0, 2}));
    EXPECT_EQ(Ids(filter->m_listRenderSourcePins), (std::vector<ULONG>{2}));
    EXPECT_EQ(Ids(filter->m_listCaptureSinkPins), (std::vector<ULONG>{1}));
    EXPECT_EQ(Ids(filter->m_listCaptureSourcePins), (std::vector<ULONG>{3}));
    EXPECT_EQ(filter->m_listNoCommPins.m_lCount, 0);

    const TListItem<CKsPin>* item = filter->m_listPins.m_pHead;
    EXPECT_EQ(item->pData->m_nPinType, 1);                  // render: sink, in
    EXPECT_EQ(item->pNext->pData->m_nPinType, 2);           // capture: sink, out
    EXPECT_EQ(item->pNext->pNext->pData->m_nPinType, 0);    // both, in
    EXPECT_TRUE(Traced("Pin communication value doesn't make sense"));
    EXPECT_TRUE(Traced("No standard streaming interfaces on the pin"));
    EXPECT_TRUE(Traced("Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW"));
}

TEST_F(AudFilterTest, AFilterWithoutUsablePinsFails) {
    struct Case {
        const char* name;
        std::vector<sim::Pin> pins;
        bool count_fails;
        const char* trace;
    };
    const Case cases[] = {
        {"bridge and none only",
         {kstest::PinWith(KSPIN_COMMUNICATION_BRIDGE, KSPIN_DATAFLOW_OUT),
          kstest::PinWith(KSPIN_COMMUNICATION_NONE, KSPIN_DATAFLOW_IN)},
         false, "No valid pins found on the filter"},
        {"pin count unreadable", {Render()}, true, "Failed to retrieve count of pins in audio filter"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Device device = kstest::DeviceWithPins(kstest::kPathA, c.pins);
        if (c.count_fails) device.rules.push_back({KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, ERROR_NOT_FOUND, {}, {}, {}, false, {}});
        UseDevices({device});
        TraceEverything();
        HRESULT hr = E_FAIL;
        CKsAudRenFilter filter(kstest::kPathA, &hr, "Device");
        ASSERT_EQ(filter.Instantiate(), S_OK);
        EXPECT_EQ(filter.EnumeratePins(), E_FAIL);
        EXPECT_TRUE(Traced(c.trace));
        EXPECT_TRUE(Traced("No valid pins found on the filter"));
    }
}

TEST_F(AudFilterTest, APinCountBeyondAnyDeviceIsNotBelieved) {
    sim::Device device = kstest::DeviceWithPins(kstest::kPathA, {Render()});
    sim::PropertyRule lie;
    lie.set = KSPROPSETID_Pin;
    lie.id = KSPROPERTY_PIN_CTYPES;
    lie.bytes = std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF};
    device.rules.push_back(lie);
    UseDevices({device});
    HRESULT hr = E_FAIL;
    CKsAudRenFilter filter(kstest::kPathA, &hr, "Device");
    ASSERT_EQ(filter.Instantiate(), S_OK);
    TraceEverything();
    EXPECT_EQ(filter.EnumeratePins(), S_OK);
    EXPECT_EQ(Ids(filter.m_listRenderSinkPins), (std::vector<ULONG>{0}));
    EXPECT_TRUE(Traced("Filter reports 4294967295 pin types; only the first 256 are read"));
    // One communication request per pin id read, and the real pin's own.
    EXPECT_LT(sim::PropertyRequests().size(), 300u);
}

TEST_F(AudFilterTest, OutOfMemoryDeletesEveryPin) {
    UseDevices({kstest::DeviceWithPins(kstest::kPathA, {Render(), Render()})});
    HRESULT hr = E_FAIL;
    CKsAudRenFilter filter(kstest::kPathA, &hr, "Device");
    ASSERT_EQ(filter.Instantiate(), S_OK);
    TraceEverything();
    // The first pin takes 8 allocations (the object, three answers, the
    // block, a range and its item, the list item); the second object fails.
    test::FailNothrowAllocationsAfter(8);
    EXPECT_EQ(filter.EnumeratePins(), E_OUTOFMEMORY);
    test::DisarmAllocationFailure();
    EXPECT_TRUE(Traced("Failed to create audio pin"));
    EXPECT_TRUE(Traced("Ran out of memory enumerating pins - deleting all pins"));
    EXPECT_EQ(filter.m_listPins.m_lCount, 0);
    EXPECT_EQ(filter.m_listRenderSinkPins.m_lCount, 0);
}

TEST_F(AudFilterTest, TheLowerPinIdIsChosenAndHandedOverOnce) {
    HRESULT hr = E_FAIL;
    auto filter = Enumerate({Render(), Render()}, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(filter->FindViablePin(Stereo16())->m_nId, 0u);

    std::unique_ptr<CKsAudPin> first(filter->CreateRenderPin(Stereo16(), FALSE));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->m_nId, 0u);
    EXPECT_STREQ(filter->m_pszFailReason, "");
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(first->GetHandle()));
    EXPECT_EQ(filter->m_listPins.Find(first.get()), nullptr);
    EXPECT_EQ(filter->m_listRenderSinkPins.Find(first.get()), nullptr);

    std::unique_ptr<CKsAudPin> second(filter->CreateRenderPin(Stereo16(), FALSE));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->m_nId, 1u);
    EXPECT_EQ(filter->CreateRenderPin(Stereo16(), FALSE), nullptr);
    EXPECT_STREQ(filter->m_pszFailReason, "Could not find a Render pin that supports the given wave format");

    // The driver received the format in the connect block.
    const sim::PinInstanceRecord record = sim::PinInstances().front();
    ASSERT_EQ(record.connect.size(), sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX));
    EXPECT_EQ(std::memcmp(record.connect.data() + sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT), Stereo16(),
                          sizeof(WAVEFORMATEX)),
              0);

    // Destroying the filter leaves the handed-over pins alone.
    const size_t open = sim::OpenHandleCount();
    filter.reset();
    EXPECT_EQ(sim::OpenHandleCount(), open - 1);  // the filter handle only
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(first->GetHandle()));
}

TEST_F(AudFilterTest, ThePinThatFailsToBeCreatedFallsBackToAnyRenderPin) {
    // Pin 0 says it takes the format but its driver refuses it; pin 1 claims
    // nothing suitable but accepts it.
    sim::Pin liar = Render();
    liar.accepts_plain = false;
    sim::Pin modest = Render();
    modest.ranges = {kstest::Range(1, 8, 8, 8000, 8000)};
    modest.accepts = {kstest::Range(2, 16, 16, 44100, 48000)};
    HRESULT hr = E_FAIL;
    auto filter = Enumerate({liar, modest}, &hr);
    ASSERT_EQ(hr, S_OK);
    TraceEverything();
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(Stereo16(), FALSE));
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->m_nId, 1u);
    EXPECT_STREQ(filter->m_pszFailReason, "Failed to instantiate Render Pin");
    EXPECT_FALSE(TracedContaining("Successfully instantiated Render Pin."));
    EXPECT_EQ(Ids(filter->m_listRenderSinkPins), (std::vector<ULONG>{0}));
}

TEST_F(AudFilterTest, ExhaustedInstancesLeaveNoPinToCreate) {
    sim::Pin only = Render();
    only.possible_instances = 0;
    HRESULT hr = E_FAIL;
    auto filter = Enumerate({only}, &hr);
    ASSERT_EQ(hr, S_OK);
    EXPECT_EQ(filter->CreateRenderPin(Stereo16(), FALSE), nullptr);
    EXPECT_STREQ(filter->m_pszFailReason, "Failed to instantiate Render Pin");
    EXPECT_EQ(filter->m_listRenderSinkPins.m_lCount, 1);
}

TEST_F(AudFilterTest, ACaptureOnlyFilterHasNoRenderPin) {
    HRESULT hr = E_FAIL;
    auto filter = Enumerate({kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT)}, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(filter->FindViablePin(Stereo16()), nullptr);
    EXPECT_EQ(filter->CreateRenderPin(Stereo16(), FALSE), nullptr);
    EXPECT_STREQ(filter->m_pszFailReason, "Could not find a Render pin that supports the given wave format");
    EXPECT_TRUE(sim::PinInstances().empty());
}

TEST_F(AudFilterTest, APinOfCommunicationBothCanBeChosen) {
    sim::Pin both = Render();
    both.communication = KSPIN_COMMUNICATION_BOTH;
    HRESULT hr = E_FAIL;
    auto filter = Enumerate({both}, &hr);
    ASSERT_EQ(hr, S_OK);
    std::unique_ptr<CKsAudPin> pin(filter->CreateRenderPin(Stereo16(), FALSE));
    ASSERT_NE(pin, nullptr);
    EXPECT_EQ(pin->m_nPinType, 0);
    // Still an entry of the render source list, which only unlinks it.
    EXPECT_NE(filter->m_listRenderSourcePins.Find(pin.get()), nullptr);
    filter.reset();
    EXPECT_TRUE(CKsIrpTarget::IsValidHandle(pin->GetHandle()));
}

TEST_F(AudFilterTest, TheCaptureFilterIsOnlyTagged) {
    UseDevices({kstest::DeviceWithPins(kstest::kPathA, {kstest::PinWith(KSPIN_COMMUNICATION_SINK, KSPIN_DATAFLOW_OUT)})});
    HRESULT hr = E_FAIL;
    CKsAudCapFilter filter(kstest::kPathA, &hr, "Device");
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(filter.m_nFilterType, 2);
    ASSERT_EQ(filter.Instantiate(), S_OK);
    EXPECT_EQ(filter.EnumeratePins(), S_OK);
    EXPECT_EQ(filter.m_listCaptureSinkPins.m_lCount, 1);
}

}  // namespace
