// Runs the installed-to-be binary end to end, as a script would.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
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

namespace fs = std::filesystem;

// Longer than any run here takes, even under a sanitizer.
constexpr auto kDeadline = std::chrono::seconds(60);
// The status of a child that was to run without root's privileges and could
// not: they could not be dropped, or the program is out of nobody's reach.
constexpr int kNotUnprivileged = 125;

// Runs program with arguments and no display, its standard output and error
// going to the files named (one file may take both), and gives its exit
// status (-1 when it did not exit). A child still running at the deadline is
// killed and the test fails, naming the command. unprivileged: run as
// "nobody" when this process is root.
int RunProgram(const char* program, const std::vector<std::string>& arguments,
               const std::string& out, const std::string& err, bool unprivileged = false) {
    std::vector<char*> argv = {const_cast<char*>(program)};
    std::string command = program;
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
        constexpr uid_t kNobody = 65534;
        if (unprivileged && geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0 ||
             access(program, X_OK) != 0)) {
            _exit(kNotUnprivileged);
        }
        for (const char* display : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            unsetenv(display);
        }
        execv(program, argv.data());
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

int RunBinary(const std::vector<std::string>& arguments, const std::string& out,
              const std::string& err, bool unprivileged = false) {
    return RunProgram(WEFTLOOM_SYNTH_BINARY, arguments, out, err, unprivileged);
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

// An output folder that cannot be made or looked up is one line with the
// system's reason and status 1, never an abort.
TEST(SynthBinary, AnOutputFolderThatCannotBeMadeFailsInOneLine) {
    test::ScratchFolder scratch;
    fs::create_symlink("loop2", scratch / "loop1");
    fs::create_symlink("loop1", scratch / "loop2");
    fs::create_directory(scratch / "locked");
    fs::permissions(scratch / "locked", fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(scratch.path(),
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
    const std::string sample = std::string(WEFTLOOM_SAMPLES_DIR) + "/sk_brick_64_a.tga";
    const std::string log = (scratch / "log.txt").string();
    struct Case {
        std::string folder;
        const char* says;
        bool unprivileged = false;  // last: skipped where privileges cannot be dropped
    };
    const Case cases[] = {
        {"loop1", "loop1': Too many levels of symbolic links"},
        {"loop1/sub", "Too many levels of symbolic links"},
        {std::string(300, 'x'), "File name too long"},
        {"locked/out", "locked/out': Permission denied", true},
    };
    for (const Case& c : cases) {
        const int status =
            RunBinary({sample, "-O", (scratch / c.folder).string()}, log, log, c.unprivileged);
        if (status == kNotUnprivileged) {
            GTEST_SKIP() << "running as root, and the tool cannot be run as nobody here";
        }
        const std::string said = Text(log);
        EXPECT_EQ(status, 1) << c.folder << ": " << said;
        EXPECT_EQ(said.rfind("weftloom-synth: cannot make the folder '", 0), 0u) << said;
        EXPECT_NE(said.find(std::string(c.says) + "\n"), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
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

#ifdef WEFTLOOM_APP_BINARY
// The desktop application answers --help and --version and ends, without a
// display: a window it tried to open would end it with an error instead.
TEST(DesktopBinary, HelpAndVersionPrintWithoutAWindow) {
    test::ScratchFolder scratch;
    const std::string out = (scratch / "out.txt").string();
    const std::string err = (scratch / "err.txt").string();
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"--help"}, "Usage: weftloom [OPTIONS] [FILE...]\n"},
        {{"picture.tga", "-h"}, "Usage: weftloom"},
        {{"--version"}, "weftloom " WEFTLOOM_VERSION "\n"},
    };
    for (const auto& [arguments, says] : cases) {
        EXPECT_EQ(RunProgram(WEFTLOOM_APP_BINARY, arguments, out, err), 0) << Text(err);
        EXPECT_EQ(Text(out).rfind(says, 0), 0u) << Text(out);
        EXPECT_TRUE(Text(err).empty()) << Text(err);
    }
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(RunProgram(WEFTLOOM_APP_BINARY, {"--help"}, "/dev/full", err), 1);
    }
}
#endif

}  // namespace
}  // namespace weftloom
