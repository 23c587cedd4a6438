#include "Extraction.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <exception>
#include <stdexcept>

#include "RText.h"
#include "Settings.h"

namespace tolvane {

namespace {

const char* const kCrLf = "\r\n";

QString loadFailedMessage(const QString& path) {
    return QStringLiteral("Can not load file: %1. It is may be not a valid PDF file.").arg(path);
}

// The identity of a file for "already opened": the canonical path, compared exactly (file
// names are case-sensitive here); the absolute path for a file that does not exist.
QString samePathKey(const QString& path) {
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    return canonical.isEmpty() ? info.absoluteFilePath() : canonical;
}

std::string fileNameBytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

} // namespace

std::string EncodeText(const QString& text, korvel::TTextEncoding encoding) {
    if (encoding == korvel::TTextEncoding::Utf8)
        return text.toStdString();
    std::string result;
    result.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            result += '?'; // one character the code page lacks, not two
            ++i;
            continue;
        }
        result += korvel::Utf16UnitToCp1252(c.unicode());
    }
    return result;
}

QString ShortDateToday() {
    const QLocale locale = QLocale::system();
    QString format = locale.dateFormat(QLocale::ShortFormat);
    if (format.isEmpty())
        format = QStringLiteral("M/d/yy");
    return locale.toString(QDate::currentDate(), format);
}

QString TextPathFor(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > slash ? path.left(dot) : path;
    return stem + QStringLiteral(".txt");
}

QString ExpandPlaceholders(const QString& text, int page, std::int32_t pageCount,
                           const QString& file, const QString& date) {
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != QLatin1Char('&') || i + 1 >= text.size()) {
            result += text[i];
            continue;
        }
        switch (text[i + 1].toLower().unicode()) {
        case 'p':
            result += QString::number(page);
            break;
        case 'a':
            result += QString::number(pageCount);
            break;
        case 'f':
            result += file;
            break;
        case 'n':
            result += QFileInfo(file).fileName();
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

std::string TExtraction::Encode(const QString& text) const {
    return EncodeText(text, FEngine->TextEncoding());
}

QString TExtraction::ExpandPlaceholders(const QString& text, int page) const {
    return tolvane::ExpandPlaceholders(text, page, FOpenedPageCount, FCurrentFile,
                                       ShortDateToday());
}

void TExtraction::AddLog(const QString& message) const {
    if (FHooks.AddLog)
        FHooks.AddLog(message);
}

void TExtraction::ShowError(const QString& message) const {
    if (FHooks.ShowError)
        FHooks.ShowError(message);
}

void TExtraction::SetCurrentFile(const QString& path) {
    FCurrentFile = path;
    if (FHooks.StateChanged)
        FHooks.StateChanged();
}

void TExtraction::SetRunning(bool running) {
    FRunning = running;
    if (FHooks.StateChanged)
        FHooks.StateChanged();
}

TOpenResult TExtraction::OpenPdfFile(const QString& path) {
    if (FRunning)
        return TOpenResult::Busy; // files dropped during a run wait for its end
    if (!FCurrentFile.isEmpty() && samePathKey(path) == samePathKey(FCurrentFile)) {
        AddLog(QStringLiteral("The requested file have alreadly opened."));
        return TOpenResult::AlreadyOpen;
    }
    SetCurrentFile(QString());
    FPassword.clear();
    FPasswordAsked = false;
    if (FEngine->LoadFromFile(fileNameBytes(path)) != 1) {
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
        AddLog(QStringLiteral("The file is damaged; its objects were recovered by scanning it."));

    switch (FEngine->Encrypted()) {
    case 0:
        break;
    case 1:
        if (FEngine->SecurityInfo(1) == 3) {
            const QString prompt =
                QStringLiteral("\"%1\" needs password to open:").arg(QFileInfo(path).fileName());
            for (;;) {
                const std::optional<QString> typed =
                    FHooks.AskPassword ? FHooks.AskPassword(prompt, QStringLiteral("Password"))
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
        AddLog(QStringLiteral("Unknown Encryption."));
        return TOpenResult::UnknownEncryption;
    default:
        ShowError(QStringLiteral("INNER ERROR: unknown Encrypted return."));
        return TOpenResult::Failed;
    }

    const int pageCount = FEngine->PageCount();
    AddLog(
        QStringLiteral("Current file is: %1\r\n Pages: %2\r\n Press Extract button to extract text")
            .arg(path, QString::number(pageCount)));
    FOpenedPageCount = pageCount;
    SetCurrentFile(path);
    FSettings.ResetRange(FOpenedPageCount);
    return TOpenResult::Opened;
}

TRunResult TExtraction::aExtractExecute() {
    if (FRunning || FCurrentFile.isEmpty())
        return TRunResult::Cancelled;
    const std::optional<QString> outputPath =
        FHooks.AskSaveFile ? FHooks.AskSaveFile(TextPathFor(FCurrentFile)) : std::nullopt;
    if (!outputPath)
        return TRunResult::Cancelled;
    if (IsSameFile(*outputPath, FCurrentFile)) {
        AddLog(QStringLiteral("Can not write file: %1. It is the PDF file being extracted; "
                              "nothing was written.")
                   .arg(*outputPath));
        return TRunResult::OutputIsInput;
    }

    SetRunning(true);
    FStopRequested.store(false);
    TRunResult result = TRunResult::Failed;
    QString error;
    std::unique_ptr<TOutput> output =
        FHooks.MakeOutput ? FHooks.MakeOutput(*outputPath) : MakeFileOutput(*outputPath);
    bool loaded = false;
    std::int32_t id = 0;
    try {
        if (FEngine->LoadFromFile(fileNameBytes(FCurrentFile)) == 0) {
            AddLog(loadFailedMessage(FCurrentFile));
            result = TRunResult::LoadFailed;
        } else {
            loaded = true;
            id = FEngine->SelectedDocument();
            result = RunPages(*output, *outputPath);
        }
    } catch (const std::exception& e) {
        error = QString::fromLocal8Bit(e.what());
        result = TRunResult::Failed;
    }
    output.reset(); // an uncommitted output leaves nothing behind
    if (loaded)
        FEngine->RemoveDocument(id);

    if (result == TRunResult::Finished || result == TRunResult::Stopped) {
        const bool stopped = result == TRunResult::Stopped;
        AddLog(stopped ? QStringLiteral("User teminate") : QStringLiteral("Extraction finished"));
        if (!stopped && FHooks.AskYesNo &&
            FHooks.AskYesNo(QStringLiteral("Do you want to open the destination file?")) &&
            FHooks.OpenResult)
            FHooks.OpenResult(*outputPath);
        SetRunning(false);
    } else {
        SetRunning(false);
        if (!error.isEmpty())
            ShowError(error);
    }
    return result;
}

TRunResult TExtraction::RunPages(TOutput& output, const QString& outputPath) {
    // The password of the opening (or the empty one). A file that needs a password which no
    // longer opens it has changed since it was opened: its text would come out undecrypted.
    const int passwordResult =
        FEngine->SetPassword(EncodeText(FPassword, korvel::TTextEncoding::Utf8));
    const int encrypted = FEngine->Encrypted();
    if (encrypted == 2) {
        AddLog(QStringLiteral("Unknown Encryption."));
        return TRunResult::Failed;
    }
    if (encrypted == 1 && FEngine->SecurityInfo(1) == 3 && passwordResult != 1 &&
        passwordResult != 2 && passwordResult != 5) {
        AddLog(QStringLiteral("The password no longer opens %1: the file has changed since it was "
                              "opened. Open it again.")
                   .arg(FCurrentFile));
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
    AddLog(QStringLiteral("Begin to extract from %1 to %2\r\n Page from %3 to %4")
               .arg(FCurrentFile, outputPath, QString::number(first), QString::number(last)));
    if (!output.Open()) {
        throw std::runtime_error(EncodeText(
            QStringLiteral("Can not write file: %1. %2").arg(outputPath, output.ErrorString()),
            korvel::TTextEncoding::Utf8));
    }

    // Only worth a walk over the whole tree when a long range could run past its leaves.
    std::int64_t reach = -1;
    if (last - first + 1 > kUnlocatableTail)
        reach = FEngine->LocatablePageBound();

    const TLayoutLocale locale = TLayoutLocale::System(FEngine->TextEncoding());
    const QString date = ShortDateToday();
    const int layout = FSettings.TextType();
    const int filter = FSettings.PageFilter();
    std::string piece;
    bool stopped = false;
    for (std::int64_t p = first; p <= last; ++p) {
        if (reach >= 0 && p > reach && last - p + 1 > kUnlocatableTail) {
            AddLog(QStringLiteral("Pages %1 to %2 are not in the file's page tree: the extraction "
                                  "ends before page %1.")
                       .arg(QString::number(p), QString::number(last)));
            break;
        }
        const bool taken =
            filter == 1 || (filter == 2 && p % 2 == 1) || (filter == 3 && p % 2 == 0);
        if (!taken)
            continue;
        const int page = static_cast<int>(p);
        FEngine->SelectPage(page);
        piece.clear();
        if (!FSettings.Header().isEmpty()) {
            piece += Encode(tolvane::ExpandPlaceholders(FSettings.Header(), page, FOpenedPageCount,
                                                        FCurrentFile, date));
            piece += kCrLf;
        }
        piece += PageTextByLayout(*FEngine, layout, locale);
        if (!FSettings.Footer().isEmpty()) {
            piece += kCrLf;
            piece += Encode(tolvane::ExpandPlaceholders(FSettings.Footer(), page, FOpenedPageCount,
                                                        FCurrentFile, date));
        }
        piece += kCrLf;
        if (!output.Write(piece))
            throw std::runtime_error(EncodeText(
                QStringLiteral("Can not write file: %1. %2").arg(outputPath, output.ErrorString()),
                korvel::TTextEncoding::Utf8));
        if (FHooks.ShowProgress)
            FHooks.ShowProgress(page);
        if (FStopRequested.load()) {
            stopped = true;
            break;
        }
    }
    if (!output.Commit())
        throw std::runtime_error(EncodeText(
            QStringLiteral("Can not write file: %1. %2").arg(outputPath, output.ErrorString()),
            korvel::TTextEncoding::Utf8));
    return stopped ? TRunResult::Stopped : TRunResult::Finished;
}

} // namespace tolvane
