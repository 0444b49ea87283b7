// weftloom-synth: the command-line front end to the synthesis engine.
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <optional>

#include "cli/synth_options.h"
#include "cli/synth_run.h"

int main(int argc, char** argv) {
    weftloom::SynthOptions options;
    std::optional<int> exitCode =
        weftloom::ParseSynthOptions(argc, argv, options, std::cout, std::cerr);
    if (!exitCode) {
        weftloom::SynthRunContext context;
        context.out = &std::cout;
        context.err = &std::cerr;
        context.errIsTerminal = isatty(STDERR_FILENO) == 1;
        const char* term = std::getenv("TERM");
        context.dumbTerminal = term == nullptr || *term == '\0' || std::strcmp(term, "dumb") == 0;
        exitCode = weftloom::RunSynthFiles(options, context);
    }
    // Help, version or the result line that never reached standard output is a failure.
    std::cout.flush();
    if (!std::cout || !std::cerr) {
        if (std::cerr && std::cout.fail() && *exitCode == 0) {
            std::cerr << weftloom::kSynthProgramName << ": cannot write to standard output\n";
        }
        return weftloom::kExitFailure;
    }
    return *exitCode;
}
