#pragma once
// Where a run's text goes, written so that no writer destroys a file: a regular file (or a
// symbolic link to one, whose target is written) is replaced atomically on Commit, through a
// temporary file beside it; a path that exists and is something else (a character device such
// as /dev/null, a FIFO, a socket) is opened and written in place, never replaced. Callers
// refuse an output that is their input (IsSameFile) before they make one.

#include <memory>
#include <string>
#include <string_view>

namespace tolvane {

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
