// weftloom-synth: the command-line front end to the synthesis engine.
#include <unistd.h>

#include <iostream>

#include "cli/synth_options.h"
#include "cli/synth_run.h"

int main(int argc, char** argv) {
    weftloom::SynthOptions options;
    if (auto exitCode = weftloom::ParseSynthOptions(argc, argv, options, std::cout, std::cerr)) {
        return *exitCode;
    }
    weftloom::SynthRunContext context;
    context.out = &std::cout;
    context.err = &std::cerr;
    context.errIsTerminal = isatty(STDERR_FILENO) == 1;
    return weftloom::RunSynth(options, context);
}
