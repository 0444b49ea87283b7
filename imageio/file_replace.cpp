#include "imageio/file_replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace weftloom {
namespace {

bool WriteWithFwrite(std::FILE* file, const std::uint8_t* data, std::size_t size) {
    return std::fwrite(data, 1, size, file) == size;
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

bool IsWritableImage(const Image& image, std::uint32_t maxSide) {
    if (image.pixels.empty() || (image.bytesPerPixel != 3 && image.bytesPerPixel != 4)) {
        return false;
    }
    if (image.width == 0 || image.height == 0 || image.width > maxSide || image.height > maxSide) {
        return false;
    }
    return image.pixels.size() ==
           std::uint64_t{image.width} * image.height * std::uint64_t{image.bytesPerPixel};
}

std::string SaveTargetOf(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        struct stat status {};
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
            break;
        }
        std::string target(static_cast<std::size_t>(status.st_size) + 1, '\0');
        const ssize_t length = readlink(path.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) {
            break;
        }
        target.resize(static_cast<std::size_t>(length));
        path = target[0] == '/' ? target : FolderOf(path) + target;
    }
    return path;
}

namespace {

// Creates a file beside the target that no one else uses, with the target's
// permissions when it exists (the umask applies otherwise). Returns its
// descriptor, or -1.
int CreateSibling(const std::string& target, std::string& siblingPath) {
    static std::atomic<unsigned> counter{0};
    const std::string prefix = FolderOf(target) + ".weftloom-save-" + std::to_string(getpid());
    struct stat existing {};
    const bool keepMode = stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    for (int attempt = 0; attempt < 100; ++attempt) {
        siblingPath = prefix + "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
        const int fd = open(siblingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (keepMode) {
                fchmod(fd, existing.st_mode & 07777);
            }
            return fd;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    siblingPath.clear();
    return -1;
}

}  // namespace

bool ReplaceFile(const std::string& givenPath, const FileEmitter& emit,
                 const FileBlockWriter& writeBlock, const std::atomic<bool>* abort) {
    if (givenPath.empty()) {
        errno = EINVAL;
        return false;
    }
    const std::string path = SaveTargetOf(givenPath);
    const auto aborted = [abort] {
        return abort != nullptr && abort->load(std::memory_order_relaxed);
    };
    std::string siblingPath;
    const int fd = CreateSibling(path, siblingPath);
    if (fd < 0) {
        return false;  // errno from the failed create
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        const int cause = errno;
        close(fd);
        unlink(siblingPath.c_str());
        errno = cause;
        return false;
    }
    // The first failing step's errno is what the caller hears; a writer that
    // fails without one reads as an input/output error.
    int cause = 0;
    const auto note = [&cause](bool done) {
        if (!done && cause == 0) {
            cause = errno != 0 ? errno : EIO;
        }
        return done;
    };
    errno = 0;
    bool ok = note(emit([&](const std::uint8_t* data, std::size_t size) {
        if (aborted()) {
            errno = EINTR;
            return false;
        }
        return writeBlock ? writeBlock(file, data, size) : WriteWithFwrite(file, data, size);
    }));
    // A full disk may only show at the flush or the close; the data must be
    // on disk before the rename makes it the file the user sees.
    ok = ok && note(std::fflush(file) == 0 && std::ferror(file) == 0 && fsync(fileno(file)) == 0);
    ok = note(std::fclose(file) == 0) && ok;
    // The last moment an abort keeps the old file.
    if (ok && aborted()) {
        errno = EINTR;
        ok = note(false);
    }
    ok = ok && note(std::rename(siblingPath.c_str(), path.c_str()) == 0);
    if (!ok) {
        unlink(siblingPath.c_str());
        errno = cause;
    }
    return ok;
}

}  // namespace weftloom
