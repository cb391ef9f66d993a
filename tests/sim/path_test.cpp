// The host executable's path and PathRemoveFileSpecA.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr DWORD kJunkError = 0xDEADBEEF;

class PathTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    void TearDown() override { sim::Reset(); }
};

std::string ModulePath() {
    char buffer[4096];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof(buffer));
    return std::string(buffer, n);
}

TEST_F(PathTest, HostPathIsTheRealExecutableUnlessOverridden) {
    const std::string real = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(real, ModulePath());
    sim::SetHostExecutablePath("C:\\Program Files\\Player\\player.exe");
    EXPECT_EQ("C:\\Program Files\\Player\\player.exe", ModulePath());
    sim::SetHostExecutablePath("");
    EXPECT_EQ(real, ModulePath());
    sim::SetHostExecutablePath("/opt/player/bin/player");
    sim::Reset();
    EXPECT_EQ(real, ModulePath());
}

TEST_F(PathTest, GetModuleFileNameTruncatesAsDocumented) {
    const std::string path = "C:\\Apps\\host.exe";  // 16 characters
    sim::SetHostExecutablePath(path);
    const struct Case {
        DWORD size;
        DWORD result;
        const char* text;  // null: the buffer is left alone
        DWORD error;       // 0: not checked
    } cases[] = {
        {64, 16, "C:\\Apps\\host.exe", 0},
        {17, 16, "C:\\Apps\\host.exe", 0},
        {16, 16, "C:\\Apps\\host.ex", ERROR_INSUFFICIENT_BUFFER},
        {4, 4, "C:\\", ERROR_INSUFFICIENT_BUFFER},
        {1, 1, "", ERROR_INSUFFICIENT_BUFFER},
        {0, 0, nullptr, ERROR_INSUFFICIENT_BUFFER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        std::vector<char> buffer(80, '#');
        SetLastError(kJunkError);
        EXPECT_EQ(c.result, GetModuleFileNameA(nullptr, buffer.data(), c.size));
        if (c.error != 0) {
            EXPECT_EQ(c.error, GetLastError());
        }
        if (c.text) {
            EXPECT_STREQ(c.text, buffer.data());
        }
        for (size_t i = c.size; i < buffer.size(); ++i) ASSERT_EQ('#', buffer[i]) << "written at " << i;
    }
}

TEST_F(PathTest, UnknownModuleHandleFails) {
    char buffer[64] = "";
    SetLastError(kJunkError);
    EXPECT_EQ(0u, GetModuleFileNameA(reinterpret_cast<HMODULE>(uintptr_t{0x1000}), buffer, sizeof(buffer)));
    EXPECT_EQ(DWORD{ERROR_INVALID_HANDLE}, GetLastError());
}

TEST_F(PathTest, PathRemoveFileSpecRemovesTheLastNameAndItsSeparator) {
    const struct Case {
        const char* path;
        const char* expected;
        BOOL removed;
    } cases[] = {
        {"C:\\a\\b.exe", "C:\\a", TRUE},
        {"C:\\a\\b\\c.ini", "C:\\a\\b", TRUE},
        {"C:\\b.exe", "C:\\", TRUE},
        {"C:\\", "C:\\", FALSE},
        {"C:\\a\\", "C:\\a", TRUE},
        {"b.exe", "", TRUE},
        {"", "", FALSE},
        {"/usr/bin/host", "/usr/bin", TRUE},
        {"/host", "/", TRUE},
        {"/", "/", FALSE},
        {"relative/dir/file", "relative/dir", TRUE},
        {"D:\\mixed/sep\\name", "D:\\mixed/sep", TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        // Exactly the string's size, so an overrun shows under AddressSanitizer.
        std::vector<char> buffer(c.path, c.path + std::strlen(c.path) + 1);
        EXPECT_EQ(c.removed, PathRemoveFileSpecA(buffer.data()));
        EXPECT_STREQ(c.expected, buffer.data());
    }
    EXPECT_FALSE(PathRemoveFileSpecA(nullptr));
}

}  // namespace
