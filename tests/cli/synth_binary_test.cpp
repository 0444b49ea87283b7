// Runs the installed-to-be binary end to end, as a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "cli/synth_run.h"
#include "engine/image.h"
#include "imageio/image_file.h"
#include "tests/support/test_files.h"
#include "tests/support/test_images.h"

namespace weftloom {
namespace {

int RunCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Quote(const std::string& text) {
    return "'" + text + "'";
}

// Whole outputs of the command-line tool on a bundled sample. A changed hash
// is a changed behaviour to explain, never a number to paste.
TEST(SynthBinary, BundledSampleGivesTheRecordedTexture) {
    test::ScratchFolder scratch;
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::pair<const char*, const char*> cases[] = {
        {"-s 48x40 --accuracy medium,medium,medium", "3711a5d06ebe877d"},
        {"-s 40x36 --accuracy low,low,medium --subsampling off --metric l1 --seed 9",
         "f3e90c881317ac71"},
    };
    const std::string binary = WEFTLOOM_SYNTH_BINARY;
    const std::string output = (scratch / "out.tga").string();
    const std::string log = (scratch / "log.txt").string();
    for (const auto& [arguments, hash] : cases) {
        const int code = RunCommand(binary + " " + Quote(sample) + " " + arguments + " -o " +
                                    Quote(output) + " > " + Quote(log) + " 2>&1");
        ASSERT_EQ(code, 0) << arguments;
        Image image;
        std::string reason;
        ASSERT_TRUE(LoadImageFile(output, image, reason)) << reason;
        EXPECT_EQ(testing::HashImage(image), hash) << arguments;
    }
    // Usage and run errors leave with their codes, the reason on standard error.
    EXPECT_EQ(RunCommand(binary + " --metric l7 x.tga 2> " + Quote(log)), 2);
    EXPECT_EQ(
        RunCommand(binary + " " + Quote((scratch / "none.tga").string()) + " 2> " + Quote(log)), 1);
    const auto bytes = test::ReadBytes(log);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()).rfind("weftloom-synth: cannot read", 0), 0u);
}

// A child running the tool, its standard output and error in files.
class Child {
  public:
    Child(const std::vector<std::string>& arguments, const std::string& log,
          const std::string& pauseMarker, bool ignoreInterrupt) {
        pid_ = fork();
        if (pid_ == 0) {
            if (ignoreInterrupt) {
                std::signal(SIGINT, SIG_IGN);
            }
            if (!pauseMarker.empty()) {
                setenv(kPauseSaveVariable, pauseMarker.c_str(), 1);
            }
            const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
            std::vector<char*> argv = {const_cast<char*>(WEFTLOOM_SYNTH_BINARY)};
            for (const std::string& argument : arguments) {
                argv.push_back(const_cast<char*>(argument.c_str()));
            }
            argv.push_back(nullptr);
            execv(WEFTLOOM_SYNTH_BINARY, argv.data());
            _exit(127);
        }
    }
    void Signal(int signal) const { kill(pid_, signal); }
    // Waits for path to appear; false when the child ended first.
    bool AwaitFile(const std::filesystem::path& path) {
        while (!std::filesystem::exists(path)) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                ended_ = true;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    // The exit status, or -1 when the child did not exit normally.
    int Wait() {
        if (!ended_) {
            waitpid(pid_, &status_, 0);
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
    }

  private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool ended_ = false;
};

std::vector<std::string> Leftovers(const test::ScratchFolder& scratch) {
    std::vector<std::string> found;
    for (const std::string& name : scratch.Entries()) {
        if (name.find(".weftloom") != std::string::npos) {
            found.push_back(name);
        }
    }
    return found;
}

// A stop signal during the save, held there by the tool's pause hook: the
// temporary file goes, the old output stays, and the status names the signal.
// A signal ignored when the tool starts stays ignored.
TEST(SynthBinary, StopSignalsDuringTheSaveLeaveTheOldOutput) {
    test::ScratchFolder scratch;
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::string output = (scratch / "out.tga").string();
    struct Case {
        std::vector<int> signals;  // sent in this order
        bool ignoreInterrupt;
        int status;
        const char* says;
    };
    const Case cases[] = {
        {{SIGINT}, false, 130, "interrupted; nothing written"},
        {{SIGTERM}, false, 143, "terminated; nothing written"},
        {{SIGINT, SIGTERM}, true, 143, "terminated; nothing written"},
    };
    for (const Case& c : cases) {
        test::WriteBytes(output, {'o', 'l', 'd'});
        const std::filesystem::path marker = scratch / "saving";
        std::filesystem::remove(marker);
        const std::string log = (scratch / "log.txt").string();
        Child child({sample, "-s", "40x40", "-q", "-o", output}, log, marker.string(),
                    c.ignoreInterrupt);
        ASSERT_TRUE(child.AwaitFile(marker)) << "ended before its save: " << child.Wait();
        std::filesystem::remove(marker);
        EXPECT_EQ(Leftovers(scratch).size(), 1u) << "the save's temporary file, paused";
        for (const int signal : c.signals) {
            child.Signal(signal);
        }
        EXPECT_EQ(child.Wait(), c.status) << c.says;
        EXPECT_EQ(test::ReadBytes(output), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
        EXPECT_TRUE(Leftovers(scratch).empty());
        const auto bytes = test::ReadBytes(log);
        EXPECT_NE(std::string(bytes.begin(), bytes.end()).find(c.says), std::string::npos)
            << std::string(bytes.begin(), bytes.end());
    }
}

// What cannot reach standard output is a failure, whatever was written.
TEST(SynthBinary, AFullStandardOutputFails) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full";
    }
    test::ScratchFolder scratch;
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::string log = Quote((scratch / "log.txt").string());
    const std::string binary = WEFTLOOM_SYNTH_BINARY;
    EXPECT_EQ(RunCommand(binary + " " + Quote(sample) + " -s 32x32 -o " +
                         Quote((scratch / "out.tga").string()) + " > /dev/full 2> " + log),
              1);
    const auto bytes = test::ReadBytes(scratch / "log.txt");
    EXPECT_NE(std::string(bytes.begin(), bytes.end())
                  .find("cannot write to standard output: No space left on device"),
              std::string::npos);
    EXPECT_EQ(RunCommand(binary + " --help > /dev/full 2> " + log), 1);
    EXPECT_EQ(RunCommand(binary + " --version > /dev/full 2> " + log), 1);
}

}  // namespace
}  // namespace weftloom
