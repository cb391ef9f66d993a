// The simulated machine: its KS audio devices as SetupAPI, the registry and
// the KS drivers present them, and what the drivers received. For tests,
// benchmarks and our own hosts only; the plug-in never includes this.
//
// A process starts with the machine named by the environment variable
// QUARROW_SIM_MACHINE (a JSON description, see the README), or with
// DefaultMachine() when the variable is unset. SetMachine replaces it;
// Reset() goes back to that first machine.
#pragma once

#include <sim/control.h>
#include <sim/win32.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// One KSIDENTIFIER of a pin's interfaces or mediums answer.
struct Identifier {
    GUID set{};
    ULONG id = 0;
    ULONG flags = 0;
};

// One entry of a pin's KSPROPERTY_PIN_DATARANGES answer, written as a
// KSDATARANGE_AUDIO.
struct DataRange {
    GUID major = KSDATAFORMAT_TYPE_AUDIO;
    GUID sub = KSDATAFORMAT_SUBTYPE_PCM;
    GUID specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    ULONG max_channels = 2;
    ULONG min_bits = 16;
    ULONG max_bits = 16;
    ULONG min_rate = 44100;
    ULONG max_rate = 48000;
    // FormatSize as the driver writes it. The entry takes that many bytes of
    // the answer (the KSDATARANGE_AUDIO cut short, or followed by zeros), but
    // never fewer than a whole KSDATARANGE, so a FormatSize of 0 or below a
    // KSDATARANGE is still read from a complete one: a malformed answer.
    ULONG format_size = sizeof(KSDATARANGE_AUDIO);
    // Nonzero: the entry takes exactly this many bytes, whatever FormatSize
    // says (a last range whose FormatSize runs past the end of the answer).
    ULONG bytes_written = 0;
};

// A property request's fate, by property set and id. On a pin, the rule
// covers that pin's KSPROPSETID_Pin requests and its connection state; on a
// device, the filter's own requests (KSPROPERTY_PIN_CTYPES and topology).
struct PropertyRule {
    GUID set{};
    ULONG id = 0;
    DWORD fail_error = 0;  // nonzero: the request fails with this Win32 error
    // Answer exactly these bytes instead of the driver's own (size queries
    // report their length).
    std::optional<std::vector<uint8_t>> bytes;
    // For KSMULTIPLE_ITEM answers: the header claims this Count or Size,
    // whatever the items behind it are.
    std::optional<ULONG> claim_count;
    std::optional<ULONG> claim_size;
    // With fail_error: size queries are still answered and only the read
    // that follows fails.
    bool fail_reads_only = false;
    // A size query reports this size, whatever the answer really takes.
    std::optional<ULONG> size_answer;
};

// How a created render pin consumes the packets written to it while it runs.
enum class Clock {
    Immediate,  // every packet is completed as soon as the pin runs
    RealTime,   // at the format's byte rate, times clock_scale
    Virtual,    // only when a test calls AdvanceVirtualClock
};

struct Pin {
    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_SINK;
    KSPIN_DATAFLOW dataflow = KSPIN_DATAFLOW_IN;
    std::vector<Identifier> interfaces = {{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0}};
    std::vector<Identifier> mediums = {{KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0}};
    std::vector<DataRange> ranges = {DataRange{}};
    ULONG possible_instances = 1;         // KSPROPERTY_PIN_CINSTANCES; KsCreatePin honours it
    ULONG global_possible_instances = 1;  // KSPROPERTY_PIN_GLOBALCINSTANCES
    GUID category = KSNODETYPE_SPEAKER;
    std::u16string name = u"Speakers";    // KSPROPERTY_PIN_NAME, written as UTF-16 with its NUL

    // What KsCreatePin really accepts, which may differ from the ranges: the
    // format tag must be allowed, the block consistent, and the format must
    // fall inside one of `accepts` (the ranges when empty).
    std::vector<DataRange> accepts;
    bool accepts_extensible = true;
    bool accepts_plain = true;

    Clock clock = Clock::Immediate;
    double clock_scale = 1.0;  // RealTime: 2.0 plays twice as fast

    std::vector<PropertyRule> rules;
    int fail_writes_after = -1;  // >= 0: writes after this many fail (the device is unplugged)
    DWORD write_error = ERROR_DEVICE_NOT_CONNECTED;
    bool never_complete_writes = false;  // writes stay pending until the pin stops
};

// A registry value as stored: any type, any bytes (not necessarily terminated).
struct RegistryValue {
    DWORD type = REG_SZ;
    std::vector<uint8_t> data;
    // A REG_SZ holding `text` and its terminator.
    SIM_CONTROL static RegistryValue Text(const std::string& text);
};

// A device interface of the device in one category. The first one is the
// device's interface in its first category; the others are its aliases.
struct Interface {
    GUID category{};
    DWORD flags = SPINT_ACTIVE;
    std::string path;  // empty: the device's path
};

struct Device {
    std::string path;  // device interface path: what CreateFileA opens
    std::vector<Interface> interfaces = {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}},
                                         {KSCATEGORY_RENDER, SPINT_ACTIVE, {}}};
    bool present = true;  // DIGCF_PRESENT lists present devices only
    std::optional<RegistryValue> friendly_name;  // the "FriendlyName" value, or none
    bool key_opens = true;  // SetupDiOpenDeviceInterfaceRegKey succeeds
    DWORD open_error = 0;   // nonzero: CreateFileA fails with this error
    bool pending_properties = false;  // property requests go pending, then complete
    // With pending_properties: each request is already complete when
    // DeviceIoControl reports it pending (a driver that finishes at once).
    bool pending_completes_at_once = false;
    std::vector<Pin> pins;
    std::vector<GUID> nodes;  // KSPROPERTY_TOPOLOGY_NODES
    std::vector<PropertyRule> rules;
};

struct Machine {
    std::vector<Device> devices;  // in SetupAPI order
    bool ksuser_present = true;   // LoadLibraryA("ksuser.dll") succeeds
    bool ksuser_exports_create_pin = true;
};

// One render device "Simulated Speakers" with one render sink pin taking PCM
// of 8 to 32 bits, 1 to 8 channels, 8 kHz to 384 kHz, immediate clock.
SIM_CONTROL Machine DefaultMachine();
// A render device like the default one, at `path` with the friendly name `name`.
SIM_CONTROL Device RenderDevice(const std::string& path, const std::string& name);

SIM_CONTROL void SetMachine(const Machine& machine);
SIM_CONTROL Machine CurrentMachine();
// Parses a machine description; false with a message naming what is wrong.
SIM_CONTROL bool ParseMachine(const std::string& json, Machine* machine, std::string* error);
SIM_CONTROL bool LoadMachineFile(const std::string& path, Machine* machine, std::string* error);

// Every property request a driver received, in order.
struct PropertyRequest {
    std::string device_path;
    bool on_pin_instance = false;  // sent to a created pin rather than the filter
    GUID set{};
    ULONG id = 0;
    ULONG flags = 0;
    ULONG pin_id = 0;  // KSP_PIN requests only
    DWORD in_size = 0;
    DWORD out_size = 0;
};
SIM_CONTROL std::vector<PropertyRequest> PropertyRequests();

// Every pin created with KsCreatePin, in creation order.
struct PinInstanceRecord {
    std::string device_path;
    ULONG pin_id = 0;
    std::vector<uint8_t> connect;     // the connect block as given: KSPIN_CONNECT and data format
    std::vector<KSSTATE> states;      // every state set successfully, in order
    std::vector<uint8_t> consumed;    // every byte the pin played, in order
    size_t writes = 0;                // IOCTL_KS_WRITE_STREAM requests taken
    size_t completed = 0;             // writes completed after playing
    size_t returned = 0;              // writes handed back unplayed by a stop
    size_t pending = 0;               // writes still held
    bool open = true;
};
SIM_CONTROL std::vector<PinInstanceRecord> PinInstances();

// Virtual clocks: every running Virtual pin plays `milliseconds` worth of its
// format's bytes from the packets it holds, completing each finished packet.
SIM_CONTROL void AdvanceVirtualClock(DWORD milliseconds);

// Names passed to LoadLibraryA that loaded, in order.
SIM_CONTROL std::vector<std::string> LoadedModules();

// What the simulated assertion report does after printing: end the process
// (the default) or go on, as a user pressing Ignore would.
enum class AssertionAnswer { Abort, Ignore };
SIM_CONTROL void SetAssertionAnswer(AssertionAnswer answer);
struct AssertionRecord {
    std::string expression;
    std::string file;
    unsigned line = 0;
};
SIM_CONTROL std::vector<AssertionRecord> Assertions();

}  // namespace sim
