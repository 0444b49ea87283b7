#include "cli/synth_options.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <functional>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>
#include <type_traits>
#include <utility>

namespace weftloom {

namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// Reads a whole decimal number in [low, high]: digits only, no sign, blank or
// prefix; anything else is an error.
bool ParseNumber(const std::string& text, std::uint64_t low, std::uint64_t high,
                 std::uint64_t& value) {
    const char* first = text.data();
    const char* last = first + text.size();
    const auto [end, ec] = std::from_chars(first, last, value);
    return !text.empty() && ec == std::errc() && end == last && value >= low && value <= high;
}

// Why text is not a number option's value, or empty when it is one.
std::string NumberProblem(const char* name, const std::string& text, std::uint64_t low,
                          std::uint64_t high, std::uint64_t& value) {
    if (ParseNumber(text, low, high, value)) {
        return {};
    }
    const std::string range = std::to_string(low) + " to " + std::to_string(high);
    const bool digits = !text.empty() && std::all_of(text.begin(), text.end(),
                                                     [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        return std::string(name) + ": " + text + " is out of range; expected " + range;
    }
    return std::string(name) + ": expected a whole number from " + range +
           " in decimal digits, got '" + text + "'";
}

// A byte count: decimal digits, then K, M, G or T (powers of 1024), optionally
// followed by "B" or "iB"; plain digits are bytes.
bool ParseByteSize(const std::string& text, std::uint64_t& bytes) {
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') {
        ++digits;
    }
    std::uint64_t value = 0;
    if (!ParseNumber(text.substr(0, digits), 0, std::numeric_limits<std::uint64_t>::max(), value)) {
        return false;
    }
    const std::string unit = Lower(text.substr(digits));
    int shift = 0;
    if (!unit.empty() && unit != "b") {
        const std::size_t at = std::string("kmgt").find(unit[0]);
        const std::string rest = unit.substr(1);
        if (at == std::string::npos || !(rest.empty() || rest == "b" || rest == "ib")) {
            return false;
        }
        shift = 10 * static_cast<int>(at + 1);
    }
    if (value > (std::numeric_limits<std::uint64_t>::max() >> shift)) {
        return false;
    }
    bytes = value << shift;
    return true;
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

// More threads than this help no query; a larger number is a typing error.
constexpr std::uint64_t kMaxThreads = 256;
// Bounds of the coherent search's settings: beyond them a run only slows down.
constexpr std::uint64_t kMaxSimilar = 64;
constexpr std::uint64_t kMaxCorrections = 16;
constexpr std::uint64_t kMaxRandomTries = 64;
constexpr std::uint64_t kMaxSpread = 1024;

// The words the options use for an enum's values, in the order help lists them.
template <class E>
struct Word {
    E value;
    const char* text;
};

constexpr Word<Accuracy> kAccuracyWords[] = {
    {Accuracy::High, "high"}, {Accuracy::Medium, "medium"}, {Accuracy::Low, "low"}};
constexpr Word<SubsamplingMode> kSubsamplingWords[] = {{SubsamplingMode::Disabled, "off"},
                                                       {SubsamplingMode::Percentage, "percent"},
                                                       {SubsamplingMode::FixedCount, "count"}};
constexpr Word<SearchMethod> kSearchWords[] = {{SearchMethod::Exact, "exact"},
                                               {SearchMethod::Coherent, "coherent"}};
constexpr Word<CourseLayout> kCourseWords[] = {{CourseLayout::Auto, "auto"},
                                               {CourseLayout::Off, "off"},
                                               {CourseLayout::Rows, "rows"},
                                               {CourseLayout::Columns, "columns"}};
constexpr Word<DistanceMetric> kMetricWords[] = {
    {DistanceMetric::L1, "l1"}, {DistanceMetric::L2, "l2"}, {DistanceMetric::Linf, "linf"}};
constexpr Word<ProgressMode> kProgressWords[] = {
    {ProgressMode::Auto, "auto"}, {ProgressMode::Log, "log"}, {ProgressMode::None, "none"}};
constexpr Word<OutputFormat> kFormatWords[] = {{OutputFormat::Tga, "tga"},
                                               {OutputFormat::Png, "png"}};

template <class E, std::size_t N>
const char* WordFor(const Word<E> (&words)[N], E value) {
    for (const Word<E>& word : words) {
        if (word.value == value) {
            return word.text;
        }
    }
    return "?";
}

// Reads a word (any case) of the table into value; false when it is none of them.
template <class E, std::size_t N>
bool ValueFor(const Word<E> (&words)[N], const std::string& text, E& value) {
    const std::string lower = Lower(text);
    for (const Word<E>& word : words) {
        if (lower == word.text) {
            value = word.value;
            return true;
        }
    }
    return false;
}

// "a, b or c": the words of a table, as an error lists them.
template <class E, std::size_t N>
std::string Alternatives(const Word<E> (&words)[N]) {
    std::string text = words[0].text;
    for (std::size_t i = 1; i < N; ++i) {
        text += (i + 1 == N ? " or " : ", ") + std::string(words[i].text);
    }
    return text;
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
        const std::string word = text.substr(start, comma - start);
        if (!ValueFor(kAccuracyWords, word, levels[i])) {
            return "--accuracy: '" + Lower(word) + "' is not " + Alternatives(kAccuracyWords);
        }
        start = comma + 1;
    }
    settings.levelAccuracy = levels;
    return {};
}

// " (default X)" for a help line.
std::string Default(const std::string& value) {
    return " (default " + value + ")";
}

// The field a member pointer names, in the options or in their settings.
template <class Options, class T>
auto& FieldOf(Options& options, T SynthOptions::*member) {
    return options.*member;
}
template <class Options, class T>
auto& FieldOf(Options& options, T SynthesisSettings::*member) {
    return options.settings.*member;
}

// Stores an option's text in the field its row names; the problem with the
// text, or empty when it was stored.
using OptionReader = std::function<std::string(const std::string& text, SynthOptions& options)>;

// One option after the sample and the outputs, in the order help lists them.
// A row names its field itself, so that the option and the field cannot part.
struct OptionRow {
    std::string names;  // as CLI11 takes them: "-s,--size"
    std::string help;
    std::string typeName;                // a value's
    OptionReader read;                   // a value's
    bool SynthOptions::*flag = nullptr;  // a flag's field
    // The one search that uses the option; help says so, and giving it with
    // the other search is warned about.
    std::optional<SearchMethod> onlyFor = std::nullopt;
};

// A whole number from kLow to kHigh into member. Read as text, so that only
// decimal digits count and a value out of range names the range.
template <std::uint64_t kLow, std::uint64_t kHigh, class Member>
OptionRow Number(const char* name, const char* typeName, const char* help, Member member) {
    using Field = std::remove_cvref_t<decltype(FieldOf(std::declval<SynthOptions&>(), member))>;
    static_assert(kLow <= kHigh && std::in_range<Field>(kHigh), "the field holds every value");
    const SynthOptions defaults;
    return {name, help + Default(std::to_string(FieldOf(defaults, member))), typeName,
            [name, member](const std::string& text, SynthOptions& options) {
                std::uint64_t value = 0;
                std::string problem = NumberProblem(name, text, kLow, kHigh, value);
                if (problem.empty()) {
                    FieldOf(options, member) = static_cast<Field>(value);
                }
                return problem;
            }};
}

// One word of a table (any case) into member.
template <class E, std::size_t N, class Member>
OptionRow Choice(const char* name, const char* typeName, const std::string& help,
                 const Word<E> (&words)[N], Member member) {
    const SynthOptions defaults;
    return {name, help + Default(WordFor(words, FieldOf(defaults, member))), typeName,
            [name, &words, member](const std::string& text, SynthOptions& options) {
                if (ValueFor(words, text, FieldOf(options, member))) {
                    return std::string();
                }
                return std::string(name) + ": '" + text + "' is not " + Alternatives(words);
            }};
}

OptionRow Flag(const char* names, const char* help, bool SynthOptions::*field) {
    return {names, help, "", {}, field};
}

// The row of an option that only search uses.
OptionRow Only(SearchMethod search, OptionRow row) {
    row.help = WordFor(kSearchWords, search) + std::string(": ") + row.help;
    row.onlyFor = search;
    return row;
}

std::vector<OptionRow> OptionRows() {
    using S = SynthesisSettings;
    const S defaults;
    std::string accuracyDefault;
    for (const Accuracy accuracy : defaults.levelAccuracy) {
        accuracyDefault += (accuracyDefault.empty() ? "" : ",") + AccuracyName(accuracy);
    }
    constexpr SearchMethod kExact = SearchMethod::Exact;
    constexpr SearchMethod kCoherent = SearchMethod::Coherent;
    return {
        Choice("--format", "tga|png",
               "the format of the names the tool makes (<sample name>-synth.png) and of an -o "
               "name without an ending",
               kFormatWords, &SynthOptions::format),
        {"-s,--size", "output size; default: the sample's size; each side 1..65535", "WxH",
         &ParseSize},
        {"--accuracy",
         "Level 1, Level 2, Level 3 accuracy: high|medium|low each" + Default(accuracyDefault),
         "A1,A2,A3",
         [](const std::string& text, SynthOptions& options) {
             return ParseAccuracy(text, options.settings);
         }},
        Only(kExact, Choice("--subsampling", "MODE", "off | percent | count", kSubsamplingWords,
                            &S::subsamplingMode)),
        Only(kExact, Number<1, 2147483647>("--count", "N",
                                           "points a subsampled search aims at in mode count",
                                           &S::subsampleCount)),
        Only(kExact, Number<1, 100>("--percent", "P", "percent of the cloud in mode percent",
                                    &S::subsamplePercent)),
        Only(kExact, Number<0, 4294967295>("--min-pixels", "M",
                                           "mode percent applies from this cloud size on",
                                           &S::minimumPixelCount)),
        Choice("--metric", "METRIC", "l1 | l2 | linf", kMetricWords, &S::metric),
        Number<0, 4294967295>("--seed", "N", "starting state of the run's random generator",
                              &S::randomSeed),
        Number<0, kMaxThreads>(
            "--threads", "N",
            "threads to search with; 0: every core; the output is the same for any",
            &S::threadCount),
        Choice("--search", "exact|coherent",
               "exact: the nearest neighbourhood; coherent: a few candidates per pixel from where "
               "its neighbours came from; tiles, keeps more of the sample, much faster",
               kSearchWords, &S::searchMethod),
        Only(kCoherent, Number<0, kMaxSimilar>("--similar", "K",
                                               "look-alike sample positions kept per position (k)",
                                               &S::coherenceSetSize)),
        Only(kCoherent,
             Number<0, kMaxCorrections>("--corrections", "N",
                                        "passes over each level with whole neighbourhoods",
                                        &S::correctionPasses)),
        Only(kCoherent, Number<0, kMaxRandomTries>("--random-tries", "N",
                                                   "random sample positions each pixel also tries",
                                                   &S::randomCandidates)),
        Only(kCoherent,
             Number<0, kMaxSpread>("--spread", "W",
                                   "how strongly sample positions already used are avoided "
                                   "on the finest level (the coarser ones, which lay the "
                                   "texture out, three to ten times more); 16: one mean "
                                   "distance per even share of uses, 0: not at all",
                                   &S::occurrenceWeight)),
        Only(kCoherent,
             Number<0, kMaxSpread>("--balance", "W",
                                   "how strongly the output's brightness is held to the "
                                   "sample's: an over-represented brightness costs W/16 of a "
                                   "mean distance per share too many; 0: not at all",
                                   &S::balanceWeight)),
        Only(kCoherent, Number<1, 100>("--max-piece", "P",
                                       "largest piece copied verbatim, in percent of the sample",
                                       &S::pieceLimitPercent)),
        Only(kCoherent,
             Choice("--courses", "auto|off|rows|columns",
                    "lay a sample's courses (a brick wall's rows, planks, a board's grain) out "
                    "first, so that their lines run unbroken: auto where the sample has them, off "
                    "never, rows or columns always that way",
                    kCourseWords, &S::courses)),
        {"--max-memory",
         "refuse a run estimated to need more than this (512M, 4G, ...); default: the machine's "
         "memory",
         "SIZE",
         [](const std::string& text, SynthOptions& options) {
             if (!ParseByteSize(text, options.maxMemory)) {
                 return "--max-memory: expected a size such as 512M or 4G (decimal digits, then "
                        "K, M, G or T), got '" +
                        text + "'";
             }
             return options.maxMemory == 0 ? "--max-memory: the limit must be more than 0"
                                           : std::string();
         }},
        {"--fill",
         "fill, in each SAMPLE (a picture), the hole MASK marks (a picture of its size whose "
         "white, opaque pixels are the hole) with the picture's own pixels, instead of growing a "
         "texture; the outputs are named <sample name>-filled.png",
         "MASK",
         [](const std::string& text, SynthOptions& options) {
             options.fillMask = text;
             return text.empty() ? std::string("--fill: the mask's file name is empty")
                                 : std::string();
         }},
        Flag("--fill-transparent",
             "fill each SAMPLE's transparent pixels (alpha below 128) instead; they come out "
             "opaque",
             &SynthOptions::fillTransparent),
        Number<0, 65535>("--fill-from", "N",
                         "a fill copies only pixels within N pixels of the hole; 0: anywhere in "
                         "the picture",
                         &SynthOptions::fillFrom),
        Flag("--force", "replace the output even when it is read-only", &SynthOptions::force),
        Flag("--no-clobber", "never replace an existing output; a texture kept counts apart",
             &SynthOptions::noClobber),
        Choice("--progress", "MODE",
               "auto: a redrawn line on a terminal; log: a plain line per phase; none",
               kProgressWords, &SynthOptions::progress),
        Flag("-q,--quiet", "no progress display", &SynthOptions::quiet),
    };
}

// Help is laid out here, not by CLI11: wrapped to a terminal of 80 columns,
// and in the shape the manual page's maker reads.
constexpr std::size_t kHelpWidth = 79;
constexpr std::size_t kHelpColumn = 24;  // where an option's description starts

// Appends text's words to line, wrapping at kHelpWidth onto lines that start
// at column indent.
void AppendWrapped(std::string& help, std::string& line, const std::string& text,
                   std::size_t indent) {
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        // "<sample name>" stays on one line.
        const auto open = [&word] {
            const std::size_t at = word.rfind('<');
            return at != std::string::npos && word.find('>', at) == std::string::npos;
        };
        for (std::string more; open() && words >> more;) {
            word += " " + more;
        }
        const bool atStart = line.size() <= indent;
        if (!atStart && line.size() + 1 + word.size() > kHelpWidth) {
            help += line + "\n";
            line.assign(indent, ' ');
        }
        line += (line.size() <= indent ? "" : " ") + word;
    }
    help += line + "\n";
}

void AppendOption(std::string& help, const std::string& names, const std::string& typeName,
                  const std::string& text) {
    std::string line = "  " + names + (typeName.empty() ? "" : " " + typeName);
    if (line.size() + 1 >= kHelpColumn) {
        help += line + "\n";
        line.clear();
    }
    line.resize(kHelpColumn, ' ');
    AppendWrapped(help, line, text, kHelpColumn);
}

// "-s, --size": the names as help shows them.
std::string ShownNames(const std::string& names) {
    std::string shown;
    for (const char c : names) {
        shown += c == ',' ? std::string(", ") : std::string(1, c);
    }
    return shown;
}

// The long name of a row: "--size".
std::string LongName(const std::string& names) {
    return names.substr(names.rfind(',') + 1);
}

std::string HelpText(const std::vector<OptionRow>& rows) {
    std::string help = std::string("Usage: ") + kSynthProgramName + " SAMPLE... [OPTIONS]\n";
    std::string line;
    AppendWrapped(help, line,
                  "Grows a texture that looks like each SAMPLE (a TGA, JPEG or PNG picture) and "
                  "writes it as a TGA or PNG file; several samples are grown one after the other. "
                  "With --fill or --fill-transparent it fills a region of each SAMPLE instead.",
                  0);
    help += "\nOptions:\n";
    AppendOption(help, "-o, --output", "FILE",
                 "the texture to write: .tga or no ending for TGA, .png for PNG (.jpg and .jpeg "
                 "are written as .tga beside them); a folder: <sample name>-synth.tga in it; "
                 "default: <sample name>-synth.tga here");
    AppendOption(help, "-O, --output-dir", "FOLDER",
                 "the folder every texture goes to, as <sample name>-synth.tga (made when "
                 "missing); for several samples");
    for (const OptionRow& row : rows) {
        AppendOption(help, ShownNames(row.names), row.typeName, row.help);
    }
    AppendOption(help, "-h, --help", "", "print this help and exit");
    AppendOption(help, "--version", "", "print the version and exit");
    return help;
}

// Why -o's name cannot be written in the format asked for, or empty. A name
// that is a folder holds a made name; one without an ending is completed.
std::string OutputNameProblem(const std::string& name, OutputFormat format, bool formatGiven) {
    std::error_code error;
    if (name.back() == '/' || std::filesystem::is_directory(name, error)) {
        return {};
    }
    const std::string ending = Lower(std::filesystem::path(name).extension().string());
    if (ending.empty()) {
        return {};
    }
    const bool tga = ending == ".tga" || ending == ".jpg" || ending == ".jpeg";
    if (!tga && ending != ".png") {
        return "--output: '" + name +
               "' names no format this tool writes; end it in .tga or .png, or give no ending";
    }
    if (formatGiven && tga != (format == OutputFormat::Tga)) {
        return "--output '" + name + "' and --format " + FormatExtension(format) +
               " ask for different formats; give one";
    }
    return {};
}

// "a", "a and b", "a, b and c".
std::string Listed(const std::vector<std::string>& items) {
    std::string text;
    for (std::size_t i = 0; i < items.size(); ++i) {
        text += (i == 0 ? "" : i + 1 == items.size() ? " and " : ", ") + items[i];
    }
    return text;
}

}  // namespace

std::string AccuracyName(Accuracy accuracy) {
    return WordFor(kAccuracyWords, accuracy);
}

std::string FormatExtension(OutputFormat format) {
    return WordFor(kFormatWords, format);
}

std::string DefaultOutputPath(const std::string& samplePath, OutputFormat format, bool filled) {
    return std::filesystem::path(samplePath).stem().string() + (filled ? "-filled." : "-synth.") +
           FormatExtension(format);
}

std::optional<int> ParseSynthOptions(int argc, const char* const* argv, SynthOptions& options,
                                     std::ostream& out, std::ostream& err) {
    CLI::App app{"", kSynthProgramName};
    app.set_version_flag("--version", std::string(kSynthProgramName) + " " WEFTLOOM_VERSION);

    // Not required by CLI11, which would complain of a missing sample before
    // it names an unknown option.
    app.add_option("SAMPLE", options.samples);
    CLI::Option* output = app.add_option("-o,--output", options.output);
    CLI::Option* folderOption = app.add_option("-O,--output-dir", options.outputFolder);
    const std::vector<OptionRow> rows = OptionRows();
    std::vector<std::string> texts(rows.size());
    std::vector<CLI::Option*> given(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const OptionRow& row = rows[i];
        given[i] = row.flag != nullptr
                       ? app.add_flag(row.names, options.*row.flag, row.help)
                       : app.add_option(row.names, texts[i], row.help)->type_name(row.typeName);
    }

    auto usageError = [&err](const std::string& message) {
        err << kSynthProgramName << ": " << message << " (see --help)\n";
        return std::optional<int>(kExitUsage);
    };
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        out << HelpText(rows);
        return kExitSuccess;
    } catch (const CLI::CallForVersion& e) {
        out << e.what() << "\n";
        return kExitSuccess;
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extras = app.remaining();
        const std::string first = extras.empty() ? std::string() : extras.front();
        if (first.size() > 1 && first[0] == '-') {
            return usageError("unknown option '" + first.substr(0, first.find('=')) + "'");
        }
        return usageError("'" + first + "' is not understood");
    } catch (const CLI::ArgumentMismatch& e) {
        // Either an option given twice or one whose value is missing.
        for (const CLI::Option* option : app.get_options()) {
            if (option->count() > 1 && !option->get_type_name().empty()) {
                return usageError(option->get_name() + " is given more than once");
            }
        }
        const std::string what = e.what();
        return usageError(what.substr(0, what.find(':')) + " needs a value");
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    if (options.samples.empty()) {
        return usageError("no SAMPLE given: name the picture to grow a texture from");
    }
    if (output->count() != 0 && options.output.empty()) {
        return usageError("--output: the file name is empty");
    }
    if (folderOption->count() != 0 && options.outputFolder.empty()) {
        return usageError("--output-dir: the folder name is empty");
    }
    if (output->count() != 0 && folderOption->count() != 0) {
        return usageError("-o names one texture and -O a folder for all; give one of them");
    }
    if (output->count() != 0 && options.samples.size() > 1) {
        return usageError("-o names the texture of one sample; for " +
                          std::to_string(options.samples.size()) +
                          " samples, -O FOLDER says where they go");
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].read && given[i]->count() != 0) {
            if (std::string problem = rows[i].read(texts[i], options); !problem.empty()) {
                return usageError(problem);
            }
        }
    }
    std::vector<std::string> unused;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (given[i]->count() != 0 && rows[i].onlyFor &&
            *rows[i].onlyFor != options.settings.searchMethod) {
            unused.push_back(LongName(rows[i].names));
        }
    }
    if (!options.fillMask.empty() && options.fillTransparent) {
        return usageError("--fill and --fill-transparent each say where the hole is; give one");
    }
    if (options.Filling() && options.width != 0) {
        return usageError("--size does not go with a fill: a filled picture keeps its size");
    }
    if (!options.Filling() && app.get_option("--fill-from")->count() != 0) {
        return usageError("--fill-from applies to a fill: give --fill MASK or --fill-transparent");
    }
    if (options.Filling() && app.get_option("--format")->count() == 0) {
        options.format = OutputFormat::Png;  // a photograph keeps its alpha and detail
    }
    if (options.force && options.noClobber) {
        return usageError("--force and --no-clobber contradict each other; give one");
    }
    if (output->count() != 0) {
        const bool formatGiven = app.get_option("--format")->count() != 0;
        if (std::string problem = OutputNameProblem(options.output, options.format, formatGiven);
            !problem.empty()) {
            return usageError(problem);
        }
    }
    if (!unused.empty()) {
        const SearchMethod search = options.settings.searchMethod;
        const SearchMethod other =
            search == SearchMethod::Exact ? SearchMethod::Coherent : SearchMethod::Exact;
        err << kSynthProgramName << ": warning: the " << WordFor(kSearchWords, search)
            << " search does not use " << Listed(unused) << "; "
            << (unused.size() == 1 ? "it applies" : "they apply") << " to --search "
            << WordFor(kSearchWords, other) << "\n";
    }
    return std::nullopt;
}

}  // namespace weftloom
