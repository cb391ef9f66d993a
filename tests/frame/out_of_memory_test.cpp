// Initialise when the settings object, the engine or one of the engine's
// blocks cannot be allocated: every entry still answers as a closed output.
#include <gtest/gtest.h>
#include <sim/control.h>
#include <sim/machine.h>

#include "frame/out_quarrow.h"
#include "support/alloc_hook.h"
#include "support/temp_dir.h"

namespace {

TEST(OutOfMemory, InitialiseWithoutMemoryLeavesAClosedOutput) {
    test::TempDir dir;
    sim::Reset();
    sim::SetHostExecutablePath(dir.File("host.exe"));
    test::WriteFile(dir.File("host.ini"), "[Quarrow]\r\nlogging_enabled=1\r\n");
    // No devices: enumerating them allocates nothing beyond the list itself.
    sim::SetMachine(sim::Machine{});
    OutModule* module = winampGetOutModule();

    // Count the allocations a healthy initialise makes, then fail each in turn.
    test::FailNothrowAllocationsAfter(1000);
    module->Init();
    test::DisarmAllocationFailure();
    const int allocations = test::NothrowAllocations();
    module->Quit();
    // Settings, engine, event array, ring, packet memory, then the device
    // list, without which the engine still runs (its own test covers it).
    ASSERT_EQ(6, allocations);

    for (int successes = 0; successes < allocations - 1; ++successes) {
        SCOPED_TRACE(testing::Message() << "allocation " << successes << " fails");
        test::FailNothrowAllocationsAfter(successes);
        module->Init();
        test::DisarmAllocationFailure();
        EXPECT_EQ(nullptr, g_pCore.load());
        EXPECT_EQ(successes == 0, g_pSettings == nullptr);

        const char pcm[8] = {};
        EXPECT_EQ(-1, module->Open(44100, 2, 16));
        EXPECT_EQ(1, module->Write(pcm, 8));
        EXPECT_EQ(0, module->CanWrite());
        EXPECT_EQ(0, module->IsPlaying());
        EXPECT_EQ(0, module->Pause(1));
        module->SetVolume(10);
        module->Flush(700);
        EXPECT_EQ(700, module->GetOutputTime());
        module->Close();
        module->Quit();

        // Without settings the log stays off; otherwise it says why nothing plays.
        const std::string log = test::ReadFile(dir.File("quarrow log.txt"));
        if (successes == 0) {
            EXPECT_EQ("", log);
        } else {
            EXPECT_NE(std::string::npos, log.find("Failed to construct KSCore\r\n")) << log;
        }
    }
}

}  // namespace
