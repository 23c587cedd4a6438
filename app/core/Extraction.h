#pragma once
// The application's opening of a PDF file and its extraction run, independent of any toolkit:
// the window and the command line both drive this class and supply, as hooks, how to ask for a
// password, where to save, how to log, show progress and ask yes/no. The engine document is
// loaded for the opening and again for the run, never kept in between.
//
// Output is written atomically (OutputFile.h): a run that ends with an error, or a full disk,
// leaves any earlier file at the output path as it was; a run never writes over its input.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "OutputFile.h"
#include "facade/uKorvel.h"

namespace tolvane {

class TSettings;

// A run over a range whose tail lies past every page the file's tree can reach stops there
// when more than this many pages remain; fewer are written (empty) as any unlocatable page is.
inline constexpr std::int64_t kUnlocatableTail = 1000;

struct TExtractionHooks {
    // Asks for a password (hidden input, empty initial text) with this prompt and caption;
    // nullopt when the user cancels.
    std::function<std::optional<std::string>(const std::string& prompt, const std::string& caption)>
        AskPassword;
    // Asks where to write the text, offering this path; nullopt when the user cancels.
    std::function<std::optional<std::string>(const std::string& suggestedPath)> AskSaveFile;
    // Appends a message to the log (CR LF inside it breaks lines).
    std::function<void(const std::string& message)> AddLog;
    // The run is at this page; the window also processes pending events here, which is how a
    // Stop command reaches a running loop.
    std::function<void(int page)> ShowProgress;
    std::function<bool(const std::string& question)> AskYesNo;
    // Opens the finished text file with its associated program.
    std::function<void(const std::string& path)> OpenResult;
    // An error that ends a command (internal errors begin "INNER ERROR: ").
    std::function<void(const std::string& message)> ShowError;
    // Running or the current file changed: the window updates its commands.
    std::function<void()> StateChanged;
    // Makes the run's output for the chosen path; MakeFileOutput when unset.
    std::function<std::unique_ptr<TOutput>(const std::string& path)> MakeOutput;
};

enum class TOpenResult {
    Opened,
    AlreadyOpen,
    Busy,
    LoadFailed,
    UnknownEncryption,
    Cancelled,
    Failed
};
enum class TRunResult {
    Cancelled,        // no output chosen, or nothing to run
    Finished,         // "Extraction finished"
    Stopped,          // "User teminate": the pages done so far were written
    LoadFailed,       // the file could not be loaded again
    PasswordRejected, // the file changed since it was opened: its password no longer opens it
    OutputIsInput,    // the chosen output is the PDF file itself; nothing was written
    Failed,           // an engine, internal or write error; nothing was written
};

class TExtraction {
public:
    TExtraction(TSettings& settings, TExtractionHooks hooks);
    ~TExtraction();
    TExtraction(const TExtraction&) = delete;
    TExtraction& operator=(const TExtraction&) = delete;

    // Opens a PDF file: loads it, asks for its password while one is needed and the given one
    // fails, logs its page count, makes it the current file, unloads it and resets the
    // settings' range to the whole file. A failed or cancelled opening leaves no current file.
    TOpenResult OpenPdfFile(const std::string& path);
    // The extraction run over the current file with the settings.
    TRunResult aExtractExecute();
    // Ends a run after the page it is on. Lock-free: may be called from a signal handler.
    void aStopExecute() { FStopRequested.store(true); }

    // The header or footer text for a page: &p page, &a page count, &f full path, &n file name,
    // &d today's date in the user's short format; letters in either case; one pass, so text a
    // placeholder brings in is not expanded again.
    std::string ExpandPlaceholders(const std::string& text, int page) const;

    const std::string& CurrentFile() const { return FCurrentFile; }
    std::int32_t OpenedPageCount() const { return FOpenedPageCount; }
    bool Running() const { return FRunning; }
    bool StopRequested() const { return FStopRequested.load(); }
    korvel::TKorvel& Engine() { return *FEngine; }
    // The encoding of the written text (header and footer included); Windows-1252 by default.
    void SetTextEncoding(korvel::TTextEncoding encoding);

private:
    void SetCurrentFile(const std::string& path);
    void AddLog(const std::string& message) const;
    void ShowError(const std::string& message) const;
    void SetRunning(bool running);
    TRunResult RunPages(TOutput& output, const std::string& outputPath);
    std::string Encode(const std::string& text) const;

    TSettings& FSettings;
    TExtractionHooks FHooks;
    std::unique_ptr<korvel::TKorvel> FEngine;
    std::string FCurrentFile;
    std::string FPassword;
    bool FPasswordAsked = false;
    std::atomic<bool> FStopRequested{false};
    bool FRunning = false;
    std::int32_t FOpenedPageCount = 0;
};

// ExpandPlaceholders with its inputs given: one pass over `text` (UTF-8).
std::string ExpandPlaceholders(const std::string& text, int page, std::int32_t pageCount,
                           const std::string& file, const std::string& date);
// Today's date in the user's short date format (Locale.h), UTF-8.
std::string ShortDateToday();
// `path` with the extension of its file name replaced by ".txt" (added when it has none).
std::string TextPathFor(const std::string& path);
// Whether a header or footer text may hold the date placeholder (it needs no date otherwise).
bool NeedsDate(std::string_view text);
// A text (UTF-8; ill-formed bytes read as U+FFFD) in the encoding of extracted text ("?" for
// what Windows-1252 lacks).
std::string EncodeText(std::string_view text, korvel::TTextEncoding encoding);

} // namespace tolvane
