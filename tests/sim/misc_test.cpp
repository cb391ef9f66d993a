// Message boxes, debugger output and the SetupAPI device list of a machine
// with no devices.
#include <gtest/gtest.h>
#include <sim/machine.h>

#include <string>
#include <vector>

namespace {

constexpr DWORD kJunkError = 0xDEADBEEF;

class MiscTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

TEST_F(MiscTest, MessageBoxesAreRecordedAndAnsweredAsScripted) {
    HWND owner = reinterpret_cast<HWND>(uintptr_t{0x1234});
    EXPECT_EQ(IDOK, MessageBoxA(owner, "first", "Caption", MB_OK | MB_ICONERROR));
    sim::SetMessageBoxAnswer(IDNO);
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, "second", nullptr, MB_YESNO));
    EXPECT_EQ(IDNO, MessageBoxA(nullptr, nullptr, "", MB_OK));

    const std::vector<sim::MessageBoxRecord> boxes = sim::MessageBoxes();
    ASSERT_EQ(3u, boxes.size());
    EXPECT_EQ(owner, boxes[0].owner);
    EXPECT_EQ("first", boxes[0].text);
    EXPECT_EQ("Caption", boxes[0].caption);
    EXPECT_EQ(MB_OK | MB_ICONERROR, boxes[0].flags);
    EXPECT_EQ(nullptr, boxes[1].owner);
    EXPECT_EQ("Error", boxes[1].caption);  // Windows' title for a NULL caption
    EXPECT_EQ(MB_YESNO, boxes[1].flags);
    EXPECT_EQ("", boxes[2].text);

    sim::ClearMessageBoxes();
    EXPECT_TRUE(sim::MessageBoxes().empty());
    sim::Reset();
    EXPECT_EQ(IDOK, MessageBoxA(nullptr, "after reset", "c", MB_OK));
}

TEST_F(MiscTest, DebugOutputIsCapturedInOrder) {
    OutputDebugStringA("one\n");
    OutputDebugStringA("two");
    EXPECT_EQ((std::vector<std::string>{"one\n", "two"}), sim::DebugOutput());
    sim::ClearDebugOutput();
    EXPECT_TRUE(sim::DebugOutput().empty());
    OutputDebugStringA("three");
    sim::Reset();
    EXPECT_TRUE(sim::DebugOutput().empty());
}

TEST_F(MiscTest, DeviceInterfaceEnumerationFindsNoDevices) {
    sim::SetMachine(sim::Machine{});
    const GUID audio = {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
    const size_t before = sim::OpenHandleCount();
    HDEVINFO set = SetupDiGetClassDevsA(&audio, nullptr, nullptr, DIGCF_DEVICEINTERFACE | DIGCF_PRESENT);
    ASSERT_NE(INVALID_HANDLE_VALUE, set);
    ASSERT_NE(nullptr, set);
    EXPECT_EQ(before + 1, sim::OpenHandleCount());

    SP_DEVICE_INTERFACE_DATA data = {};
    const struct Case {
        const char* name;
        HDEVINFO set;
        DWORD cbSize;
        DWORD error;
    } cases[] = {
        {"empty set", set, sizeof(SP_DEVICE_INTERFACE_DATA), ERROR_NO_MORE_ITEMS},
        // The structure is the call's output: a wrong size is a bad user buffer.
        {"wrong cbSize", set, sizeof(SP_DEVICE_INTERFACE_DATA) + 4, ERROR_INVALID_USER_BUFFER},
        {"bad set", INVALID_HANDLE_VALUE, sizeof(SP_DEVICE_INTERFACE_DATA), ERROR_INVALID_HANDLE},
        {"null set", nullptr, sizeof(SP_DEVICE_INTERFACE_DATA), ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        data.cbSize = c.cbSize;
        SetLastError(kJunkError);
        EXPECT_FALSE(SetupDiEnumDeviceInterfaces(c.set, nullptr, &audio, 0, &data));
        EXPECT_EQ(c.error, GetLastError());
    }

    // A device list is not an event.
    SetLastError(kJunkError);
    EXPECT_FALSE(SetEvent(set));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());

    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(before, sim::OpenHandleCount());
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    data.cbSize = sizeof(data);
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &audio, 0, &data));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());

    // An event is not a device list.
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetLastError(kJunkError);
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(event));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
    EXPECT_TRUE(CloseHandle(event));
}

}  // namespace
