// QUARROW_SIM_MACHINE: the machine a process starts with, seen from a child
// process (machine_probe) started with the variable set or unset.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "support/wait.h"

extern char** environ;

namespace {

struct ProbeRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the probe with QUARROW_SIM_MACHINE set to `machine` (unset when null).
ProbeRun Probe(const char* machine, const char* first = "setupapi") {
    test::TempDir dir;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "QUARROW_SIM_MACHINE=", 20) != 0) env.emplace_back(*e);
    }
    if (machine != nullptr) env.push_back(std::string("QUARROW_SIM_MACHINE=") + machine);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::string program = SIM_MACHINE_PROBE;
    std::string argument = first;
    char* argv[] = {program.data(), argument.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, dir.File("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, dir.File("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    ProbeRun run;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    EXPECT_EQ(0, spawned);
    if (spawned != 0) return run;
    const bool ended = test::WaitUntil([&] { return waitpid(pid, &run.status, WNOHANG) == pid; });
    EXPECT_TRUE(ended);
    if (!ended) {
        kill(pid, SIGKILL);
        waitpid(pid, &run.status, 0);
    }
    run.out = test::ReadFile(dir.File("out"));
    run.err = test::ReadFile(dir.File("err"));
    return run;
}

const std::string kDefaultPath = "\\\\?\\root#media#0000#{6994ad04-93ef-11d0-a3cc-00a0c9223196}\\simspeakers";

TEST(MachineEnvironment, UnsetGivesTheDefaultMachine) {
    const ProbeRun run = Probe(nullptr);
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("audio interfaces 1\ndevice " + kDefaultPath + "\nafter reset 1\n", run.out);
    EXPECT_EQ("", run.err);
}

TEST(MachineEnvironment, AFileDescribesTheMachine) {
    test::TempDir dir;
    const std::string two = dir.File("two.json");
    test::WriteFile(two, R"({"devices": [{"path": "first"}, {"path": "second", "present": false}]})");
    const std::string none = dir.File("none.json");
    test::WriteFile(none, R"({"devices": []})");

    ProbeRun run = Probe(two.c_str());
    EXPECT_EQ(0, run.status);
    EXPECT_EQ("audio interfaces 1\ndevice first\ndevice second\nafter reset 2\n", run.out);
    EXPECT_EQ("", run.err);

    run = Probe(none.c_str());
    EXPECT_EQ("audio interfaces 0\nafter reset 0\n", run.out);
    EXPECT_EQ("", run.err);
}

TEST(MachineEnvironment, AnUnusableFileIsReportedOnceAndLeavesNoDevices) {
    test::TempDir dir;
    const std::string bad = dir.File("bad.json");
    test::WriteFile(bad, R"({"devices": [{"path": "a", "pins": [{"ranges": [{"max_bits": "32"}]}]}]})");
    const std::string missing = dir.File("missing.json");
    const struct Case {
        std::string file;
        const char* first;
        std::string message;
        std::string out;
    } cases[] = {
        {bad, "setupapi", bad + ": devices[0].pins[0].ranges[0].max_bits: expected a number",
         "audio interfaces 0\nafter reset 0\n"},
        {bad, "createfile", bad + ": devices[0].pins[0].ranges[0].max_bits: expected a number",
         "opened 0\nafter reset 0\n"},
        {bad, "loadlibrary", bad + ": devices[0].pins[0].ranges[0].max_bits: expected a number",
         "ksuser 1\nafter reset 0\n"},
        {bad, "reset", bad + ": devices[0].pins[0].ranges[0].max_bits: expected a number", "after reset 0\n"},
        {missing, "setupapi", missing + ": cannot be read (No such file or directory)",
         "audio interfaces 0\nafter reset 0\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " " + c.file);
        const ProbeRun run = Probe(c.file.c_str(), c.first);
        EXPECT_EQ(0, run.status);
        EXPECT_EQ(c.out, run.out);
        EXPECT_EQ("sim: QUARROW_SIM_MACHINE: " + c.message + "; the machine has no devices\n", run.err);
    }
}

}  // namespace
