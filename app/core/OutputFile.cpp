#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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
        if (FText.Append(bytes))
            return true;
        FError = FText.Error();
        return false;
    }
    bool Commit() override {
        const bool drained = FText.Drain(
            [this](std::string_view bytes) { return writeAll(FDescriptor, bytes, FError); });
        if (!drained) {
            if (FError == 0)
                FError = FText.Error();
            return false;
        }
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
    TSpool FText;
    int FDescriptor = -1;
    int FError = 0;
};

} // namespace

TSpool::~TSpool() {
    if (FFile)
        std::fclose(FFile);
}

bool TSpool::Append(std::string_view bytes) {
    if (bytes.empty())
        return true;
    if (!FFile && FText.size() + bytes.size() > FInMemory) {
        FFile = std::tmpfile();
        if (FFile && !FText.empty() &&
            std::fwrite(FText.data(), 1, FText.size(), FFile) != FText.size()) {
            FError = errno;
            return false;
        }
        if (FFile)
            std::string().swap(FText);
    }
    if (FFile) {
        if (std::fwrite(bytes.data(), 1, bytes.size(), FFile) != bytes.size()) {
            FError = errno;
            return false;
        }
    } else {
        FText.append(bytes);
    }
    FSize += bytes.size();
    FLast = bytes.back();
    return true;
}

bool TSpool::Drain(const std::function<bool(std::string_view)>& sink) {
    if (!FFile)
        return FText.empty() || sink(FText);
    if (std::fflush(FFile) != 0 || std::fseek(FFile, 0, SEEK_SET) != 0) {
        FError = errno;
        return false;
    }
    std::string piece(std::size_t{1} << 20, '\0');
    std::size_t left = FSize;
    while (left > 0) {
        const std::size_t read = std::fread(piece.data(), 1, std::min(left, piece.size()), FFile);
        if (read == 0) {
            FError = std::ferror(FFile) ? errno : EIO;
            std::fseek(FFile, 0, SEEK_END);
            return false;
        }
        left -= read;
        if (!sink(std::string_view(piece.data(), read))) {
            std::fseek(FFile, 0, SEEK_END);
            return false;
        }
    }
    return std::fseek(FFile, 0, SEEK_END) == 0;
}

void TSpool::Clear() {
    if (FFile)
        std::fclose(FFile);
    FFile = nullptr;
    std::string().swap(FText);
    FSize = 0;
    FLast = 0;
}

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
