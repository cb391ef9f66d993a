// CKsPin: what construction reads, creating the pin through ksuser.dll, state
// changes, writes and closing.
#include <cstring>
#include <memory>
#include <string>

#include "ks/filter.h"
#include "ks/pin.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

class PinTest : public KsTest {
protected:
    // An open plain filter on one device with these pins.
    std::unique_ptr<CKsFilter> OpenFilter(std::vector<sim::Pin> pins) {
        UseDevices({kstest::DeviceWithPins(kstest::kPathA, std::move(pins))});
        HRESULT hr = E_FAIL;
        std::unique_ptr<CKsFilter> filter(new CKsFilter(kstest::kPathA, &hr, "Device"));
        EXPECT_EQ(filter->Instantiate(), S_OK);
        return filter;
    }

    // A pin with a hand-made connect block for a 16-bit stereo format.
    static void Prepare(CKsPin& pin) {
        const ULONG size = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT_WAVEFORMATEX);
        pin.m_pksPinCreate = static_cast<PKSPIN_CONNECT>(operator new(size));
        std::memset(pin.m_pksPinCreate, 0, size);
        pin.m_cbPinCreateSize = size;
        pin.m_pksPinCreate->Interface.Set = KSINTERFACESETID_Standard;
        pin.m_pksPinCreate->Medium.Set = KSMEDIUMSETID_Standard;
        pin.m_pksPinCreate->PinId = pin.m_nId;
        pin.m_pksPinCreate->Priority.PriorityClass = KSPRIORITY_NORMAL;
        auto* format = reinterpret_cast<KSDATAFORMAT_WAVEFORMATEX*>(pin.m_pksPinCreate + 1);
        format->DataFormat.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
        format->DataFormat.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
        format->DataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
        format->DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
        const WAVEFORMATEX wave = kstest::PlainFormat(2, 16, 48000);
        std::memcpy(&format->WaveFormatEx, &wave, sizeof(wave));
    }
};

TEST_F(PinTest, ConstructionReadsEveryPinProperty) {
    sim::Pin described = kstest::RenderPin();
    described.possible_instances = 3;
    described.global_possible_instances = 5;
    described.ranges = {kstest::Range(2, 16, 16, 44100, 48000), kstest::Range(8, 8, 32, 8000, 384000)};
    described.mediums.push_back({KSMEDIUMSETID_Standard, 7, 0});
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(pin.m_Descriptor.Communication, KSPIN_COMMUNICATION_SINK);
    EXPECT_EQ(pin.m_Descriptor.DataFlow, KSPIN_DATAFLOW_IN);
    EXPECT_EQ(pin.m_Descriptor.InterfacesCount, 1u);
    EXPECT_TRUE(SameGuid(pin.m_Descriptor.Interfaces[0].Set, KSINTERFACESETID_Standard));
    EXPECT_EQ(pin.m_Descriptor.MediumsCount, 2u);
    EXPECT_EQ(pin.m_Descriptor.Mediums[1].Id, 7u);
    EXPECT_EQ(pin.m_Descriptor.DataRangesCount, 2u);
    EXPECT_EQ(reinterpret_cast<const BYTE*>(pin.m_Descriptor.DataRanges),
              reinterpret_cast<const BYTE*>(pin.m_pksDataRanges) + sizeof(KSMULTIPLE_ITEM));
    EXPECT_EQ(pin.m_Descriptor.CInstances.PossibleCount, 3u);
    EXPECT_EQ(pin.m_Descriptor.CInstancesGlobal.PossibleCount, 5u);
    EXPECT_TRUE(SameGuid(pin.m_guidCategory, KSNODETYPE_SPEAKER));
    const char16_t expected_name[] = u"Speakers";
    EXPECT_EQ(std::memcmp(pin.m_szPinName, expected_name, sizeof(expected_name)), 0);
    EXPECT_EQ(pin.m_ksState, KSSTATE_STOP);
    EXPECT_EQ(pin.m_handle, INVALID_HANDLE_VALUE);
}

TEST_F(PinTest, APropertyThatCannotBeReadLeavesItsFieldEmpty) {
    struct Case {
        ULONG property;
        const char* text;
    };
    const Case cases[] = {
        {KSPROPERTY_PIN_COMMUNICATION, "Failed to retrieve pin property KSPROPERTY_PIN_COMMUNICATION on PinID: 0"},
        {KSPROPERTY_PIN_INTERFACES, "Failed to retrieve pin property KSPROPETY_PIN_INTERFACES on PinID: 0"},
        {KSPROPERTY_PIN_MEDIUMS, "Failed to retrieve pin property KSPROPERTY_PIN_MEDIUMS on PinID: 0"},
        {KSPROPERTY_PIN_DATARANGES, "Failed to retrieve pin property KSPROPERTY_PIN_DATARANGES on PinID: 0"},
        {KSPROPERTY_PIN_DATAFLOW, "Failed to retrieve pin property KSPROPERTY_PIN_DATAFLOW on PinID: 0"},
        {KSPROPERTY_PIN_CINSTANCES, "Failed to retrieve pin property KSPROPERTY_PIN_CINSTANCES on PinID: 0"},
        {KSPROPERTY_PIN_GLOBALCINSTANCES,
         "Failed to retrieve pin property KSPROPERTY_PIN_GLOBALCINSTANCES on PinID: 0"},
        {KSPROPERTY_PIN_CATEGORY, "Failed to retrieve pin property KSPROPERTY_PIN_CATEGORY on PinID: 0"},
        {KSPROPERTY_PIN_NAME, "Failed to retrieve pin property KSPROPERTY_PIN_NAME on PinID: 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        sim::Reset();
        sim::Pin described = kstest::RenderPin();
        sim::PropertyRule rule;
        rule.set = KSPROPSETID_Pin;
        rule.id = c.property;
        rule.fail_error = ERROR_NOT_FOUND;
        described.rules.push_back(rule);
        auto filter = OpenFilter({described});
        TraceEverything();
        HRESULT hr = E_FAIL;
        CKsPin pin(filter.get(), 0, &hr);
        EXPECT_EQ(hr, S_FALSE);
        EXPECT_TRUE(Traced(c.text));
        // Only the failed field is empty.
        EXPECT_EQ(pin.m_Descriptor.Communication == KSPIN_COMMUNICATION_SINK,
                  c.property != KSPROPERTY_PIN_COMMUNICATION);
        EXPECT_EQ(pin.m_Descriptor.DataRangesCount != 0, c.property != KSPROPERTY_PIN_DATARANGES);
        EXPECT_EQ(pin.m_Descriptor.DataRanges != nullptr, c.property != KSPROPERTY_PIN_DATARANGES);
        EXPECT_EQ(pin.m_Descriptor.InterfacesCount != 0, c.property != KSPROPERTY_PIN_INTERFACES);
        EXPECT_EQ(pin.m_szPinName[0] != 0, c.property != KSPROPERTY_PIN_NAME);
    }
}

TEST_F(PinTest, ANameLongerThanTheBufferIsDroppedAndTheRestKept) {
    sim::Pin described = kstest::RenderPin();
    described.name = std::u16string(200, u'n');  // 402 bytes with its terminator
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    EXPECT_EQ(hr, S_FALSE);
    for (BYTE b : pin.m_szPinName) ASSERT_EQ(b, 0);
    EXPECT_EQ(pin.m_Descriptor.DataRangesCount, 1u);
    EXPECT_EQ(pin.m_Descriptor.Communication, KSPIN_COMMUNICATION_SINK);
}

TEST_F(PinTest, ListAnswersThatClaimMoreItemsThanTheyHoldAreCountedByWhatTheyHold) {
    sim::Pin described = kstest::RenderPin();
    sim::PropertyRule interfaces;
    interfaces.set = KSPROPSETID_Pin;
    interfaces.id = KSPROPERTY_PIN_INTERFACES;
    interfaces.claim_count = 0x10000000u;
    sim::PropertyRule mediums;
    mediums.set = KSPROPSETID_Pin;
    mediums.id = KSPROPERTY_PIN_MEDIUMS;
    mediums.claim_size = 0x7FFFFFFFu;
    mediums.claim_count = 50;
    described.rules = {interfaces, mediums};
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    EXPECT_EQ(pin.m_Descriptor.InterfacesCount, 1u);
    EXPECT_EQ(pin.m_Descriptor.MediumsCount, 1u);
}

TEST_F(PinTest, InstantiateWithoutAConnectBlockCreatesNothing) {
    auto filter = OpenFilter({kstest::RenderPin()});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    EXPECT_EQ(pin.Instantiate(FALSE), S_OK);
    EXPECT_EQ(pin.m_handle, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(sim::PinInstances().empty());
    EXPECT_TRUE(sim::LoadedModules().empty());
}

TEST_F(PinTest, InstantiateWritesTheStreamingInterfaceAndCreatesThePin) {
    sim::Pin described = kstest::RenderPin();
    described.possible_instances = 2;
    described.interfaces.push_back({KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0});
    auto filter = OpenFilter({described});
    for (BOOL looped : {FALSE, TRUE}) {
        SCOPED_TRACE(looped);
        HRESULT hr = E_FAIL;
        CKsPin pin(filter.get(), 0, &hr);
        Prepare(pin);
        ASSERT_EQ(pin.Instantiate(looped), S_OK);
        EXPECT_TRUE(CKsIrpTarget::IsValidHandle(pin.m_handle));
        EXPECT_EQ(pin.m_fLooped, looped);
        const sim::PinInstanceRecord record = sim::PinInstances().back();
        KSPIN_CONNECT connect;
        ASSERT_GE(record.connect.size(), sizeof(connect));
        std::memcpy(&connect, record.connect.data(), sizeof(connect));
        EXPECT_EQ(connect.Interface.Id, looped ? 1u : 0u);
        EXPECT_EQ(connect.PinToHandle, nullptr);
    }
    // Loaded once for the process (earlier tests may have loaded it already).
    EXPECT_LE(sim::LoadedModules().size(), 1u);
}

TEST_F(PinTest, InstantiateReportsTheDriversRefusalAsAnHresult) {
    sim::Pin described = kstest::RenderPin();
    described.accepts_plain = false;
    auto filter = OpenFilter({described});
    TraceEverything();
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    Prepare(pin);
    const HRESULT refused = HRESULT_FROM_WIN32(ERROR_NO_MATCH);
    EXPECT_EQ(pin.Instantiate(FALSE), refused);
    EXPECT_EQ(pin.m_handle, INVALID_HANDLE_VALUE);
    char text[64];
    std::snprintf(text, sizeof(text), "Failed to instantiate pin. hr=0x%08x", static_cast<unsigned>(refused));
    EXPECT_TRUE(Traced(text));
}

TEST_F(PinTest, StatesAreSetOnTheDriverAndRememberedOnlyWhenTaken) {
    sim::Pin described = kstest::RenderPin();
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    Prepare(pin);
    ASSERT_EQ(pin.Instantiate(FALSE), S_OK);
    EXPECT_EQ(pin.SetState(KSSTATE_PAUSE), S_OK);
    EXPECT_EQ(pin.SetState(KSSTATE_RUN), S_OK);
    EXPECT_EQ(pin.m_ksState, KSSTATE_RUN);
    pin.ClosePin();
    EXPECT_EQ(pin.m_handle, INVALID_HANDLE_VALUE);
    pin.ClosePin();  // nothing left to close
    const sim::PinInstanceRecord record = sim::PinInstances().back();
    EXPECT_EQ(record.states, (std::vector<KSSTATE>{KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_STOP}));
    EXPECT_FALSE(record.open);

    // A closed pin refuses, and the remembered state stays.
    TraceEverything();
    EXPECT_EQ(pin.SetState(KSSTATE_PAUSE), E_FAIL);
    EXPECT_EQ(pin.m_ksState, KSSTATE_STOP);
    EXPECT_TRUE(Traced("Failed to Set Pin State"));
}

TEST_F(PinTest, ARefusedStateChangeKeepsThePreviousState) {
    sim::Pin described = kstest::RenderPin();
    sim::PropertyRule rule;
    rule.set = KSPROPSETID_Connection;
    rule.id = KSPROPERTY_CONNECTION_STATE;
    rule.fail_error = ERROR_GEN_FAILURE;
    described.rules.push_back(rule);
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    Prepare(pin);
    ASSERT_EQ(pin.Instantiate(FALSE), S_OK);
    EXPECT_EQ(pin.SetState(KSSTATE_RUN), E_FAIL);
    EXPECT_EQ(pin.m_ksState, KSSTATE_STOP);
}

TEST_F(PinTest, WriteDataHandsThePacketOverWithoutWaiting) {
    sim::Pin described = kstest::RenderPin();
    described.clock = sim::Clock::Virtual;
    described.fail_writes_after = 1;
    auto filter = OpenFilter({described});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    Prepare(pin);
    ASSERT_EQ(pin.Instantiate(FALSE), S_OK);
    ASSERT_EQ(pin.SetState(KSSTATE_RUN), S_OK);

    BYTE data[192];
    for (size_t i = 0; i < sizeof(data); ++i) data[i] = static_cast<BYTE>(i);
    KSSTREAM_HEADER header;
    std::memset(&header, 0, sizeof(header));
    header.Size = sizeof(header);
    header.Data = data;
    header.FrameExtent = sizeof(data);
    header.DataUsed = sizeof(data);
    OVERLAPPED overlapped;
    std::memset(&overlapped, 0, sizeof(overlapped));
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    EXPECT_EQ(pin.WriteData(&header, &overlapped), S_OK);  // pending: the clock has not moved
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 0), WAIT_TIMEOUT);
    sim::AdvanceVirtualClock(1000);
    EXPECT_EQ(WaitForSingleObject(overlapped.hEvent, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(sim::PinInstances().back().consumed, std::vector<uint8_t>(data, data + sizeof(data)));

    // The device is gone after one packet.
    TraceEverything();
    ResetEvent(overlapped.hEvent);
    EXPECT_EQ(pin.WriteData(&header, &overlapped), E_FAIL);
    char text[80];
    std::snprintf(text, sizeof(text), "CKsPin::WriteData's DeviceIoControl Failed!  Error=0x%#08x",
                  static_cast<unsigned>(ERROR_DEVICE_NOT_CONNECTED));
    EXPECT_TRUE(Traced(text));

    pin.ClosePin();
    CloseHandle(overlapped.hEvent);
}

TEST_F(PinTest, TheTraceFollowsTheEntryAndExitConvention) {
    auto filter = OpenFilter({kstest::RenderPin()});
    HRESULT hr = E_FAIL;
    CKsPin pin(filter.get(), 0, &hr);
    TraceEverything();
    KSPIN_DATAFLOW flow;
    pin.GetDataFlow(&flow);
    pin.ClosePin();
    EXPECT_EQ(Trace(), (std::vector<std::string>{
                           "CKsPin::GetDataFlow() Enter",
                           "CKsPin::GetDataFlow Leave, returning 00000000",
                           "CKsPin::ClosePin() Enter",
                           "CKsIrpTarget::IsValidHandle() Enter",
                           "CKsIrpTarget::IsValidHandle() Leave",
                           "CKsPin::ClosePin() Leave",
                       }));
}

}  // namespace
