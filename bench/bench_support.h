#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "engine/image.h"

#ifdef WEFTLOOM_BENCH_PICTURES
#include <QImage>
#endif

namespace weftloom::bench {

// texmetrics' key=value lines for the arguments given, or empty when it
// failed.
inline std::map<std::string, double> RunTexmetrics(const std::string& texmetrics,
                                                   const std::vector<std::string>& args) {
    std::map<std::string, double> values;
    std::string command = "'" + texmetrics + "'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return values;
    }
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        char* equals = std::strchr(line, '=');
        if (equals != nullptr) {
            *equals = '\0';
            values[line] = std::atof(equals + 1);
        }
    }
    if (pclose(pipe) != 0) {
        values.clear();
    }
    return values;
}

#ifdef WEFTLOOM_BENCH_PICTURES
inline QImage ToQImage(const Image& image) {
    QImage picture(static_cast<int>(image.width), static_cast<int>(image.height),
                   QImage::Format_RGB888);
    for (std::uint32_t y = 0; y < image.height; ++y) {
        for (std::uint32_t x = 0; x < image.width; ++x) {
            const std::uint8_t* p = image.PixelAt(x, y);
            picture.setPixel(
                static_cast<int>(x), static_cast<int>(y),
                image.bytesPerPixel >= 3 ? qRgb(p[0], p[1], p[2]) : qRgb(p[0], p[0], p[0]));
        }
    }
    return picture;
}
#endif

}  // namespace weftloom::bench
