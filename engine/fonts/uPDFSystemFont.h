#pragma once
// The system substitute of a font without a usable program: the installed family (and style)
// chosen from the font's BaseFont name and FontDescriptor flags, and that family's TrueType
// data, from which the font takes its default glyph widths. A pure function over the name, the
// flags and an installed-font service.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/uInstalledFonts.h"

namespace korvel {

struct TSystemSubstitute {
    std::string Family; // the family the data was asked for last
    TFontStyle Style;
    // The TrueType data; nullptr when neither the family nor "Arial" has any (the font then
    // gets a program without glyph names, from which no width is taken).
    std::shared_ptr<const std::string> Data;
};

// Chooses the substitute:
//  1. a trailing "MT" goes, then the first "MT-";
//  2. a subset prefix (six capitals and "+") goes, then everything from a remaining "+";
//  3. "-BoldItalic"/"-BoldOblique" become ",BoldItalic", then "-Bold" ",Bold", "-Italic" and
//     "-Oblique" ",Italic";
//  4. a standard font's name becomes the name it is recorded under ("Helvetica" -> "Arial");
//  5. a trailing ",Bold", then ",Italic", then ",BoldItalic" turn into the style;
//  6. the first listed family whose name without spaces equals the name is taken in that style;
//  7. otherwise "Arial" ("Courier" with the FixedPitch flag, "Times New Roman" with Serif), in
//     italic when the Italic flag is set and upright otherwise;
//  8. when that family has no data (or too much), "Arial" in the same style is asked instead.
TSystemSubstitute SystemSubstitute(std::string_view fontName, std::int32_t flags,
                                   TInstalledFonts& fonts = InstalledFonts());

} // namespace korvel
