#pragma once

#include <fstream>
#include <string>

namespace weftloom::bench {

// The processor's model name as the system gives it ("unknown" without one),
// for benchmark headers: figures from different machines differ.
inline std::string ProcessorName() {
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);) {
        if (line.rfind("model name", 0) == 0) {
            const std::size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

}  // namespace weftloom::bench
