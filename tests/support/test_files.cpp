#include "tests/support/test_files.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

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
    const std::string header(bytes.begin(),
                             bytes.begin() + std::min<std::ptrdiff_t>(128, std::ssize(bytes)));
    unsigned width = 0, height = 0, maxval = 0, depth = 3;
    int end = 0;
    // P6: width, height and maxval apart by whitespace, then one whitespace
    // byte before the samples. P7 (RGB_ALPHA only): the header ends with a
    // line "ENDHDR".
    const bool p6 =
        std::sscanf(header.c_str(), "P6 %u %u %u%n", &width, &height, &maxval, &end) == 3;
    const bool p7 = !p6 && std::sscanf(header.c_str(),
                                       "P7 WIDTH %u HEIGHT %u DEPTH %u MAXVAL %u TUPLTYPE "
                                       "RGB_ALPHA ENDHDR%n",
                                       &width, &height, &depth, &maxval, &end) == 4;
    if ((!p6 && !p7) || maxval != 255 || (p7 && depth != 4) ||
        !image.Allocate(width, height, depth) ||
        bytes.size() != static_cast<std::size_t>(end) + 1 + image.pixels.size()) {
        return false;
    }
    std::copy(bytes.end() - std::ssize(image.pixels), bytes.end(), image.pixels.begin());
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

bool SameResultsOnThreads(
    const std::vector<std::string>& paths,
    const std::function<std::vector<std::uint8_t>(const std::string&)>& decode) {
    std::vector<std::vector<std::uint8_t>> alone;
    for (const std::string& path : paths) {
        alone.push_back(decode(path));
    }
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (std::size_t t = 0; t < paths.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 4; ++round) {
                if (alone[t].empty() || decode(paths[t]) != alone[t]) {
                    ++mismatches;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return mismatches == 0;
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
