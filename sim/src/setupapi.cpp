// SetupAPI device-interface enumeration over the devices the simulated machine
// presents (none yet).
#include "internal.h"

#include <cstring>
#include <string>
#include <vector>

using sim::detail::Kind;

namespace {

struct DeviceInterface {
    GUID interface_class;
    DWORD dev_inst;  // the device it belongs to
    DWORD flags;
    std::string path;
};

// A snapshot taken when the set is created; it never changes afterwards, so
// readers need no lock.
class DeviceInfoSet final : public sim::detail::Object {
public:
    explicit DeviceInfoSet(std::vector<DeviceInterface> interfaces)
        : Object(Kind::DeviceInfoSet), interfaces(std::move(interfaces)) {}
    const std::vector<DeviceInterface> interfaces;
};

bool SameGuid(const GUID& a, const GUID& b) { return std::memcmp(&a, &b, sizeof(GUID)) == 0; }

// The device interfaces the machine presents for a SetupDiGetClassDevsA query.
std::vector<DeviceInterface> PresentInterfaces(const GUID* /*class_guid*/, DWORD /*flags*/) {
    return {};
}

}  // namespace

SIM_API HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR, HWND, DWORD Flags) {
    if (ClassGuid == nullptr && (Flags & DIGCF_ALLCLASSES) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return sim::detail::InsertHandle(
        std::make_shared<DeviceInfoSet>(PresentInterfaces(ClassGuid, Flags)));
}

SIM_API BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                         PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const auto set = sim::detail::LookupAs<::DeviceInfoSet>(DeviceInfoSet, Kind::DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr ||
        DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD index = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const DeviceInterface& candidate = set->interfaces[i];
        if (!SameGuid(candidate.interface_class, *InterfaceClassGuid)) continue;
        if (DeviceInfoData != nullptr && candidate.dev_inst != DeviceInfoData->DevInst) continue;
        if (index++ != MemberIndex) continue;
        DeviceInterfaceData->InterfaceClassGuid = candidate.interface_class;
        DeviceInterfaceData->Flags = candidate.flags;
        DeviceInterfaceData->Reserved = i;
        return TRUE;
    }
    SetLastError(ERROR_NO_MORE_ITEMS);
    return FALSE;
}

SIM_API BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet) {
    if (!sim::detail::RemoveHandle(DeviceInfoSet, Kind::DeviceInfoSet)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}
