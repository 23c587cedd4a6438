#pragma once
// tolvane-text batch: the extraction run over many files, each in a worker process of its own
// with a time and a memory limit, so a hostile file costs one line of the report and never the
// batch. One text file per input under --out-dir (folders mirrored, written atomically), one
// JSON line per input on stdout as it finishes, a summary on stderr. Exit 0 when every file is
// ok, 4 when some are not, 1 on usage errors, 130 or 143 when SIGINT or SIGTERM stopped it.
// This module is the batch's policy: the inputs and their outputs, what a worker does with one
// file, the report lines and the summary. The processes themselves are WorkerPool's.

#include <optional>
#include <string>
#include <vector>

#include "Password.h"

namespace CLI {
class App;
}

namespace tolvane_cli {

struct TBatchOptions {
    std::vector<std::string> Files;
    std::string From; // a file listing inputs one per line, "-" for stdin; empty for none
    std::string OutDir;
    int Jobs = 0; // 0: the number of cores
    std::string Layout = "smart";
    std::string Encoding = "cp1252";
    std::optional<std::string> Password; // from PasswordArgs or the environment, by RunBatch
    TPasswordArgs PasswordArgs;
    bool Repair = false;
    double Timeout = 120;  // seconds of wall time per file; 0 for none
    long MaxMemory = 2048; // MiB of address space per worker; 0 for none
    bool SkipDone = false;
    std::string Header;
    std::string Footer = " = Page &p =";
};

// Adds the `batch` subcommand to `app`, filling `options` when it is parsed.
CLI::App* AddBatchCommand(CLI::App& app, TBatchOptions& options);
int RunBatch(const TBatchOptions& options);

} // namespace tolvane_cli
