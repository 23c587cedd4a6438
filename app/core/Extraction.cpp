#include "Extraction.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "Locale.h"
#include "RText.h"
#include "Settings.h"

namespace tolvane {

namespace {

const char* const kCrLf = "\r\n";

std::string loadFailedMessage(const std::string& path) {
    return "Can not load file: " + path + ". It is may be not a valid PDF file.";
}

// The identity of a file for "already opened": the canonical path, compared exactly (file
// names are case-sensitive here); the absolute path for a file that does not exist.
std::string samePathKey(const std::string& path) {
    if (char* canonical = ::realpath(path.c_str(), nullptr)) {
        std::string result(canonical);
        std::free(canonical);
        return result;
    }
    std::error_code error;
    return std::filesystem::absolute(path, error).lexically_normal().string();
}

// The name of a path's file: what follows its last slash.
std::string fileNameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

std::string EncodeText(std::string_view text, korvel::TTextEncoding encoding) {
    if (encoding == korvel::TTextEncoding::Utf8)
        return ValidUtf8(text);
    const std::u16string units = Utf8ToUtf16(text);
    std::string result;
    result.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            result += '?'; // one character the code page lacks, not two
            ++i;
            continue;
        }
        result += korvel::Utf16UnitToCp1252(c);
    }
    return result;
}

std::string ShortDateToday() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return ShortDateOf(TimeLocaleName(), local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

bool NeedsDate(std::string_view text) {
    return text.find("&d") != std::string_view::npos || text.find("&D") != std::string_view::npos;
}

std::string TextPathFor(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t dot = path.rfind('.');
    const bool hasDot = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasDot ? path.substr(0, dot) : path) + ".txt";
}

std::string ExpandPlaceholders(const std::string& text, int page, std::int32_t pageCount,
                               const std::string& file, const std::string& date) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '&' || i + 1 >= text.size()) {
            result += text[i];
            continue;
        }
        char next = text[i + 1];
        if (next >= 'A' && next <= 'Z')
            next = static_cast<char>(next - 'A' + 'a');
        switch (next) {
        case 'p':
            result += std::to_string(page);
            break;
        case 'a':
            result += std::to_string(pageCount);
            break;
        case 'f':
            result += file;
            break;
        case 'n':
            result += fileNameOf(file);
            break;
        case 'd':
            result += date;
            break;
        default:
            result += text[i];
            continue;
        }
        ++i;
    }
    return result;
}

TExtraction::TExtraction(TSettings& settings, TExtractionHooks hooks)
    : FSettings(settings), FHooks(std::move(hooks)), FEngine(std::make_unique<korvel::TKorvel>()) {
    // The extraction reads what it can: damaged files are reconstructed (and said so).
    FEngine->SetLenientReading(true);
}

TExtraction::~TExtraction() = default;

void TExtraction::SetTextEncoding(korvel::TTextEncoding encoding) {
    FEngine->SetTextEncoding(encoding);
}

std::string TExtraction::Encode(const std::string& text) const {
    return EncodeText(text, FEngine->TextEncoding());
}

std::string TExtraction::ExpandPlaceholders(const std::string& text, int page) const {
    return tolvane::ExpandPlaceholders(text, page, FOpenedPageCount, FCurrentFile,
                                       NeedsDate(text) ? ShortDateToday() : std::string());
}

void TExtraction::AddLog(const std::string& message) const {
    if (FHooks.AddLog)
        FHooks.AddLog(message);
}

void TExtraction::ShowError(const std::string& message) const {
    if (FHooks.ShowError)
        FHooks.ShowError(message);
}

void TExtraction::SetCurrentFile(const std::string& path) {
    FCurrentFile = path;
    if (FHooks.StateChanged)
        FHooks.StateChanged();
}

void TExtraction::SetRunning(bool running) {
    FRunning = running;
    if (FHooks.StateChanged)
        FHooks.StateChanged();
}

TOpenResult TExtraction::OpenPdfFile(const std::string& path) {
    if (FRunning)
        return TOpenResult::Busy; // files dropped during a run wait for its end
    if (!FCurrentFile.empty() && samePathKey(path) == samePathKey(FCurrentFile)) {
        AddLog(std::string("The requested file have alreadly opened."));
        return TOpenResult::AlreadyOpen;
    }
    SetCurrentFile(std::string());
    FPassword.clear();
    FPasswordAsked = false;
    if (FEngine->LoadFromFile(path) != 1) {
        AddLog(loadFailedMessage(path));
        return TOpenResult::LoadFailed;
    }
    // The document is taken out again on every way out of the opening, not only on success.
    const std::int32_t id = FEngine->SelectedDocument();
    struct TUnload {
        korvel::TKorvel& Engine;
        std::int32_t ID;
        ~TUnload() { Engine.RemoveDocument(ID); }
    } unload{*FEngine, id};
    if (FEngine->Reconstructed() == 1)
        AddLog(std::string("The file is damaged; its objects were recovered by scanning it."));

    switch (FEngine->Encrypted()) {
    case 0:
        break;
    case 1:
        if (FEngine->SecurityInfo(1) == 3) {
            const std::string prompt =
                "\"" + fileNameOf(path) + "\" needs password to open:";
            for (;;) {
                const std::optional<std::string> typed =
                    FHooks.AskPassword ? FHooks.AskPassword(prompt, std::string("Password"))
                                       : std::nullopt;
                if (!typed) {
                    FPassword.clear();
                    return TOpenResult::Cancelled;
                }
                FPassword = *typed;
                const int result =
                    FEngine->SetPassword(EncodeText(FPassword, korvel::TTextEncoding::Utf8));
                if (result == 1 || result == 2 || result == 3 || result == 5)
                    break;
            }
            FPasswordAsked = true;
        }
        break;
    case 2:
        AddLog(std::string("Unknown Encryption."));
        return TOpenResult::UnknownEncryption;
    default:
        ShowError(std::string("INNER ERROR: unknown Encrypted return."));
        return TOpenResult::Failed;
    }

    const int pageCount = FEngine->PageCount();
    AddLog(
        "Current file is: " + path + "\r\n Pages: " + std::to_string(pageCount) +
        "\r\n Press Extract button to extract text");
    FOpenedPageCount = pageCount;
    SetCurrentFile(path);
    FSettings.ResetRange(FOpenedPageCount);
    return TOpenResult::Opened;
}

TRunResult TExtraction::aExtractExecute() {
    if (FRunning || FCurrentFile.empty())
        return TRunResult::Cancelled;
    const std::optional<std::string> outputPath =
        FHooks.AskSaveFile ? FHooks.AskSaveFile(TextPathFor(FCurrentFile)) : std::nullopt;
    if (!outputPath)
        return TRunResult::Cancelled;
    if (IsSameFile(*outputPath, FCurrentFile)) {
        AddLog("Can not write file: " + *outputPath +
               ". It is the PDF file being extracted; nothing was written.");
        return TRunResult::OutputIsInput;
    }

    SetRunning(true);
    FStopRequested.store(false);
    TRunResult result = TRunResult::Failed;
    std::string error;
    std::unique_ptr<TOutput> output =
        FHooks.MakeOutput ? FHooks.MakeOutput(*outputPath) : MakeFileOutput(*outputPath);
    bool loaded = false;
    std::int32_t id = 0;
    try {
        if (FEngine->LoadFromFile(FCurrentFile) == 0) {
            AddLog(loadFailedMessage(FCurrentFile));
            result = TRunResult::LoadFailed;
        } else {
            loaded = true;
            id = FEngine->SelectedDocument();
            result = RunPages(*output, *outputPath);
        }
    } catch (const std::exception& e) {
        error = e.what();
        result = TRunResult::Failed;
    }
    output.reset(); // an uncommitted output leaves nothing behind
    if (loaded)
        FEngine->RemoveDocument(id);

    if (result == TRunResult::Finished || result == TRunResult::Stopped) {
        const bool stopped = result == TRunResult::Stopped;
        AddLog(stopped ? std::string("User teminate") : std::string("Extraction finished"));
        if (!stopped && FHooks.AskYesNo &&
            FHooks.AskYesNo(std::string("Do you want to open the destination file?")) &&
            FHooks.OpenResult)
            FHooks.OpenResult(*outputPath);
        SetRunning(false);
    } else {
        SetRunning(false);
        if (!error.empty())
            ShowError(error);
    }
    return result;
}

TRunResult TExtraction::RunPages(TOutput& output, const std::string& outputPath) {
    // The password of the opening (or the empty one). A file that needs a password which no
    // longer opens it has changed since it was opened: its text would come out undecrypted.
    const int passwordResult =
        FEngine->SetPassword(EncodeText(FPassword, korvel::TTextEncoding::Utf8));
    const int encrypted = FEngine->Encrypted();
    if (encrypted == 2) {
        AddLog(std::string("Unknown Encryption."));
        return TRunResult::Failed;
    }
    if (encrypted == 1 && FEngine->SecurityInfo(1) == 3 && passwordResult != 1 &&
        passwordResult != 2 && passwordResult != 5) {
        AddLog("The password no longer opens " + FCurrentFile +
               ": the file has changed since it was opened. Open it again.");
        return TRunResult::PasswordRejected;
    }

    std::int64_t first = 0;
    std::int64_t last = 0;
    switch (FSettings.RangeKind()) {
    case 1:
        first = 1;
        last = FOpenedPageCount;
        break;
    case 2:
        first = std::max<std::int64_t>(FSettings.FirstPage(), 1);
        last = std::min<std::int64_t>(FSettings.LastPage(), FOpenedPageCount);
        break;
    default:
        throw std::runtime_error("INNER ERROR: Error page range type");
    }
    AddLog("Begin to extract from " + FCurrentFile + " to " + outputPath + "\r\n Page from " +
           std::to_string(first) + " to " + std::to_string(last));
    if (!output.Open()) {
        throw std::runtime_error(ValidUtf8("Can not write file: " + outputPath + ". " + output.ErrorString()));
    }

    // Only worth a walk over the whole tree when a long range could run past its leaves.
    std::int64_t reach = -1;
    if (last - first + 1 > kUnlocatableTail)
        reach = FEngine->LocatablePageBound();

    const TLayoutLocale locale = TLayoutLocale::System(FEngine->TextEncoding());
    const std::string date = NeedsDate(FSettings.Header()) || NeedsDate(FSettings.Footer())
                                 ? ShortDateToday()
                                 : std::string();
    const int layout = FSettings.TextType();
    const int filter = FSettings.PageFilter();
    std::string piece;
    bool stopped = false;
    for (std::int64_t p = first; p <= last; ++p) {
        if (reach >= 0 && p > reach && last - p + 1 > kUnlocatableTail) {
            AddLog("Pages " + std::to_string(p) + " to " + std::to_string(last) +
                   " are not in the file's page tree: the extraction ends before page " +
                   std::to_string(p) + ".");
            break;
        }
        const bool taken =
            filter == 1 || (filter == 2 && p % 2 == 1) || (filter == 3 && p % 2 == 0);
        if (!taken)
            continue;
        const int page = static_cast<int>(p);
        FEngine->SelectPage(page);
        piece.clear();
        if (!FSettings.Header().empty()) {
            piece += Encode(tolvane::ExpandPlaceholders(FSettings.Header(), page, FOpenedPageCount,
                                                        FCurrentFile, date));
            piece += kCrLf;
        }
        piece += PageTextByLayout(*FEngine, layout, locale);
        if (!FSettings.Footer().empty()) {
            piece += kCrLf;
            piece += Encode(tolvane::ExpandPlaceholders(FSettings.Footer(), page, FOpenedPageCount,
                                                        FCurrentFile, date));
        }
        piece += kCrLf;
        if (!output.Write(piece))
            throw std::runtime_error(ValidUtf8("Can not write file: " + outputPath + ". " + output.ErrorString()));
        if (FHooks.ShowProgress)
            FHooks.ShowProgress(page);
        if (FStopRequested.load()) {
            stopped = true;
            break;
        }
    }
    if (!output.Commit())
        throw std::runtime_error(ValidUtf8("Can not write file: " + outputPath + ". " + output.ErrorString()));
    return stopped ? TRunResult::Stopped : TRunResult::Finished;
}

} // namespace tolvane
