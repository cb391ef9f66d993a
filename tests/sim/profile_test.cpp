// Profile (INI) functions on real files.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

constexpr DWORD kJunkError = 0xDEADBEEF;

const char kSample[] =
    "top=before any section\r\n"
    "[General]\r\n"
    "Name=plain\r\n"
    "spaced =   padded value  \r\n"
    "quoted=\"  kept inside  \"\r\n"
    "single='one'\r\n"
    "nested=\"\"x\"\"\r\n"
    "unbalanced=\"open\r\n"
    "empty=\r\n"
    ";hidden=comment\r\n"
    "\r\n"
    "[ Other ]\n"
    "name=other section\n"
    "dup=first\n"
    "dup=second\n";

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override { sim::Reset(); }
    std::string Ini() const { return m_dir.File("test.ini"); }

    std::string Get(const char* section, const char* key, const char* fallback, DWORD size = 256,
                    DWORD* result = nullptr) {
        std::vector<char> buffer(size + 1, '#');
        const DWORD n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, Ini().c_str());
        if (result) *result = n;
        EXPECT_EQ('#', buffer[size]) << "written past nSize";
        return std::string(buffer.data(), n);
    }

    test::TempDir m_dir;
};

TEST_F(ProfileTest, ReadsValuesTrimmedAndUnquotedMatchingNamesWithoutCase) {
    test::WriteFile(Ini(), kSample);
    const struct Case {
        const char* section;
        const char* key;
        const char* fallback;
        const char* expected;
    } cases[] = {
        {"General", "Name", "d", "plain"},
        {"GENERAL", "name", "d", "plain"},
        {"general", "SPACED", "d", "padded value"},
        {"General", "quoted", "d", "  kept inside  "},
        {"General", "single", "d", "one"},
        {"General", "nested", "d", "\"x\""},
        {"General", "unbalanced", "d", "\"open"},
        {"General", "empty", "d", ""},
        {"General", "dup", "d", "d"},        // lives in another section
        {"General", "top", "d", "d"},        // before any section
        {"General", ";hidden", "d", "d"},    // comment line
        {"General", "missing", nullptr, ""},
        {"General", "missing", "trailing  \t", "trailing"},
        {"other", "NAME", "d", "other section"},
        {"Other", "dup", "d", "first"},
        {"Missing", "name", "fallback", "fallback"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.section << "/" << c.key);
        DWORD n = 0;
        EXPECT_EQ(c.expected, Get(c.section, c.key, c.fallback, 256, &n));
        EXPECT_EQ(std::string(c.expected).size(), n);
    }
}

TEST_F(ProfileTest, MissingFileGivesTheDefault) {
    SetLastError(kJunkError);
    EXPECT_EQ("fallback", Get("General", "Name", "fallback"));
    EXPECT_EQ(DWORD{ERROR_FILE_NOT_FOUND}, GetLastError());
    EXPECT_EQ(17u, GetPrivateProfileIntA("General", "Name", 17, Ini().c_str()));
}

TEST_F(ProfileTest, LongValuesAreCutToTheBuffer) {
    test::WriteFile(Ini(), "[S]\nk=abcdefgh\n");
    const struct Case {
        DWORD size;
        const char* expected;
    } cases[] = {{64, "abcdefgh"}, {9, "abcdefgh"}, {8, "abcdefg"}, {5, "abcd"}, {1, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        DWORD n = 0;
        EXPECT_EQ(c.expected, Get("S", "k", "", c.size, &n));
        EXPECT_EQ(std::string(c.expected).size(), n);
        // The default is cut the same way.
        EXPECT_EQ(c.expected, Get("S", "absent", "abcdefgh", c.size));
    }
}

TEST_F(ProfileTest, NullNamesListSectionsOrKeys) {
    test::WriteFile(Ini(), "[One]\r\na=1\r\n; c=no\r\nbb=2\r\n[Two]\r\n[Three]\r\nc=3\r\n");
    const struct Case {
        const char* section;
        DWORD size;
        std::string expected;  // the buffer up to its final NUL
        DWORD result;
    } cases[] = {
        {nullptr, 64, std::string("One\0Two\0Three\0", 14), 14},
        {"one", 64, std::string("a\0bb\0", 5), 5},
        {"Two", 64, "", 0},
        {"Nowhere", 64, "", 0},
        // Cut short: the last string is cut and ends with two NULs.
        {nullptr, 8, std::string("One\0Tw\0", 7), 6},
        {"one", 5, std::string("a\0b\0", 4), 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.section ? c.section : "(sections)") << " in " << c.size);
        std::vector<char> buffer(c.size + 1, '#');
        EXPECT_EQ(c.result,
                  GetPrivateProfileStringA(c.section, nullptr, "unused", buffer.data(), c.size, Ini().c_str()));
        EXPECT_EQ(c.expected + '\0', std::string(buffer.data(), c.expected.size() + 1));
        EXPECT_EQ('#', buffer[c.size]);
    }
}

TEST_F(ProfileTest, IntegersAreTheLeadingDecimalNumber) {
    const struct Case {
        const char* value;  // null: no such key
        INT fallback;
        UINT expected;
    } cases[] = {
        {"42", 7, 42},
        {"  19  ", 7, 19},
        {"12ab", 7, 12},
        {"+9", 7, 9},
        {"-5", 7, static_cast<UINT>(-5)},
        {"\"15\"", 7, 15},
        {"0x10", 7, 0},
        {"abc", 7, 0},
        {"-", 7, 0},
        {"4294967295", 7, 4294967295u},
        {"", 7, 7},
        {nullptr, 7, 7},
        {nullptr, -3, static_cast<UINT>(-3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        test::WriteFile(Ini(), c.value ? std::string("[S]\r\nn=") + c.value + "\r\n" : "[S]\r\n");
        EXPECT_EQ(c.expected, GetPrivateProfileIntA("s", "N", c.fallback, Ini().c_str()));
    }
}

TEST_F(ProfileTest, WritesChangeOnlyTheirOwnLines) {
    const std::string base =
        "; top comment\r\n"
        "[One]\r\n"
        "alpha=1\r\n"
        "; note\r\n"
        "Beta = two\r\n"
        "\r\n"
        "[Two]\r\n"
        "gamma=3\r\n";
    const struct Case {
        const char* name;
        const char* section;
        const char* key;
        const char* value;
        std::string expected;
    } cases[] = {
        {"replace", "one", "BETA", "2",
         "; top comment\r\n[One]\r\nalpha=1\r\n; note\r\nBETA=2\r\n\r\n[Two]\r\ngamma=3\r\n"},
        {"add key", "One", "delta", "4",
         "; top comment\r\n[One]\r\nalpha=1\r\n; note\r\nBeta = two\r\ndelta=4\r\n\r\n[Two]\r\ngamma=3\r\n"},
        {"add section", "Three", "x", "y z", base + "[Three]\r\nx=y z\r\n"},
        {"delete key", "One", "ALPHA", nullptr,
         "; top comment\r\n[One]\r\n; note\r\nBeta = two\r\n\r\n[Two]\r\ngamma=3\r\n"},
        {"delete section", "two", nullptr, nullptr,
         "; top comment\r\n[One]\r\nalpha=1\r\n; note\r\nBeta = two\r\n\r\n"},
        {"delete missing key", "One", "nothing", nullptr, base},
        {"delete missing section", "Nowhere", nullptr, nullptr, base},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::WriteFile(Ini(), base);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, c.key, c.value, Ini().c_str()));
        EXPECT_EQ(c.expected, test::ReadFile(Ini()));
    }
}

TEST_F(ProfileTest, WritesCreateFilesAndFollowTheFileLineEndings) {
    const struct Case {
        const char* name;
        const char* before;  // null: no file yet
        const char* section;
        std::string expected;
    } cases[] = {
        {"new file", nullptr, "S", "[S]\r\nk=v\r\n"},
        {"LF file", "[S]\nold=1\n", "S", "[S]\nold=1\nk=v\n"},
        {"no final line break", "[S]\nold=1", "S", "[S]\nold=1\nk=v\n"},
        {"new section, no final line break", "[A]\r\nold=1", "S", "[A]\r\nold=1\r\n[S]\r\nk=v\r\n"},
        {"empty section", "[S]\r\n[T]\r\n", "s", "[S]\r\nk=v\r\n[T]\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(Ini().c_str());
        if (c.before) test::WriteFile(Ini(), c.before);
        EXPECT_TRUE(WritePrivateProfileStringA(c.section, "k", "v", Ini().c_str()));
        EXPECT_EQ(c.expected, test::ReadFile(Ini()));
        EXPECT_EQ("v", Get(c.section, "k", "missing"));
    }
    // Deleting from a missing file creates nothing.
    std::remove(Ini().c_str());
    EXPECT_TRUE(WritePrivateProfileStringA("S", "k", nullptr, Ini().c_str()));
    bool exists = true;
    test::ReadFile(Ini(), &exists);
    EXPECT_FALSE(exists);
}

TEST_F(ProfileTest, UnwritablePathFailsWithAReason) {
    const struct Case {
        const char* name;
        std::string path;
        DWORD error;
    } cases[] = {
        {"missing folder", m_dir.File("no/such/dir/x.ini"), ERROR_PATH_NOT_FOUND},
        {"a folder", m_dir.path(), ERROR_ACCESS_DENIED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kJunkError);
        EXPECT_FALSE(WritePrivateProfileStringA("S", "k", "v", c.path.c_str()));
        EXPECT_EQ(c.error, GetLastError());
    }
    bool exists = true;
    test::ReadFile(m_dir.File("no/such/dir/x.ini"), &exists);
    EXPECT_FALSE(exists);
}

}  // namespace
