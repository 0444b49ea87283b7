#pragma once

// Helpers shared by the test programs: test data paths, whole-file I/O,
// binary PPM reading, the EXPECTED.tsv tables and a scratch folder.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "engine/image.h"

namespace weftloom::test {

std::filesystem::path DataPath(const std::string& relative);

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// Reads a binary PPM (P6, maxval 255) into a 3-byte image, or a PAM (P7,
// RGB_ALPHA, maxval 255) into a 4-byte one; false on any other file.
bool ReadPpm(const std::filesystem::path& path, Image& image);

// One row of an EXPECTED.tsv table.
struct ExpectedRow {
    std::string file;    // relative to the table's folder
    std::string result;  // OK, APPROX, FAIL or FATAL
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::string expected;  // the PPM, relative to the table's folder, or the reason
};
std::vector<ExpectedRow> ReadExpectedTable(const std::filesystem::path& tsv);

// Decodes each file alone, then all of them at once on threads of their own,
// a reader per thread and several rounds each; true when every threaded
// result matched. `decode` gives a file's pixels, nothing on failure.
bool SameResultsOnThreads(
    const std::vector<std::string>& paths,
    const std::function<std::vector<std::uint8_t>(const std::string&)>& decode);

// A fresh folder below the system's temporary folder, removed with its
// contents when the object goes.
class ScratchFolder {
  public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const;

  private:
    std::filesystem::path path_;
};

}  // namespace weftloom::test
