// Runs the installed-to-be binary end to end, as a script would.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

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

}  // namespace
}  // namespace weftloom
