#include "fonts/uPDFSystemFont.h"

#include "fonts/uPDFFontConst.h"

namespace korvel {

namespace {

// FontDescriptor flags the choice looks at.
constexpr std::int32_t kFixedPitch = 1;
constexpr std::int32_t kSerif = 2;
constexpr std::int32_t kItalic = 64;

bool endsWith(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

bool dropSuffix(std::string& s, std::string_view suffix) {
    if (!endsWith(s, suffix))
        return false;
    s.resize(s.size() - suffix.size());
    return true;
}

void replaceAll(std::string& s, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(s.size());
    std::size_t at = 0;
    for (std::size_t hit; (hit = s.find(from, at)) != std::string::npos; at = hit + from.size())
        out.append(s, at, hit - at).append(to);
    out.append(s, at, std::string::npos);
    s = std::move(out);
}

bool hasSubsetPrefix(std::string_view s) {
    if (s.size() <= 7 || s[6] != '+')
        return false;
    for (std::size_t i = 0; i < 6; ++i)
        if (s[i] < 'A' || s[i] > 'Z')
            return false;
    return true;
}

bool equalWithoutSpaces(std::string_view family, std::string_view name) {
    std::size_t n = 0;
    for (const char c : family) {
        if (c == ' ')
            continue;
        if (n >= name.size() || name[n] != c)
            return false;
        ++n;
    }
    return n == name.size();
}

} // namespace

TSystemSubstitute SystemSubstitute(std::string_view fontName, std::int32_t flags,
                                   TInstalledFonts& fonts) {
    std::string name(fontName);
    dropSuffix(name, "MT");
    if (const auto at = name.find("MT-"); at != std::string::npos)
        name.erase(at, 3);

    if (hasSubsetPrefix(name))
        name.erase(0, 7);
    if (const auto plus = name.find('+'); plus != std::string::npos)
        name.resize(plus);

    replaceAll(name, "-BoldItalic", ",BoldItalic");
    replaceAll(name, "-BoldOblique", ",BoldItalic");
    replaceAll(name, "-Bold", ",Bold");
    replaceAll(name, "-Italic", ",Italic");
    replaceAll(name, "-Oblique", ",Italic");

    if (const TPDFStandardFont* row = StandardFontRow(MatchStandardFont(name)))
        name = std::string(row->SubstituteName);

    TFontStyle style;
    if (dropSuffix(name, ",Bold"))
        style.Bold = true;
    if (dropSuffix(name, ",Italic"))
        style.Italic = true;
    if (dropSuffix(name, ",BoldItalic"))
        style.Bold = style.Italic = true;

    TSystemSubstitute chosen;
    bool listed = false;
    for (const std::string& family : fonts.FamilyList()) {
        if (equalWithoutSpaces(family, name)) {
            chosen.Family = family;
            chosen.Style = style;
            listed = true;
            break;
        }
    }
    if (!listed) {
        chosen.Family = "Arial";
        if (flags & kFixedPitch)
            chosen.Family = "Courier";
        if (flags & kSerif)
            chosen.Family = "Times New Roman";
        chosen.Style = TFontStyle{false, (flags & kItalic) != 0};
    }

    chosen.Data = fonts.FontData(chosen.Family, chosen.Style);
    if (!chosen.Data) {
        chosen.Family = "Arial";
        chosen.Data = fonts.FontData(chosen.Family, chosen.Style);
    }
    return chosen;
}

} // namespace korvel
