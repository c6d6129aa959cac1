// Child processes against a real helper program (velmora_test_child): input, output, exit status,
// arguments that need quoting, environment, working folder, time limits and interruption.
#include "base/Process.h"
#include "base/Platform.h"
#include "tests/base/BaseTestSupport.h"
#include "tests/support/TestProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Velmora;

TEST(Process, FeedsInputCollectsOutputAndReportsTheExit) {
    ProcessDesc desc;
    desc.program = childHelper();
    desc.arguments = {"echo", "3"};
    desc.pipeInput = true;
    desc.captureOutput = true;
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    EXPECT_TRUE(child.running());
    EXPECT_GT(child.id(), 0);
    // More than a pipe holds at once: the writes wait for the reader.
    const std::string big(3 << 20, 'v');
    std::thread writer([&] {
        std::string problem;
        EXPECT_TRUE(child.writeInput(big.data(), big.size(), problem)) << problem;
        child.closeInput();
    });
    const std::string output = lines(child.readAllOutput());
    writer.join();
    EXPECT_EQ(output.size(), big.size() + 4);
    EXPECT_EQ(output.substr(output.size() - 4), "err\n");
    const ExitStatus status = child.wait();
    EXPECT_EQ(status.describe(), "exited with status 3");
    EXPECT_FALSE(status.success());
    EXPECT_FALSE(child.running());
    EXPECT_EQ(child.id(), 0);

    desc.program = "/no/such/program";
    ChildProcess missing;
    EXPECT_FALSE(missing.start(desc, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(missing.wait().started);
    EXPECT_EQ(findProgramOnPath("no-such-program-anywhere"), "");
}

TEST(Process, ArgumentsArriveAsGivenWhateverTheyHoldAndOutputGoesToFiles) {
    VelmoraTest::ScratchFolder scratch("process");
    const std::vector<std::string> words = {
        "plain",  "two words",   "",   "\"quoted\"", "back\\slash", "trailing\\", "tab\there",
        "a\\\"b", "caf\xc3\xa9", "-i", "%PATH%",     "$HOME",
    };
    ProcessDesc desc;
    desc.program = childHelper();
    desc.arguments = {"args"};
    desc.arguments.insert(desc.arguments.end(), words.begin(), words.end());
    desc.outputFile = scratch.file("out.txt");
    desc.errorFile = scratch.file("err.txt");
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    EXPECT_TRUE(child.wait().success());
    std::string expected;
    for (const std::string& word : words) {
        expected += word + "\n";
    }
    EXPECT_EQ(lines(VelmoraTest::readFile(desc.outputFile)), expected);
    EXPECT_EQ(VelmoraTest::readFile(desc.errorFile), "");
}

TEST(Process, EnvironmentAndWorkingFolderAreTheChildsOwn) {
    VelmoraTest::ScratchFolder scratch("process");
    VelmoraTest::makeFolder(scratch.file("inner"));
    VelmoraTest::RunOptions options;
    options.environment = {"VELMORA_CHILD_TEST=given value"};
    VelmoraTest::RunResult result =
        VelmoraTest::runProgram(childHelper(), {"env", "VELMORA_CHILD_TEST"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines(result.out), "given value\n");
    // Ours is untouched.
    EXPECT_EQ(environmentVariable("VELMORA_CHILD_TEST"), "");

    options.workingDirectory = scratch.file("inner");
    result = VelmoraTest::runProgram(childHelper(), {"cwd"}, options);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(lines(result.out), "inner\n");
}

TEST(Process, WaitingHasATimeLimitAndAKilledProcessIsNotASuccess) {
    ProcessDesc desc;
    desc.program = childHelper();
    desc.arguments = {"sleep", "30"};
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.waitFor(0.2).has_value());
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_TRUE(child.running());
    child.kill();
    const std::optional<ExitStatus> status = child.waitFor(10.0);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(status->started);
    EXPECT_FALSE(status->success());
    EXPECT_FALSE(status->exited) << status->describe();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST(Process, AnInterruptedChildEndsItself) {
    VelmoraTest::ScratchFolder scratch("process");
    ProcessDesc desc;
    desc.program = childHelper();
    desc.arguments = {"interruptible"};
    desc.outputFile = scratch.file("out.txt");
    ChildProcess child;
    std::string error;
    ASSERT_TRUE(child.start(desc, error)) << error;
    // Its handler is in place once it says so.
    for (int i = 0; i < 2000 && lines(VelmoraTest::readFile(desc.outputFile)) != "ready\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(lines(VelmoraTest::readFile(desc.outputFile)), "ready\n");
    child.interrupt();
    const std::optional<ExitStatus> status = child.waitFor(20.0);
    ASSERT_TRUE(status.has_value()) << "it did not end";
    if (VelmoraTest::interruptReachesChildren()) {
        EXPECT_TRUE(status->exited && status->code == 3) << status->describe();
    } else {
        // Without a console to ask it through (Windows), it is ended, never left running.
        EXPECT_FALSE(status->success()) << status->describe();
    }
}
