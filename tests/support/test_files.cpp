#include "tests/support/test_files.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace weftloom::test {

std::filesystem::path DataPath(const std::string& relative) {
    return std::filesystem::path(WEFTLOOM_TEST_DATA_DIR) / relative;
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>());
}

void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

bool ReadPpm(const std::filesystem::path& path, Image& image) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    // Header: "P6", width, height, maxval, separated by whitespace, then one
    // whitespace byte before the samples.
    std::size_t pos = 0;
    auto skipSpace = [&] {
        while (pos < bytes.size() && std::isspace(bytes[pos])) {
            ++pos;
        }
    };
    auto number = [&](std::uint32_t& value) {
        skipSpace();
        const std::size_t start = pos;
        value = 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos])) {
            value = value * 10 + (bytes[pos++] - '0');
        }
        return pos > start;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || bytes[1] != '6') {
        return false;
    }
    pos = 2;
    std::uint32_t width = 0, height = 0, maxval = 0;
    if (!number(width) || !number(height) || !number(maxval) || maxval != 255) {
        return false;
    }
    ++pos;
    if (!image.Allocate(width, height, 3) || bytes.size() - pos != image.pixels.size()) {
        return false;
    }
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(pos), bytes.end(), image.pixels.begin());
    return true;
}

std::vector<ExpectedRow> ReadExpectedTable(const std::filesystem::path& tsv) {
    std::ifstream in(tsv);
    std::vector<ExpectedRow> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        if (line.empty()) {
            continue;
        }
        std::istringstream fields(line);
        ExpectedRow row;
        std::string width, height;
        std::getline(fields, row.file, '\t');
        std::getline(fields, row.result, '\t');
        std::getline(fields, width, '\t');
        std::getline(fields, height, '\t');
        std::getline(fields, row.expected);
        if (row.result == "OK" || row.result == "APPROX") {
            row.width = static_cast<std::uint32_t>(std::stoul(width));
            row.height = static_cast<std::uint32_t>(std::stoul(height));
            // The expected column may carry a note after the file name.
            row.expected = row.expected.substr(0, row.expected.find(' '));
        }
        rows.push_back(row);
    }
    return rows;
}

double MeanAbsoluteDifference(const Image& a, const Image& b) {
    if (a.pixels.size() != b.pixels.size() || a.pixels.empty()) {
        return 1e9;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        sum += std::abs(int{a.pixels[i]} - int{b.pixels[i]});
    }
    return sum / static_cast<double>(a.pixels.size());
}

ScratchFolder::ScratchFolder() {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("weftloom-test-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace weftloom::test
