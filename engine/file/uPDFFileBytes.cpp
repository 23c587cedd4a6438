#include "file/uPDFFileBytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace korvel {

namespace {

// Reads what remains of a descriptor in chunks, within the size bound.
bool readAll(int fd, std::int64_t maxSize, std::string& out) {
    constexpr std::size_t kChunk = std::size_t{1} << 20;
    out.clear();
    for (;;) {
        const std::size_t at = out.size();
        out.resize(at + kChunk);
        const ssize_t got = ::read(fd, out.data() + at, kChunk);
        if (got < 0) {
            if (errno == EINTR) {
                out.resize(at);
                continue;
            }
            out.clear();
            return false;
        }
        out.resize(at + static_cast<std::size_t>(got));
        if (static_cast<std::int64_t>(out.size()) >= maxSize) {
            out.clear();
            return false;
        }
        if (got == 0)
            return true;
    }
}

} // namespace

TPDFFileBytes::~TPDFFileBytes() {
    Clear();
}

TPDFFileBytes::TPDFFileBytes(TPDFFileBytes&& other) noexcept
    : FOwned(std::move(other.FOwned)), FMap(std::exchange(other.FMap, nullptr)),
      FMapSize(std::exchange(other.FMapSize, 0)) {}

TPDFFileBytes& TPDFFileBytes::operator=(TPDFFileBytes&& other) noexcept {
    if (this != &other) {
        Clear();
        FOwned = std::move(other.FOwned);
        FMap = std::exchange(other.FMap, nullptr);
        FMapSize = std::exchange(other.FMapSize, 0);
    }
    return *this;
}

void TPDFFileBytes::Clear() {
    if (FMap)
        ::munmap(const_cast<char*>(FMap), FMapSize);
    FMap = nullptr;
    FMapSize = 0;
    FRegionCount = 0;
    FReleaseDue = false;
    std::string().swap(FOwned);
}

void TPDFFileBytes::Assign(std::string bytes) {
    Clear();
    FOwned = std::move(bytes);
}

bool TPDFFileBytes::Open(const std::string& path, std::int64_t maxSize) {
    Clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    bool ok = false;
    if (::fstat(fd, &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            ok = readAll(fd, maxSize, FOwned);
        } else if (info.st_size >= maxSize) {
            ok = false;
        } else if (info.st_size == 0) {
            ok = true;
        } else {
            const auto size = static_cast<std::size_t>(info.st_size);
            void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
            if (map != MAP_FAILED) {
                FMap = static_cast<const char*>(map);
                FMapSize = size;
                ok = true;
            } else {
                // Some file systems cannot map: read the file instead.
                ok = readAll(fd, maxSize, FOwned);
            }
        }
    }
    ::close(fd);
    if (!ok)
        Clear();
    return ok;
}

void TPDFFileBytes::ReleasePages() {
    if (FMap)
        ::madvise(const_cast<char*>(FMap), FMapSize, MADV_DONTNEED);
    FRegionCount = 0;
    FReleaseDue = false;
}

void TPDFFileBytes::NoteRead(std::int64_t offset, std::int64_t length) {
    if (!FMap || FReleaseDue || length <= 0)
        return;
    const std::int64_t first = offset >> kRegionShift;
    const std::int64_t last = (offset + length - 1) >> kRegionShift;
    for (std::int64_t region = first; region <= last && !FReleaseDue; ++region) {
        const auto end = FRegions + FRegionCount;
        if (std::find(FRegions, end, region) != end)
            continue;
        if (FRegionCount == kResidentRegions)
            FReleaseDue = true;
        else
            FRegions[FRegionCount++] = region;
    }
}

bool TPDFFileBytes::ReleaseIfDue() {
    if (!FReleaseDue)
        return false;
    ReleasePages();
    return true;
}

} // namespace korvel
