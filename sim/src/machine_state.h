// The simulated machine as the API parts see it: an immutable snapshot of the
// description plus the live state of each device. Handles keep their device's
// state alive, so they go on working when SetMachine replaces the machine.
#pragma once

#include <sim/machine.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "internal.h"

namespace sim::detail {

struct DeviceState {
    DeviceState(Device device, DWORD dev_inst)
        : config(std::move(device)), dev_inst(dev_inst), live(config.pins.size(), 0) {}
    const Device config;
    const DWORD dev_inst;      // SetupAPI's device instance number, nonzero
    std::vector<ULONG> live;   // open instances per pin; guarded by KsMutex()
};

struct MachineSnapshot {
    Machine config;
    std::vector<std::shared_ptr<DeviceState>> devices;  // in machine order
};

// The current machine; the first call of the process loads it (see machine.h).
std::shared_ptr<const MachineSnapshot> CurrentSnapshot();

// Guards every KS driver's live state and the records. May be held while
// signalling events (KernelMutex()), never taken under KernelMutex().
std::mutex& KsMutex();

// The KS side's part of sim::Reset: records cleared.
void ResetKsRecords();
// The module side's part: LoadedModules cleared.
void ResetModuleRecords();

inline bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }
inline bool IsNullGuid(const GUID& g) { return SameGuid(g, GUID{}); }
bool EqualsNoCase(const std::string& a, const std::string& b);

}  // namespace sim::detail
