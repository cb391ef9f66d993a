// SetupAPI over a simulated machine: interface sets per category, the
// present filter, detail sizes, aliases and the FriendlyName registry value.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <string>
#include <vector>

#include "ks_helpers.h"

namespace {

using simtest::operator==;

constexpr DWORD kJunkError = 0xDEADBEEF;
const GUID kMediaClass = {0x4D36E96C, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

sim::Device MakeDevice(const std::string& path, std::vector<sim::Interface> interfaces, bool present = true) {
    sim::Device device = sim::RenderDevice(path, path + " name");
    device.interfaces = std::move(interfaces);
    device.present = present;
    return device;
}

class SetupApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::Machine machine;
        machine.devices = {
            MakeDevice("dev-a", {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}}, {KSCATEGORY_RENDER, SPINT_ACTIVE, {}}}),
            MakeDevice("dev-gone", {{KSCATEGORY_AUDIO, SPINT_ACTIVE, {}}, {KSCATEGORY_RENDER, SPINT_ACTIVE, {}}},
                       false),
            MakeDevice("dev-capture", {{KSCATEGORY_CAPTURE, SPINT_ACTIVE, {}}, {KSCATEGORY_AUDIO, 0, {}}}),
            // A render alias of its own path, removed.
            MakeDevice("dev-b", {{KSCATEGORY_AUDIO, SPINT_ACTIVE | SPINT_DEFAULT, {}},
                                 {KSCATEGORY_RENDER, SPINT_REMOVED, "dev-b-render-alias"}}),
        };
        sim::SetMachine(machine);
        m_handles_before = sim::OpenHandleCount();
    }
    void TearDown() override {
        EXPECT_EQ(m_handles_before, sim::OpenHandleCount());
        sim::Reset();
    }

    // Every path a set of `category` lists, in order.
    static std::vector<std::string> Paths(const GUID& category, DWORD flags) {
        HDEVINFO set = SetupDiGetClassDevsA(&category, nullptr, nullptr, flags);
        EXPECT_NE(INVALID_HANDLE_VALUE, set);
        std::vector<std::string> paths;
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof(data);
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &category, i, &data); ++i) {
            EXPECT_TRUE(data.InterfaceClassGuid == category);
            paths.push_back(Detail(set, &data));
        }
        EXPECT_EQ(DWORD{ERROR_NO_MORE_ITEMS}, GetLastError());
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    static std::string Detail(HDEVINFO set, SP_DEVICE_INTERFACE_DATA* data) {
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set, data, nullptr, 0, &required, nullptr);
        std::vector<char> buffer(required);
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        EXPECT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, data, detail, required, nullptr, nullptr));
        return detail->DevicePath;
    }

    size_t m_handles_before = 0;
};

TEST_F(SetupApiTest, SetsListTheCategorysInterfacesInMachineOrder) {
    const DWORD present = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
    const struct Case {
        const char* name;
        GUID category;
        DWORD flags;
        std::vector<std::string> paths;
    } cases[] = {
        {"audio, present", KSCATEGORY_AUDIO, present, {"dev-a", "dev-capture", "dev-b"}},
        {"audio, all", KSCATEGORY_AUDIO, DIGCF_DEVICEINTERFACE, {"dev-a", "dev-gone", "dev-capture", "dev-b"}},
        {"render, present", KSCATEGORY_RENDER, present, {"dev-a", "dev-b-render-alias"}},
        {"capture", KSCATEGORY_CAPTURE, present, {"dev-capture"}},
        {"no interface flag", KSCATEGORY_AUDIO, DIGCF_PRESENT, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.paths, Paths(c.category, c.flags));
    }
}

TEST_F(SetupApiTest, ASetIsASnapshotAndEnumeratesItsOwnCategoryOnly) {
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    sim::SetMachine(sim::Machine{});
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 2, &data));
    EXPECT_EQ("dev-b", Detail(set, &data));
    EXPECT_EQ(DWORD{SPINT_ACTIVE | SPINT_DEFAULT}, data.Flags);
    // The render aliases are in the set for alias queries, but not listed.
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_RENDER, 0, &data));
    EXPECT_EQ(DWORD{ERROR_NO_MORE_ITEMS}, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, DetailSizesFollowThe32BitLayout) {
    EXPECT_EQ(5u, sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A));
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
    const DWORD required = 4 + 5 + 1;  // the DWORD, "dev-a" and its NUL

    const struct Case {
        const char* name;
        bool with_buffer;
        DWORD cb_size;
        DWORD buffer_size;
        DWORD error;  // 0: success
    } cases[] = {
        {"size query", false, 0, 0, ERROR_INSUFFICIENT_BUFFER},
        {"no buffer but a size", false, 0, required, ERROR_INVALID_USER_BUFFER},
        {"64-bit cbSize", true, 8, required, ERROR_INVALID_USER_BUFFER},
        {"cbSize of the DWORD only", true, 4, required, ERROR_INVALID_USER_BUFFER},
        {"one byte short", true, 5, required - 1, ERROR_INSUFFICIENT_BUFFER},
        {"smaller than the fixed part", true, 5, 4, ERROR_INVALID_USER_BUFFER},
        {"exact", true, 5, required, 0},
        {"roomy", true, 5, required + 20, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer(64, 'x');
        auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
        detail->cbSize = c.cb_size;
        DWORD reported = kJunkError;
        SetLastError(kJunkError);
        const BOOL ok = SetupDiGetDeviceInterfaceDetailA(set, &data, c.with_buffer ? detail : nullptr,
                                                         c.buffer_size, &reported, nullptr);
        if (c.error == 0) {
            EXPECT_TRUE(ok);
            EXPECT_STREQ("dev-a", detail->DevicePath);
            EXPECT_EQ(required, reported);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(c.error, GetLastError());
            if (c.error == ERROR_INSUFFICIENT_BUFFER) {
                EXPECT_EQ(required, reported);
            }
            EXPECT_EQ('x', buffer[4]);  // no path written
        }
    }
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, DetailNamesTheDeviceOfEachInterface) {
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    std::vector<DWORD> instances;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, i, &data); ++i) {
        SP_DEVINFO_DATA device;
        device.cbSize = sizeof(device);
        DWORD required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, &device));
        EXPECT_TRUE(device.ClassGuid == kMediaClass);
        EXPECT_NE(0u, device.DevInst);
        instances.push_back(device.DevInst);
        // Filtering by the device finds the interface again.
        SP_DEVICE_INTERFACE_DATA again;
        again.cbSize = sizeof(again);
        EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, &device, &KSCATEGORY_AUDIO, 0, &again));
        EXPECT_EQ(data.Reserved, again.Reserved);
    }
    ASSERT_EQ(3u, instances.size());
    EXPECT_NE(instances[0], instances[1]);
    EXPECT_NE(instances[1], instances[2]);

    SP_DEVINFO_DATA wrong;
    wrong.cbSize = sizeof(wrong) + 4;
    SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data);
    DWORD required = 0;
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, &wrong));
    EXPECT_EQ(DWORD{ERROR_INVALID_USER_BUFFER}, GetLastError());

    // Interface data that this set did not hand out.
    SP_DEVICE_INTERFACE_DATA forged = data;
    forged.Reserved = 99;
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &forged, nullptr, 0, &required, nullptr));
    EXPECT_EQ(DWORD{ERROR_INVALID_PARAMETER}, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

TEST_F(SetupApiTest, AliasesCarryTheirOwnFlagsAndPaths) {
    HDEVINFO set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    const struct Case {
        DWORD index;
        GUID alias;
        DWORD error;
        DWORD flags;
        const char* path;
    } cases[] = {
        {0, KSCATEGORY_RENDER, 0, SPINT_ACTIVE, "dev-a"},
        {0, KSCATEGORY_CAPTURE, ERROR_NO_SUCH_DEVICE_INTERFACE, 0, nullptr},
        {1, KSCATEGORY_CAPTURE, 0, SPINT_ACTIVE, "dev-capture"},
        {1, KSCATEGORY_RENDER, ERROR_NO_SUCH_DEVICE_INTERFACE, 0, nullptr},
        {2, KSCATEGORY_RENDER, 0, SPINT_REMOVED, "dev-b-render-alias"},
        {2, KSCATEGORY_AUDIO, 0, SPINT_ACTIVE | SPINT_DEFAULT, "dev-b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        SP_DEVICE_INTERFACE_DATA data;
        data.cbSize = sizeof(data);
        ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, c.index, &data));
        SP_DEVICE_INTERFACE_DATA alias;
        alias.cbSize = sizeof(alias);
        alias.Flags = kJunkError;
        SetLastError(kJunkError);
        const BOOL ok = SetupDiGetDeviceInterfaceAlias(set, &data, &c.alias, &alias);
        if (c.error != 0) {
            EXPECT_FALSE(ok);
            EXPECT_EQ(c.error, GetLastError());
            continue;
        }
        ASSERT_TRUE(ok);
        EXPECT_TRUE(alias.InterfaceClassGuid == c.alias);
        EXPECT_EQ(c.flags, alias.Flags);
        EXPECT_EQ(c.path, Detail(set, &alias));
    }

    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
    SP_DEVICE_INTERFACE_DATA alias;
    alias.cbSize = sizeof(alias) - 4;
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceAlias(set, &data, &KSCATEGORY_RENDER, &alias));
    EXPECT_EQ(DWORD{ERROR_INVALID_USER_BUFFER}, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

// One device whose FriendlyName value is `value` (none when empty).
HKEY OpenKeyOf(const std::optional<sim::RegistryValue>& value, HDEVINFO* set, bool key_opens = true) {
    sim::Device device = sim::RenderDevice("dev", "unused");
    device.friendly_name = value;
    device.key_opens = key_opens;
    sim::Machine machine;
    machine.devices = {device};
    sim::SetMachine(machine);
    *set = SetupDiGetClassDevsA(&KSCATEGORY_AUDIO, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data;
    data.cbSize = sizeof(data);
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(*set, nullptr, &KSCATEGORY_AUDIO, 0, &data));
    return SetupDiOpenDeviceInterfaceRegKey(*set, &data, 0, KEY_QUERY_VALUE);
}

TEST_F(SetupApiTest, FriendlyNamesComeBackAsStoredWhateverTheirTypeAndLength) {
    sim::RegistryValue unterminated{REG_SZ, {'S', 'p', 'k'}};
    sim::RegistryValue binary{REG_BINARY, {0x00, 0xFF, 0x41}};
    sim::RegistryValue dword{REG_DWORD, {1, 0, 0, 0}};
    sim::RegistryValue empty{REG_SZ, {}};
    const struct Case {
        const char* name;
        sim::RegistryValue value;
    } cases[] = {
        {"text", sim::RegistryValue::Text("Speakers")},
        {"unterminated text", unterminated},
        {"binary", binary},
        {"dword", dword},
        {"empty", empty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HDEVINFO set = nullptr;
        HKEY key = OpenKeyOf(c.value, &set);
        ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key);
        const DWORD size = static_cast<DWORD>(c.value.data.size());

        // Size and type only; the name is not case-sensitive.
        DWORD type = kJunkError;
        DWORD reported = kJunkError;
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "friendlyNAME", nullptr, &type, nullptr, &reported));
        EXPECT_EQ(c.value.type, type);
        EXPECT_EQ(size, reported);

        // Exactly the stored bytes, nothing added.
        std::vector<uint8_t> buffer(size + 4, 0xCD);
        reported = static_cast<DWORD>(buffer.size());
        EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, buffer.data(), &reported));
        EXPECT_EQ(size, reported);
        EXPECT_EQ(c.value.data, std::vector<uint8_t>(buffer.begin(), buffer.begin() + size));
        EXPECT_EQ(0xCD, buffer[size]);

        // One byte short: the size needed, and the buffer filled with the
        // value's first bytes (no room for a terminator).
        if (size > 0) {
            std::vector<uint8_t> small(size - 1 + 2, 0xCD);
            reported = size - 1;
            EXPECT_EQ(ERROR_MORE_DATA, RegQueryValueExA(key, "FriendlyName", nullptr, &type, small.data(), &reported));
            EXPECT_EQ(size, reported);
            EXPECT_EQ(std::vector<uint8_t>(c.value.data.begin(), c.value.data.end() - 1),
                      std::vector<uint8_t>(small.begin(), small.begin() + size - 1));
            EXPECT_EQ(0xCD, small[size - 1]);
        }
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
        EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    }
}

TEST_F(SetupApiTest, KeysWithoutTheValueOrThatDoNotOpen) {
    HDEVINFO set = nullptr;
    HKEY key = OpenKeyOf(std::nullopt, &set);
    ASSERT_NE(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key);
    DWORD size = 100;
    char buffer[100];
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegQueryValueExA(key, "FriendlyName", nullptr, nullptr,
                                                         reinterpret_cast<LPBYTE>(buffer), nullptr));
    // A registry key is not a kernel handle.
    SetLastError(kJunkError);
    EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(key)));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegQueryValueExA(key, "FriendlyName", nullptr, nullptr, nullptr, &size));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    key = OpenKeyOf(sim::RegistryValue::Text("Name"), &set);
    size = sizeof(buffer);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr,
                                                       reinterpret_cast<LPBYTE>(buffer), &size));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));

    SetLastError(kJunkError);
    key = OpenKeyOf(sim::RegistryValue::Text("Name"), &set, false);
    EXPECT_EQ(reinterpret_cast<HKEY>(INVALID_HANDLE_VALUE), key);
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
}

}  // namespace
