#include "support/Processes.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

namespace tolvane_test {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TempDir::TempDir(const std::string& prefix) {
    static int counter = 0;
    Path = fs::temp_directory_path() /
           (prefix + std::to_string(getpid()) + "_" + std::to_string(++counter));
    fs::create_directories(Path);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(Path, ignored);
}

std::string TempDir::Write(const std::string& name, const std::string& bytes) const {
    const fs::path path = Path / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
}

RunResult RunProgram(std::vector<std::string> argv, const std::string& inputPath,
                     const fs::path& scratch, const fs::path& workDir) {
    const std::string outPath = (scratch / "stdout").string();
    const std::string errPath = (scratch / "stderr").string();
    const std::string in = inputPath.empty() ? std::string("/dev/null") : inputPath;
    const pid_t child = fork();
    if (child == 0) {
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(127);
        const int input = open(in.c_str(), O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (input < 0 || out < 0 || err < 0)
            _exit(127);
        dup2(input, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> raw;
        for (std::string& a : argv)
            raw.push_back(a.data());
        raw.push_back(nullptr);
        execv(raw[0], raw.data());
        _exit(127);
    }
    RunResult result;
    int status = 0;
    if (child > 0 && waitpid(child, &status, 0) == child)
        result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.Out = ReadFile(outPath);
    result.Err = ReadFile(errPath);
    return result;
}

} // namespace tolvane_test
