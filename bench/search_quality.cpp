// Compares the two searches, exact and coherent, at their default settings:
// the quality of what they grow and the time they take, side by side in one
// run, against the targets the coherent search was built to.
//
//   weftloom-bench-quality [--texmetrics PATH] [--repeat N] [--quick] [--pictures DIR]
//                          [--patterns DIR] [SAMPLES_DIR]
//
// Quality: each 64 x 64 "_a" crop of SAMPLES_DIR/crops grown to 192 x 192 by
// both searches, each output measured by texmetrics (run as a separate
// program: --texmetrics, default the one this build made). Patterns: each PNG
// of the patterns folder (--patterns, default SAMPLES_DIR/patterns; left out
// with a note when that default is missing) grown to 192 x 192 by both with
// seed 1, measured alike; its time is reading the pattern, growing it and
// writing the output, once for the exact search and best of N for the
// coherent one. Rare features: the bright pixels of the water crop grown to
// 192 x 192 by the coherent search, seeds 1 to 4, per eighth of the rows.
// Time: each 256 x 256 sample of SAMPLES_DIR/full grown to 256 x 256 by both;
// each run N times (default 3) and its best time counts. --quick leaves the
// time table out. --pictures writes, per crop and for a few patterns, the
// sample and both outputs side by side as PNG (when built with Qt).
#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "engine/synthesis_settings.h"
#include "engine/texture_synthesiser.h"
#include "imageio/image_file.h"

#ifdef WEFTLOOM_BENCH_PICTURES
#include <QImage>
#include <QPainter>
#endif

namespace {

using namespace weftloom;

struct Grown {
    Image image;
    double seconds = 0;
    bool done = false;
};

Grown Grow(const Image& sample, std::uint32_t width, std::uint32_t height, SearchMethod search,
           int repeats, std::uint32_t seed = RandomGenerator::kDefaultSeed) {
    SynthesisSettings settings;
    settings.searchMethod = search;
    settings.randomSeed = seed;
    Grown grown;
    grown.seconds = 1e30;
    for (int r = 0; r < repeats; ++r) {
        TextureSynthesiser job;
        ApplySettings(settings, job);
        const auto start = std::chrono::steady_clock::now();
        grown.done = job.Synthesise(sample, width, height);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        grown.seconds = std::min(grown.seconds, seconds);
        if (!grown.done) {
            return grown;
        }
        grown.image = *job.result;
    }
    return grown;
}

// texmetrics' key=value lines for sample and output, or empty when it failed.
std::map<std::string, double> Measure(const std::string& texmetrics, const std::string& sample,
                                      const std::string& output) {
    return bench::RunTexmetrics(texmetrics, {sample, output});
}

#ifdef WEFTLOOM_BENCH_PICTURES
using bench::ToQImage;

// The sample, then the exact and the coherent output, each shown twice its size.
bool WritePicture(const std::string& path, const Image& sample, const Image& exact,
                  const Image& coherent) {
    constexpr int kScale = 2;
    constexpr int kGap = 8;
    const int height = static_cast<int>(std::max(sample.height, exact.height)) * kScale;
    const int width =
        static_cast<int>(sample.width + exact.width + coherent.width) * kScale + 2 * kGap;
    QImage sheet(width, height, QImage::Format_RGB888);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int x = 0;
    for (const Image* image : {&sample, &exact, &coherent}) {
        const QImage picture = ToQImage(*image);
        painter.drawImage(QRect(x, 0, picture.width() * kScale, picture.height() * kScale),
                          picture);
        x += picture.width() * kScale + kGap;
    }
    painter.end();
    return sheet.save(QString::fromStdString(path), "PNG");
}
#endif

// texmetrics' two patch errors, each way, as one figure.
double Coherence(const std::map<std::string, double>& metrics) {
    return (metrics.at("coherence_rms") + metrics.at("completeness_rms")) / 2;
}

struct Row {
    std::string name;
    std::array<Grown, 2> grown;
    std::array<std::map<std::string, double>, 2> metrics;
    double Mean(std::size_t s) const { return Coherence(metrics[s]); }
};

constexpr const char* kCrops[] = {"bark",      "bricks", "sk_brick", "sk_grass",
                                  "sk_gravel", "smoke",  "water"};
constexpr const char* kSearchNames[] = {"exact", "coherent"};
// The patterns whose side-by-side pictures --pictures writes: regular shapes
// (bricks, stones, parquet strips), round spots and a fine grain.
constexpr const char* kPatternPictures[] = {"brick", "stone33", "leopard", "parque1", "walnut"};

const char* Verdict(bool met) {
    return met ? "met" : "NOT MET";
}

// Appends a printf-formatted line to text.
__attribute__((format(printf, 2, 3))) void Append(std::string& text, const char* format, ...) {
    char line[512];
    va_list values;
    va_start(values, format);
    std::vsnprintf(line, sizeof line, format, values);
    va_end(values);
    text += line;
}

// Reads the sample at path, grows it to 192 x 192 with seed 1 and writes the
// output as TGA, repeats times: a whole run but for the program's start. The
// best of the times counts.
bool GrowFile(const std::string& path, SearchMethod search, int repeats, const std::string& output,
              Grown& grown, std::string& saved, std::string& reason) {
    grown = Grown{};
    grown.seconds = 1e30;
    for (int r = 0; r < repeats; ++r) {
        const auto start = std::chrono::steady_clock::now();
        Image sample;
        if (!LoadImageFile(path, sample, reason)) {
            return false;
        }
        Grown one = Grow(sample, 192, 192, search, 1, 1);
        if (!one.done) {
            reason = "the run failed";
            return false;
        }
        if (!SaveImageFile(one.image, output, saved, reason)) {
            return false;
        }
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        grown.seconds = std::min(grown.seconds, seconds);
        grown.image = std::move(one.image);
        grown.done = true;
    }
    return true;
}

// The PNG patterns of dir, by name.
std::vector<std::filesystem::path> PatternFiles(const std::string& dir) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
        if (entry.path().extension() == ".png") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The patterns table and its targets for the coherent search: coherence,
// colours, the largest verbatim piece, the seam where the output wraps and
// the time; the target rows go into targets. Returns false when a run or a
// measure fails.
bool PatternTable(const std::vector<std::filesystem::path>& files, const std::string& texmetrics,
                  const std::filesystem::path& scratch, int repeats, const std::string& pictures,
                  std::string& targets) {
    std::printf(
        "\nPatterns: grown to 192 x 192, default settings, seed 1; time: read, grown and "
        "written, exact once, coherent best of %d\n\n",
        repeats);
    std::printf(
        "| pattern | exact: s / coherence / hist_emd / largest piece / seam | coherent: s / "
        "coherence / hist_emd / largest piece / seam |\n|---|---|---|\n");
    std::vector<Row> rows;
    std::array<std::array<double, 5>, 2> sums{};
    for (const auto& file : files) {
        Row row;
        row.name = file.stem().string();
        Image sample;
        std::string reason;
        std::string sampleTga;
        if (!LoadImageFile(file.string(), sample, reason) ||
            !SaveImageFile(sample, (scratch / ("pattern-" + row.name + ".tga")).string(), sampleTga,
                           reason)) {
            std::fprintf(stderr, "%s: %s\n", file.c_str(), reason.c_str());
            return false;
        }
        std::string cells[2];
        for (std::size_t s = 0; s < 2; ++s) {
            const std::string output =
                (scratch / ("pattern-" + row.name + "-" + kSearchNames[s] + ".tga")).string();
            std::string saved;
            if (!GrowFile(file.string(), static_cast<SearchMethod>(s), s == 0 ? 1 : repeats, output,
                          row.grown[s], saved, reason)) {
                std::fprintf(stderr, "%s: the %s run failed: %s\n", row.name.c_str(),
                             kSearchNames[s], reason.c_str());
                return false;
            }
            row.metrics[s] = Measure(texmetrics, sampleTga, saved);
            if (row.metrics[s].count("seam_ratio") == 0) {
                std::fprintf(stderr, "%s: texmetrics failed\n", saved.c_str());
                return false;
            }
            const auto& m = row.metrics[s];
            const std::array<double, 5> figures = {
                row.grown[s].seconds, row.Mean(s), m.at("hist_emd"),
                m.at("copy_max_region_frac_of_sample"), m.at("seam_ratio")};
            for (std::size_t f = 0; f < figures.size(); ++f) {
                sums[s][f] += figures[f];
            }
            char cell[96];
            std::snprintf(cell, sizeof cell, "%.2f / %.1f / %.1f / %.2f / %.2f", figures[0],
                          figures[1], figures[2], figures[3], figures[4]);
            cells[s] = cell;
        }
        std::printf("| %s | %s | %s |\n", row.name.c_str(), cells[0].c_str(), cells[1].c_str());
#ifdef WEFTLOOM_BENCH_PICTURES
        if (!pictures.empty() && std::find(std::begin(kPatternPictures), std::end(kPatternPictures),
                                           row.name) != std::end(kPatternPictures)) {
            std::filesystem::create_directories(pictures);
            const std::string path = pictures + "/pattern-" + row.name + "-searches.png";
            if (!WritePicture(path, sample, row.grown[0].image, row.grown[1].image)) {
                std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            }
        }
#else
        (void)pictures;
#endif
        rows.push_back(std::move(row));
    }
    const double count = static_cast<double>(rows.size());
    std::printf("| **mean** |");
    for (const auto& sum : sums) {
        std::printf(" %.2f / %.1f / %.1f / %.2f / %.2f |", sum[0] / count, sum[1] / count,
                    sum[2] / count, sum[3] / count, sum[4] / count);
    }
    std::printf("\n");

    // The targets, on the coherent search's figures: the largest of each and
    // how many patterns are over.
    struct Worst {
        double value = -1;
        std::string name;
        int over = 0;
    };
    const auto worst = [&rows](const auto& figure, double limit) {
        Worst w;
        for (const Row& row : rows) {
            const double value = figure(row);
            w.over += value > limit ? 1 : 0;
            if (value > w.value) {
                w.value = value;
                w.name = row.name;
            }
        }
        return w;
    };
    const Worst coherence = worst([](const Row& row) { return row.Mean(1); }, 12);
    const Worst piece = worst(
        [](const Row& row) { return row.metrics[1].at("copy_max_region_frac_of_sample"); }, 0.5);
    const Worst emd = worst([](const Row& row) { return row.metrics[1].at("hist_emd"); }, 2);
    const Worst seam = worst([](const Row& row) { return row.metrics[1].at("seam_ratio"); }, 1.5);
    const Worst time = worst([](const Row& row) { return row.grown[1].seconds; }, 0.5);
    const int total = static_cast<int>(rows.size());
    // 16 of 20, in proportion for another count.
    const int emdNeeded = static_cast<int>(std::ceil(0.8 * count));
    const double meanCoherence = sums[1][1] / count;
    Append(targets, "| mean coherence <= 5.5 | %.2f | %s |\n", meanCoherence,
           Verdict(meanCoherence <= 5.5));
    Append(targets,
           "| coherence <= 12 on every pattern | largest %.1f (%s), %d of %d over | %s |\n",
           coherence.value, coherence.name.c_str(), coherence.over, total,
           Verdict(coherence.over == 0));
    Append(targets,
           "| copy_max_region_frac_of_sample <= 0.5 on every pattern | largest %.3f (%s) | %s |\n",
           piece.value, piece.name.c_str(), Verdict(piece.over == 0));
    Append(targets, "| hist_emd <= 2 on at least %d of %d | %d of %d, largest %.1f (%s) | %s |\n",
           emdNeeded, total, total - emd.over, total, emd.value, emd.name.c_str(),
           Verdict(total - emd.over >= emdNeeded));
    Append(targets,
           "| seam_ratio <= 1.5 on every pattern | largest %.2f (%s), %d of %d over | %s |\n",
           seam.value, seam.name.c_str(), seam.over, total, Verdict(seam.over == 0));
    Append(targets, "| time <= 0.5 s a pattern | largest %.2f s (%s) | %s |\n", time.value,
           time.name.c_str(), Verdict(time.over == 0));
    return true;
}

// Whether a pixel is bright: its grey (Rec. 601 weights) above 200.
bool Bright(const std::uint8_t* p) {
    return 299 * p[0] + 587 * p[1] + 114 * p[2] > 200 * 1000;
}

// The water crop's bright caustics, grown by the coherent search with seeds 1
// to 4: their share per eighth of the rows, and whether the middle four
// eighths hold at least half the share of the outer four on every seed (no
// band where the texture wraps). The target row goes after the table.
bool RareFeatures(const std::string& samplePath, std::string& targets) {
    Image sample;
    std::string reason;
    if (!LoadImageFile(samplePath, sample, reason)) {
        std::fprintf(stderr, "%s: %s\n", samplePath.c_str(), reason.c_str());
        return false;
    }
    std::printf(
        "\nRare features: water_64_a grown to 192 x 192 by the coherent search, share of "
        "bright pixels (grey > 200)\n\n");
    std::printf(
        "| seed | share per eighth of the rows, top to bottom | middle four / outer four "
        "|\n|---|---|---|\n");
    bool met = true;
    std::string figure;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        const Grown grown = Grow(sample, 192, 192, SearchMethod::Coherent, 1, seed);
        if (!grown.done) {
            std::fprintf(stderr, "water_64_a: the coherent run with seed %u failed\n", seed);
            return false;
        }
        const Image& image = grown.image;
        std::string cells;
        std::array<double, 2> bright{};  // middle four eighths, outer four
        std::array<double, 2> pixels{};
        for (std::uint32_t e = 0; e < 8; ++e) {
            // The eighth's rows: from e * height / 8 up to the next one's.
            double count = 0;
            const std::uint32_t top = e * image.height / 8;
            const std::uint32_t bottom = (e + 1) * image.height / 8;
            for (std::uint32_t y = top; y < bottom; ++y) {
                for (std::uint32_t x = 0; x < image.width; ++x) {
                    count += Bright(image.PixelAt(x, y)) ? 1 : 0;
                }
            }
            const std::size_t half = e >= 2 && e < 6 ? 0 : 1;
            bright[half] += count;
            pixels[half] += static_cast<double>(bottom - top) * image.width;
            char cell[16];
            std::snprintf(cell, sizeof cell, "%s%.3f", e == 0 ? "" : ", ",
                          count / (static_cast<double>(bottom - top) * image.width));
            cells += cell;
        }
        const double middle = bright[0] / pixels[0];
        const double outer = bright[1] / pixels[1];
        met = met && middle >= outer / 2;
        char ratio[96];
        std::snprintf(ratio, sizeof ratio, "%.3f / %.3f", middle, outer);
        std::printf("| %u | %s | %s |\n", seed, cells.c_str(), ratio);
        std::snprintf(ratio, sizeof ratio, "%sseed %u: %.2f", seed == 1 ? "" : ", ", seed,
                      outer > 0 ? middle / outer : 1.0);
        figure += ratio;
    }
    Append(targets,
           "| rare features: water_64_a, seeds 1 to 4, bright share of the middle half of the "
           "rows at least half the outer half's | middle / outer: %s | %s |\n",
           figure.c_str(), Verdict(met));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Each table row as soon as it is measured, also into a file.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string dir = WEFTLOOM_TEXTURES_DIR;
    std::string texmetrics = WEFTLOOM_TEXMETRICS;
    std::string pictures;
    std::string patterns;
    int repeats = 3;
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--texmetrics") == 0 && i + 1 < argc) {
            texmetrics = argv[++i];
        } else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeats = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--quick") == 0) {
            quick = true;
        } else if (std::strcmp(argv[i], "--pictures") == 0 && i + 1 < argc) {
            pictures = argv[++i];
        } else if (std::strcmp(argv[i], "--patterns") == 0 && i + 1 < argc) {
            patterns = argv[++i];
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr,
                         "usage: weftloom-bench-quality [--texmetrics PATH] [--repeat N] "
                         "[--quick] [--pictures DIR] [--patterns DIR] [SAMPLES_DIR]\n");
            return 2;
        } else {
            dir = argv[i];
        }
    }
    if (texmetrics.empty() || !std::filesystem::exists(texmetrics)) {
        std::fprintf(stderr, "weftloom-bench-quality: no texmetrics program (--texmetrics PATH)\n");
        return 1;
    }
    // A folder named on the command line must hold patterns; the default one
    // may be missing.
    const bool defaultPatterns = patterns.empty();
    if (defaultPatterns) {
        patterns = dir + "/patterns";
    }
    const std::vector<std::filesystem::path> files = PatternFiles(patterns);
    if (files.empty() && !defaultPatterns) {
        std::fprintf(stderr, "%s: no PNG patterns\n", patterns.c_str());
        return 1;
    }
    const std::filesystem::path scratch =
        std::filesystem::temp_directory_path() / "weftloom-bench-quality";
    std::filesystem::create_directories(scratch);

    std::printf("Quality: 64 x 64 crops grown to 192 x 192, default settings, best of %d\n\n",
                repeats);
    std::printf(
        "| sample | search | time s | coherence_rms | completeness_rms | mean of both | hist_emd | "
        "copy_max_region_frac | seam_ratio |\n|---|---|---|---|---|---|---|---|---|\n");
    std::vector<Row> rows;
    for (const char* name : kCrops) {
        const std::string samplePath = dir + "/crops/" + name + "_64_a.tga";
        Image sample;
        std::string reason;
        if (!LoadImageFile(samplePath, sample, reason)) {
            std::fprintf(stderr, "%s: %s\n", samplePath.c_str(), reason.c_str());
            return 1;
        }
        Row row;
        row.name = name;
        for (std::size_t s = 0; s < 2; ++s) {
            row.grown[s] = Grow(sample, 192, 192, static_cast<SearchMethod>(s), repeats);
            const std::string output =
                (scratch / (std::string(name) + "-" + kSearchNames[s] + ".tga")).string();
            std::string saved;
            if (!row.grown[s].done || !SaveImageFile(row.grown[s].image, output, saved, reason)) {
                std::fprintf(stderr, "%s: the %s run failed\n", name, kSearchNames[s]);
                return 1;
            }
            row.metrics[s] = Measure(texmetrics, samplePath, saved);
            if (row.metrics[s].count("seam_ratio") == 0) {
                std::fprintf(stderr, "%s: texmetrics failed\n", saved.c_str());
                return 1;
            }
            const auto& m = row.metrics[s];
            std::printf("| %s | %s | %.2f | %.1f | %.1f | %.1f | %.1f | %.3f | %.2f |\n", name,
                        kSearchNames[s], row.grown[s].seconds, m.at("coherence_rms"),
                        m.at("completeness_rms"), row.Mean(s), m.at("hist_emd"),
                        m.at("copy_max_region_frac_of_sample"), m.at("seam_ratio"));
        }
#ifdef WEFTLOOM_BENCH_PICTURES
        if (!pictures.empty()) {
            std::filesystem::create_directories(pictures);
            const std::string path = pictures + "/" + name + "-searches.png";
            if (!WritePicture(path, sample, row.grown[0].image, row.grown[1].image)) {
                std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            }
        }
#endif
        rows.push_back(row);
    }

    // The targets, on the coherent search's figures.
    int emd4 = 0;
    bool emd8 = true;
    int lower = 0;
    double meanExact = 0;
    double meanCoherent = 0;
    double copyMax = 0;
    double seamMax = 0;
    for (const Row& row : rows) {
        const auto& m = row.metrics[1];
        emd4 += m.at("hist_emd") <= 4 ? 1 : 0;
        emd8 = emd8 && m.at("hist_emd") <= 8;
        lower += row.Mean(1) < row.Mean(0) ? 1 : 0;
        meanExact += row.Mean(0) / static_cast<double>(rows.size());
        meanCoherent += row.Mean(1) / static_cast<double>(rows.size());
        copyMax = std::max(copyMax, m.at("copy_max_region_frac_of_sample"));
        seamMax = std::max(seamMax, m.at("seam_ratio"));
    }
    std::printf("\n| target (coherent) | figure | |\n|---|---|---|\n");
    std::printf(
        "| hist_emd <= 4 on at least 6 of 7, <= 8 on all | %d of 7 <= 4, all <= 8: %s | %s |\n",
        emd4, emd8 ? "yes" : "no", Verdict(emd4 >= 6 && emd8));
    std::printf("| mean of both lower than exact's on at least 6 of 7 | %d of 7 | %s |\n", lower,
                Verdict(lower >= 6));
    std::printf("| its mean over the 7 at least 20 %% lower | %.2f vs %.2f: %.0f %% lower | %s |\n",
                meanCoherent, meanExact, 100 * (1 - meanCoherent / meanExact),
                Verdict(meanCoherent <= 0.8 * meanExact));
    // Pieces as large as the patterns' (half the sample) are allowed: the
    // search keeps shapes by copying whole ones.
    std::printf("| copy_max_region_frac_of_sample <= 0.5 on all | largest %.3f | %s |\n", copyMax,
                Verdict(copyMax <= 0.5));
    std::printf("| seam_ratio <= 1.5 on all | largest %.2f | %s |\n", seamMax,
                Verdict(seamMax <= 1.5));

    // The patterns, when there are any, and the rare features, with their
    // targets in one table.
    std::string targets;
    if (files.empty()) {
        std::printf("\nPatterns: none in %s, left out\n", patterns.c_str());
    } else if (!PatternTable(files, texmetrics, scratch, repeats, pictures, targets)) {
        return 1;
    }
    if (!RareFeatures(dir + "/crops/water_64_a.tga", targets)) {
        return 1;
    }
    std::printf("\n| target (coherent, patterns and rare features) | figure | |\n|---|---|---|\n%s",
                targets.c_str());

    if (quick) {
        return 0;
    }
    std::printf("\nTime: 256 x 256 samples grown to 256 x 256, default settings, best of %d\n\n",
                repeats);
    std::printf("| sample | exact s | coherent s | ratio |\n|---|---|---|---|\n");
    double totalExact = 0;
    double totalCoherent = 0;
    double worst = 1e30;
    for (const auto& entry : std::filesystem::directory_iterator(dir + "/full")) {
        if (entry.path().extension() != ".tga") {
            continue;
        }
        Image sample;
        std::string reason;
        if (!LoadImageFile(entry.path().string(), sample, reason)) {
            std::fprintf(stderr, "%s: %s\n", entry.path().c_str(), reason.c_str());
            return 1;
        }
        const Grown exact = Grow(sample, 256, 256, SearchMethod::Exact, repeats);
        const Grown coherent = Grow(sample, 256, 256, SearchMethod::Coherent, repeats);
        totalExact += exact.seconds;
        totalCoherent += coherent.seconds;
        worst = std::min(worst, exact.seconds / coherent.seconds);
        std::printf("| %s | %.2f | %.3f | %.1fx |\n", entry.path().stem().c_str(), exact.seconds,
                    coherent.seconds, exact.seconds / coherent.seconds);
    }
    std::printf("| all | %.2f | %.3f | %.1fx |\n", totalExact, totalCoherent,
                totalExact / totalCoherent);
    std::printf("\n| target | figure | |\n|---|---|---|\n");
    std::printf("| at least 10x faster | %.1fx over all, %.1fx on the slowest sample | %s |\n",
                totalExact / totalCoherent, worst, Verdict(totalExact >= 10 * totalCoherent));
    return 0;
}
