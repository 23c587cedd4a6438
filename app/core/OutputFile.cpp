#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tolvane {

namespace {

std::string errorText(int error) {
    return std::strerror(error);
}

bool writeAll(int descriptor, std::string_view bytes, int& error) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            error = written < 0 ? errno : EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// A regular file (or a new one) replaced on Commit by a temporary file written beside it: the
// target of a symbolic link, keeping the permissions of the file it replaces (a new file gets
// those the umask leaves of 0666). Flushed to the disk before the rename.
class TReplacingOutput final : public TOutput {
public:
    explicit TReplacingOutput(std::string path) : FPath(std::move(path)) {}
    ~TReplacingOutput() override {
        if (FDescriptor >= 0) {
            ::close(FDescriptor);
            ::unlink(FTemporary.c_str());
        }
    }
    bool Open() override {
        FTarget = FPath;
        struct stat link {};
        if (::lstat(FPath.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (char* resolved = ::realpath(FPath.c_str(), nullptr)) {
                FTarget = resolved;
                std::free(resolved);
            }
        }
        mode_t mode = 0;
        struct stat existing {};
        if (::stat(FTarget.c_str(), &existing) == 0) {
            mode = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            mode = 0666 & ~mask;
        }
        FTemporary = FTarget + ".XXXXXX";
        FDescriptor = ::mkostemp(FTemporary.data(), O_CLOEXEC);
        if (FDescriptor < 0) {
            FError = errno;
            return false;
        }
        ::fchmod(FDescriptor, mode);
        return true;
    }
    bool Write(std::string_view bytes) override {
        return FDescriptor >= 0 && writeAll(FDescriptor, bytes, FError);
    }
    bool Commit() override {
        if (FDescriptor < 0)
            return false;
        const int descriptor = FDescriptor;
        FDescriptor = -1;
        bool ok = ::fsync(descriptor) == 0 || errno == EINVAL;
        if (!ok)
            FError = errno;
        if (::close(descriptor) != 0 && errno != EINTR && ok) {
            FError = errno;
            ok = false;
        }
        if (ok && ::rename(FTemporary.c_str(), FTarget.c_str()) != 0) {
            FError = errno;
            ok = false;
        }
        if (!ok)
            ::unlink(FTemporary.c_str());
        return ok;
    }
    std::string ErrorString() const override { return errorText(FError); }

private:
    std::string FPath;
    std::string FTarget;
    std::string FTemporary;
    int FDescriptor = -1;
    int FError = 0;
};

// A device, FIFO or socket: renaming a file over it would put a regular file where the node
// was (as root, a later writer to /dev/null would fill that file). The text is kept until
// Commit, so a failed run writes nothing there either.
class TInPlaceOutput final : public TOutput {
public:
    explicit TInPlaceOutput(std::string path) : FPath(std::move(path)) {}
    ~TInPlaceOutput() override {
        if (FDescriptor >= 0)
            ::close(FDescriptor);
    }
    bool Open() override {
        FDescriptor = ::open(FPath.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        FError = FDescriptor < 0 ? errno : 0;
        return FDescriptor >= 0;
    }
    bool Write(std::string_view bytes) override {
        FText.append(bytes);
        return true;
    }
    bool Commit() override {
        if (!writeAll(FDescriptor, FText, FError))
            return false;
        const int descriptor = FDescriptor;
        FDescriptor = -1;
        if (::close(descriptor) != 0 && errno != EINTR) {
            FError = errno;
            return false;
        }
        return true;
    }
    std::string ErrorString() const override { return errorText(FError); }

private:
    std::string FPath;
    std::string FText;
    int FDescriptor = -1;
    int FError = 0;
};

} // namespace

bool IsWrittenInPlace(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode) &&
           !S_ISDIR(status.st_mode);
}

std::unique_ptr<TOutput> MakeFileOutput(const std::string& path) {
    if (IsWrittenInPlace(path))
        return std::make_unique<TInPlaceOutput>(path);
    return std::make_unique<TReplacingOutput>(path);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

} // namespace tolvane
