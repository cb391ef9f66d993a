// The simulated machine: the GUIDs the KS calls use, the default machine, and
// the current machine, loaded on the process's first use of it.
#include "machine_state.h"

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern "C" {
const GUID KSCATEGORY_AUDIO = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID KSCATEGORY_RENDER = {0x65E8773E, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID KSCATEGORY_CAPTURE = {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID KSPROPSETID_Pin = {0x8C134960, 0x51AD, 0x11CF, {0x87, 0x8A, 0x94, 0xF8, 0x01, 0xC1, 0x00, 0x00}};
const GUID KSPROPSETID_Connection = {0x1D58C920, 0xAC9B, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
const GUID KSPROPSETID_Topology = {0x720D4AC0, 0x7533, 0x11D0, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
const GUID KSINTERFACESETID_Standard = {0x1A8766A0, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
const GUID KSMEDIUMSETID_Standard = {0x4747B320, 0x62CE, 0x11CF, {0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00}};
const GUID KSDATAFORMAT_TYPE_AUDIO = {0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_WAVEFORMATEX = {0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_PCM = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SUBTYPE_IEEE_FLOAT = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID KSDATAFORMAT_SPECIFIER_WAVEFORMATEX = {0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};
const GUID KSDATAFORMAT_SPECIFIER_DSOUND = {0x518590A2, 0xA184, 0x11D0, {0x85, 0x22, 0x00, 0xC0, 0x4F, 0xD9, 0xBA, 0xF3}};
const GUID KSNODETYPE_SPEAKER = {0xDFF21CE1, 0xF70F, 0x11D0, {0xB9, 0x17, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
}

namespace sim {
namespace detail {
namespace {

// Never destroyed, so a late caller during process exit stays safe.
struct MachineStore {
    std::mutex mutex;
    bool loaded = false;
    Machine first;  // what Reset goes back to
    std::shared_ptr<const MachineSnapshot> current;
};
MachineStore& Store() {
    static MachineStore* store = new MachineStore;
    return *store;
}

std::atomic<DWORD> g_next_dev_inst{1};

std::shared_ptr<const MachineSnapshot> MakeSnapshot(const Machine& machine) {
    auto snapshot = std::make_shared<MachineSnapshot>();
    snapshot->config = machine;
    for (const Device& device : machine.devices) {
        snapshot->devices.push_back(std::make_shared<DeviceState>(device, g_next_dev_inst.fetch_add(1)));
    }
    return snapshot;
}

// The machine a process starts with: QUARROW_SIM_MACHINE's file, the default
// machine when it is unset, no devices when the file cannot be used.
Machine FirstMachine() {
    const char* file = std::getenv("QUARROW_SIM_MACHINE");
    if (file == nullptr) return DefaultMachine();
    Machine machine;
    std::string error;
    if (!LoadMachineFile(file, &machine, &error)) {
        std::fprintf(stderr, "sim: QUARROW_SIM_MACHINE: %s; the machine has no devices\n", error.c_str());
        return Machine{};
    }
    return machine;
}

// Caller holds the store's mutex.
void EnsureLoadedLocked(MachineStore& store) {
    if (store.loaded) return;
    store.first = FirstMachine();
    store.current = MakeSnapshot(store.first);
    store.loaded = true;
}

}  // namespace

std::shared_ptr<const MachineSnapshot> CurrentSnapshot() {
    MachineStore& store = Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    EnsureLoadedLocked(store);
    return store.current;
}

void ResetMachine() {
    {
        MachineStore& store = Store();
        std::lock_guard<std::mutex> lock(store.mutex);
        EnsureLoadedLocked(store);
        store.current = MakeSnapshot(store.first);
    }
    ResetKsRecords();
    ResetModuleRecords();
}

bool EqualsNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

}  // namespace detail

RegistryValue RegistryValue::Text(const std::string& text) {
    RegistryValue value;
    value.type = REG_SZ;
    value.data.assign(text.begin(), text.end());
    value.data.push_back(0);
    return value;
}

SIM_CONTROL Device RenderDevice(const std::string& path, const std::string& name) {
    Device device;
    device.path = path;
    device.friendly_name = RegistryValue::Text(name);

    Pin sink;  // the render sink the plug-in streams to
    DataRange pcm;
    pcm.max_channels = 8;
    pcm.min_bits = 8;
    pcm.max_bits = 32;
    pcm.min_rate = 8000;
    pcm.max_rate = 384000;
    sink.ranges = {pcm};
    sink.clock = Clock::Immediate;

    Pin bridge;  // the analog side of a wave filter: no instances, no ranges
    bridge.communication = KSPIN_COMMUNICATION_BRIDGE;
    bridge.dataflow = KSPIN_DATAFLOW_OUT;
    bridge.ranges = {};
    bridge.possible_instances = 0;
    bridge.global_possible_instances = 0;

    device.pins = {sink, bridge};
    return device;
}

SIM_CONTROL Machine DefaultMachine() {
    Machine machine;
    machine.devices.push_back(RenderDevice(
        "\\\\?\\root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\simspeakers", "Simulated Speakers"));
    return machine;
}

SIM_CONTROL void SetMachine(const Machine& machine) {
    std::shared_ptr<const detail::MachineSnapshot> snapshot = detail::MakeSnapshot(machine);
    std::shared_ptr<const detail::MachineSnapshot> previous;  // released after the lock
    detail::MachineStore& store = detail::Store();
    std::lock_guard<std::mutex> lock(store.mutex);
    detail::EnsureLoadedLocked(store);
    previous = std::move(store.current);
    store.current = std::move(snapshot);
}

SIM_CONTROL Machine CurrentMachine() { return detail::CurrentSnapshot()->config; }

SIM_CONTROL bool LoadMachineFile(const std::string& path, Machine* machine, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (error) *error = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
        if (error) *error = path + ": cannot be read";
        return false;
    }
    std::string message;
    if (!ParseMachine(text.str(), machine, &message)) {
        if (error) *error = path + ": " + message;
        return false;
    }
    return true;
}

}  // namespace sim
