// Audio pins: which pins are usable, which ranges they keep, which formats
// they accept, and the connect block SetFormat writes. Malformed range answers
// must never be read outside the driver's answer (run under ASan).
#include <cstring>
#include <memory>
#include <string>

#include "ks/audpin.h"
#include "ks/filter.h"
#include "ks_fixture.h"

namespace {

using kstest::KsTest;

const GUID kOtherSubFormat = {0x12345678, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kOtherMajorFormat = {0x87654321, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};

class AudPinTest : public KsTest {
protected:
    // An audio pin on pin 0 of a device whose only pin is `described`.
    std::unique_ptr<CKsAudPin> Construct(const sim::Pin& described, HRESULT* phr) {
        UseDevices({kstest::DeviceWithPins(kstest::kPathA, {described})});
        filter_.reset(new CKsFilter(kstest::kPathA, phr, "Device"));
        EXPECT_EQ(filter_->Instantiate(), S_OK);
        *phr = E_FAIL;
        return std::unique_ptr<CKsAudPin>(new CKsAudPin(filter_.get(), 0, phr));
    }

    static size_t RangeCount(const CKsAudPin& pin) { return static_cast<size_t>(pin.m_listAudioRanges.m_lCount); }

    std::unique_ptr<CKsFilter> filter_;
};

TEST_F(AudPinTest, StandardInterfaceMediumAndRangesDecideWhetherThePinIsUsable) {
    struct Case {
        const char* name;
        std::vector<sim::Identifier> interfaces;
        std::vector<sim::Identifier> mediums;
        std::vector<sim::DataRange> ranges;
        HRESULT expected;
        const char* trace;
        size_t kept;
    };
    const sim::Identifier standard_interface{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0};
    const sim::Identifier looped_interface{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 0};
    const sim::Identifier other_set{KSMEDIUMSETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0};
    const sim::Identifier standard_medium{KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0};
    const sim::Identifier other_medium{KSMEDIUMSETID_Standard, 3, 0};
    sim::DataRange pcm;
    sim::DataRange other = pcm;
    other.sub = kOtherSubFormat;
    sim::DataRange wildcard = pcm;
    wildcard.sub = GUID{};
    sim::DataRange not_audio = pcm;
    not_audio.major = kOtherMajorFormat;
    const Case cases[] = {
        {"no interfaces", {}, {standard_medium}, {pcm}, E_FAIL, "No standard streaming interfaces on the pin", 0},
        {"only looped streaming", {looped_interface, other_set}, {standard_medium}, {pcm}, E_FAIL,
         "No standard streaming interfaces on the pin", 0},
        {"standard interface last", {looped_interface, standard_interface}, {standard_medium}, {pcm}, S_OK, nullptr, 1},
        {"standard medium second", {standard_interface}, {other_medium, standard_medium}, {pcm}, S_OK, nullptr, 1},
        {"no standard medium", {standard_interface}, {other_medium}, {pcm}, E_FAIL,
         "No standard streaming mediums on the pin", 0},
        {"no ranges", {standard_interface}, {standard_medium}, {}, E_FAIL, "No audio dataranges on the pin", 0},
        {"only foreign sub-formats", {standard_interface}, {standard_medium}, {other, other}, E_FAIL,
         "No audio dataranges on the pin", 0},
        {"foreign, PCM, foreign", {standard_interface}, {standard_medium}, {other, pcm, other}, S_OK, nullptr, 2},
        {"wildcard sub-format", {standard_interface}, {standard_medium}, {wildcard}, S_OK, nullptr, 1},
        {"PCM of another major format", {standard_interface}, {standard_medium}, {not_audio}, S_OK, nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Pin described = kstest::RenderPin();
        described.interfaces = c.interfaces;
        described.mediums = c.mediums;
        described.ranges = c.ranges;
        TraceEverything();
        HRESULT hr = S_OK;
        auto pin = Construct(described, &hr);
        EXPECT_EQ(hr, c.expected);
        if (c.trace != nullptr) {
            EXPECT_TRUE(Traced(c.trace));
        }
        EXPECT_EQ(RangeCount(*pin), c.kept);
    }
}

TEST_F(AudPinTest, KeptRangesDecideWhichFormatsAreSupported) {
    sim::Pin described = kstest::RenderPin();
    described.ranges = {kstest::Range(2, 8, 16, 44100, 48000)};
    HRESULT hr = E_FAIL;
    auto pin = Construct(described, &hr);
    ASSERT_EQ(hr, S_OK);

    struct Case {
        const char* name;
        WAVEFORMATEX format;
        BOOL supported;
    };
    const Case cases[] = {
        {"16-bit stereo at the lowest rate", kstest::PlainFormat(2, 16, 44100), TRUE},
        {"16-bit stereo at the highest rate", kstest::PlainFormat(2, 16, 48000), TRUE},
        {"8-bit mono", kstest::PlainFormat(1, 8, 48000), TRUE},
        {"3 channels", kstest::PlainFormat(3, 16, 48000), FALSE},
        {"24 bits", kstest::PlainFormat(2, 24, 48000), FALSE},
        {"one hertz above", kstest::PlainFormat(2, 16, 48001), FALSE},
        {"one hertz below", kstest::PlainFormat(2, 16, 44099), FALSE},
        {"IEEE float", kstest::PlainFormat(2, 16, 48000, 3), FALSE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(pin->IsFormatSupported(&c.format), c.supported);
        // The extensible form with the same sub-format is judged alike.
        WAVEFORMATEXTENSIBLE extensible = kstest::ExtensibleFormat(
            c.format.nChannels, c.format.wBitsPerSample, c.format.nSamplesPerSec,
            c.format.wFormatTag == 3 ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM);
        EXPECT_EQ(pin->IsFormatSupported(&extensible.Format), c.supported);
    }
}

TEST_F(AudPinTest, WildcardRangesAcceptAnySubFormat) {
    sim::Pin described = kstest::RenderPin();
    sim::DataRange wildcard = kstest::Range(2, 16, 32, 8000, 96000);
    wildcard.sub = GUID{};
    wildcard.specifier = GUID{};
    described.ranges = {wildcard};
    HRESULT hr = E_FAIL;
    auto pin = Construct(described, &hr);
    ASSERT_EQ(hr, S_OK);
    const WAVEFORMATEX pcm = kstest::PlainFormat(2, 16, 48000);
    const WAVEFORMATEX float32 = kstest::PlainFormat(2, 32, 48000, 3);
    EXPECT_TRUE(pin->IsFormatSupported(&pcm));
    EXPECT_TRUE(pin->IsFormatSupported(&float32));
}

TEST_F(AudPinTest, MalformedRangeAnswersStayInsideTheAnswer) {
    struct Case {
        const char* name;
        std::vector<sim::DataRange> ranges;
        std::optional<ULONG> claim_count;
        HRESULT expected;
        size_t kept;
        bool supports_stereo;
    };
    sim::DataRange good = kstest::Range(2, 16, 16, 8000, 48000);
    sim::DataRange zero = good;
    zero.format_size = 0;
    sim::DataRange tiny = good;
    tiny.format_size = 32;
    sim::DataRange beyond = good;
    beyond.format_size = 4096;
    beyond.bytes_written = sizeof(KSDATARANGE_AUDIO);
    sim::DataRange bare = good;
    bare.format_size = sizeof(KSDATARANGE);
    sim::DataRange short_audio = good;
    short_audio.format_size = sizeof(KSDATARANGE) + 8;  // ends after MaximumChannels and MinimumBitsPerSample
    sim::DataRange odd = good;
    odd.format_size = sizeof(KSDATARANGE_AUDIO) + 3;  // the next range starts misaligned
    const Case cases[] = {
        {"FormatSize 0 first", {zero, good}, {}, E_FAIL, 0, false},
        {"FormatSize 0 after a good range", {good, zero, good}, {}, S_OK, 1, true},
        {"FormatSize below a KSDATARANGE", {good, tiny, good}, {}, S_OK, 1, true},
        {"last range runs past the end", {good, beyond}, {}, S_OK, 1, true},
        {"count claims more ranges", {good}, 1000u, S_OK, 1, true},
        {"bare KSDATARANGE of the audio major format", {bare}, {}, S_OK, 1, false},
        {"audio range cut short", {short_audio, good}, {}, S_OK, 2, true},
        {"misaligned ranges", {odd, good}, {}, S_OK, 2, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Reset();
        sim::Pin described = kstest::RenderPin();
        described.ranges = c.ranges;
        if (c.claim_count) {
            sim::PropertyRule rule;
            rule.set = KSPROPSETID_Pin;
            rule.id = KSPROPERTY_PIN_DATARANGES;
            rule.claim_count = c.claim_count;
            described.rules.push_back(rule);
        }
        HRESULT hr = S_OK;
        auto pin = Construct(described, &hr);
        EXPECT_EQ(hr, c.expected);
        EXPECT_EQ(RangeCount(*pin), c.kept);
        const WAVEFORMATEX stereo = kstest::PlainFormat(2, 16, 44100);
        EXPECT_EQ(pin->IsFormatSupported(&stereo) != FALSE, c.supports_stereo);
    }
}

TEST_F(AudPinTest, ARangeCutShortKeepsZerosInTheFieldsItLacks) {
    sim::Pin described = kstest::RenderPin();
    sim::DataRange short_audio = kstest::Range(6, 8, 24, 8000, 96000);
    short_audio.format_size = sizeof(KSDATARANGE) + 8;
    described.ranges = {short_audio};
    HRESULT hr = E_FAIL;
    auto pin = Construct(described, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(RangeCount(*pin), 1u);
    const KSDATARANGE_AUDIO* kept = pin->m_listAudioRanges.m_pHead->pData;
    EXPECT_EQ(kept->MaximumChannels, 6u);
    EXPECT_EQ(kept->MinimumBitsPerSample, 8u);
    EXPECT_EQ(kept->MaximumBitsPerSample, 0u);
    EXPECT_EQ(kept->MinimumSampleFrequency, 0u);
    EXPECT_EQ(kept->MaximumSampleFrequency, 0u);
}

TEST_F(AudPinTest, TheConnectBlockIsFilledForStandardStreaming) {
    HRESULT hr = E_FAIL;
    auto pin = Construct(kstest::RenderPin(), &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(pin->m_pksPinCreate, nullptr);
    const KSPIN_CONNECT& connect = *pin->m_pksPinCreate;
    EXPECT_TRUE(SameGuid(connect.Interface.Set, KSINTERFACESETID_Standard));
    EXPECT_EQ(connect.Interface.Id, 0u);
    EXPECT_TRUE(SameGuid(connect.Medium.Set, KSMEDIUMSETID_Standard));
    EXPECT_EQ(connect.Medium.Id, 0u);
    EXPECT_EQ(connect.PinId, 0u);
    EXPECT_EQ(connect.PinToHandle, nullptr);
    EXPECT_EQ(connect.Priority.PriorityClass, KSPRIORITY_NORMAL);
    EXPECT_EQ(connect.Priority.PrioritySubClass, 1u);
    ASSERT_EQ(reinterpret_cast<BYTE*>(pin->m_pksDataFormatWfx),
              reinterpret_cast<BYTE*>(pin->m_pksPinCreate) + sizeof(KSPIN_CONNECT));
    const KSDATAFORMAT& format = pin->m_pksDataFormatWfx->DataFormat;
    EXPECT_EQ(format.FormatSize, sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX));
    EXPECT_TRUE(SameGuid(format.MajorFormat, KSDATAFORMAT_TYPE_AUDIO));
    EXPECT_TRUE(SameGuid(format.SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
    EXPECT_TRUE(SameGuid(format.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX));
}

TEST_F(AudPinTest, SetFormatResizesTheBlockToTheFormat) {
    HRESULT hr = E_FAIL;
    auto pin = Construct(kstest::RenderPin(), &hr);
    ASSERT_EQ(hr, S_OK);
    KSPIN_CONNECT connect_before;
    std::memcpy(&connect_before, pin->m_pksPinCreate, sizeof(connect_before));
    const ULONG plain_block = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX);
    const ULONG extensible_block = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE);
    // The 32-bit layout: 146 and 168 bytes, FormatSize 82 and 104.
    static_assert(sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) == 82, "plain FormatSize");
    static_assert(sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEXTENSIBLE) == 104, "extensible FormatSize");

    struct Step {
        const char* name;
        WAVEFORMATEXTENSIBLE format;
        ULONG block;
        ULONG format_size;
        ULONG sample_size;
        ULONG copied;
    };
    WAVEFORMATEXTENSIBLE plain16{};
    plain16.Format = kstest::PlainFormat(2, 16, 48000);
    plain16.Format.cbSize = 22;  // ignored for WAVE_FORMAT_PCM
    WAVEFORMATEXTENSIBLE plain24{};
    plain24.Format = kstest::PlainFormat(2, 24, 48000);
    const Step steps[] = {
        {"16-bit stereo on a fresh pin", plain16, plain_block, 82, 4, sizeof(WAVEFORMATEX)},
        {"24-bit stereo", plain24, plain_block, 82, 6, sizeof(WAVEFORMATEX)},
        {"extensible", kstest::ExtensibleFormat(2, 32, 96000), extensible_block, 104, 8, sizeof(WAVEFORMATEXTENSIBLE)},
        {"plain again", plain16, plain_block, 82, 4, sizeof(WAVEFORMATEX)},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        ASSERT_EQ(pin->SetFormat(&s.format.Format), S_OK);
        EXPECT_EQ(pin->m_cbPinCreateSize, s.block);
        const KSDATAFORMAT& format = pin->m_pksDataFormatWfx->DataFormat;
        EXPECT_EQ(format.FormatSize, s.format_size);
        EXPECT_EQ(format.SampleSize, s.sample_size);
        EXPECT_TRUE(SameGuid(format.SubFormat, KSDATAFORMAT_SUBTYPE_PCM));
        EXPECT_EQ(std::memcmp(pin->m_pksPinCreate, &connect_before, sizeof(connect_before)), 0);
        EXPECT_EQ(std::memcmp(&pin->m_pksDataFormatWfx->WaveFormatEx, &s.format, s.copied), 0);
    }
}

TEST_F(AudPinTest, SetFormatFailuresLeaveTheBlockAsItWas) {
    HRESULT hr = E_FAIL;
    auto pin = Construct(kstest::RenderPin(), &hr);
    ASSERT_EQ(hr, S_OK);
    TraceEverything();
    EXPECT_EQ(pin->SetFormat(nullptr), E_FAIL);
    EXPECT_TRUE(Traced("pwfx or m_pksDataFormatWfx are NULL"));

    PKSPIN_CONNECT block = pin->m_pksPinCreate;
    const WAVEFORMATEXTENSIBLE extensible = kstest::ExtensibleFormat(2, 16, 48000);
    test::FailNothrowAllocationsAfter(0);
    EXPECT_EQ(pin->SetFormat(&extensible.Format), E_OUTOFMEMORY);
    test::DisarmAllocationFailure();
    EXPECT_TRUE(Traced("Unable to allocate KSPIN_CONNECT structure"));
    EXPECT_EQ(pin->m_pksPinCreate, block);
    EXPECT_EQ(pin->m_cbPinCreateSize, sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX));
    EXPECT_EQ(reinterpret_cast<BYTE*>(pin->m_pksDataFormatWfx), reinterpret_cast<BYTE*>(block) + sizeof(KSPIN_CONNECT));
}

TEST_F(AudPinTest, OutOfMemoryWhileKeepingRangesFailsThePin) {
    // The pin's own allocations: three property answers, the connect block,
    // then per range its copy and its list item.
    struct Case {
        int successes;
        HRESULT expected;
        const char* trace;
    };
    const Case cases[] = {
        {3, E_OUTOFMEMORY, "Failed to allocate m_pksPinCreate"},
        {4, E_OUTOFMEMORY, "Unable to allocate memory to save datarange in"},
        {5, E_OUTOFMEMORY, "Unable to allocate list entry to save datarange in"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.trace);
        sim::Reset();
        UseDevices({kstest::DeviceWithPins(kstest::kPathA, {kstest::RenderPin()})});
        HRESULT hr = E_FAIL;
        CKsFilter filter(kstest::kPathA, &hr, "Device");
        ASSERT_EQ(filter.Instantiate(), S_OK);
        TraceEverything();
        test::FailNothrowAllocationsAfter(c.successes);
        std::unique_ptr<CKsAudPin> pin(new CKsAudPin(&filter, 0, &hr));
        test::DisarmAllocationFailure();
        EXPECT_EQ(hr, c.expected);
        EXPECT_TRUE(Traced(c.trace));
    }
}

TEST_F(AudPinTest, RenderAndCapturePinsOnlyDifferInTheirKind) {
    UseDevices({kstest::DeviceWithPins(kstest::kPathA, {kstest::RenderPin()})});
    HRESULT hr = E_FAIL;
    CKsFilter filter(kstest::kPathA, &hr, "Device");
    ASSERT_EQ(filter.Instantiate(), S_OK);
    CKsAudRenPin render(&filter, 0, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(render.m_nPinType, 1);
    CKsAudCapPin capture(&filter, 0, &hr);
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(capture.m_nPinType, 2);
    CKsAudPin plain(&filter, 0, &hr);
    EXPECT_EQ(plain.m_nPinType, 0);
}

TEST(WaveFormatSizeTest, PcmIsAlwaysEighteenBytes) {
    WAVEFORMATEX format = kstest::PlainFormat(2, 16, 48000);
    format.cbSize = 22;
    EXPECT_EQ(GetWaveFormatSize(&format), 18u);
    format.wFormatTag = 3;
    format.cbSize = 2;
    EXPECT_EQ(GetWaveFormatSize(&format), 20u);
    format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    format.cbSize = 22;
    EXPECT_EQ(GetWaveFormatSize(&format), 40u);
}

}  // namespace
