#include "OutputFile.h"

#include <QFile>
#include <QSaveFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolvane {

namespace {

class TReplacingOutput final : public TOutput {
public:
    explicit TReplacingOutput(const QString& path) : FFile(path) {}
    bool Open() override { return FFile.open(QIODevice::WriteOnly); }
    bool Write(std::string_view bytes) override {
        return FFile.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
    }
    bool Commit() override { return FFile.commit(); }
    QString ErrorString() const override { return FFile.errorString(); }

private:
    QSaveFile FFile; // discards its temporary file unless committed
};

// A device, FIFO or socket: renaming a file over it would put a regular file where the node
// was (as root, a later writer to /dev/null would fill that file). The text is kept until
// Commit, so a failed run writes nothing there either.
class TInPlaceOutput final : public TOutput {
public:
    explicit TInPlaceOutput(const QString& path) : FPath(QFile::encodeName(path).toStdString()) {}
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
        std::string_view rest = FText;
        while (!rest.empty()) {
            const ssize_t written = ::write(FDescriptor, rest.data(), rest.size());
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0) {
                FError = written < 0 ? errno : EIO;
                return false;
            }
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        const int descriptor = FDescriptor;
        FDescriptor = -1;
        if (::close(descriptor) != 0 && errno != EINTR) {
            FError = errno;
            return false;
        }
        return true;
    }
    QString ErrorString() const override { return QString::fromLocal8Bit(std::strerror(FError)); }

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

std::unique_ptr<TOutput> MakeFileOutput(const QString& path) {
    if (IsWrittenInPlace(QFile::encodeName(path).toStdString()))
        return std::make_unique<TInPlaceOutput>(path);
    return std::make_unique<TReplacingOutput>(path);
}

bool IsSameFile(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool IsSameFile(const QString& a, const QString& b) {
    return IsSameFile(QFile::encodeName(a).toStdString(), QFile::encodeName(b).toStdString());
}

} // namespace tolvane
