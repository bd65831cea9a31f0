// RunProgram and FindProgram: output capture, exit status, environment, and
// that the program gets nothing of this process but what it is given.
#include "sysstore/nss/child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace kavro {
namespace {

struct Outcome {
    bool started;
    ProgramResult result;
    std::string output;
};

Outcome RunIt(const std::vector<std::string> &arguments, std::size_t capacity = 4096,
          const std::vector<std::string> &environment = {}) {
    std::string output(capacity, '\0');
    Outcome run;
    run.started = RunProgram(FindProgram(arguments[0]), arguments, environment, &output[0], capacity, run.result);
    run.output = output.substr(0, run.result.outputLength);
    return run;
}

TEST(RunProgram, ArgumentsReachTheProgramUnchangedWithoutAShell) {
    Outcome run = RunIt({"echo", "a  b", "$HOME", "--x", "*"});
    ASSERT_TRUE(run.started);
    EXPECT_EQ(run.output, "a  b $HOME --x *\n");
    EXPECT_EQ(run.result.exitStatus, 0);
}

TEST(RunProgram, ExitStatusAndStandardErrorAreReported) {
    Outcome run = RunIt({"sh", "-c", "echo out; echo problem >&2; exit 3"});
    EXPECT_EQ(run.output, "out\n");
    EXPECT_EQ(run.result.errorText, "problem\n");
    EXPECT_EQ(run.result.exitStatus, 3);
    EXPECT_EQ(RunIt({"sh", "-c", "kill -9 $$"}).result.exitStatus, -1);
}

TEST(RunProgram, OutputBeyondTheCapacityIsReadAndDropped) {
    Outcome run = RunIt({"head", "-c", "300000", "/dev/zero"}, 10);
    EXPECT_EQ(run.result.outputLength, 10u);
    EXPECT_EQ(run.result.exitStatus, 0);  // not killed by a broken pipe
}

TEST(RunProgram, StandardInputIsEmpty) {
    Outcome run = RunIt({"cat"});
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.result.exitStatus, 0);
}

TEST(RunProgram, ExtraEnvironmentReplacesInheritedEntries) {
    setenv("KAVRO_CHILD_TEST", "inherited", 1);
    setenv("KAVRO_CHILD_KEPT", "kept", 1);
    Outcome run = RunIt({"sh", "-c", "printf '%s %s' \"$KAVRO_CHILD_TEST\" \"$KAVRO_CHILD_KEPT\""}, 4096,
                    {"KAVRO_CHILD_TEST=given"});
    EXPECT_EQ(run.output, "given kept");
    unsetenv("KAVRO_CHILD_TEST");
    unsetenv("KAVRO_CHILD_KEPT");
}

TEST(RunProgram, NoOtherDescriptorIsInherited) {
    int inheritable = open("/dev/null", O_RDONLY);  // deliberately without O_CLOEXEC
    ASSERT_GE(inheritable, 3);
    // ls runs in a child of the shell, which holds no pipe of its own while
    // it waits (a pipeline would race with it), and "; true" keeps the shell
    // from replacing itself with ls.
    Outcome run = RunIt({"sh", "-c", "ls /proc/$$/fd; true"});
    close(inheritable);
    EXPECT_EQ(run.output, "0\n1\n2\n");
}

TEST(RunProgram, AMissingProgramIsNotStarted) {
    ProgramResult result;
    char output[8];
    EXPECT_FALSE(RunProgram("/nonexistent/kavro-program", {"kavro-program"}, {}, output, sizeof output, result));
}

TEST(FindProgram, SearchesOnlyAbsoluteFoldersOfPath) {
    std::string sh = FindProgram("sh");
    ASSERT_FALSE(sh.empty());
    EXPECT_EQ(sh[0], '/');
    EXPECT_TRUE(FindProgram("kavro-no-such-program").empty());

    const char *saved = std::getenv("PATH");
    std::string savedPath = saved != nullptr ? saved : "";
    std::string folder = ::testing::TempDir() + "kavro_find_program";
    ASSERT_EQ(std::system(("mkdir -p " + folder + " && cp " + sh + " " + folder + "/kavro-tool").c_str()), 0);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    setenv("PATH", ":.:kavro", 1);
    EXPECT_TRUE(FindProgram("kavro-tool").empty());  // empty and relative entries name the working folder
    setenv("PATH", ("/nonexistent:" + folder).c_str(), 1);
    EXPECT_EQ(FindProgram("kavro-tool"), folder + "/kavro-tool");
    setenv("PATH", savedPath.c_str(), 1);
    ASSERT_EQ(chdir(cwd), 0);
}

}  // namespace
}  // namespace kavro
