// The simulated assertion report of the C runtime.
#include <gtest/gtest.h>
#include <sim/machine.h>

namespace {

class AssertTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Threads may run in this process (the driver worker): death tests
        // start the program afresh.
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        sim::Reset();
    }
    void TearDown() override { sim::Reset(); }
};

TEST_F(AssertTest, AFailedAssertionIsReportedAndEndsTheProcess) {
    EXPECT_DEATH(_assert("pin != nullptr", "src/ks/pin.cpp", 42),
                 "^Assertion failed: pin != nullptr, file src/ks/pin.cpp, line 42\n");
    // Reset takes back an earlier Ignore.
    sim::SetAssertionAnswer(sim::AssertionAnswer::Ignore);
    sim::Reset();
    EXPECT_DEATH(_assert("x", "y", 1), "Assertion failed: x, file y, line 1");
}

TEST_F(AssertTest, IgnoredAssertionsAreReportedRecordedAndReturn) {
    sim::SetAssertionAnswer(sim::AssertionAnswer::Ignore);
    testing::internal::CaptureStderr();
    _assert("a == b", "one.cpp", 7);
    _assert("c", "two.cpp", 8);
    EXPECT_EQ("Assertion failed: a == b, file one.cpp, line 7\nAssertion failed: c, file two.cpp, line 8\n",
              testing::internal::GetCapturedStderr());
    const std::vector<sim::AssertionRecord> records = sim::Assertions();
    ASSERT_EQ(2u, records.size());
    EXPECT_EQ("a == b", records[0].expression);
    EXPECT_EQ("one.cpp", records[0].file);
    EXPECT_EQ(7u, records[0].line);
    EXPECT_EQ("c", records[1].expression);
    EXPECT_EQ(8u, records[1].line);
}

}  // namespace
