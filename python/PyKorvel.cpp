// The korvel Python module: the engine's facade (TKorvel) and the application's extraction run
// (TExtraction) in Python's idiom. Nothing is decided here that the engine or the core does not
// decide: the module opens, asks, converts and maps results to exceptions.
//
// Every call into the engine runs with the GIL released, so threads extracting different
// documents run in parallel. Each Document owns its own engine and a lock that serialises the
// calls made on it, so a Document used from two threads at once is slow, not corrupt.

#include <pybind11/pybind11.h>

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "Extraction.h"
#include "Names.h"
#include "RText.h"
#include "Settings.h"
#include "facade/uKorvel.h"
#include "file/uPDFExtra.h"

namespace py = pybind11;

namespace {

// The C++ side of the module's exceptions; each is registered as a Python class below.
struct TError : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct TLoadError : TError {
    using TError::TError;
};
struct TPasswordError : TError {
    using TError::TError;
};
struct TEncryptionError : TError {
    using TError::TError;
};
struct TExtractionError : TError {
    using TError::TError;
};

constexpr std::size_t kRecordFields = 12; // "font",#RRGGBB,size,x1,y1,...,x4,y4,"text"

// Engine text is UTF-8 (the module always asks for it); a byte the engine should not have
// produced becomes U+FFFD rather than an exception in the middle of a document.
py::str utf8ToStr(const std::string& text) {
    PyObject* result =
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
    if (!result)
        throw py::error_already_set();
    return py::reinterpret_steal<py::str>(result);
}

// Passwords go to the engine as UTF-8, as the application sends them (it converts them for the
// handlers that check Windows-1252 bytes); bytes are passed as they are.
std::string passwordBytes(const py::handle& password) {
    if (py::isinstance<py::bytes>(password))
        return password.cast<std::string>();
    if (!py::isinstance<py::str>(password))
        throw py::type_error("password must be str or bytes");
    return password.cast<std::string>(); // UTF-8: the engine converts it as the handler needs
}

int layoutNumber(const std::string& layout) {
    if (const std::optional<int> number = tolvane::LayoutFromName(layout))
        return *number;
    throw py::value_error("layout must be 'order', 'smart', 'position' or 'reading', not '" +
                          layout + "'");
}

int filterNumber(const std::string& filter) {
    if (const std::optional<int> number = tolvane::FilterFromName(filter))
        return *number;
    throw py::value_error("filter must be 'all', 'odd' or 'even', not '" + filter + "'");
}

// `pages` of extract(): None (all), a page number, a (first, last) pair or a range of step 1.
std::optional<std::pair<int, int>> pageRange(const py::object& pages) {
    if (pages.is_none())
        return std::nullopt;
    if (py::isinstance<py::int_>(pages) && !py::isinstance<py::bool_>(pages)) {
        const int page = pages.cast<int>();
        return std::make_pair(page, page);
    }
    if (py::isinstance(pages, py::module_::import("builtins").attr("range"))) {
        const int step = pages.attr("step").cast<int>();
        const int start = pages.attr("start").cast<int>();
        const int stop = pages.attr("stop").cast<int>();
        if (step != 1)
            throw py::value_error("pages: a range must have step 1");
        return std::make_pair(start, stop - 1);
    }
    if (py::isinstance<py::tuple>(pages) && py::len(pages) == 2) {
        const py::tuple pair = pages.cast<py::tuple>();
        return std::make_pair(pair[0].cast<int>(), pair[1].cast<int>());
    }
    throw py::type_error("pages must be None, a page number, a (first, last) pair or a range");
}

class TDocument {
public:
    // Loads `source`: a path (str or os.PathLike) or the bytes of a file (bytes, bytearray,
    // memoryview).
    TDocument(const py::object& source, const py::object& password, bool repair) {
        FEngine = std::make_unique<korvel::TKorvel>();
        FEngine->SetTextEncoding(korvel::TTextEncoding::Utf8);
        FEngine->SetLenientReading(repair);
        int loaded = 0;
        if (py::isinstance<py::bytes>(source) || py::isinstance<py::bytearray>(source) ||
            py::isinstance<py::memoryview>(source)) {
            FBytes = py::module_::import("builtins").attr("bytes")(source);
            std::string bytes = FBytes.cast<std::string>();
            FName = "<bytes>";
            py::gil_scoped_release release;
            loaded = FEngine->LoadFromBytes(std::move(bytes));
        } else {
            const py::object os = py::module_::import("os");
            FPath = py::bytes(os.attr("fsencode")(source)).cast<std::string>();
            FName = py::str(os.attr("fsdecode")(source)).cast<std::string>();
            py::gil_scoped_release release;
            loaded = FEngine->LoadFromFile(FPath);
        }
        if (loaded != 1)
            throw TLoadError("cannot load " + FName + ": not a readable PDF file");

        const std::optional<std::string> given =
            password.is_none() ? std::nullopt : std::optional<std::string>(passwordBytes(password));
        py::gil_scoped_release release;
        switch (FEngine->Encrypted()) {
        case 0:
            break;
        case 1: {
            const bool needed = FEngine->SecurityInfo(1) == 3; // the empty user password fails
            if (!given) {
                if (needed)
                    throw TPasswordError(FName + " needs a password");
                break;
            }
            const int result = FEngine->SetPassword(*given);
            if (needed && result != 1 && result != 2 && result != 5)
                throw TPasswordError("the password does not open " + FName);
            FPassword = *given;
            break;
        }
        default:
            throw TEncryptionError(FName + " is encrypted by a security handler the engine does "
                                           "not support");
        }
    }

    int PageCount() {
        Guard guard(*this);
        return FEngine->PageCount();
    }
    bool Encrypted() {
        Guard guard(*this);
        return FEngine->Encrypted() != 0;
    }

    py::tuple PageSize(int page) {
        double width = 0;
        double height = 0;
        {
            Guard guard(*this);
            selectOrThrow(page);
            width = FEngine->PageWidth();
            height = FEngine->PageHeight();
        }
        return py::make_tuple(width, height);
    }

    py::str PageText(int page, int option) {
        if (option < 0 || option > 4)
            throw py::value_error("option must be 0 to 4, not " + std::to_string(option));
        return utf8ToStr(engineText(page, option));
    }

    py::list Records(int page) {
        const std::string text = engineText(page, 3);
        const py::object record = py::module_::import("korvel").attr("Record");
        py::list result;
        std::vector<std::string> fields;
        for (const std::string& line : tolvane::SplitRecordLines(text)) {
            tolvane::SplitFields(line, ",", fields);
            if (fields.size() < kRecordFields)
                continue; // the rest of a block whose text held a line break
            py::tuple values(kRecordFields);
            values[0] = utf8ToStr(fields[0]);
            values[1] = py::str(fields[1]);
            for (std::size_t i = 2; i < 11; ++i)
                values[i] = py::float_(korvel::NumberFromText(fields[i]));
            values[11] = utf8ToStr(fields[11]);
            result.append(record(*values));
        }
        return result;
    }

    py::str Extract(const std::string& layout, const py::object& pages, const std::string& filter,
                    const py::object& header, const py::object& footer) {
        tolvane::TSettings settings; // the settings' defaults; the stored ones are not read
        settings.SetTextType(static_cast<std::uint8_t>(layoutNumber(layout)));
        settings.SetPageFilter(filterNumber(filter));
        if (!header.is_none())
            settings.SetHeader(header.cast<std::string>());
        if (!footer.is_none())
            settings.SetFooter(footer.cast<std::string>());
        const std::optional<std::pair<int, int>> range = pageRange(pages);
        checkOpen();

        // The run reads a file: bytes are written to a private temporary one first, whose path
        // is what &f and &n show.
        std::string bytes;
        if (FPath.empty())
            bytes = FBytes.cast<std::string>();
        std::string text;
        {
            Guard guard(*this);
            text = runExtraction(settings, range, bytes);
        }
        return utf8ToStr(text);
    }

    void Close() {
        py::gil_scoped_release release;
        const std::lock_guard<std::mutex> hold(FLock);
        FEngine.reset();
    }
    bool Closed() const { return !FEngine; }
    const std::string& Name() const { return FName; }

private:
    // Releases the GIL, then holds this document's lock: never the other way round.
    struct Guard {
        explicit Guard(TDocument& document) : Document(document) {
            document.checkOpen();
            Release.emplace();
            Hold.emplace(document.FLock);
            document.checkOpen(); // closed by another thread meanwhile
        }
        TDocument& Document;
        std::optional<py::gil_scoped_release> Release;
        std::optional<std::lock_guard<std::mutex>> Hold;
    };

    void checkOpen() const {
        if (!FEngine)
            throw py::value_error("I/O operation on a closed document");
    }

    // Called without the GIL.
    void selectOrThrow(int page) {
        if (FEngine->SelectPage(page) != 1) {
            const int count = FEngine->PageCount();
            throw py::index_error("page " + std::to_string(page) + " is not a page of " + FName +
                                  " (pages 1 to " + std::to_string(count) + ")");
        }
    }

    std::string engineText(int page, int option) {
        Guard guard(*this);
        selectOrThrow(page);
        try {
            return FEngine->GetPageText(option);
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            throw TExtractionError(e.what());
        }
    }

    // Called without the GIL.
    std::string runExtraction(tolvane::TSettings& settings,
                              const std::optional<std::pair<int, int>>& range,
                              const std::string& bytes) {
        std::string path = FPath;
        // A private folder for the copy, removed with it.
        struct TFolder {
            std::string Path;
            ~TFolder() {
                std::error_code error;
                if (!Path.empty())
                    std::filesystem::remove_all(Path, error);
            }
        } folder;
        if (FPath.empty()) {
            std::string pattern =
                (std::filesystem::temp_directory_path() / "korvel-XXXXXX").string();
            if (::mkdtemp(pattern.data()))
                folder.Path = pattern;
            path = folder.Path + "/document.pdf";
            std::ofstream file;
            if (!folder.Path.empty())
                file.open(path, std::ios::binary | std::ios::trunc);
            if (!file || !file.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
                !file.flush())
                throw TExtractionError("cannot write a temporary copy of the document");
        }

        // The text stays in memory; the run commits it only when it finishes.
        class TStringOutput final : public tolvane::TOutput {
        public:
            explicit TStringOutput(std::string& text) : FText(text) {}
            bool Open() override { return true; }
            bool Write(std::string_view bytes) override {
                FPending.append(bytes);
                return true;
            }
            bool Commit() override {
                FText = std::move(FPending);
                return true;
            }
            std::string ErrorString() const override { return {}; }

        private:
            std::string& FText;
            std::string FPending;
        };

        std::string text;
        std::string error;
        bool passwordGiven = false;
        tolvane::TExtractionHooks hooks;
        hooks.AddLog = [](const std::string&) {};
        hooks.ShowError = [&error](const std::string& message) { error = message; };
        hooks.AskYesNo = [](const std::string&) { return false; };
        hooks.AskSaveFile = [](const std::string& suggested) { return suggested; };
        hooks.AskPassword = [&](const std::string&, const std::string&) -> std::optional<std::string> {
            if (passwordGiven || FPassword.empty())
                return std::nullopt; // the password of open() only, once
            passwordGiven = true;
            return FPassword;
        };
        hooks.MakeOutput = [&text](const std::string&) -> std::unique_ptr<tolvane::TOutput> {
            return std::make_unique<TStringOutput>(text);
        };

        tolvane::TExtraction extraction(settings, std::move(hooks));
        extraction.SetTextEncoding(korvel::TTextEncoding::Utf8);
        switch (extraction.OpenPdfFile(path)) {
        case tolvane::TOpenResult::Opened:
            break;
        case tolvane::TOpenResult::Cancelled:
            throw TPasswordError("the password does not open " + FName);
        case tolvane::TOpenResult::UnknownEncryption:
            throw TEncryptionError(FName + " is encrypted by a security handler the engine "
                                           "does not support");
        case tolvane::TOpenResult::LoadFailed:
            throw TLoadError("cannot load " + FName + ": not a readable PDF file");
        default:
            throw TExtractionError(error.empty() ? "the extraction failed" : error);
        }
        if (range) { // the opening set the range to the whole file
            settings.SetRangeKind(2);
            settings.SetFirstPage(range->first);
            settings.SetLastPage(range->second);
        }
        switch (extraction.aExtractExecute()) {
        case tolvane::TRunResult::Finished:
            return text;
        case tolvane::TRunResult::LoadFailed:
            throw TLoadError("cannot load " + FName + " again: not a readable PDF file");
        case tolvane::TRunResult::PasswordRejected:
            throw TPasswordError("the password no longer opens " + FName);
        default:
            throw TExtractionError(error.empty() ? "the extraction failed" : error);
        }
    }

    std::unique_ptr<korvel::TKorvel> FEngine; // null once closed
    std::mutex FLock;
    std::string FPath; // file-system bytes; empty for a document made from bytes
    py::bytes FBytes;  // the bytes of such a document, for extract()
    std::string FName; // for messages
    std::string FPassword;
};

} // namespace

PYBIND11_MODULE(korvel, m) {
    m.doc() = R"(PDF text extraction with the korvel engine.

    with korvel.open("report.pdf") as doc:
        print(doc.page_count, doc.page_size(1))
        first = doc.page_text(1)            # page 1 in content order
        rows = doc.extract(layout="smart")  # the application's run: every page, framed

open() takes a path or the bytes of a file. Text is always str (the engine is asked for
UTF-8). Errors: LoadError (not a readable PDF), PasswordError (a needed password is missing
or wrong), EncryptionError (a security handler the engine does not support), ExtractionError
(the engine failed on a page); all derive from korvel.Error.

Threads: the engine runs with the GIL released, so threads that each open and extract their
own documents run in parallel on several cores. A Document is not meant to be shared between
threads; calls on one Document from several threads wait for one another.)";

    // Subclasses after their base: the translator registered last is tried first.
    auto& error = py::register_exception<TError>(m, "Error");
    error.attr("__doc__") = "Base of the errors korvel raises.";
    auto& loadError = py::register_exception<TLoadError>(m, "LoadError", error.ptr());
    loadError.attr("__doc__") = "The file or bytes are not a PDF document the engine can read.";
    auto& passwordError = py::register_exception<TPasswordError>(m, "PasswordError", error.ptr());
    passwordError.attr("__doc__") = "The document needs a password and none, or a wrong one, "
                                    "was given.";
    auto& encryptionError =
        py::register_exception<TEncryptionError>(m, "EncryptionError", error.ptr());
    encryptionError.attr("__doc__") = "The document is encrypted by a security handler the "
                                      "engine does not support.";
    auto& extractionError =
        py::register_exception<TExtractionError>(m, "ExtractionError", error.ptr());
    extractionError.attr("__doc__") = "The engine failed while producing a page's text.";

    const py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object record =
        namedtuple("Record", py::make_tuple("font", "color", "size", "x1", "y1", "x2", "y2", "x3",
                                            "y3", "x4", "y4", "text"));
    record.attr("__module__") = "korvel";
    record.attr("__doc__") =
        "A positioned text block of a page: font name, colour as '#RRGGBB', font size, the four "
        "corners of its box (x1, y1) to (x4, y4) in the page's units, and its text.";
    m.attr("Record") = record;

    py::class_<TDocument>(m, "Document", R"(An open PDF document; made by korvel.open().

A context manager: leaving the `with` block closes it. Pages are numbered from 1.
Not meant to be shared between threads (calls from several threads wait for one another).)")
        .def_property_readonly("page_count", &TDocument::PageCount, "The number of pages.")
        .def_property_readonly("encrypted", &TDocument::Encrypted,
                               "Whether the file is encrypted (it opened, so a needed password "
                               "was given).")
        .def_property_readonly("closed", &TDocument::Closed, "Whether close() was called.")
        .def_property_readonly("name", &TDocument::Name,
                               "The path the document was opened from, or '<bytes>'.")
        .def("page_size", &TDocument::PageSize, py::arg("page"),
             "(width, height) of a page in points. IndexError for a page the document lacks.")
        .def("page_text", &TDocument::PageText, py::arg("page"), py::arg("option") = 0,
             R"(The text of a page for an extraction option, as str.

0 and 1: plain text in content order; 2: one record line per text-showing operator; 3: one
record per positioned text block (see records()); 4: positioned text in the engine's
reading order. Lines end in CR LF. IndexError for a page the document lacks, ValueError for
an option outside 0 to 4, ExtractionError when the engine fails on the page.)")
        .def("records", &TDocument::Records, py::arg("page"),
             "The positioned text blocks of a page (option 3) as a list of korvel.Record.")
        .def("extract", &TDocument::Extract, py::arg("layout") = "smart",
             py::arg("pages") = py::none(), py::arg("filter") = "all",
             py::arg("header") = py::none(), py::arg("footer") = py::none(),
             R"(The application's extraction run over the document, as one str.

layout: 'smart' (rows top to bottom, left to right), 'order' (content order), 'position'
(every block with its coordinates) or 'reading' (reading order: columns, blocks and lines). pages: None for all, a page number, a (first, last) pair
or a range of step 1. filter: 'all', 'odd' or 'even' pages by number. header, footer: the
line written before and after each page (None for the defaults: no header, footer
' = Page &p ='; '' for none) with &p page, &a page count, &f path, &n file name, &d date.
The run reads the file again (a document made from bytes is written to a temporary file,
whose path &f and &n show).)")
        .def("close", &TDocument::Close, "Frees the document; later calls raise ValueError.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](TDocument& self, const py::object&, const py::object&, const py::object&) {
                 self.Close();
                 return false;
             })
        .def("__repr__", [](const TDocument& self) {
            return "<korvel.Document " + py::repr(py::str(self.Name())).cast<std::string>() +
                   (self.Closed() ? " closed>" : ">");
        });

    m.def(
        "open",
        [](const py::object& source, const py::object& password, bool repair) {
            return std::make_unique<TDocument>(source, password, repair);
        },
        py::arg("path_or_bytes"), py::arg("password") = py::none(), py::arg("repair") = false,
        R"(Opens a PDF document from a path (str or os.PathLike) or its bytes.

password: str or bytes (UTF-8; older handlers get its Windows-1252 bytes); needed when the
document cannot be opened with the empty user password. repair: read a damaged file leniently,
rebuilding what its cross-reference information no longer says. Raises LoadError,
PasswordError or EncryptionError.)");
}
