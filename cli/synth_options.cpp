#include "cli/synth_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <ostream>

namespace weftloom {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads a whole decimal number in [low, high]; anything else is an error.
bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return !text.empty() && ec == std::errc() && end == last && value >= low && value <= high;
}

std::string ParseSize(const std::string& text, SynthOptions& options) {
    const std::string lower = Lower(text);
    const auto x = lower.find('x');
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (x == std::string::npos || !ParseNumber(lower.substr(0, x), 1, 65535, width) ||
        !ParseNumber(lower.substr(x + 1), 1, 65535, height)) {
        return "--size: expected WxH with each side 1 to 65535, got '" + text + "'";
    }
    options.width = static_cast<std::uint32_t>(width);
    options.height = static_cast<std::uint32_t>(height);
    return {};
}

std::string ParseAccuracy(const std::string& text, SynthesisSettings& settings) {
    std::array<Accuracy, 3> levels{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 3; ++i) {
        const std::size_t comma = text.find(',', start);
        if ((i < 2) == (comma == std::string::npos)) {
            return "--accuracy: expected three of high|medium|low separated by commas, got '" +
                   text + "'";
        }
        const std::string word = Lower(text.substr(start, comma - start));
        if (word == "high") {
            levels[i] = Accuracy::High;
        } else if (word == "medium") {
            levels[i] = Accuracy::Medium;
        } else if (word == "low") {
            levels[i] = Accuracy::Low;
        } else {
            return "--accuracy: '" + word + "' is not high, medium or low";
        }
        start = comma + 1;
    }
    settings.levelAccuracy = levels;
    return {};
}

const char* AccuracyWord(Accuracy accuracy) {
    switch (accuracy) {
        case Accuracy::High:
            return "high";
        case Accuracy::Medium:
            return "medium";
        case Accuracy::Low:
            return "low";
    }
    return "?";
}

const char* SubsamplingWord(SubsamplingMode mode) {
    switch (mode) {
        case SubsamplingMode::Disabled:
            return "off";
        case SubsamplingMode::Percentage:
            return "percent";
        case SubsamplingMode::FixedCount:
            return "count";
    }
    return "?";
}

const char* MetricWord(DistanceMetric metric) {
    switch (metric) {
        case DistanceMetric::L1:
            return "l1";
        case DistanceMetric::L2:
            return "l2";
        case DistanceMetric::Linf:
            return "linf";
    }
    return "?";
}

// " (default X)" for a help line.
template <class T>
std::string Default(const T& value) {
    return " (default " + std::string(value) + ")";
}

std::string Default(std::uint64_t value) {
    return Default(std::to_string(value));
}

}  // namespace

std::string AccuracyName(Accuracy accuracy) {
    return AccuracyWord(accuracy);
}

std::string DefaultOutputPath(const std::string& samplePath) {
    return std::filesystem::path(samplePath).stem().string() + "-synth.tga";
}

std::optional<int> ParseSynthOptions(int argc, const char* const* argv, SynthOptions& options,
                                     std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Grows a texture that looks like SAMPLE (a TGA or JPEG picture) and writes it "
        "as a TGA file.",
        kSynthProgramName};
    app.set_version_flag("--version", std::string(kSynthProgramName) + " " WEFTLOOM_VERSION);
    app.get_formatter()->column_width(24);

    SynthesisSettings& settings = options.settings;
    const SynthesisSettings defaults;
    std::string size;
    std::string accuracy;
    std::string subsampling = SubsamplingWord(settings.subsamplingMode);
    std::string metric = MetricWord(settings.metric);
    std::uint64_t count = static_cast<std::uint64_t>(settings.subsampleCount);
    std::uint64_t percent = settings.subsamplePercent;
    std::uint64_t minPixels = settings.minimumPixelCount;
    std::uint64_t seed = settings.randomSeed;
    const std::string accuracyDefault = std::string(AccuracyWord(defaults.levelAccuracy[0])) + "," +
                                        AccuracyWord(defaults.levelAccuracy[1]) + "," +
                                        AccuracyWord(defaults.levelAccuracy[2]);

    app.add_option("SAMPLE", options.sample, "the sample picture (.tga, .jpg or .jpeg)")
        ->required()
        ->type_name("");
    app.add_option("-o,--output", options.output,
                   "the texture to write (TGA); default: <sample name>-synth.tga here")
        ->type_name("FILE");
    app.add_option("-s,--size", size, "output size; default: the sample's size; each side 1..65535")
        ->type_name("WxH");
    app.add_option(
           "--accuracy", accuracy,
           "Level 1, Level 2, Level 3 accuracy: high|medium|low each" + Default(accuracyDefault))
        ->type_name("A1,A2,A3");
    app.add_option("--subsampling", subsampling,
                   std::string("off | percent | count") +
                       Default(SubsamplingWord(defaults.subsamplingMode)))
        ->type_name("MODE");
    app.add_option("--count", count,
                   "points a subsampled search aims at in mode count" +
                       Default(static_cast<std::uint64_t>(defaults.subsampleCount)))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{2147483647}).description(""));
    app.add_option("--percent", percent,
                   "percent of the cloud in mode percent" +
                       Default(std::uint64_t{defaults.subsamplePercent}))
        ->type_name("P")
        ->check(CLI::Range(std::uint64_t{1}, std::uint64_t{100}).description(""));
    app.add_option("--min-pixels", minPixels,
                   "mode percent applies from this cloud size on" +
                       Default(std::uint64_t{defaults.minimumPixelCount}))
        ->type_name("M")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{4294967295}).description(""));
    app.add_option("--metric", metric,
                   std::string("l1 | l2 | linf") + Default(MetricWord(defaults.metric)))
        ->type_name("METRIC");
    app.add_option("--seed", seed,
                   "starting state of the run's random generator" +
                       Default(std::uint64_t{defaults.randomSeed}))
        ->type_name("N")
        ->check(CLI::Range(std::uint64_t{0}, std::uint64_t{4294967295}).description(""));
    app.add_flag("-q,--quiet", options.quiet, "no progress display");

    auto usageError = [&err](const std::string& message) {
        err << kSynthProgramName << ": " << message << " (see --help)\n";
        return std::optional<int>(2);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << app.help();
        return 0;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return 0;
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (!size.empty()) {
        if (std::string problem = ParseSize(size, options); !problem.empty()) {
            return usageError(problem);
        }
    }
    if (!accuracy.empty()) {
        if (std::string problem = ParseAccuracy(accuracy, settings); !problem.empty()) {
            return usageError(problem);
        }
    }
    const std::string mode = Lower(subsampling);
    if (mode == "off") {
        settings.subsamplingMode = SubsamplingMode::Disabled;
    } else if (mode == "percent") {
        settings.subsamplingMode = SubsamplingMode::Percentage;
    } else if (mode == "count") {
        settings.subsamplingMode = SubsamplingMode::FixedCount;
    } else {
        return usageError("--subsampling: '" + subsampling + "' is not off, percent or count");
    }
    const std::string metricName = Lower(metric);
    if (metricName == "l1") {
        settings.metric = DistanceMetric::L1;
    } else if (metricName == "l2") {
        settings.metric = DistanceMetric::L2;
    } else if (metricName == "linf") {
        settings.metric = DistanceMetric::Linf;
    } else {
        return usageError("--metric: '" + metric + "' is not l1, l2 or linf");
    }
    settings.subsampleCount = static_cast<std::int32_t>(count);
    settings.subsamplePercent = static_cast<std::uint32_t>(percent);
    settings.minimumPixelCount = static_cast<std::uint32_t>(minPixels);
    settings.randomSeed = static_cast<std::uint32_t>(seed);
    return std::nullopt;
}

}  // namespace weftloom
