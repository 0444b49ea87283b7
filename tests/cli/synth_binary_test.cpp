// Runs the installed-to-be binary end to end, as a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "engine/image.h"
#include "imageio/image_file.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

// Longer than any run here takes, even under a sanitizer.
constexpr auto kDeadline = std::chrono::seconds(60);

// Runs the tool with arguments, its standard output and error going to the
// files named (one file may take both), and gives its exit status (-1 when it
// did not exit). A child still running at the deadline is killed and the
// test fails, naming the command.
int RunBinary(const std::vector<std::string>& arguments, const std::string& out,
              const std::string& err) {
    std::vector<char*> argv = {const_cast<char*>(WEFTLOOM_SYNTH_BINARY)};
    std::string command = WEFTLOOM_SYNTH_BINARY;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
        command += " " + argument;
    }
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int errFd =
            err == out ? outFd : open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (outFd < 0 || errFd < 0 || dup2(outFd, STDOUT_FILENO) < 0 ||
            dup2(errFd, STDERR_FILENO) < 0) {
            _exit(126);
        }
        execv(WEFTLOOM_SYNTH_BINARY, argv.data());
        _exit(127);
    }
    if (pid < 0) {
        ADD_FAILURE() << "cannot start " << command;
        return -1;
    }
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "still running after " << kDeadline.count()
                          << " s, killed: " << command;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Text(const std::filesystem::path& path) {
    const auto bytes = test::ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Whole outputs of the command-line tool on a bundled sample. A changed hash
// is a changed behaviour to explain, never a number to paste.
TEST(SynthBinary, BundledSampleGivesTheRecordedTexture) {
    test::ScratchFolder scratch;
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"-s", "48x40", "--accuracy", "medium,medium,medium"}, "3711a5d06ebe877d"},
        {{"-s", "40x36", "--accuracy", "low,low,medium", "--subsampling", "off", "--metric", "l1",
          "--seed", "9"},
         "f3e90c881317ac71"},
    };
    const std::string output = (scratch / "out.tga").string();
    const std::string log = (scratch / "log.txt").string();
    for (const auto& [options, hash] : cases) {
        std::vector<std::string> arguments = {sample, "-o", output};
        arguments.insert(arguments.end(), options.begin(), options.end());
        ASSERT_EQ(RunBinary(arguments, log, log), 0) << Text(log);
        Image image;
        std::string reason;
        ASSERT_TRUE(LoadImageFile(output, image, reason)) << reason;
        EXPECT_EQ(testing::HashImage(image), hash) << ::testing::PrintToString(options);
    }
    // Usage and run errors leave with their codes, the reason on standard error.
    EXPECT_EQ(RunBinary({"--metric", "l7", "x.tga"}, log, log), 2);
    EXPECT_EQ(RunBinary({(scratch / "none.tga").string()}, log, log), 1);
    EXPECT_EQ(Text(log).rfind("weftloom-synth: cannot read", 0), 0u) << Text(log);
}

// What cannot reach standard output is a failure, whatever was written.
TEST(SynthBinary, AFullStandardOutputFails) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    test::ScratchFolder scratch;
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::string log = (scratch / "log.txt").string();
    EXPECT_EQ(
        RunBinary({sample, "-s", "32x32", "-o", (scratch / "out.tga").string()}, "/dev/full", log),
        1);
    EXPECT_NE(Text(log).find("cannot write to standard output: No space left on device"),
              std::string::npos)
        << Text(log);
    EXPECT_EQ(RunBinary({"--help"}, "/dev/full", log), 1);
    EXPECT_EQ(RunBinary({"--version"}, "/dev/full", log), 1);
}

}  // namespace
}  // namespace weftloom
