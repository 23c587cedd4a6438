#pragma once
// The user's locale as the layouts and the header and footer lines use it, read from the
// environment the way the desktop toolkit reads it on Unix: collation by LC_ALL, LC_MESSAGES
// or LANG (a first LANGUAGE entry that contradicts it wins), numbers by LC_ALL, LC_NUMERIC or
// LANG, dates by LC_ALL, LC_TIME or LANG. The locale data (CLDR) comes from ICU, which is
// loaded at the first call that needs it, not at start: commands that neither sort rows nor
// write numbers or dates never load it. "C", "POSIX", names ICU knows no language of and an
// ICU that cannot be loaded all read as the C locale.

#include <memory>
#include <string>
#include <string_view>

namespace tolvane {

// Text as valid UTF-8: each byte that is not part of a well-formed sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view text);
// UTF-8 as UTF-16 (ill-formed bytes as U+FFFD).
std::u16string Utf8ToUtf16(std::string_view text);

// The locale names of the environment ("de_DE.UTF-8"), empty when none is set.
std::string CollationLocaleName();
std::string NumericLocaleName();
std::string TimeLocaleName();

// The decimal separator (UTF-8) of the numeric locale: "." in the C locale.
std::string DecimalSeparatorOf(const std::string& localeName);
// A date in the time locale's short format: "4 Mar 2026" in the C locale.
std::string ShortDateOf(const std::string& localeName, int year, int month, int day);

// Compares text by a locale's collation, letter case ignored; in the C locale by code unit
// after simple case folding. Empty text sorts first. Made on the first comparison.
class TCollator {
public:
    explicit TCollator(std::string localeName = CollationLocaleName());
    ~TCollator();
    TCollator(TCollator&&) noexcept;
    TCollator& operator=(TCollator&&) noexcept;
    // Negative, zero or positive as a sorts before, with or after b.
    int Compare(std::u16string_view a, std::u16string_view b) const;

private:
    struct TImpl;
    std::string FLocaleName;
    mutable std::unique_ptr<TImpl> FImpl;
};

} // namespace tolvane
