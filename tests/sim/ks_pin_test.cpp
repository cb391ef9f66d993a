// Simulated ksuser.dll and KS pins: KsCreatePin's checks, instance limits,
// connection state, and render pins holding, playing and returning packets.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ks_helpers.h"

namespace {

using simtest::As;
using simtest::Bytes;
using simtest::ConnectBlock;
using simtest::Connect;
using simtest::kStatusCancelled;
using simtest::kStatusPending;
using simtest::Packet;
using simtest::operator==;

constexpr DWORD kJunkError = 0xDEADBEEF;
const char* const kPath = "\\\\?\\sim#render#0#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\wave";

class KsPinTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        m_handles_before = sim::OpenHandleCount();
        m_create = simtest::FindKsCreatePin(&m_ksuser);
        ASSERT_NE(nullptr, m_create);
    }
    void TearDown() override {
        if (m_ksuser != nullptr) {
            EXPECT_TRUE(FreeLibrary(m_ksuser));
        }
        for (HANDLE h : m_handles) CloseHandle(h);
        m_packets.clear();
        EXPECT_EQ(m_handles_before, sim::OpenHandleCount());
        sim::Reset();
    }

    // The default render device, changed by `edit`, opened.
    HANDLE OpenFilter(const std::function<void(sim::Pin&)>& edit = nullptr) {
        sim::Device device = sim::RenderDevice(kPath, "Speakers");
        if (edit) edit(device.pins[0]);
        sim::Machine machine;
        machine.devices = {device};
        sim::SetMachine(machine);
        HANDLE filter = CreateFileA(kPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        EXPECT_NE(INVALID_HANDLE_VALUE, filter);
        m_handles.push_back(filter);
        return filter;
    }
    DWORD Create(HANDLE filter, ConnectBlock block, HANDLE* pin) {
        *pin = nullptr;
        const DWORD error = m_create(filter, &block.connect, GENERIC_WRITE, pin);
        if (error == ERROR_SUCCESS) m_handles.push_back(*pin);
        return error;
    }
    // A running (or `state`) pin of 48 kHz stereo 16-bit: 192 bytes a millisecond.
    HANDLE MakePin(const std::function<void(sim::Pin&)>& edit, KSSTATE state = KSSTATE_RUN) {
        HANDLE filter = OpenFilter(edit);
        HANDLE pin = nullptr;
        EXPECT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, Connect(0, 2, 16, 48000), &pin));
        if (state != KSSTATE_STOP) {
            EXPECT_TRUE(SetState(pin, state));
        }
        return pin;
    }
    static bool SetState(HANDLE pin, KSSTATE state) {
        KSPROPERTY property{};
        property.Set = KSPROPSETID_Connection;
        property.Id = KSPROPERTY_CONNECTION_STATE;
        property.Flags = KSPROPERTY_TYPE_SET;
        DWORD returned = 0;
        return DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof(property), &state, sizeof(state), &returned,
                               nullptr) != FALSE;
    }
    static simtest::Reply GetState(HANDLE pin, DWORD out_size = sizeof(KSSTATE)) {
        KSPROPERTY property{};
        property.Set = KSPROPSETID_Connection;
        property.Id = KSPROPERTY_CONNECTION_STATE;
        property.Flags = KSPROPERTY_TYPE_GET;
        return simtest::Ask(pin, &property, sizeof(property), out_size);
    }
    Packet& Write(HANDLE pin, std::vector<uint8_t> data) {
        m_packets.push_back(std::make_unique<Packet>(std::move(data)));
        EXPECT_TRUE(m_packets.back()->Write(pin)) << m_packets.back()->error();
        return *m_packets.back();
    }
    static sim::PinInstanceRecord Record(size_t index = 0) {
        const std::vector<sim::PinInstanceRecord> records = sim::PinInstances();
        EXPECT_LT(index, records.size());
        return index < records.size() ? records[index] : sim::PinInstanceRecord{};
    }

    HMODULE m_ksuser = nullptr;
    simtest::KsCreatePinFunction m_create = nullptr;
    size_t m_handles_before = 0;
    std::vector<HANDLE> m_handles;
    std::deque<std::unique_ptr<Packet>> m_packets;
};

TEST_F(KsPinTest, KsUserIsLoadedByNameAndCanBeMissing) {
    // SetUp loaded it once.
    EXPECT_EQ(std::vector<std::string>{"ksuser.dll"}, sim::LoadedModules());
    HMODULE upper = LoadLibraryA("C:\\Windows\\System32\\KSUSER.DLL");
    EXPECT_NE(nullptr, upper);
    EXPECT_EQ(upper, LoadLibraryA("KsUser"));
    EXPECT_EQ((std::vector<std::string>{"ksuser.dll", "C:\\Windows\\System32\\KSUSER.DLL", "KsUser"}),
              sim::LoadedModules());
    SetLastError(kJunkError);
    EXPECT_EQ(nullptr, GetProcAddress(upper, "KsCreateAllocator"));
    EXPECT_EQ(DWORD{ERROR_PROC_NOT_FOUND}, GetLastError());
    SetLastError(kJunkError);
    EXPECT_EQ(nullptr, LoadLibraryA("ksproxy.ax"));
    EXPECT_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError());

    sim::Machine machine = sim::DefaultMachine();
    machine.ksuser_exports_create_pin = false;
    sim::SetMachine(machine);
    SetLastError(kJunkError);
    EXPECT_EQ(nullptr, GetProcAddress(upper, "KsCreatePin"));
    EXPECT_EQ(DWORD{ERROR_PROC_NOT_FOUND}, GetLastError());

    machine.ksuser_present = false;
    sim::SetMachine(machine);
    SetLastError(kJunkError);
    EXPECT_EQ(nullptr, LoadLibraryA("ksuser.dll"));
    EXPECT_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError());
    EXPECT_EQ(3u, sim::LoadedModules().size());  // failed loads are not recorded

    // Two loads here and the fixture's: the third free unloads it.
    EXPECT_EQ(m_ksuser, upper);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(FreeLibrary(upper));
    m_ksuser = nullptr;
    SetLastError(kJunkError);
    EXPECT_FALSE(FreeLibrary(upper));
    EXPECT_EQ(DWORD{ERROR_MOD_NOT_FOUND}, GetLastError());
    EXPECT_EQ(nullptr, GetProcAddress(upper, "KsCreatePin"));
    sim::Reset();
    EXPECT_TRUE(sim::LoadedModules().empty());
}

TEST_F(KsPinTest, KsCreatePinChecksTheConnectBlockAndTheFormat) {
    // The pin advertises 8 to 32 bits but takes 16 and 24 bits only, up to
    // 96 kHz, and PCM or float.
    auto edit = [](sim::Pin& pin) {
        sim::DataRange pcm = pin.ranges[0];
        pcm.min_bits = 16;
        pcm.max_bits = 24;
        pcm.max_rate = 96000;
        sim::DataRange flt = pcm;
        flt.sub = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
        flt.min_bits = flt.max_bits = 32;
        pin.accepts = {pcm, flt};
    };
    using Edit = std::function<void(ConnectBlock&)>;
    const Edit keep = [](ConnectBlock&) {};
    const struct Case {
        const char* name;
        ConnectBlock block;
        Edit edit;
        DWORD error;
    } cases[] = {
        {"16-bit PCM", Connect(0, 2, 16, 44100), keep, ERROR_SUCCESS},
        {"24-bit extensible", Connect(0, 2, 24, 96000, true), keep, ERROR_SUCCESS},
        {"24 in 32 is 32 bits", Connect(0, 2, 32, 48000, true, 24), keep, ERROR_NO_MATCH},
        {"8 bits: advertised, not taken", Connect(0, 2, 8, 44100), keep, ERROR_NO_MATCH},
        {"rate too high", Connect(0, 2, 16, 192000), keep, ERROR_NO_MATCH},
        {"eight channels", Connect(0, 8, 16, 48000), keep, ERROR_SUCCESS},
        {"nine channels", Connect(0, 9, 16, 48000), keep, ERROR_NO_MATCH},
        {"float", Connect(0, 2, 32, 48000), [](ConnectBlock& b) {
             b.wave.Format.wFormatTag = 3;
             b.format.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
         }, ERROR_SUCCESS},
        {"float tag under a PCM data format", Connect(0, 2, 32, 48000),
         [](ConnectBlock& b) { b.wave.Format.wFormatTag = 3; }, ERROR_NO_MATCH},
        {"extensible float", Connect(0, 2, 32, 48000, true), [](ConnectBlock& b) {
             b.wave.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
             b.format.SubFormat = KSDATAFORMAT_SUBTYPE_IEEE_FLOAT;
         }, ERROR_SUCCESS},
        {"pin out of range", Connect(2, 2, 16, 44100), keep, ERROR_NOT_FOUND},
        {"looped streaming interface", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.connect.Interface.Id = KSINTERFACE_STANDARD_LOOPED_STREAMING; }, ERROR_NO_MATCH},
        {"foreign medium set", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.connect.Medium.Set = KSINTERFACESETID_Standard; }, ERROR_NO_MATCH},
        {"not audio", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.format.MajorFormat = KSDATAFORMAT_SUBTYPE_PCM; }, ERROR_NO_MATCH},
        {"DirectSound specifier", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.format.Specifier = KSDATAFORMAT_SPECIFIER_DSOUND; }, ERROR_NO_MATCH},
        {"FormatSize without the wave format", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.format.FormatSize = sizeof(KSDATAFORMAT) + 17; }, ERROR_NO_MATCH},
        {"block align wrong", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.wave.Format.nBlockAlign = 2; }, ERROR_NO_MATCH},
        {"byte rate wrong", Connect(0, 2, 16, 44100),
         [](ConnectBlock& b) { b.wave.Format.nAvgBytesPerSec = 44100 * 2; }, ERROR_NO_MATCH},
        {"no channels", Connect(0, 0, 16, 44100), keep, ERROR_NO_MATCH},
        {"extensible with a short cbSize", Connect(0, 2, 16, 44100, true),
         [](ConnectBlock& b) { b.wave.Format.cbSize = 21; }, ERROR_NO_MATCH},
        {"extensible with a plain FormatSize", Connect(0, 2, 16, 44100, true),
         [](ConnectBlock& b) { b.format.FormatSize = sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX) + 22 - 1; },
         ERROR_NO_MATCH},
        {"more valid bits than the container", Connect(0, 2, 16, 44100, true, 20), keep, ERROR_NO_MATCH},
        {"no valid bits", Connect(0, 2, 16, 44100, true),
         [](ConnectBlock& b) { b.wave.Samples.wValidBitsPerSample = 0; }, ERROR_NO_MATCH},
    };
    HANDLE filter = OpenFilter(edit);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConnectBlock block = c.block;
        c.edit(block);
        HANDLE pin = nullptr;
        EXPECT_EQ(c.error, Create(filter, block, &pin));
        if (pin != nullptr) {
            EXPECT_TRUE(CloseHandle(pin));
            m_handles.pop_back();
        }
    }

    // Not a filter at all.
    HANDLE pin = nullptr;
    ConnectBlock good = Connect(0, 2, 16, 44100);
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, m_create(INVALID_HANDLE_VALUE, &good.connect, GENERIC_WRITE, &pin));
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, m_create(event, &good.connect, GENERIC_WRITE, &pin));
    CloseHandle(event);
}

TEST_F(KsPinTest, PlainAndExtensibleFormatsCanEachBeRefused) {
    const struct Case {
        bool plain;
        bool extensible;
    } cases[] = {{true, true}, {true, false}, {false, true}, {false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "plain " << c.plain << ", extensible " << c.extensible);
        HANDLE filter = OpenFilter([&](sim::Pin& pin) {
            pin.accepts_plain = c.plain;
            pin.accepts_extensible = c.extensible;
        });
        for (bool extensible : {false, true}) {
            HANDLE pin = nullptr;
            const DWORD error = Create(filter, Connect(0, 2, 16, 44100, extensible), &pin);
            EXPECT_EQ((extensible ? c.extensible : c.plain) ? DWORD{ERROR_SUCCESS} : DWORD{ERROR_NO_MATCH}, error);
            if (pin != nullptr) {
                CloseHandle(pin);
                m_handles.pop_back();
            }
        }
    }
}

TEST_F(KsPinTest, InstanceLimitsAreHonouredAndCounted) {
    HANDLE filter = OpenFilter([](sim::Pin& pin) { pin.possible_instances = 2; });
    auto current = [&] {
        return As<KSPIN_CINSTANCES>(simtest::Value(filter, KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, 0)).CurrentCount;
    };
    HANDLE first = nullptr;
    HANDLE second = nullptr;
    HANDLE third = nullptr;
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, Connect(0, 2, 16, 44100), &first));
    EXPECT_EQ(1u, current());
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, Connect(0, 2, 16, 44100), &second));
    EXPECT_EQ(DWORD{ERROR_BUSY}, Create(filter, Connect(0, 2, 16, 44100), &third));
    EXPECT_EQ(2u, current());
    EXPECT_TRUE(CloseHandle(first));
    m_handles.erase(std::find(m_handles.begin(), m_handles.end(), first));
    EXPECT_EQ(1u, current());
    EXPECT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, Connect(0, 2, 16, 44100), &third));

    const std::vector<sim::PinInstanceRecord> records = sim::PinInstances();
    ASSERT_EQ(3u, records.size());
    EXPECT_FALSE(records[0].open);
    EXPECT_TRUE(records[1].open);
    EXPECT_TRUE(records[2].open);
}

TEST_F(KsPinTest, ThePinRecordsItsConnectBlockAndStates) {
    HANDLE filter = OpenFilter();
    ConnectBlock block = Connect(0, 2, 24, 96000, true);
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, block, &pin));
    EXPECT_NE(nullptr, pin);

    sim::PinInstanceRecord record = Record();
    EXPECT_EQ(kPath, record.device_path);
    EXPECT_EQ(0u, record.pin_id);
    const auto* start = reinterpret_cast<const uint8_t*>(&block);
    EXPECT_EQ(std::vector<uint8_t>(start, start + sizeof(KSPIN_CONNECT) + block.format.FormatSize), record.connect);
    EXPECT_TRUE(record.states.empty());
    EXPECT_EQ(KSSTATE_STOP, As<int32_t>(GetState(pin).bytes));

    const KSSTATE path[] = {KSSTATE_ACQUIRE, KSSTATE_PAUSE, KSSTATE_RUN, KSSTATE_RUN, KSSTATE_STOP, KSSTATE_RUN};
    for (KSSTATE state : path) {
        EXPECT_TRUE(SetState(pin, state));
        EXPECT_EQ(state, As<int32_t>(GetState(pin).bytes));
    }
    // Not a state: refused and not recorded.
    EXPECT_FALSE(SetState(pin, static_cast<KSSTATE>(4)));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_EQ(std::vector<KSSTATE>(std::begin(path), std::end(path)), Record().states);

    // The size rules hold here too.
    const simtest::Reply query = GetState(pin, 0);
    EXPECT_EQ(DWORD{ERROR_MORE_DATA}, query.error);
    EXPECT_EQ(4u, query.returned);
    EXPECT_EQ(DWORD{ERROR_INSUFFICIENT_BUFFER}, GetState(pin, 2).error);

    const std::vector<sim::PropertyRequest> requests = sim::PropertyRequests();
    ASSERT_FALSE(requests.empty());
    EXPECT_TRUE(requests.back().on_pin_instance);
    EXPECT_TRUE(requests.back().set == KSPROPSETID_Connection);
}

TEST_F(KsPinTest, PinRulesReachItsInstancesAndOtherSetsAreUnknown) {
    HANDLE pin = MakePin(
        [](sim::Pin& p) {
            p.rules = {{KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, ERROR_GEN_FAILURE, {}, {}, {}, false, {}}};
        },
        KSSTATE_STOP);
    EXPECT_FALSE(SetState(pin, KSSTATE_RUN));
    EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, GetLastError());
    EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, GetState(pin).error);
    EXPECT_TRUE(Record().states.empty());

    KSP_PIN request = simtest::PinRequest(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, 0);
    EXPECT_EQ(DWORD{ERROR_SET_NOT_FOUND}, simtest::Ask(pin, &request, sizeof(request), 4).error);
    // The rule names the state only.
    request = simtest::PinRequest(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE + 5, 0);
    EXPECT_EQ(DWORD{ERROR_NOT_FOUND}, simtest::Ask(pin, &request, sizeof(KSPROPERTY), 4).error);
}

TEST_F(KsPinTest, WritesAreHeldUntilRunAndPlayedInOrder) {
    HANDLE pin = MakePin(nullptr, KSSTATE_PAUSE);
    Packet& a = Write(pin, Bytes(100, 1));
    Packet& b = Write(pin, Bytes(60, 2));
    EXPECT_EQ(kStatusPending, a.overlapped().Internal);
    EXPECT_FALSE(a.Done());
    EXPECT_FALSE(b.Done());
    sim::PinInstanceRecord record = Record();
    EXPECT_EQ(2u, record.writes);
    EXPECT_EQ(2u, record.pending);
    EXPECT_TRUE(record.consumed.empty());

    EXPECT_TRUE(SetState(pin, KSSTATE_RUN));
    EXPECT_TRUE(a.Done());  // the immediate clock plays at once
    EXPECT_TRUE(b.Done());
    EXPECT_EQ(0u, a.overlapped().Internal);
    EXPECT_EQ(100u, a.overlapped().InternalHigh);
    EXPECT_EQ(60u, b.overlapped().InternalHigh);
    Packet& c = Write(pin, Bytes(40, 3));
    EXPECT_TRUE(c.Done());
    Packet& empty = Write(pin, {});
    EXPECT_TRUE(empty.Done());

    record = Record();
    std::vector<uint8_t> expected = a.data();
    expected.insert(expected.end(), b.data().begin(), b.data().end());
    expected.insert(expected.end(), c.data().begin(), c.data().end());
    EXPECT_EQ(expected, record.consumed);
    EXPECT_EQ(4u, record.writes);
    EXPECT_EQ(4u, record.completed);
    EXPECT_EQ(0u, record.returned);
    EXPECT_EQ(0u, record.pending);
}

TEST_F(KsPinTest, StoppingOrClosingReturnsHeldPacketsUnplayed) {
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "close" : "stop");
        HANDLE pin = MakePin(nullptr, KSSTATE_ACQUIRE);
        Packet& a = Write(pin, Bytes(100, 1));
        Packet& b = Write(pin, Bytes(100, 2));
        if (close) {
            EXPECT_TRUE(CloseHandle(pin));
            m_handles.pop_back();
        } else {
            EXPECT_TRUE(SetState(pin, KSSTATE_STOP));
        }
        for (Packet* packet : {&a, &b}) {
            EXPECT_TRUE(packet->Done());
            EXPECT_EQ(kStatusCancelled, packet->overlapped().Internal);
            EXPECT_EQ(0u, packet->overlapped().InternalHigh);
        }
        const sim::PinInstanceRecord record = sim::PinInstances().back();
        EXPECT_TRUE(record.consumed.empty());
        EXPECT_EQ(2u, record.returned);
        EXPECT_EQ(0u, record.completed);
        EXPECT_EQ(0u, record.pending);
        EXPECT_EQ(!close, record.open);
        if (!close) {
            // Written while stopped: held, and returned by the next stop.
            Packet& c = Write(pin, Bytes(10, 3));
            EXPECT_FALSE(c.Done());
            EXPECT_TRUE(SetState(pin, KSSTATE_STOP));
            EXPECT_TRUE(c.Done());
            EXPECT_EQ(3u, sim::PinInstances().back().returned);
            EXPECT_TRUE(CloseHandle(pin));
            m_handles.pop_back();
        }
    }
    // A closed pin takes no more requests.
    HANDLE pin = MakePin(nullptr);
    EXPECT_TRUE(CloseHandle(pin));
    m_handles.pop_back();
    Packet late(Bytes(4, 0));
    EXPECT_FALSE(late.Write(pin));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, late.error());
}

TEST_F(KsPinTest, TheVirtualClockPlaysOnlyWhenAdvancedAndOnlyWhileRunning) {
    HANDLE pin = MakePin([](sim::Pin& p) { p.clock = sim::Clock::Virtual; });
    Packet& a = Write(pin, Bytes(1920, 1));  // 10 ms each
    Packet& b = Write(pin, Bytes(1920, 2));
    EXPECT_FALSE(a.Done());

    sim::AdvanceVirtualClock(5);
    EXPECT_FALSE(a.Done());
    EXPECT_EQ(std::vector<uint8_t>(a.data().begin(), a.data().begin() + 960), Record().consumed);
    sim::AdvanceVirtualClock(5);
    EXPECT_TRUE(a.Done());
    EXPECT_FALSE(b.Done());

    EXPECT_TRUE(SetState(pin, KSSTATE_PAUSE));
    sim::AdvanceVirtualClock(100);
    EXPECT_FALSE(b.Done());
    EXPECT_EQ(1920u, Record().consumed.size());
    EXPECT_TRUE(SetState(pin, KSSTATE_RUN));
    sim::AdvanceVirtualClock(100);  // more than it holds: the rest is silence
    EXPECT_TRUE(b.Done());

    // Time that passed with nothing to play is not owed to a later packet.
    Packet& c = Write(pin, Bytes(192, 3));
    EXPECT_FALSE(c.Done());
    sim::AdvanceVirtualClock(1);
    EXPECT_TRUE(c.Done());

    std::vector<uint8_t> expected = a.data();
    expected.insert(expected.end(), b.data().begin(), b.data().end());
    expected.insert(expected.end(), c.data().begin(), c.data().end());
    EXPECT_EQ(expected, Record().consumed);
    EXPECT_EQ(3u, Record().completed);
}

TEST_F(KsPinTest, TheRealTimeClockPlaysOnItsOwn) {
    // 192 bytes a millisecond, a thousand times faster: 20 packets of 10 ms
    // take a fifth of a millisecond of wall time.
    HANDLE pin = MakePin(
        [](sim::Pin& p) {
            p.clock = sim::Clock::RealTime;
            p.clock_scale = 1000.0;
        },
        KSSTATE_PAUSE);
    std::vector<Packet*> packets;
    std::vector<uint8_t> expected;
    for (int i = 0; i < 20; ++i) {
        packets.push_back(&Write(pin, Bytes(1920, static_cast<uint8_t>(i))));
        expected.insert(expected.end(), packets.back()->data().begin(), packets.back()->data().end());
    }
    EXPECT_FALSE(packets[0]->Done());  // paused: held
    EXPECT_TRUE(SetState(pin, KSSTATE_RUN));
    for (Packet* packet : packets) {
        ASSERT_TRUE(packet->WaitDone());
        EXPECT_EQ(1920u, packet->overlapped().InternalHigh);
        EXPECT_EQ(0u, packet->overlapped().Internal);
    }
    EXPECT_EQ(expected, Record().consumed);
    EXPECT_EQ(20u, Record().completed);
}

TEST_F(KsPinTest, WritesFailAfterTheDeviceIsUnplugged) {
    HANDLE pin = MakePin([](sim::Pin& p) {
        p.fail_writes_after = 2;
        p.write_error = ERROR_GEN_FAILURE;
    });
    Packet& a = Write(pin, Bytes(8, 1));
    Packet& b = Write(pin, Bytes(8, 2));
    EXPECT_TRUE(a.Done());
    EXPECT_TRUE(b.Done());
    for (int i = 0; i < 2; ++i) {
        Packet late(Bytes(8, 3));
        EXPECT_FALSE(late.Write(pin));
        EXPECT_EQ(DWORD{ERROR_GEN_FAILURE}, late.error());
        EXPECT_FALSE(late.Done());
    }
    EXPECT_EQ(2u, Record().writes);
    EXPECT_EQ(16u, Record().consumed.size());
}

TEST_F(KsPinTest, WritesThatNeverCompleteWaitForTheStop) {
    HANDLE pin = MakePin([](sim::Pin& p) { p.never_complete_writes = true; });
    Packet& a = Write(pin, Bytes(8, 1));
    EXPECT_FALSE(a.Done());  // the immediate clock would have played it by now
    EXPECT_EQ(1u, Record().pending);
    EXPECT_TRUE(SetState(pin, KSSTATE_STOP));
    EXPECT_TRUE(a.Done());
    EXPECT_EQ(kStatusCancelled, a.overlapped().Internal);
    EXPECT_TRUE(Record().consumed.empty());
}

TEST_F(KsPinTest, MalformedWritesAreRefused) {
    HANDLE pin = MakePin(nullptr);
    const struct Case {
        const char* name;
        std::function<void(Packet&)> edit;
        bool overlapped;
    } cases[] = {
        {"no OVERLAPPED", [](Packet&) {}, false},
        {"header size too small", [](Packet& p) { p.header().Size = sizeof(KSSTREAM_HEADER) - 8; }, true},
        {"header size beyond the buffer", [](Packet& p) { p.header().Size = sizeof(KSSTREAM_HEADER) + 8; }, true},
        {"data used without data", [](Packet& p) { p.header().Data = nullptr; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Packet packet(Bytes(8, 1));
        c.edit(packet);
        DWORD returned = 0;
        SetLastError(kJunkError);
        EXPECT_FALSE(DeviceIoControl(pin, IOCTL_KS_WRITE_STREAM, nullptr, 0, &packet.header(), sizeof(KSSTREAM_HEADER),
                                     &returned, c.overlapped ? &packet.overlapped() : nullptr));
        EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    }
    EXPECT_EQ(0u, Record().writes);
}

TEST_F(KsPinTest, OpenPinsOutliveTheMachineTheyCameFromAndTheRecords) {
    HANDLE pin = MakePin(nullptr, KSSTATE_PAUSE);
    sim::SetMachine(sim::Machine{});
    Packet& a = Write(pin, Bytes(8, 1));
    EXPECT_TRUE(SetState(pin, KSSTATE_RUN));
    EXPECT_TRUE(a.Done());
    EXPECT_EQ(a.data(), Record().consumed);

    // Reset forgets the record; the pin goes on playing.
    sim::Reset();
    EXPECT_TRUE(sim::PinInstances().empty());
    Packet& b = Write(pin, Bytes(8, 2));
    EXPECT_TRUE(b.Done());
}

TEST_F(KsPinTest, PinPropertiesGoPendingOnDevicesThatPend) {
    HANDLE filter = OpenFilter();
    sim::Machine machine = sim::CurrentMachine();
    machine.devices[0].pending_properties = true;
    sim::SetMachine(machine);
    CloseHandle(filter);
    m_handles.pop_back();
    filter = CreateFileA(kPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED,
                         nullptr);
    m_handles.push_back(filter);
    HANDLE pin = nullptr;
    ASSERT_EQ(DWORD{ERROR_SUCCESS}, Create(filter, Connect(0, 2, 16, 48000), &pin));

    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<uintptr_t>(event) | 1);
    KSPROPERTY property{};
    property.Set = KSPROPSETID_Connection;
    property.Id = KSPROPERTY_CONNECTION_STATE;
    property.Flags = KSPROPERTY_TYPE_SET;
    KSSTATE state = KSSTATE_PAUSE;
    DWORD returned = kJunkError;
    EXPECT_FALSE(DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof(property), &state, sizeof(state),
                                 &returned, &overlapped));
    EXPECT_EQ(DWORD{ERROR_IO_PENDING}, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, simtest::kLongWaitMs));
    EXPECT_EQ(0u, overlapped.Internal);
    EXPECT_EQ(std::vector<KSSTATE>{KSSTATE_PAUSE}, Record().states);

    property.Flags = KSPROPERTY_TYPE_GET;
    int32_t got = -1;
    EXPECT_FALSE(DeviceIoControl(pin, IOCTL_KS_PROPERTY, &property, sizeof(property), &got, sizeof(got), &returned,
                                 &overlapped));
    EXPECT_EQ(DWORD{ERROR_IO_PENDING}, GetLastError());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, simtest::kLongWaitMs));
    EXPECT_EQ(KSSTATE_PAUSE, got);
    EXPECT_EQ(4u, overlapped.InternalHigh);
    CloseHandle(event);
}

}  // namespace
