// SetupAPI over the simulated machine: device interface sets per category,
// interface details, aliases and the interface registry keys with their
// values.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "machine_state.h"

using sim::detail::Kind;
using sim::detail::SameGuid;

namespace {

// The setup class of sound devices ("MEDIA"), reported in SP_DEVINFO_DATA.
constexpr GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// On 32-bit Windows the detail structure's fixed part: the DWORD and one CHAR.
constexpr DWORD kDetailFixedSize = 5;
constexpr DWORD kDetailPathOffset = 4;

struct DeviceInterface {
    GUID interface_class;
    DWORD flags;
    std::string path;
    bool listed;  // enumerated; the others are only reachable as aliases
    std::shared_ptr<const sim::detail::DeviceState> device;
};

// A snapshot taken when the set is created; it never changes afterwards, so
// readers need no lock.
class DeviceInfoSet final : public sim::detail::Object {
public:
    explicit DeviceInfoSet(std::vector<DeviceInterface> interfaces)
        : Object(Kind::DeviceInfoSet), interfaces(std::move(interfaces)) {}
    const std::vector<DeviceInterface> interfaces;
};

class RegistryKey final : public sim::detail::Object {
public:
    explicit RegistryKey(std::optional<sim::RegistryValue> friendly_name)
        : Object(Kind::RegistryKey), friendly_name(std::move(friendly_name)) {}
    const std::optional<sim::RegistryValue> friendly_name;
};

// For a set of `class_guid`: every interface of each device that has one in
// that class (all classes when null), present devices only when asked. The
// interfaces in other classes are kept for SetupDiGetDeviceInterfaceAlias.
std::vector<DeviceInterface> SnapshotInterfaces(const GUID* class_guid, DWORD flags) {
    const auto machine = sim::detail::CurrentSnapshot();
    std::vector<DeviceInterface> result;
    if ((flags & DIGCF_DEVICEINTERFACE) == 0) return result;  // setup classes: none simulated
    for (const auto& device : machine->devices) {
        if ((flags & DIGCF_PRESENT) != 0 && !device->config.present) continue;
        bool member = false;
        for (const sim::Interface& interface : device->config.interfaces) {
            member = member || class_guid == nullptr || SameGuid(interface.category, *class_guid);
        }
        if (!member) continue;
        for (const sim::Interface& interface : device->config.interfaces) {
            const bool listed = class_guid == nullptr || SameGuid(interface.category, *class_guid);
            result.push_back({interface.category, interface.flags,
                              interface.path.empty() ? device->config.path : interface.path, listed, device});
        }
    }
    return result;
}

std::shared_ptr<DeviceInfoSet> LookupSet(HDEVINFO handle) {
    return sim::detail::LookupAs<DeviceInfoSet>(handle, Kind::DeviceInfoSet);
}

// The interface an SP_DEVICE_INTERFACE_DATA from this set names, or null
// (ERROR_INVALID_PARAMETER set).
const DeviceInterface* Named(const DeviceInfoSet& set, const SP_DEVICE_INTERFACE_DATA* data) {
    if (data == nullptr || data->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA) ||
        data->Reserved >= set.interfaces.size() ||
        !SameGuid(set.interfaces[data->Reserved].interface_class, data->InterfaceClassGuid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &set.interfaces[data->Reserved];
}

// The set behind `handle` and the interface `data` names in it; null with the
// last error set when either is not there. The set keeps the interface alive.
const DeviceInterface* Resolve(HDEVINFO handle, const SP_DEVICE_INTERFACE_DATA* data,
                               std::shared_ptr<DeviceInfoSet>* set) {
    *set = LookupSet(handle);
    if (!*set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return Named(**set, data);
}

void Describe(const DeviceInterface& interface, size_t index, SP_DEVICE_INTERFACE_DATA* data) {
    data->InterfaceClassGuid = interface.interface_class;
    data->Flags = interface.flags;
    data->Reserved = index;
}

}  // namespace

SIM_API HDEVINFO SetupDiGetClassDevsA(const GUID* ClassGuid, PCSTR, HWND, DWORD Flags) {
    const bool all_classes = (Flags & DIGCF_ALLCLASSES) != 0;
    if (ClassGuid == nullptr && !all_classes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    return sim::detail::InsertHandle(
        std::make_shared<DeviceInfoSet>(SnapshotInterfaces(all_classes ? nullptr : ClassGuid, Flags)));
}

SIM_API BOOL SetupDiEnumDeviceInterfaces(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData,
                                         const GUID* InterfaceClassGuid, DWORD MemberIndex,
                                         PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData) {
    const auto set = LookupSet(DeviceInfoSet);
    if (!set) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (InterfaceClassGuid == nullptr || DeviceInterfaceData == nullptr ||
        (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A wrong cbSize in a structure the call fills in is a bad user buffer.
    if (DeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    DWORD index = 0;
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const DeviceInterface& candidate = set->interfaces[i];
        if (!candidate.listed || !SameGuid(candidate.interface_class, *InterfaceClassGuid)) continue;
        if (DeviceInfoData != nullptr && candidate.device->dev_inst != DeviceInfoData->DevInst) continue;
        if (index++ != MemberIndex) continue;
        Describe(candidate, i, DeviceInterfaceData);
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

SIM_API BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                              PSP_DEVICE_INTERFACE_DETAIL_DATA_A DeviceInterfaceDetailData,
                                              DWORD DeviceInterfaceDetailDataSize, LPDWORD RequiredSize,
                                              PSP_DEVINFO_DATA DeviceInfoData) {
    std::shared_ptr<::DeviceInfoSet> set;
    const DeviceInterface* interface = Resolve(DeviceInfoSet, DeviceInterfaceData, &set);
    if (interface == nullptr) return FALSE;
    if (DeviceInterfaceDetailData == nullptr ? DeviceInterfaceDetailDataSize != 0
                                             : (DeviceInterfaceDetailData->cbSize != kDetailFixedSize ||
                                                DeviceInterfaceDetailDataSize < kDetailFixedSize)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    if (DeviceInfoData != nullptr && DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const DWORD required = kDetailPathOffset + static_cast<DWORD>(interface->path.size()) + 1;
    if (RequiredSize != nullptr) *RequiredSize = required;
    if (DeviceInfoData != nullptr) {
        DeviceInfoData->ClassGuid = kMediaClass;
        DeviceInfoData->DevInst = interface->device->dev_inst;
        DeviceInfoData->Reserved = 0;
    }
    if (DeviceInterfaceDetailDataSize < required) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(DeviceInterfaceDetailData->DevicePath, interface->path.c_str(), interface->path.size() + 1);
    return TRUE;
}

SIM_API BOOL SetupDiGetDeviceInterfaceAlias(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                            const GUID* AliasInterfaceClassGuid,
                                            PSP_DEVICE_INTERFACE_DATA AliasDeviceInterfaceData) {
    std::shared_ptr<::DeviceInfoSet> set;
    const DeviceInterface* interface = Resolve(DeviceInfoSet, DeviceInterfaceData, &set);
    if (interface == nullptr) return FALSE;
    if (AliasInterfaceClassGuid == nullptr || AliasDeviceInterfaceData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (AliasDeviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    for (size_t i = 0; i < set->interfaces.size(); ++i) {
        const DeviceInterface& candidate = set->interfaces[i];
        if (candidate.device == interface->device && SameGuid(candidate.interface_class, *AliasInterfaceClassGuid)) {
            Describe(candidate, i, AliasDeviceInterfaceData);
            return TRUE;
        }
    }
    SetLastError(ERROR_NO_SUCH_DEVICE_INTERFACE);
    return FALSE;
}

SIM_API HKEY SetupDiOpenDeviceInterfaceRegKey(HDEVINFO DeviceInfoSet, PSP_DEVICE_INTERFACE_DATA DeviceInterfaceData,
                                              DWORD, REGSAM) {
    HKEY const failed = reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE);
    std::shared_ptr<::DeviceInfoSet> set;
    const DeviceInterface* interface = Resolve(DeviceInfoSet, DeviceInterfaceData, &set);
    if (interface == nullptr) return failed;
    if (!interface->device->config.key_opens) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return failed;
    }
    return reinterpret_cast<HKEY>(
        sim::detail::InsertHandle(std::make_shared<RegistryKey>(interface->device->config.friendly_name)));
}

SIM_API LONG RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData,
                              LPDWORD lpcbData) {
    const auto key = sim::detail::LookupAs<RegistryKey>(reinterpret_cast<HANDLE>(hKey), Kind::RegistryKey);
    if (!key) return ERROR_INVALID_HANDLE;
    if (lpReserved != nullptr || (lpData != nullptr && lpcbData == nullptr)) return ERROR_INVALID_PARAMETER;
    // The key holds one value, "FriendlyName"; the name is not case-sensitive.
    if (lpValueName == nullptr || !sim::detail::EqualsNoCase(lpValueName, "FriendlyName") ||
        !key->friendly_name) {
        return ERROR_FILE_NOT_FOUND;
    }
    const sim::RegistryValue& value = *key->friendly_name;
    const auto size = static_cast<DWORD>(value.data.size());
    if (lpType != nullptr) *lpType = value.type;
    if (lpData == nullptr) {
        if (lpcbData != nullptr) *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        // Windows leaves the buffer undefined; the harshest case is a filled
        // buffer with no terminator in it.
        if (*lpcbData > 0) std::memcpy(lpData, value.data.data(), *lpcbData);
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size > 0) std::memcpy(lpData, value.data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

SIM_API LONG RegCloseKey(HKEY hKey) {
    return sim::detail::RemoveHandle(reinterpret_cast<HANDLE>(hKey), Kind::RegistryKey) ? ERROR_SUCCESS
                                                                                        : ERROR_INVALID_HANDLE;
}
