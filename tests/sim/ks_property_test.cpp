// The simulated KS filter: opening it, the pin and topology property answers
// with their size rules, fault rules, data range layouts and pending requests.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <cstring>
#include <string>
#include <vector>

#include "ks_helpers.h"

namespace {

using simtest::AskFilter;
using simtest::AskPin;
using simtest::As;
using simtest::kLongWaitMs;
using simtest::Reply;
using simtest::Value;
using simtest::operator==;

constexpr DWORD kJunkError = 0xDEADBEEF;
const char* const kPath = "\\\\?\\sim#render#0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";
const GUID kSomeSet = {0x12345678, 0x1, 0x2, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kDac = {0x507AE360, 0xC554, 0x11D0, {0x8A, 0x2B, 0x00, 0xA0, 0xC9, 0x25, 0x5A, 0xC1}};

class KsFilterTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        m_handles_before = sim::OpenHandleCount();
    }
    void TearDown() override {
        for (HANDLE h : m_handles) CloseHandle(h);
        EXPECT_EQ(m_handles_before, sim::OpenHandleCount());
        sim::Reset();
    }

    static sim::Device Device() {
        sim::Device device = sim::RenderDevice(kPath, "Speakers");
        device.nodes = {kDac, KSNODETYPE_SPEAKER};
        return device;
    }
    static void Use(const sim::Device& device) {
        sim::Machine machine;
        machine.devices = {device};
        sim::SetMachine(machine);
    }
    HANDLE Open(const char* path = kPath) {
        HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (h != INVALID_HANDLE_VALUE) m_handles.push_back(h);
        return h;
    }

    size_t m_handles_before = 0;
    std::vector<HANDLE> m_handles;
};

TEST_F(KsFilterTest, CreateFileOpensPresentDevicesByAnyOfTheirPaths) {
    sim::Device plain = Device();
    sim::Device aliased = sim::RenderDevice("dev-b", "B");
    aliased.interfaces[1].path = "dev-b-render";
    sim::Device absent = sim::RenderDevice("dev-absent", "C");
    absent.present = false;
    sim::Device refusing = sim::RenderDevice("dev-busy", "D");
    refusing.open_error = ERROR_ACCESS_DENIED;
    sim::Machine machine;
    machine.devices = {plain, aliased, absent, refusing};
    sim::SetMachine(machine);

    const struct Case {
        std::string path;
        DWORD error;  // 0: opens
    } cases[] = {
        {kPath, 0},
        {"\\\\?\\SIM#RENDER#0#{6994AD04-93EF-11D0-A3CC-00A0C9223196}\\WAVE", 0},
        {"dev-b-render", 0},
        {"dev-absent", ERROR_FILE_NOT_FOUND},
        {"dev-busy", ERROR_ACCESS_DENIED},
        {"no-such-device", ERROR_FILE_NOT_FOUND},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        SetLastError(kJunkError);
        HANDLE h = Open(c.path.c_str());
        if (c.error == 0) {
            EXPECT_NE(INVALID_HANDLE_VALUE, h);
            EXPECT_TRUE(AskFilter(h, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4).ok);
        } else {
            EXPECT_EQ(INVALID_HANDLE_VALUE, h);
            EXPECT_EQ(c.error, GetLastError());
        }
    }
    EXPECT_EQ(m_handles_before + 3, sim::OpenHandleCount());
}

TEST_F(KsFilterTest, EveryAnswerObeysTheSizeRulesOfAWdmDriver) {
    Use(Device());
    HANDLE filter = Open();
    const struct Case {
        const char* name;
        bool filter_level;  // a KSPROPERTY, not a KSP_PIN
        GUID set;
        ULONG id;
        DWORD size;
    } cases[] = {
        {"CTYPES", true, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4},
        {"CINSTANCES", false, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, 8},
        {"GLOBALCINSTANCES", false, KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, 8},
        {"DATAFLOW", false, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 4},
        {"COMMUNICATION", false, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, 4},
        {"CATEGORY", false, KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, 16},
        {"NAME", false, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 2 * (8 + 1)},
        {"INTERFACES", false, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 8 + sizeof(KSIDENTIFIER)},
        {"MEDIUMS", false, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, 8 + sizeof(KSIDENTIFIER)},
        {"DATARANGES", false, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 8 + sizeof(KSDATARANGE_AUDIO)},
        {"NODES", true, KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, 8 + 2 * sizeof(GUID)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto ask = [&](DWORD out_size) {
            return c.filter_level ? AskFilter(filter, c.set, c.id, out_size) : AskPin(filter, c.set, c.id, 0, out_size);
        };
        const Reply query = ask(0);
        EXPECT_FALSE(query.ok);
        EXPECT_EQ(DWORD{ERROR_MORE_DATA}, query.error);
        EXPECT_EQ(c.size, query.returned);

        const Reply short_one = ask(c.size - 1);
        EXPECT_FALSE(short_one.ok);
        EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, short_one.error);
        EXPECT_EQ(0u, short_one.returned);
        EXPECT_EQ(std::vector<uint8_t>(c.size - 1, 0xCD), short_one.bytes);

        const Reply exact = ask(c.size);
        EXPECT_TRUE(exact.ok);
        EXPECT_EQ(c.size, exact.returned);

        const Reply roomy = ask(c.size + 16);
        EXPECT_TRUE(roomy.ok);
        EXPECT_EQ(c.size, roomy.returned);
        EXPECT_EQ(exact.bytes, std::vector<uint8_t>(roomy.bytes.begin(), roomy.bytes.begin() + c.size));
        EXPECT_EQ(0xCD, roomy.bytes[c.size]);
    }
}

TEST_F(KsFilterTest, AnswersDescribeThePinsAndNodes) {
    sim::Device device = Device();
    device.pins[0].name = u"Wave \u00e9";
    device.pins[0].possible_instances = 3;
    device.pins[0].global_possible_instances = 5;
    device.pins[0].interfaces.push_back({KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_LOOPED_STREAMING, 7});
    Use(device);
    HANDLE filter = Open();

    EXPECT_EQ(2u, As<ULONG>(AskFilter(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4).bytes));
    const auto instances = As<KSPIN_CINSTANCES>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, 0));
    EXPECT_EQ(3u, instances.PossibleCount);
    EXPECT_EQ(0u, instances.CurrentCount);
    EXPECT_EQ(5u, As<KSPIN_CINSTANCES>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, 0)).PossibleCount);
    EXPECT_EQ(KSPIN_DATAFLOW_IN, As<int32_t>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 0)));
    EXPECT_EQ(KSPIN_DATAFLOW_OUT, As<int32_t>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 1)));
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, As<int32_t>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, 0)));
    EXPECT_EQ(KSPIN_COMMUNICATION_BRIDGE, As<int32_t>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, 1)));
    EXPECT_TRUE(As<GUID>(Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, 0)) == KSNODETYPE_SPEAKER);

    const std::vector<uint8_t> name = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 0);
    const std::u16string expected = u"Wave \u00e9";
    ASSERT_EQ((expected.size() + 1) * 2, name.size());
    EXPECT_EQ(0, std::memcmp(expected.c_str(), name.data(), name.size()));  // with the NUL

    const std::vector<uint8_t> interfaces = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 0);
    EXPECT_EQ(interfaces.size(), As<KSMULTIPLE_ITEM>(interfaces).Size);
    EXPECT_EQ(2u, As<KSMULTIPLE_ITEM>(interfaces).Count);
    const auto second = As<KSIDENTIFIER>(interfaces, 8 + sizeof(KSIDENTIFIER));
    EXPECT_TRUE(second.Set == KSINTERFACESETID_Standard);
    EXPECT_EQ(ULONG{KSINTERFACE_STANDARD_LOOPED_STREAMING}, second.Id);
    EXPECT_EQ(7u, second.Flags);

    const std::vector<uint8_t> ranges = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 0);
    const auto range = As<KSDATARANGE_AUDIO>(ranges, 8);
    EXPECT_EQ(sizeof(KSDATARANGE_AUDIO), range.DataRange.FormatSize);
    EXPECT_TRUE(range.DataRange.MajorFormat == KSDATAFORMAT_TYPE_AUDIO);
    EXPECT_TRUE(range.DataRange.SubFormat == KSDATAFORMAT_SUBTYPE_PCM);
    EXPECT_TRUE(range.DataRange.Specifier == KSDATAFORMAT_SPECIFIER_WAVEFORMATEX);
    EXPECT_EQ(8u, range.MaximumChannels);
    EXPECT_EQ(8u, range.MinimumBitsPerSample);
    EXPECT_EQ(32u, range.MaximumBitsPerSample);
    EXPECT_EQ(8000u, range.MinimumSampleFrequency);
    EXPECT_EQ(384000u, range.MaximumSampleFrequency);
    // The bridge pin advertises no ranges.
    EXPECT_EQ(8u, Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 1).size());

    const Reply nodes = AskFilter(filter, KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, 100);
    ASSERT_TRUE(nodes.ok);
    EXPECT_EQ(2u, As<KSMULTIPLE_ITEM>(nodes.bytes).Count);
    EXPECT_TRUE(As<GUID>(nodes.bytes, 8) == kDac);
    EXPECT_TRUE(As<GUID>(nodes.bytes, 24) == KSNODETYPE_SPEAKER);
}

TEST_F(KsFilterTest, RequestsTheDriverCannotAnswer) {
    Use(Device());
    HANDLE filter = Open();
    KSP_PIN request = simtest::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 0);
    const struct Case {
        const char* name;
        GUID set;
        ULONG id;
        ULONG pin;
        ULONG flags;
        DWORD in_size;
        DWORD error;
    } cases[] = {
        {"pin out of range", KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 2, KSPROPERTY_TYPE_GET, sizeof(KSP_PIN),
         ERROR_NOT_FOUND},
        {"pin property without KSP_PIN", KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 0, KSPROPERTY_TYPE_GET,
         sizeof(KSPROPERTY), ERROR_INVALID_PARAMETER},
        {"shorter than KSPROPERTY", KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0, KSPROPERTY_TYPE_GET,
         sizeof(KSPROPERTY) - 1, ERROR_INVALID_PARAMETER},
        {"unknown pin property", KSPROPSETID_Pin, 99, 0, KSPROPERTY_TYPE_GET, sizeof(KSP_PIN), ERROR_NOT_FOUND},
        {"data intersection", KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, 0, KSPROPERTY_TYPE_GET,
         sizeof(KSP_PIN), ERROR_NOT_FOUND},
        {"unknown set", kSomeSet, 0, 0, KSPROPERTY_TYPE_GET, sizeof(KSP_PIN), ERROR_SET_NOT_FOUND},
        {"connection state on a filter", KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, 0,
         KSPROPERTY_TYPE_GET, sizeof(KSPROPERTY), ERROR_SET_NOT_FOUND},
        {"other topology property", KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, 0, KSPROPERTY_TYPE_GET,
         sizeof(KSPROPERTY), ERROR_NOT_FOUND},
        {"setting a pin property", KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, 0, KSPROPERTY_TYPE_SET,
         sizeof(KSP_PIN), ERROR_INVALID_FUNCTION},
        {"neither get nor set", KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0, 0, sizeof(KSPROPERTY),
         ERROR_INVALID_PARAMETER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        request = simtest::PinRequest(c.set, c.id, c.pin, c.flags);
        for (DWORD out_size : {0u, 64u}) {  // size queries fail the same way
            const Reply reply = simtest::Ask(filter, &request, c.in_size, out_size);
            EXPECT_FALSE(reply.ok);
            EXPECT_EQ(c.error, reply.error);
            EXPECT_EQ(0u, reply.returned);
        }
    }

    // Other control codes, and handles that are not drivers.
    DWORD returned = 0;
    KSSTREAM_HEADER header{};
    SetLastError(kJunkError);
    EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_WRITE_STREAM, nullptr, 0, &header, sizeof(header), &returned,
                                 nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_FUNCTION}, GetLastError());
    // Without an OVERLAPPED the byte count is where the answer is reported.
    SetLastError(kJunkError);
    EXPECT_FALSE(DeviceIoControl(filter, IOCTL_KS_PROPERTY, &request, sizeof(request), nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (HANDLE h : {event, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr)}) {
        SetLastError(kJunkError);
        EXPECT_FALSE(DeviceIoControl(h, IOCTL_KS_PROPERTY, &request, sizeof(request), nullptr, 0, &returned, nullptr));
        EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    }
    CloseHandle(event);
}

TEST_F(KsFilterTest, RulesFailOrFalsifyAnswers) {
    sim::Device device = Device();
    sim::PropertyRule fail{KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, ERROR_GEN_FAILURE, std::nullopt, {}, {}, false, {}};
    sim::PropertyRule lie_count{KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 0, std::nullopt, 9, {}, false, {}};
    sim::PropertyRule lie_size{KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, 0, std::nullopt, {}, 4000, false, {}};
    sim::PropertyRule bytes{KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 0, std::vector<uint8_t>{'h', 0, 'i', 0}, {}, {}, false, {}};
    device.pins[1].rules = {fail, lie_count, lie_size, bytes};
    sim::PropertyRule pin_count{KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0, std::vector<uint8_t>{7, 0, 0, 0}, {}, {}, false, {}};
    sim::PropertyRule nodes{KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, ERROR_NOT_SUPPORTED, {}, {}, {}, false, {}};
    sim::PropertyRule extra{kSomeSet, 3, 0, std::vector<uint8_t>{1, 2, 3}, {}, {}, false, {}};
    device.rules = {pin_count, nodes, extra};
    Use(device);
    HANDLE filter = Open();

    // Pin 1's rules leave pin 0 alone.
    EXPECT_TRUE(AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 0, 200).ok);
    for (DWORD out_size : {0u, 200u}) {
        const Reply failed = AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 1, out_size);
        EXPECT_FALSE(failed.ok);
        EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, failed.error);
    }

    const std::vector<uint8_t> interfaces = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 1);
    ASSERT_EQ(8 + sizeof(KSIDENTIFIER), interfaces.size());  // the items are what they were
    EXPECT_EQ(9u, As<KSMULTIPLE_ITEM>(interfaces).Count);
    EXPECT_EQ(interfaces.size(), As<KSMULTIPLE_ITEM>(interfaces).Size);

    const std::vector<uint8_t> mediums = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, 1);
    ASSERT_EQ(8 + sizeof(KSIDENTIFIER), mediums.size());
    EXPECT_EQ(4000u, As<KSMULTIPLE_ITEM>(mediums).Size);
    EXPECT_EQ(1u, As<KSMULTIPLE_ITEM>(mediums).Count);

    EXPECT_EQ((std::vector<uint8_t>{'h', 0, 'i', 0}), Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 1));

    EXPECT_EQ(7u, As<ULONG>(AskFilter(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4).bytes));
    const Reply no_nodes = AskFilter(filter, KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, 0);
    EXPECT_EQ(DWORD{ERROR_NOT_SUPPORTED}, no_nodes.error);
    // A rule can answer a set the driver does not know.
    const Reply known = AskFilter(filter, kSomeSet, 3, 0);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, known.error);
    EXPECT_EQ(3u, known.returned);
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), AskFilter(filter, kSomeSet, 3, 3).bytes);
    EXPECT_EQ(DWORD{ERROR_SET_NOT_FOUND}, AskFilter(filter, kSomeSet, 4, 3).error);
}

TEST_F(KsFilterTest, RulesCanSpareSizeQueriesOrMisreportThem) {
    sim::Device device = Device();
    sim::PropertyRule read_fails{KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, ERROR_GEN_FAILURE, std::nullopt, {}, {}, false, {}};
    read_fails.fail_reads_only = true;
    sim::PropertyRule huge{KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 0, std::nullopt, {}, {}, false, {}};
    huge.size_answer = 0x40000000u;
    device.pins[0].rules = {read_fails, huge};
    Use(device);
    HANDLE filter = Open();

    const Reply size = AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, 0, 0);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, size.error);
    EXPECT_EQ(8 + sizeof(KSIDENTIFIER), size.returned);
    const Reply read = AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, 0, size.returned);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, read.error);

    const Reply claimed = AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 0, 0);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, claimed.error);
    EXPECT_EQ(0x40000000u, claimed.returned);
    // The answer itself is what it was.
    EXPECT_TRUE(AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, 0, 8 + sizeof(KSIDENTIFIER)).ok);
}

TEST_F(KsFilterTest, DataRangeEntriesTakeTheBytesTheirSizesSay) {
    const ULONG kWhole = sizeof(KSDATARANGE_AUDIO);  // 88
    const ULONG kBase = sizeof(KSDATARANGE);         // 64
    const struct Case {
        const char* name;
        ULONG format_size;
        ULONG bytes_written;
        ULONG entry;  // bytes the entry takes
    } cases[] = {
        {"whole", kWhole, 0, kWhole},
        {"cut to a KSDATARANGE", kBase, 0, kBase},
        {"cut inside the audio fields", 70, 0, 70},
        {"padded with zeros", 120, 0, 120},
        {"claims less than a KSDATARANGE", 40, 0, kBase},
        {"claims nothing", 0, 0, kBase},
        {"runs past the answer", 200, kWhole, kWhole},
        {"written shorter than claimed", kWhole, 50, 50},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::Device device = Device();
        sim::DataRange odd = device.pins[0].ranges[0];
        odd.format_size = c.format_size;
        odd.bytes_written = c.bytes_written;
        sim::DataRange after = odd;
        after.format_size = kWhole;
        after.bytes_written = 0;
        after.max_channels = 2;
        device.pins[0].ranges = {odd, after};
        Use(device);
        HANDLE filter = Open();

        const std::vector<uint8_t> answer = Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 0);
        ASSERT_EQ(8 + c.entry + kWhole, answer.size());
        EXPECT_EQ(answer.size(), As<KSMULTIPLE_ITEM>(answer).Size);
        EXPECT_EQ(2u, As<KSMULTIPLE_ITEM>(answer).Count);
        EXPECT_EQ(c.format_size, As<ULONG>(answer, 8));

        // The entry is the image of the range, cut or padded.
        KSDATARANGE_AUDIO image;
        std::memset(&image, 0, sizeof(image));
        image.DataRange.FormatSize = c.format_size;
        image.DataRange.MajorFormat = odd.major;
        image.DataRange.SubFormat = odd.sub;
        image.DataRange.Specifier = odd.specifier;
        image.MaximumChannels = odd.max_channels;
        image.MinimumBitsPerSample = odd.min_bits;
        image.MaximumBitsPerSample = odd.max_bits;
        image.MinimumSampleFrequency = odd.min_rate;
        image.MaximumSampleFrequency = odd.max_rate;
        std::vector<uint8_t> expected(c.entry, 0);
        std::memcpy(expected.data(), &image, std::min<size_t>(c.entry, sizeof(image)));
        EXPECT_EQ(expected, std::vector<uint8_t>(answer.begin() + 8, answer.begin() + 8 + c.entry));

        // The next entry starts right behind it.
        EXPECT_EQ(2u, As<KSDATARANGE_AUDIO>(answer, 8 + c.entry).MaximumChannels);
        CloseHandle(filter);
        m_handles.clear();
    }
}

TEST_F(KsFilterTest, EveryRequestIsRecorded) {
    Use(Device());
    HANDLE filter = Open();
    AskFilter(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4);
    AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 1, 0);
    AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, 9, 0);

    const std::vector<sim::PropertyRequest> requests = sim::PropertyRequests();
    ASSERT_EQ(3u, requests.size());
    EXPECT_EQ(kPath, requests[0].device_path);
    EXPECT_FALSE(requests[0].on_pin_instance);
    EXPECT_TRUE(requests[0].set == KSPROPSETID_Pin);
    EXPECT_EQ(ULONG{KSPROPERTY_PIN_CTYPES}, requests[0].id);
    EXPECT_EQ(KSPROPERTY_TYPE_GET, requests[0].flags);
    EXPECT_EQ(sizeof(KSPROPERTY), requests[0].in_size);
    EXPECT_EQ(4u, requests[0].out_size);
    EXPECT_EQ(ULONG{KSPROPERTY_PIN_NAME}, requests[1].id);
    EXPECT_EQ(1u, requests[1].pin_id);
    EXPECT_EQ(sizeof(KSP_PIN), requests[1].in_size);
    EXPECT_EQ(0u, requests[1].out_size);
    EXPECT_EQ(9u, requests[2].pin_id);  // failed requests too

    sim::Reset();
    EXPECT_TRUE(sim::PropertyRequests().empty());
}

TEST_F(KsFilterTest, OpenFiltersOutliveTheMachineTheyCameFrom) {
    Use(Device());
    HANDLE filter = Open();
    sim::SetMachine(sim::Machine{});
    EXPECT_EQ(INVALID_HANDLE_VALUE, Open());
    EXPECT_EQ(2u, As<ULONG>(AskFilter(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 4).bytes));
}

// A request with an OVERLAPPED whose event handle carries the low bit.
struct OverlappedRequest {
    explicit OverlappedRequest(bool manual = false) {
        event = CreateEventA(nullptr, manual ? TRUE : FALSE, FALSE, nullptr);
        std::memset(&overlapped, 0, sizeof(overlapped));
        overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) | 1);
    }
    ~OverlappedRequest() { CloseHandle(event); }
    BOOL Send(HANDLE filter, const KSP_PIN& request, DWORD in_size, void* out, DWORD out_size) {
        returned = kJunkError;
        SetLastError(kJunkError);
        const BOOL ok = DeviceIoControl(filter, IOCTL_KS_PROPERTY, const_cast<KSP_PIN*>(&request), in_size, out,
                                        out_size, &returned, &overlapped);
        error = ok ? 0 : GetLastError();
        return ok;
    }
    HANDLE event;
    OVERLAPPED overlapped;
    DWORD returned = 0;
    DWORD error = 0;
};

TEST_F(KsFilterTest, PendingRequestsCompleteLaterThroughTheMaskedEvent) {
    sim::Device device = Device();
    device.pending_properties = true;
    Use(device);
    HANDLE filter = Open();
    const KSP_PIN ranges = simtest::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 0);
    const DWORD size = 8 + sizeof(KSDATARANGE_AUDIO);

    // Size queries and failures are answered at once.
    OverlappedRequest query;
    EXPECT_FALSE(query.Send(filter, ranges, sizeof(ranges), nullptr, 0));
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, query.error);
    EXPECT_EQ(size, query.returned);
    OverlappedRequest failing;
    const KSP_PIN unknown = simtest::PinRequest(kSomeSet, 0, 0);
    EXPECT_FALSE(failing.Send(filter, unknown, sizeof(unknown), nullptr, 0));
    EXPECT_EQ(DWORD{ERROR_SET_NOT_FOUND}, failing.error);

    OverlappedRequest pending;
    std::vector<uint8_t> out(size + 8, 0xCD);
    EXPECT_FALSE(pending.Send(filter, ranges, sizeof(ranges), out.data(), static_cast<DWORD>(out.size())));
    EXPECT_EQ(DWORD{ERROR_IO_PENDING}, pending.error);
    EXPECT_EQ(0u, pending.returned);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pending.event, kLongWaitMs));
    EXPECT_EQ(0u, pending.overlapped.Internal);
    EXPECT_EQ(size, pending.overlapped.InternalHigh);
    EXPECT_EQ(size, As<KSMULTIPLE_ITEM>(out).Size);
    EXPECT_EQ(384000u, As<KSDATARANGE_AUDIO>(out, 8).MaximumSampleFrequency);
    EXPECT_EQ(0xCD, out[size]);

    // Without an OVERLAPPED the same request completes before returning.
    const Reply direct = AskPin(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, 0, size);
    EXPECT_TRUE(direct.ok);
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + size), direct.bytes);
}

TEST_F(KsFilterTest, APendingRequestCanBeCompleteBeforeItIsReported) {
    sim::Device device = Device();
    device.pending_properties = true;
    device.pending_completes_at_once = true;
    Use(device);
    HANDLE filter = Open();
    const KSP_PIN count = simtest::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0);
    OverlappedRequest pending;
    ULONG pins = 0;
    EXPECT_FALSE(pending.Send(filter, count, sizeof(KSPROPERTY), &pins, sizeof(pins)));
    EXPECT_EQ(DWORD{ERROR_IO_PENDING}, pending.error);
    // Already done: the value, the status and the event are there.
    EXPECT_EQ(2u, pins);
    EXPECT_EQ(0u, pending.overlapped.Internal);
    EXPECT_EQ(4u, pending.overlapped.InternalHigh);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(pending.event, 0));
}

TEST_F(KsFilterTest, SynchronousCompletionsStillCompleteTheOverlapped) {
    Use(Device());
    HANDLE filter = Open();
    const KSP_PIN count = simtest::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0);
    OverlappedRequest request(true);
    ULONG pins = 0;
    EXPECT_TRUE(request.Send(filter, count, sizeof(KSPROPERTY), &pins, sizeof(pins)));
    EXPECT_EQ(2u, pins);
    EXPECT_EQ(4u, request.returned);
    EXPECT_EQ(0u, request.overlapped.Internal);
    EXPECT_EQ(4u, request.overlapped.InternalHigh);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(request.event, 0));

    // A new request resets the event as it starts; this one fails at once
    // and leaves it reset.
    const KSP_PIN unknown = simtest::PinRequest(kSomeSet, 0, 0);
    EXPECT_FALSE(request.Send(filter, unknown, sizeof(unknown), &pins, sizeof(pins)));
    EXPECT_EQ(DWORD{ERROR_SET_NOT_FOUND}, request.error);
    EXPECT_EQ(DWORD{WAIT_TIMEOUT}, WaitForSingleObject(request.event, 0));

    // An OVERLAPPED naming something that is not an event.
    request.overlapped.hEvent = filter;
    EXPECT_FALSE(request.Send(filter, count, sizeof(KSPROPERTY), &pins, sizeof(pins)));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, request.error);
}

}  // namespace
