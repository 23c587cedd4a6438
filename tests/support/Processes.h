#pragma once
// Running a built program from a test: arguments, standard input from a file, standard output
// and error into files (so neither pipe can fill), the exit code; and a temporary folder.

#include <filesystem>
#include <string>
#include <vector>

namespace tolvane_test {

struct RunResult {
    int ExitCode = -1; // 128 + the signal when a signal ended it
    std::string Out;
    std::string Err;
};

std::string ReadFile(const std::filesystem::path& path);

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "tolvane_test_");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // Writes a file (its folders made as needed) and gives its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    std::filesystem::path Path;
};

// Runs argv[0] with the rest of argv. Standard input comes from `inputPath` (/dev/null when
// empty: never a terminal), standard output and error go to files in `scratch`; the program
// runs in `workDir` when one is given.
RunResult RunProgram(std::vector<std::string> argv, const std::string& inputPath,
                     const std::filesystem::path& scratch,
                     const std::filesystem::path& workDir = {});

} // namespace tolvane_test
