// The korvel Python module: the engine's facade (TKorvel) and the application's extraction run
// (TExtraction) in Python's idiom. Nothing is decided here that the engine or the core does not
// decide: the module opens, asks, converts and maps results to exceptions.
//
// Every call into the engine runs with the GIL released, so threads extracting different
// documents run in parallel. Each Document owns its own engine and a lock that serialises the
// calls made on it, so a Document used from two threads at once is slow, not corrupt.

#include <pybind11/eval.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "Extraction.h"
#include "Names.h"
#include "RText.h"
#include "Settings.h"
#include "TextRun.h"
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

// The layouts of page.text(): the application's four and "raw", the engine's option 0 as it is.
constexpr int kLayoutRaw = -1;
int pageLayoutNumber(const std::string& layout) {
    if (layout == "raw")
        return kLayoutRaw;
    if (const std::optional<int> number = tolvane::LayoutFromName(layout))
        return *number;
    throw py::value_error("layout must be 'reading', 'smart', 'order', 'position' or 'raw', not '" +
                          layout + "'");
}

// Text as scripts read it: LF line ends, no blanks at the ends of lines, no empty lines at the
// end, and a line end after every line (so the texts of the pages add up to a text file).
std::string scriptLines(std::string_view engineText) {
    const std::string text = tolvane::ToLineFeeds(engineText);
    std::string result;
    result.reserve(text.size() + 1);
    std::size_t keep = 0; // the length of result up to the last line that has any text
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::size_t last = end;
        while (last > start && (text[last - 1] == ' ' || text[last - 1] == '\t'))
            --last;
        result.append(text, start, last - start);
        result += '\n';
        if (last > start)
            keep = result.size();
        start = end + 1;
    }
    result.resize(keep);
    return result;
}

// Raises korvel's subclass of an OS error (also a LoadError) for a path that names no file.
[[noreturn]] void raisePathError(const char* errorClass, int code, const std::string& name) {
    const py::object cls = py::module_::import("korvel").attr(errorClass);
    const py::object error = cls(code, std::generic_category().message(code), py::str(name));
    PyErr_SetObject(cls.ptr(), error.ptr());
    throw py::error_already_set();
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
    // Loads `source`: a path (str or os.PathLike), the bytes of a file (bytes, bytearray,
    // memoryview) or a binary file object (anything with read()). `lockedIsError`: a document
    // that needs a password and was given none raises PasswordError (open()); otherwise it
    // stays locked until Authenticate (Document()).
    TDocument(const py::object& source, const py::object& password, bool repair,
              bool lockedIsError) {
        FEngine = std::make_unique<korvel::TKorvel>();
        FEngine->SetTextEncoding(korvel::TTextEncoding::Utf8);
        FEngine->SetLenientReading(repair);
        int loaded = 0;
        const py::object os = py::module_::import("os");
        const bool isPath =
            py::isinstance<py::str>(source) || py::isinstance(source, os.attr("PathLike"));
        py::object data;
        if (py::isinstance<py::bytes>(source) || py::isinstance<py::bytearray>(source) ||
            py::isinstance<py::memoryview>(source))
            data = source;
        else if (!isPath && py::hasattr(source, "read")) {
            data = source.attr("read")();
            if (!py::isinstance<py::bytes>(data) && !py::isinstance<py::bytearray>(data))
                throw py::type_error("the file object's read() must give bytes (open it in "
                                     "binary mode)");
        }
        if (data) {
            std::string bytes = py::bytes(py::module_::import("builtins").attr("bytes")(data));
            FName = "<bytes>";
            py::gil_scoped_release release;
            loaded = FEngine->LoadFromBytes(std::move(bytes));
        } else {
            const std::string path = py::bytes(os.attr("fsencode")(source)).cast<std::string>();
            FName = py::str(os.attr("fsdecode")(source)).cast<std::string>();
            std::error_code error;
            const std::filesystem::file_status status = std::filesystem::status(path, error);
            if (status.type() == std::filesystem::file_type::not_found)
                raisePathError("MissingFileError", ENOENT, FName);
            if (status.type() == std::filesystem::file_type::directory)
                raisePathError("DirectoryError", EISDIR, FName);
            py::gil_scoped_release release;
            loaded = FEngine->LoadFromFile(path);
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
                if (needed && lockedIsError)
                    throw TPasswordError(FName + " needs a password");
                FLocked = needed;
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
    bool Locked() {
        Guard guard(*this);
        return FLocked;
    }

    // True when the password opens the document (or it needs none); it is then applied, and a
    // locked document is open from now on.
    bool Authenticate(const py::object& password) {
        const std::string given = passwordBytes(password);
        Guard guard(*this);
        const int result = FEngine->SetPassword(given);
        const bool opens = result == 1 || result == 2 || result == 5 || result == 3;
        if (opens) {
            FPassword = given;
            FLocked = false;
        }
        return opens;
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

    // Width and height as displayed (the crop box turned by the rotation) and the rotation of
    // a page; zeros for a page the tree cannot locate.
    std::tuple<double, double, int> PageGeometry(int page) {
        Guard guard(*this);
        if (!selectListed(page))
            return {0.0, 0.0, 0};
        const auto [width, height] = FEngine->PageViewSize();
        return {width, height, FEngine->PageRotation()};
    }

    py::str PageText(int page, int option) {
        if (option < 0 || option > 4)
            throw py::value_error("option must be 0 to 4, not " + std::to_string(option));
        return utf8ToStr(engineText(page, option));
    }

    // page.text(): a layout's text of a page with LF line ends, no header or footer. The pages
    // of Page objects are listed ones: a page the tree cannot locate has no text, as in a run.
    py::str LayoutText(int page, const std::string& layout) {
        const int number = pageLayoutNumber(layout);
        std::string text;
        {
            Guard guard(*this);
            checkUnlocked();
            if (!selectListed(page))
                return py::str();
            text = scriptLines(produce([&] {
                if (number == kLayoutRaw)
                    return FEngine->GetPageText(0);
                return tolvane::PageTextByLayout(*FEngine, number, locale());
            }));
        }
        return utf8ToStr(text);
    }

    std::vector<korvel::TPageWord> Words(int page) {
        Guard guard(*this);
        checkUnlocked();
        if (!selectListed(page))
            return {};
        return produce([&] { return FEngine->GetPageWords(); });
    }

    // listed: the page of a Page object (see LayoutText).
    py::list Records(int page, bool listed) {
        const std::string text = engineText(page, 3, listed);
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

    // The Info dictionary's entries as the file holds them (None for a missing one); nothing of
    // a locked document, whose strings cannot be decrypted yet.
    std::vector<std::optional<std::string>> InfoEntries(const std::vector<std::string>& keys) {
        Guard guard(*this);
        std::vector<std::optional<std::string>> values(keys.size());
        if (!FLocked)
            for (std::size_t i = 0; i < keys.size(); ++i)
                values[i] = FEngine->InfoEntry(keys[i]);
        return values;
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
        std::string text;
        {
            Guard guard(*this);
            checkUnlocked();
            text = runExtraction(settings, range);
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
    void checkUnlocked() const {
        if (FLocked)
            throw TPasswordError(FName + " needs a password: call authenticate() first");
    }

    // Called without the GIL. A page of the document's count that its tree cannot locate
    // selects nothing: false.
    bool selectListed(int page) { return FEngine->SelectPage(page) == 1; }

    // Called without the GIL.
    void selectOrThrow(int page) {
        if (FEngine->SelectPage(page) != 1) {
            const int count = FEngine->PageCount();
            throw py::index_error("page " + std::to_string(page) + " is not a page of " + FName +
                                  " (pages 1 to " + std::to_string(count) + ")");
        }
    }

    // Runs a text production of the engine; its errors become ExtractionError.
    template <class F> auto produce(F&& make) -> decltype(make()) {
        try {
            return make();
        } catch (const std::bad_alloc&) {
            throw;
        } catch (const std::exception& e) {
            throw TExtractionError(e.what());
        }
    }

    std::string engineText(int page, int option, bool listed = false) {
        Guard guard(*this);
        checkUnlocked();
        if (listed) {
            if (!selectListed(page))
                return {};
        } else
            selectOrThrow(page);
        return produce([&] { return FEngine->GetPageText(option); });
    }

    // The user's locale for numbers and collation, made once.
    const tolvane::TLayoutLocale& locale() {
        if (!FLocale)
            FLocale = std::make_unique<tolvane::TLayoutLocale>(
                tolvane::TLayoutLocale::System(korvel::TTextEncoding::Utf8));
        return *FLocale;
    }

    // The window's extraction run over the document as it was loaded: each page taken, its
    // header line, its text in the layout and its footer line, CR LF after each. Called without
    // the GIL.
    std::string runExtraction(const tolvane::TSettings& settings,
                              const std::optional<std::pair<int, int>>& range) {
        const std::int64_t count = FEngine->PageCount();
        const std::int64_t first = range ? range->first : 1;
        const std::int64_t last = range ? range->second : count;
        const int filter = settings.PageFilter();
        std::string problem;
        if (count <= 0)
            problem = "the document has no pages";
        else if (first < 1)
            problem = "page " + std::to_string(first) + " is outside 1-" + std::to_string(count);
        else if (first > last)
            problem = "the page selection " + std::to_string(first) + "-" + std::to_string(last) +
                      " is empty";
        else
            problem = tolvane::CheckPageList({tolvane::TPageSpan{first, last}}, count, filter);
        if (!problem.empty())
            throw py::value_error("pages: " + problem);

        // Only worth a walk over the whole tree when a long range could run past its leaves.
        std::int64_t reach = -1;
        if (last - first + 1 > tolvane::kUnlocatableTail)
            reach = FEngine->LocatablePageBound();
        const std::string date =
            tolvane::NeedsDate(settings.Header()) || tolvane::NeedsDate(settings.Footer())
                ? tolvane::ShortDateToday()
                : std::string();
        const auto frame = [&](const std::string& line, int page) {
            return tolvane::EncodeText(tolvane::ExpandPlaceholders(line, page,
                                                                   static_cast<std::int32_t>(count),
                                                                   FName, date),
                                       korvel::TTextEncoding::Utf8);
        };
        const int layout = settings.TextType();
        std::string text;
        for (std::int64_t p = first; p <= last; ++p) {
            if (reach >= 0 && p > reach && last - p + 1 > tolvane::kUnlocatableTail)
                break; // the rest is not in the page tree: it would be empty pages
            if (!(filter == 1 || (filter == 2 && p % 2 == 1) || (filter == 3 && p % 2 == 0)))
                continue;
            const int page = static_cast<int>(p);
            FEngine->SelectPage(page);
            if (!settings.Header().empty())
                text += frame(settings.Header(), page) + "\r\n";
            text += produce([&] { return tolvane::PageTextByLayout(*FEngine, layout, locale()); });
            if (!settings.Footer().empty())
                text += "\r\n" + frame(settings.Footer(), page);
            text += "\r\n";
        }
        return text;
    }

    std::unique_ptr<korvel::TKorvel> FEngine; // null once closed
    std::mutex FLock;
    std::string FName; // for messages and the run's &f and &n
    std::string FPassword;
    bool FLocked = false; // needs a password that was not given yet
    std::unique_ptr<tolvane::TLayoutLocale> FLocale;
};

// A page of a Document: its number from 0 and its geometry, read when the page is made. It
// holds no objects of the engine; each call selects the page again.
struct TPage {
    py::object Owner; // the Document, kept alive while the page lives
    TDocument* Document = nullptr;
    int Number = 0;
    double Width = 0;
    double Height = 0;
    int Rotation = 0;
};

TPage makePage(const py::object& owner, int number) {
    TDocument& document = owner.cast<TDocument&>();
    const auto [width, height, rotation] = document.PageGeometry(number + 1);
    return TPage{owner, &document, number, width, height, rotation};
}

// A page index of Python's kind: from 0, negative ones from the end.
int pageIndex(TDocument& document, py::ssize_t index) {
    const int count = document.PageCount();
    const py::ssize_t at = index < 0 ? index + count : index;
    if (at < 0 || at >= count)
        throw py::index_error("page index " + std::to_string(index) + " out of range (" +
                              std::to_string(count) + " pages)");
    return static_cast<int>(at);
}

// Iterates over the pages, making each when it is reached.
struct TPageIterator {
    py::object Owner;
    int Next = 0;
};

py::list wordTuples(const std::vector<korvel::TPageWord>& words) {
    py::list result(words.size());
    for (std::size_t i = 0; i < words.size(); ++i) {
        const korvel::TPageWord& word = words[i];
        result[i] = py::make_tuple(word.X0, word.Top, word.X1, word.Bottom, utf8ToStr(word.Text),
                                   word.Block, word.Line, word.Word);
    }
    return result;
}

// Blocks from the words: the box around a block's words, its lines joined by LF and the words
// of a line by a space.
py::list blockTuples(const std::vector<korvel::TPageWord>& words) {
    py::list result;
    std::size_t i = 0;
    while (i < words.size()) {
        const std::int32_t block = words[i].Block;
        double x0 = words[i].X0, top = words[i].Top, x1 = words[i].X1, bottom = words[i].Bottom;
        std::string text = words[i].Text;
        for (++i; i < words.size() && words[i].Block == block; ++i) {
            const korvel::TPageWord& word = words[i];
            text += word.Line == words[i - 1].Line ? ' ' : '\n';
            text += word.Text;
            x0 = std::min(x0, word.X0);
            top = std::min(top, word.Top);
            x1 = std::max(x1, word.X1);
            bottom = std::max(bottom, word.Bottom);
        }
        result.append(py::make_tuple(x0, top, x1, bottom, utf8ToStr(text), block));
    }
    return result;
}

// The parts of the module that are plain Python: the OS errors that are also LoadErrors and the
// decoding of the Info dictionary's strings and dates.
constexpr const char* kPythonPart = R"(
import builtins as _builtins
import datetime as _datetime
import re as _re


class MissingFileError(LoadError, _builtins.FileNotFoundError):
    """The path names no file (a FileNotFoundError and a korvel.LoadError)."""


class DirectoryError(LoadError, _builtins.IsADirectoryError):
    """The path names a folder (an IsADirectoryError and a korvel.LoadError)."""


MissingFileError.__module__ = DirectoryError.__module__ = "korvel"

# PDFDocEncoding where it is not Latin-1.
_PDF_DOC = {
    0x18: "\u02d8", 0x19: "\u02c7", 0x1A: "\u02c6", 0x1B: "\u02d9", 0x1C: "\u02dd",
    0x1D: "\u02db", 0x1E: "\u02da", 0x1F: "\u02dc", 0x80: "\u2022", 0x81: "\u2020",
    0x82: "\u2021", 0x83: "\u2026", 0x84: "\u2014", 0x85: "\u2013", 0x86: "\u0192",
    0x87: "\u2044", 0x88: "\u2039", 0x89: "\u203a", 0x8A: "\u2212", 0x8B: "\u2030",
    0x8C: "\u201e", 0x8D: "\u201c", 0x8E: "\u201d", 0x8F: "\u2018", 0x90: "\u2019",
    0x91: "\u201a", 0x92: "\u2122", 0x93: "\ufb01", 0x94: "\ufb02", 0x95: "\u0141",
    0x96: "\u0152", 0x97: "\u0160", 0x98: "\u0178", 0x99: "\u017d", 0x9A: "\u0131",
    0x9B: "\u0142", 0x9C: "\u0153", 0x9D: "\u0161", 0x9E: "\u017e", 0xA0: "\u20ac",
}
_DATE = _re.compile(r"(?:D:)?(\d{4})(\d\d)?(\d\d)?(\d\d)?(\d\d)?(\d\d)?"
                    r"(?:([Zz])'?|([+-])(\d\d)(?:'?(\d\d))?'?)?\s*$")
_FIELDS = (("title", "Title"), ("author", "Author"), ("subject", "Subject"),
           ("keywords", "Keywords"), ("creator", "Creator"), ("producer", "Producer"),
           ("creation_date", "CreationDate"), ("modification_date", "ModDate"))
_INFO_KEYS = [key for _, key in _FIELDS]


def _info_text(raw):
    if raw[:2] == b"\xfe\xff":
        return raw[2:].decode("utf-16-be", "replace")
    if raw[:3] == b"\xef\xbb\xbf":
        return raw[3:].decode("utf-8", "replace")
    return "".join(_PDF_DOC.get(byte, chr(byte)) for byte in raw)


def _info_date(text):
    found = _DATE.match(text.strip())
    if not found:
        return text
    parts = [int(part) if part else default
             for part, default in zip(found.groups()[:6], (0, 1, 1, 0, 0, 0))]
    zone = None
    if found[7]:
        zone = _datetime.timezone.utc
    elif found[8]:
        offset = _datetime.timedelta(hours=int(found[9]), minutes=int(found[10] or 0))
        try:
            zone = _datetime.timezone(-offset if found[8] == "-" else offset)
        except ValueError:
            return text
    try:
        return _datetime.datetime(*parts, tzinfo=zone)
    except ValueError:
        return text


def _metadata(raws):
    result = {}
    for (name, _), raw in zip(_FIELDS, raws):
        value = None if raw is None else _info_text(raw)
        if value is not None and name.endswith("_date"):
            value = _info_date(value)
        result[name] = value
    return result
)";

} // namespace

PYBIND11_MODULE(korvel, m) {
    m.doc() = R"(PDF text extraction with the korvel engine.

    with korvel.open("report.pdf") as doc:
        print(len(doc), doc.metadata["title"])
        for page in doc:                    # pages from 0, as Python counts
            print(page.number, page.width, page.height, page.rotation)
            text = page.text()              # reading order, LF line ends
            for x0, top, x1, bottom, word, block, line, n in page.words():
                ...
        rows = doc.extract(layout="smart")  # the application's run: every page, framed

open() takes a path (str or os.PathLike), the bytes of a file (bytes, bytearray, memoryview) or
a binary file object. Text is always str (the engine is asked for UTF-8). Errors:
LoadError (not a readable PDF; MissingFileError and DirectoryError are also the OS errors
FileNotFoundError and IsADirectoryError), PasswordError (a needed password is missing or
wrong), EncryptionError (a security handler the engine does not support), ExtractionError (the
engine failed on a page); all derive from korvel.Error.

Threads: the engine runs with the GIL released, so threads that each open and extract their
own documents run in parallel on several cores. A Document is not meant to be shared between
threads; calls on one Document from several threads wait for one another.)";
    m.attr("__version__") = TOLVANE_VERSION;

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

    py::exec(kPythonPart, m.attr("__dict__").cast<py::dict>());

    const py::object namedtuple = py::module_::import("collections").attr("namedtuple");
    py::object record =
        namedtuple("Record", py::make_tuple("font", "color", "size", "x1", "y1", "x2", "y2", "x3",
                                            "y3", "x4", "y4", "text"));
    record.attr("__module__") = "korvel";
    record.attr("__doc__") =
        "A positioned text block of a page: font name, colour as '#RRGGBB', font size, the four "
        "corners of its box (x1, y1) to (x4, y4) in the page's units, and its text.";
    m.attr("Record") = record;

    py::class_<TPage>(m, "Page", R"(A page of a Document, from doc[i] or iterating over doc.

number counts from 0; width and height are in points as the page is displayed (its crop box,
else its media box, turned by its rotation, 0, 90, 180 or 270). Boxes are in points from the top left of the page
as displayed, as PyMuPDF's and pdfplumber's are.)")
        .def_readonly("number", &TPage::Number, "The page's index, from 0.")
        .def_readonly("width", &TPage::Width, "Width in points as displayed.")
        .def_readonly("height", &TPage::Height, "Height in points as displayed.")
        .def_readonly("rotation", &TPage::Rotation, "The page's rotation: 0, 90, 180 or 270.")
        .def_readonly("document", &TPage::Owner, "The Document the page belongs to.")
        .def(
            "text",
            [](const TPage& page, const std::string& layout) {
                return page.Document->LayoutText(page.Number + 1, layout);
            },
            py::arg("layout") = "reading",
            R"(The page's text as str, without header or footer.

layout: 'reading' (columns, blocks and lines in reading order, a blank line between blocks),
'smart' (rows top to bottom, left to right), 'order' (content order), 'position' (every block
with its coordinates) or 'raw' (the engine's option 0, content order as it is). Lines end in
LF, with no blanks at their ends; every line ends in LF, so the pages' texts add up to a text
file. ExtractionError when the engine fails on the page.)")
        .def(
            "words",
            [](const TPage& page) { return wordTuples(page.Document->Words(page.Number + 1)); },
            R"(The page's words in reading order as tuples
(x0, top, x1, bottom, text, block, line, word): the box in points from the top left of the
page as displayed, then the word's text and its block, line (within the block) and word
(within the line) numbers from 0, as PyMuPDF's get_text("words") gives them.)")
        .def(
            "blocks",
            [](const TPage& page) { return blockTuples(page.Document->Words(page.Number + 1)); },
            R"(The page's blocks in reading order as tuples (x0, top, x1, bottom, text, block):
the box around the block's words, its text (lines joined by LF, words by a space) and its
number from 0, the same block numbers as words() gives.)")
        .def(
            "records",
            [](const TPage& page) { return page.Document->Records(page.Number + 1, true); },
            "The positioned text blocks of the page (option 3) as a list of korvel.Record.")
        .def("__repr__", [](const TPage& page) {
            return "<korvel.Page " + std::to_string(page.Number) + " of " +
                   py::repr(py::str(page.Document->Name())).cast<std::string>() + ">";
        });

    py::class_<TPageIterator>(m, "_PageIterator")
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", [](TPageIterator& it) {
            TDocument& document = it.Owner.cast<TDocument&>();
            if (it.Next >= document.PageCount())
                throw py::stop_iteration();
            return makePage(it.Owner, it.Next++);
        });

    const auto openDocument = [](const py::object& source, const py::object& password,
                                 bool repair) {
        return std::make_unique<TDocument>(source, password, repair, true);
    };

    py::class_<TDocument>(m, "Document", R"(An open PDF document; made by korvel.open().

A context manager: leaving the `with` block closes it. A sequence of pages: len(doc), doc[0],
doc[-1], doc[1:3] (a list of pages) and `for page in doc` count pages from 0 as Python does.
The older calls page_text(), page_size() and records() number pages from 1.

Iterating over a long document holds the engine's objects of one page at a time: a page is
read when it is asked for and let go when the next one is, so memory stays that of one page.

korvel.Document(source, password=None, repair=False) opens as korvel.open() does, except that
a document that needs a password and was given none opens locked: needs_password is True and
its text raises PasswordError until authenticate() takes the right password.

Not meant to be shared between threads (calls from several threads wait for one another).)")
        .def(py::init([](const py::object& source, const py::object& password, bool repair) {
                 return std::make_unique<TDocument>(source, password, repair, false);
             }),
             py::arg("source"), py::arg("password") = py::none(), py::arg("repair") = false)
        .def_property_readonly("page_count", &TDocument::PageCount, "The number of pages.")
        .def_property_readonly("encrypted", &TDocument::Encrypted, "Whether the file is encrypted.")
        .def_property_readonly("is_encrypted", &TDocument::Encrypted,
                               "Whether the file is encrypted (it stays so once authenticated).")
        .def_property_readonly("needs_password", &TDocument::Locked,
                               "Whether the document's text waits for authenticate().")
        .def("authenticate", &TDocument::Authenticate, py::arg("password"),
             "Applies a password (str or bytes); True when it opens the document, which is then "
             "no longer locked, False when it does not.")
        .def_property_readonly(
            "metadata",
            [](TDocument& self) {
                const py::object korvel = py::module_::import("korvel");
                const auto keys = korvel.attr("_INFO_KEYS").cast<std::vector<std::string>>();
                py::list raws;
                for (const std::optional<std::string>& value : self.InfoEntries(keys))
                    raws.append(value ? py::object(py::bytes(*value)) : py::object(py::none()));
                return korvel.attr("_metadata")(raws);
            },
            R"(The Info dictionary as a dict of str: title, author, subject, keywords, creator,
producer, creation_date and modification_date. Strings are decoded from PDFDocEncoding or
UTF-16BE (with its byte order mark); dates are datetime objects where they read as
D:YYYYMMDDHHmmSSOHH'mm' (with tzinfo when the date gives its zone), else the str as it is.
A missing entry is None, and so is every entry of a locked document.)")
        .def_property_readonly("closed", &TDocument::Closed, "Whether close() was called.")
        .def_property_readonly("name", &TDocument::Name,
                               "The path the document was opened from, or '<bytes>'.")
        .def("__len__", &TDocument::PageCount)
        .def(
            "__getitem__",
            [](py::object self, py::ssize_t index) {
                return makePage(self, pageIndex(self.cast<TDocument&>(), index));
            },
            py::arg("index"))
        .def("__getitem__",
             [](py::object self, const py::slice& slice) {
                 TDocument& document = self.cast<TDocument&>();
                 py::ssize_t start = 0, stop = 0, step = 0, length = 0;
                 if (!slice.compute(document.PageCount(), &start, &stop, &step, &length))
                     throw py::error_already_set();
                 py::list pages;
                 for (py::ssize_t i = 0; i < length; ++i) {
                     pages.append(makePage(self, static_cast<int>(start)));
                     start += step;
                 }
                 return pages;
             })
        .def("__iter__",
             [](py::object self) {
                 return TPageIterator{self, 0};
             })
        .def("page_size", &TDocument::PageSize, py::arg("page"),
             "(width, height) of page 1, 2, ... in points (media box, unrotated). IndexError for "
             "a page the document lacks.")
        .def("page_text", &TDocument::PageText, py::arg("page"), py::arg("option") = 0,
             R"(The text of page 1, 2, ... for an extraction option, as str.

0 and 1: plain text in content order; 2: one record line per text-showing operator; 3: one
record per positioned text block (see records()); 4: positioned text in the engine's
reading order. Lines end in CR LF. IndexError for a page the document lacks, ValueError for
an option outside 0 to 4, ExtractionError when the engine fails on the page.)")
        .def(
            "records", [](TDocument& self, int page) { return self.Records(page, false); },
            py::arg("page"),
            "The positioned text blocks of page 1, 2, ... (option 3) as a list of "
            "korvel.Record.")
        .def("extract", &TDocument::Extract, py::arg("layout") = "smart",
             py::arg("pages") = py::none(), py::arg("filter") = "all",
             py::arg("header") = py::none(), py::arg("footer") = py::none(),
             R"(The application's extraction run over the document, as one str.

layout: 'smart' (rows top to bottom, left to right), 'order' (content order), 'position'
(every block with its coordinates) or 'reading' (reading order: columns, blocks and lines).
pages: None for all, a page number from 1, a (first, last) pair or a range of step 1; a page
outside the document or a selection with no page in it raises ValueError. filter: 'all',
'odd' or 'even' pages by number. header, footer: the line written before and after each page
(None for the defaults: no header, footer ' = Page &p ='; '' for none) with &p page, &a page
count, &f path, &n file name, &d date. Lines end in CR LF. The run works on the document as
open() loaded it; the file is not read again.)")
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

    m.def("open", openDocument, py::arg("source"), py::arg("password") = py::none(),
          py::arg("repair") = false,
          R"(Opens a PDF document from a path (str or os.PathLike), its bytes (bytes, bytearray,
memoryview) or a binary file object (anything with read(): io.BytesIO, an open file).

password: str or bytes (UTF-8; older handlers get its Windows-1252 bytes); needed when the
document cannot be opened with the empty user password. repair: read a damaged file leniently,
rebuilding what its cross-reference information no longer says. Raises LoadError (a missing
path MissingFileError, a folder DirectoryError: also FileNotFoundError and
IsADirectoryError), PasswordError or EncryptionError.)");
}
