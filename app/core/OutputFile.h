#pragma once
// Where a run's text goes, written so that no writer destroys a file: a regular file (or a
// symbolic link to one, whose target is written) is replaced atomically on Commit, through a
// temporary file beside it; a path that exists and is something else (a character device such
// as /dev/null, a FIFO, a socket) is opened and written in place, never replaced. Callers
// refuse an output that is their input (IsSameFile) before they make one.

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace tolvane {

// Text kept until a run succeeds: in memory up to a bound, the rest in an unnamed temporary
// file, so that the text of a long run held back costs no more memory than the bound. Without
// a temporary file it all stays in memory.
class TSpool {
public:
    static constexpr std::size_t kInMemory = std::size_t{8} << 20;

    explicit TSpool(std::size_t inMemory = kInMemory) : FInMemory(inMemory) {}
    ~TSpool();
    TSpool(const TSpool&) = delete;
    TSpool& operator=(const TSpool&) = delete;

    // False when the temporary file could not take the bytes (Error says why).
    bool Append(std::string_view bytes);
    // Hands the text to `sink` in pieces, in order; false when the sink refused a piece or the
    // temporary file could not be read back. The text stays.
    bool Drain(const std::function<bool(std::string_view)>& sink);
    void Clear();
    bool Empty() const { return FSize == 0; }
    char Back() const { return FLast; }  // the last byte; 0 when empty
    int Error() const { return FError; } // errno of the last failure of the temporary file

private:
    std::size_t FInMemory;
    std::string FText;
    std::FILE* FFile = nullptr;
    std::size_t FSize = 0;
    char FLast = 0;
    int FError = 0;
};

// Where a run's text goes. Nothing reaches the destination unless Commit succeeds.
class TOutput {
public:
    virtual ~TOutput() = default;
    virtual bool Open() = 0;
    virtual bool Write(std::string_view bytes) = 0;
    virtual bool Commit() = 0;
    virtual std::string ErrorString() const = 0; // UTF-8
};

// The output for a path, by what is at the path now (see above). An uncommitted output leaves
// the path as it was.
std::unique_ptr<TOutput> MakeFileOutput(const std::string& path);

// True when `path` exists and is not a regular file or a folder: a writer writes it in place.
bool IsWrittenInPlace(const std::string& path);

// True when both paths name one existing file (same device and inode, links followed).
bool IsSameFile(const std::string& a, const std::string& b);

} // namespace tolvane
