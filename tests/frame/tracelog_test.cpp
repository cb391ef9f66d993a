// The trace log file: one verbatim line per level-1 message, nothing else.
#include <gtest/gtest.h>
#include <sim/control.h>

#include <filesystem>

#include "frame/tracelog.h"
#include "support/temp_dir.h"

namespace {

class TraceLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim::Reset();
        sim::SetHostExecutablePath(m_dir.File("host.exe"));
        // Whatever an earlier test in this process left switched on.
        TraceLog::SetEnabled(0);
    }
    void TearDown() override {
        TraceLog::SetEnabled(0);
        TraceLog::Close();
    }
    std::string Log(bool* exists = nullptr) const { return test::ReadFile(m_dir.File("quarrow log.txt"), exists); }

    test::TempDir m_dir;
};

TEST_F(TraceLogTest, WritesLevelOneLinesVerbatimWithCrLf) {
    test::WriteFile(m_dir.File("quarrow log.txt"), "left from last time\r\n");
    TraceLog::Open();
    bool exists = false;
    EXPECT_EQ("", Log(&exists));
    EXPECT_TRUE(exists);
    EXPECT_EQ(m_dir.File("quarrow log.txt"), TraceLog::Path());

    TraceLog::SetEnabled(1);
    TraceLog::Write(1, "End(force=%d)", 1);
    TraceLog::Write(0, "never %s", "written");
    TraceLog::Write(1, "Enumerated Filter: %s", "Speakers 100%d %s");
    TraceLog::Write(1, "banner\n");
    EXPECT_EQ("End(force=1)\r\nEnumerated Filter: Speakers 100%d %s\r\nbanner\n\r\n", Log());
}

TEST_F(TraceLogTest, DisabledLogStaysEmpty) {
    TraceLog::Open();
    TraceLog::Write(1, "not while disabled");
    TraceLog::SetEnabled(1);
    TraceLog::SetEnabled(0);
    TraceLog::Write(1, "nor after");
    EXPECT_EQ("", Log());
}

TEST_F(TraceLogTest, OverlongMessageIsCutToFitTheLineBuffer) {
    TraceLog::Open();
    TraceLog::SetEnabled(1);
    const std::string text(10000, 'x');
    TraceLog::Write(1, "%s", text.c_str());
    TraceLog::Write(1, "next");
    EXPECT_EQ(std::string(TraceLog::kLineBufferSize - 3, 'x') + "\r\nnext\r\n", Log());
}

TEST_F(TraceLogTest, WritesOutsideOpenAndCloseAreDropped) {
    TraceLog::SetEnabled(1);
    TraceLog::Write(1, "before open");
    bool exists = true;
    Log(&exists);
    EXPECT_FALSE(exists);
    TraceLog::Open();
    TraceLog::Close();
    TraceLog::Write(1, "after close");
    EXPECT_EQ("", Log());
}

TEST_F(TraceLogTest, HostFolderTooLongForTheLogNameTurnsTheLogOff) {
    struct Case {
        std::string folder;
        bool fits;
    } cases[] = {
        // The folder plus "/quarrow log.txt" (16 characters) must fit in 260.
        {m_dir.path() + "/" + std::string(244 - m_dir.path().size() - 1, 'd'), true},
        {m_dir.path() + "/" + std::string(245 - m_dir.path().size() - 1, 'd'), false},
        {m_dir.path() + "/" + std::string(400, 'd'), false},  // host path cut short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder.size());
        if (c.fits) std::filesystem::create_directories(c.folder);
        sim::SetHostExecutablePath(c.folder + "/h.exe");
        TraceLog::Open();
        TraceLog::SetEnabled(1);
        TraceLog::Write(1, "line");
        if (c.fits) {
            EXPECT_EQ(c.folder + "/quarrow log.txt", TraceLog::Path());
        } else {
            EXPECT_STREQ("", TraceLog::Path());
        }
        TraceLog::Close();
    }
    // Nothing landed anywhere in the test folder but where the log fits.
    size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(m_dir.path())) {
        if (entry.is_regular_file()) {
            ++files;
            EXPECT_EQ("quarrow log.txt", entry.path().filename().string());
        }
    }
    EXPECT_EQ(1u, files);
}

}  // namespace
