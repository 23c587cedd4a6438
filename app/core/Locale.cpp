#include "Locale.h"

#include <dlfcn.h>

#include <unicode/uchar.h>
#include <unicode/ucol.h>
#include <unicode/udat.h>
#include <unicode/uloc.h>
#include <unicode/unum.h>
#include <unicode/uvernum.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>

namespace tolvane {

namespace {

#define TOLVANE_STRING2(x) #x
#define TOLVANE_STRING(x) TOLVANE_STRING2(x)
// The versioned names the ICU headers give their functions (ucol_open is ucol_open_72).
#define TOLVANE_ICU_SYMBOL(name) TOLVANE_STRING(name)

// ICU, opened at the first use. Missing libraries or functions leave it unusable (C locale).
struct TIcu {
    decltype(&u_foldCase) FoldCase = nullptr;
    decltype(&uloc_countAvailable) CountAvailable = nullptr;
    decltype(&uloc_getAvailable) GetAvailable = nullptr;
    decltype(&ucol_open) CollatorOpen = nullptr;
    decltype(&ucol_setAttribute) CollatorSetAttribute = nullptr;
    decltype(&ucol_strcoll) CollatorCompare = nullptr;
    decltype(&ucol_close) CollatorClose = nullptr;
    decltype(&udat_open) DateOpen = nullptr;
    decltype(&udat_format) DateFormat = nullptr;
    decltype(&udat_close) DateClose = nullptr;
    decltype(&unum_open) NumberOpen = nullptr;
    decltype(&unum_getSymbol) NumberSymbol = nullptr;
    decltype(&unum_close) NumberClose = nullptr;
    std::set<std::string> Languages; // the languages ICU has locale data for
    bool Usable = false;
};

template <typename F>
bool bind(void* library, const char* name, F& function) {
    function = library ? reinterpret_cast<F>(::dlsym(library, name)) : nullptr;
    return function != nullptr;
}

const TIcu& icu() {
    static const TIcu loaded = [] {
        TIcu result;
        void* common = ::dlopen("libicuuc.so." TOLVANE_STRING(U_ICU_VERSION_MAJOR_NUM),
                                RTLD_NOW | RTLD_LOCAL);
        void* i18n = ::dlopen("libicui18n.so." TOLVANE_STRING(U_ICU_VERSION_MAJOR_NUM),
                              RTLD_NOW | RTLD_LOCAL);
        result.Usable =
            bind(common, TOLVANE_ICU_SYMBOL(u_foldCase), result.FoldCase) &&
            bind(common, TOLVANE_ICU_SYMBOL(uloc_countAvailable), result.CountAvailable) &&
            bind(common, TOLVANE_ICU_SYMBOL(uloc_getAvailable), result.GetAvailable) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(ucol_open), result.CollatorOpen) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(ucol_setAttribute), result.CollatorSetAttribute) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(ucol_strcoll), result.CollatorCompare) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(ucol_close), result.CollatorClose) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(udat_open), result.DateOpen) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(udat_format), result.DateFormat) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(udat_close), result.DateClose) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(unum_open), result.NumberOpen) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(unum_getSymbol), result.NumberSymbol) &&
            bind(i18n, TOLVANE_ICU_SYMBOL(unum_close), result.NumberClose);
        if (result.Usable) {
            const std::int32_t count = result.CountAvailable();
            for (std::int32_t i = 0; i < count; ++i) {
                const std::string name = result.GetAvailable(i);
                result.Languages.insert(name.substr(0, name.find('_')));
            }
        }
        return result;
    }();
    return loaded;
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::string firstSet(const char* specific) {
    std::string value = environment("LC_ALL");
    if (value.empty())
        value = environment(specific);
    if (value.empty())
        value = environment("LANG");
    return value;
}

// "de_DE.UTF-8@euro" as ICU names it ("de_DE"); empty for the C locale and for a language
// ICU does not know.
std::string icuLocaleName(const std::string& name) {
    std::string base = name.substr(0, name.find_first_of(".@"));
    for (char& c : base)
        if (c == '-')
            c = '_';
    const std::string language = base.substr(0, base.find('_'));
    if (language.empty() || language == "C" || language == "POSIX")
        return {};
    const TIcu& library = icu();
    if (!library.Usable || library.Languages.count(language) == 0)
        return {};
    return base;
}

// Language and territory of a locale name: what two names are compared by.
std::pair<std::string, std::string> languageAndTerritory(const std::string& name) {
    const std::string base = name.substr(0, name.find_first_of(".@"));
    const std::size_t cut = base.find_first_of("_-");
    if (cut == std::string::npos)
        return {base, {}};
    return {base.substr(0, cut), base.substr(cut + 1)};
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            result += static_cast<char>(c);
        } else if (c < 0x800) {
            result += static_cast<char>(0xC0 | (c >> 6));
            result += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            result += static_cast<char>(0xE0 | (c >> 12));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            result += static_cast<char>(0xF0 | (c >> 18));
            result += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            result += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            result += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return result;
}

// Decodes one well-formed UTF-8 sequence at text[i]; its length, or 0 when ill-formed.
std::size_t decodeUtf8(std::string_view text, std::size_t i, char32_t& code) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        code = lead;
        return 1;
    } else if (lead >= 0xC2 && lead < 0xE0) {
        length = 2, minimum = 0x80, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3, minimum = 0x800, code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead < 0xF5) {
        length = 4, minimum = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000))
        return 0;
    return length;
}

} // namespace

std::string ValidUtf8(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = decodeUtf8(text, i, code);
        if (length == 0) {
            result += "\xEF\xBF\xBD";
            ++i;
        } else {
            result.append(text.substr(i, length));
            i += length;
        }
    }
    return result;
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0xFFFD;
        const std::size_t length = decodeUtf8(text, i, code);
        if (length == 0)
            code = 0xFFFD;
        i += length == 0 ? 1 : length;
        if (code >= 0x10000) {
            result += static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10));
            result += static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            result += static_cast<char16_t>(code);
        }
    }
    return result;
}

std::string CollationLocaleName() {
    const std::string known = firstSet("LC_MESSAGES");
    if (known.empty() || known == "C" || known == "POSIX")
        return known;
    // A first LANGUAGE entry that says something else than the name (another language, or
    // another territory) is taken instead; one that only says less is not.
    const std::string languages = environment("LANGUAGE");
    const std::string first = languages.substr(0, languages.find(':'));
    if (!first.empty()) {
        const auto [language, territory] = languageAndTerritory(first);
        const auto [knownLanguage, knownTerritory] = languageAndTerritory(known);
        if (language != knownLanguage || (!territory.empty() && territory != knownTerritory))
            return first;
    }
    return known;
}

std::string NumericLocaleName() {
    return firstSet("LC_NUMERIC");
}

std::string TimeLocaleName() {
    return firstSet("LC_TIME");
}

std::string DecimalSeparatorOf(const std::string& localeName) {
    const std::string name = icuLocaleName(localeName);
    if (name.empty())
        return ".";
    const TIcu& library = icu();
    UErrorCode status = U_ZERO_ERROR;
    UNumberFormat* format = library.NumberOpen(UNUM_DECIMAL, nullptr, 0, name.c_str(), nullptr,
                                               &status);
    std::string result = ".";
    if (U_SUCCESS(status) && format) {
        UChar symbol[16];
        const std::int32_t length = library.NumberSymbol(
            format, UNUM_DECIMAL_SEPARATOR_SYMBOL, symbol, 16, &status);
        if (U_SUCCESS(status) && length > 0 && length <= 16)
            result = utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(symbol),
                                                     static_cast<std::size_t>(length)));
    }
    if (format)
        library.NumberClose(format);
    return result;
}

std::string ShortDateOf(const std::string& localeName, int year, int month, int day) {
    const std::string name = icuLocaleName(localeName);
    if (name.empty()) {
        static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                              "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        return std::to_string(day) + ' ' + kMonths[(month - 1) % 12] + ' ' +
               std::to_string(year);
    }
    // Noon of the day in UTC, written in UTC, in the Gregorian calendar whatever the locale's.
    const auto daysFromCivil = [](long long y, unsigned m, unsigned d) {
        y -= m <= 2;
        const long long era = (y >= 0 ? y : y - 399) / 400;
        const unsigned yoe = static_cast<unsigned>(y - era * 400);
        const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
        const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        return era * 146097 + static_cast<long long>(doe) - 719468;
    };
    const double when = (static_cast<double>(daysFromCivil(year, static_cast<unsigned>(month),
                                                           static_cast<unsigned>(day))) *
                             86400.0 +
                         43200.0) *
                        1000.0;
    const TIcu& library = icu();
    const std::string gregorian = name + "@calendar=gregorian";
    static const UChar kUtc[] = {u'U', u'T', u'C'};
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = library.DateOpen(UDAT_NONE, UDAT_SHORT, gregorian.c_str(), kUtc, 3,
                                           nullptr, 0, &status);
    std::string result;
    if (U_SUCCESS(status) && format) {
        UChar text[128];
        const std::int32_t length = library.DateFormat(format, when, text, 128, nullptr, &status);
        if (U_SUCCESS(status) && length > 0 && length <= 128)
            result = utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text),
                                                     static_cast<std::size_t>(length)));
    }
    if (format)
        library.DateClose(format);
    return result;
}

struct TCollator::TImpl {
    UCollator* Collator = nullptr; // none: the C locale's comparison
    ~TImpl() {
        if (Collator)
            icu().CollatorClose(Collator);
    }
};

TCollator::TCollator(std::string localeName) : FLocaleName(std::move(localeName)) {}
TCollator::~TCollator() = default;
TCollator::TCollator(TCollator&&) noexcept = default;
TCollator& TCollator::operator=(TCollator&&) noexcept = default;

int TCollator::Compare(std::u16string_view a, std::u16string_view b) const {
    if (a.empty())
        return b.empty() ? 0 : -1;
    if (b.empty())
        return 1;
    if (!FImpl) {
        FImpl = std::make_unique<TImpl>();
        const std::string name = icuLocaleName(FLocaleName);
        if (!name.empty()) {
            const TIcu& library = icu();
            UErrorCode status = U_ZERO_ERROR;
            UCollator* collator = library.CollatorOpen(name.c_str(), &status);
            if (U_SUCCESS(status) && collator) {
                // Normalised, accents counted, letter case not; punctuation not ignored.
                library.CollatorSetAttribute(collator, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
                library.CollatorSetAttribute(collator, UCOL_STRENGTH, UCOL_SECONDARY, &status);
                library.CollatorSetAttribute(collator, UCOL_NUMERIC_COLLATION, UCOL_OFF, &status);
                library.CollatorSetAttribute(collator, UCOL_ALTERNATE_HANDLING,
                                             UCOL_NON_IGNORABLE, &status);
                FImpl->Collator = collator;
            } else if (collator) {
                library.CollatorClose(collator);
            }
        }
    }
    if (FImpl->Collator)
        return icu().CollatorCompare(FImpl->Collator, reinterpret_cast<const UChar*>(a.data()),
                                     static_cast<std::int32_t>(a.size()),
                                     reinterpret_cast<const UChar*>(b.data()),
                                     static_cast<std::int32_t>(b.size()));
    // The C locale: code units after simple case folding (a pair folded as one code point).
    const TIcu& library = icu();
    const auto folded = [&](std::u16string_view text, std::size_t i) -> int {
        char32_t c = text[i];
        if (c >= 0xDC00 && c < 0xE000 && i > 0 && text[i - 1] >= 0xD800 && text[i - 1] < 0xDC00)
            c = 0x10000 + ((static_cast<char32_t>(text[i - 1]) - 0xD800) << 10) + (c - 0xDC00);
        if (library.Usable)
            c = static_cast<char32_t>(library.FoldCase(static_cast<UChar32>(c), U_FOLD_CASE_DEFAULT));
        else if (c >= 'A' && c <= 'Z')
            c += 'a' - 'A';
        if (c >= 0x10000)
            return static_cast<int>(text[i] >= 0xDC00 ? 0xDC00 + ((c - 0x10000) & 0x3FF)
                                                      : 0xD800 + ((c - 0x10000) >> 10));
        return static_cast<int>(c);
    };
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i)
        if (const int diff = folded(a, i) - folded(b, i); diff != 0)
            return diff;
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

} // namespace tolvane
