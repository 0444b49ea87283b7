#include "imageio/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

// jpeglib.h needs FILE and size_t declared before it, and jerror.h needs
// jpeglib.h's configuration: its list of messages depends on what the library
// was built with.
#include <jpeglib.h>
// (kept apart, so that sorting the includes keeps this order)
#include <jerror.h>

namespace weftloom {
namespace {

// Progressive files with more scans than any encoder writes only serve to
// make decoding slow; libjpeg's own fuzzing uses the same bound.
constexpr int kMaxScans = 500;
// libjpeg's working memory (coefficient buffers of progressive files) may use
// up to this many bytes per pixel of the limit, and never less than the floor.
constexpr std::uint64_t kWorkingBytesPerPixel = 8;
constexpr std::uint64_t kWorkingMemoryFloor = 32u << 20;

struct ErrorManager {
    jpeg_error_mgr pub;  // first, so that libjpeg's pointer is also ours
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool rowsComplete;
    bool sawEnd;
};

// libjpeg-turbo decodes Huffman data on a fast path while a long stretch of
// it is buffered, and that path takes a bad code for a zero without a word.
// The coded data is handed over in small pieces, from a file and from memory
// alike, so that every bad code is reported and both read the same.
constexpr std::size_t kSourceChunk = 256;

struct Source {
    jpeg_source_mgr pub;  // first, so that libjpeg's pointer is also ours
    std::FILE* file;      // null: the bytes are in memory
    const std::uint8_t* data;
    std::size_t left;  // bytes in memory not yet handed over
    bool started;
    JOCTET buffer[kSourceChunk];
};

// Everything one decode needs, plain data only: a longjmp out of libjpeg may
// skip over it without leaking or missing a destructor.
struct DecodeJob {
    jpeg_decompress_struct info;
    ErrorManager error;
    jpeg_progress_mgr progress;
    Source source;
    std::uint64_t pixelLimit;
    bool headerOnly;    // stop after the frame header: width and height only
    std::uint8_t* rgb;  // malloc'ed, width x height x 3 bytes; freed by the caller
    std::uint32_t width;
    std::uint32_t height;
};
static_assert(std::is_trivially_destructible_v<DecodeJob>);

[[noreturn]] void JumpOut(ErrorManager* error) {
    std::longjmp(error->jump, 1);
}

void SetMessage(ErrorManager* error, const char* text) {
    std::snprintf(error->message, sizeof error->message, "%s", text);
}

[[noreturn]] void ExitOnError(j_common_ptr info) {
    auto* error = reinterpret_cast<ErrorManager*>(info->err);
    (*info->err->format_message)(info, error->message);
    JumpOut(error);
}

// libjpeg repairs what it finds wrong in the coded data and calls that a
// warning; here data it calls corrupt is refused with its own words, as the
// repaired picture is not the one that was stored, and a texture grown from
// it would repeat the damage. Other warnings (an unknown JFIF revision or
// Adobe transform) stay silent.
bool IsCorruptData(int code) {
    switch (code) {
        case JWRN_ARITH_BAD_CODE:
        case JWRN_EXTRANEOUS_DATA:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_MUST_RESYNC:
            return true;
        default:
            return false;
    }
}

// Coded data that ends before the last row is refused as an early end: libjpeg
// would pad the missing part with grey. The Huffman decoders say when they
// need bits past a marker; when that marker is the end of the image (a real
// one, or the one libjpeg puts where the file ends) the data is short. A file
// that lacks only its end marker asks for no such bits and is complete. The
// arithmetic decoder may legally run into a marker, so there the end of the
// file before the last row decides alone.
void EmitMessage(j_common_ptr info, int level) {
    if (level >= 0) {
        return;
    }
    auto* error = reinterpret_cast<ErrorManager*>(info->err);
    info->err->num_warnings++;
    const auto* decoder = reinterpret_cast<j_decompress_ptr>(info);
    const int code = info->err->msg_code;
    if (!error->rowsComplete) {
        const bool hitEnd = code == JWRN_HIT_MARKER && decoder->unread_marker == JPEG_EOI;
        error->sawEnd = error->sawEnd || code == JWRN_JPEG_EOF;
        const bool arithmetic = decoder->arith_code != FALSE;
        if (hitEnd || (error->sawEnd && arithmetic)) {
            SetMessage(error, "Premature end of JPEG file");
            JumpOut(error);
        }
    }
    if (IsCorruptData(code)) {
        (*info->err->format_message)(info, error->message);
        JumpOut(error);
    }
}

void OutputNothing(j_common_ptr) {}

void StartSource(j_decompress_ptr) {}

boolean FillSource(j_decompress_ptr info) {
    static const JOCTET kEndMarker[2] = {0xFF, JPEG_EOI};
    auto* source = reinterpret_cast<Source*>(info->src);
    std::size_t count = 0;
    if (source->file != nullptr) {
        count = std::fread(source->buffer, 1, kSourceChunk, source->file);
        source->pub.next_input_byte = source->buffer;
    } else {
        count = std::min(source->left, kSourceChunk);
        source->pub.next_input_byte = source->data;
        source->data += count;
        source->left -= count;
    }
    if (count == 0) {
        if (!source->started) {
            ERREXIT(info, JERR_INPUT_EMPTY);
        }
        // As libjpeg's own sources do: an end marker stands where the data
        // ends, with a warning that says so.
        WARNMS(info, JWRN_JPEG_EOF);
        source->pub.next_input_byte = kEndMarker;
        count = sizeof kEndMarker;
    }
    source->started = true;
    source->pub.bytes_in_buffer = count;
    return TRUE;
}

void SkipSource(j_decompress_ptr info, long count) {
    jpeg_source_mgr* source = info->src;
    while (count > static_cast<long>(source->bytes_in_buffer)) {
        count -= static_cast<long>(source->bytes_in_buffer);
        FillSource(info);
    }
    if (count > 0) {
        source->next_input_byte += count;
        source->bytes_in_buffer -= static_cast<std::size_t>(count);
    }
}

void EndSource(j_decompress_ptr) {}

void LimitScans(j_common_ptr info) {
    if (info->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxScans) {
        auto* error = reinterpret_cast<ErrorManager*>(info->err);
        SetMessage(error, "Too many scans in JPEG image.");
        JumpOut(error);
    }
}

std::uint8_t Scale(unsigned a, unsigned b) {
    return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// The only function that calls libjpeg. The setjmp comes first; every
// libjpeg error lands there, destroys the decompressor and returns false.
// The image goes to job->rgb, which the caller copies and frees.
bool DecodeJpeg(DecodeJob* job) {
    if (setjmp(job->error.jump) != 0) {
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    job->info.err = jpeg_std_error(&job->error.pub);
    job->error.pub.error_exit = ExitOnError;
    job->error.pub.emit_message = EmitMessage;
    job->error.pub.output_message = OutputNothing;
    jpeg_create_decompress(&job->info);

    const std::uint64_t workingMemory =
        std::max(job->pixelLimit * kWorkingBytesPerPixel, kWorkingMemoryFloor);
    job->info.mem->max_memory_to_use =
        static_cast<long>(std::min<std::uint64_t>(workingMemory, 1ull << 40));
    job->progress.progress_monitor = LimitScans;
    job->info.progress = &job->progress;

    job->source.pub.init_source = StartSource;
    job->source.pub.fill_input_buffer = FillSource;
    job->source.pub.skip_input_data = SkipSource;
    job->source.pub.resync_to_restart = jpeg_resync_to_restart;
    job->source.pub.term_source = EndSource;
    job->info.src = &job->source.pub;
    if (jpeg_read_header(&job->info, TRUE) != JPEG_HEADER_OK) {
        SetMessage(&job->error, "No image in JPEG file.");
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    const std::uint64_t pixelCount = std::uint64_t{job->info.image_width} * job->info.image_height;
    if (pixelCount > job->pixelLimit) {
        SetMessage(&job->error, "Image too large in JPEG image.");
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    if (job->headerOnly) {
        job->width = job->info.image_width;
        job->height = job->info.image_height;
        jpeg_destroy_decompress(&job->info);
        return true;
    }

    jpeg_start_decompress(&job->info);
    const int components = job->info.output_components;
    const bool grey = components == 1;
    const bool cmyk = components == 4 && job->info.out_color_space == JCS_CMYK;
    if (!grey && components != 3 && !cmyk) {
        SetMessage(&job->error, "Unsupported color space in JPEG image.");
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    // Adobe's writers store CMYK inverted (0 = full ink).
    const bool inverted = cmyk && job->info.saw_Adobe_marker;
    const std::uint32_t width = job->info.output_width;
    const std::uint32_t height = job->info.output_height;
    const std::size_t rowBytes = std::size_t{width} * 3;

    job->rgb = static_cast<std::uint8_t*>(std::malloc(rowBytes * height));
    if (job->rgb == nullptr) {
        SetMessage(&job->error, "Out of memory reading JPEG image.");
        jpeg_destroy_decompress(&job->info);
        return false;
    }
    JSAMPARRAY sampleRow = (*job->info.mem->alloc_sarray)(
        reinterpret_cast<j_common_ptr>(&job->info), JPOOL_IMAGE,
        static_cast<JDIMENSION>(width * static_cast<unsigned>(components)), 1);

    while (job->info.output_scanline < height) {
        const std::uint32_t y = job->info.output_scanline;
        if (jpeg_read_scanlines(&job->info, sampleRow, 1) != 1) {
            SetMessage(&job->error, "Error reading data from JPEG image.");
            jpeg_destroy_decompress(&job->info);
            return false;
        }
        const JSAMPLE* in = sampleRow[0];
        std::uint8_t* out = job->rgb + rowBytes * y;
        if (grey) {
            for (std::uint32_t x = 0; x < width; ++x, out += 3) {
                out[0] = out[1] = out[2] = in[x];
            }
        } else if (!cmyk) {
            std::memcpy(out, in, rowBytes);
        } else {
            for (std::uint32_t x = 0; x < width; ++x, in += 4, out += 3) {
                const unsigned k = inverted ? in[3] : 255u - in[3];
                for (int c = 0; c < 3; ++c) {
                    out[c] = Scale(inverted ? in[c] : 255u - in[c], k);
                }
            }
        }
    }
    job->error.rowsComplete = true;
    jpeg_finish_decompress(&job->info);
    job->width = width;
    job->height = height;
    jpeg_destroy_decompress(&job->info);
    return true;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

void JpegReader::Clear() {
    std::vector<std::uint8_t>().swap(pixels);
    width = 0;
    height = 0;
    errorText.clear();
}

namespace {

// Runs one decode and moves its result into the reader's fields.
bool Finish(DecodeJob& job, bool decoded, JpegReader& reader) {
    bool ok = decoded;
    if (ok) {
        try {
            const std::size_t bytes = std::size_t{job.width} * job.height * 3;
            reader.pixels.assign(job.rgb, job.rgb + bytes);
            reader.width = job.width;
            reader.height = job.height;
        } catch (const std::bad_alloc&) {
            reader.Clear();
            reader.errorText = "Out of memory reading JPEG image.";
            ok = false;
        }
    } else {
        reader.errorText = job.error.message;
    }
    std::free(job.rgb);
    return ok;
}

}  // namespace

bool JpegReader::Read(const std::string& path) {
    Clear();
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        errorText = "Error opening JPEG image.";
        return false;
    }
    return Read(file.get());
}

bool JpegReader::Read(std::FILE* file) {
    Clear();
    if (file == nullptr) {
        errorText = "Error opening JPEG image.";
        return false;
    }
    std::unique_ptr<DecodeJob> job(new (std::nothrow) DecodeJob());
    if (!job) {
        errorText = "Out of memory reading JPEG image.";
        return false;
    }
    job->source.file = file;
    job->pixelLimit = pixelLimit;
    return Finish(*job, DecodeJpeg(job.get()), *this);
}

bool JpegReader::ReadHeader(std::FILE* file) {
    Clear();
    std::unique_ptr<DecodeJob> job(new (std::nothrow) DecodeJob());
    if (!job || file == nullptr) {
        errorText = job ? "Error opening JPEG image." : "Out of memory reading JPEG image.";
        return false;
    }
    job->source.file = file;
    job->pixelLimit = pixelLimit;
    job->headerOnly = true;
    if (!DecodeJpeg(job.get())) {
        errorText = job->error.message;
        return false;
    }
    width = job->width;
    height = job->height;
    return true;
}

bool JpegReader::ReadFromMemory(const std::uint8_t* data, std::size_t size) {
    Clear();
    std::unique_ptr<DecodeJob> job(new (std::nothrow) DecodeJob());
    if (!job) {
        errorText = "Out of memory reading JPEG image.";
        return false;
    }
    job->source.data = data;
    job->source.left = data != nullptr ? size : 0;
    job->pixelLimit = pixelLimit;
    return Finish(*job, DecodeJpeg(job.get()), *this);
}

}  // namespace weftloom
