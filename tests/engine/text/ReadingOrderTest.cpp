// Reading order over glyphs placed by hand: words, lines with their scripts, blocks, columns
// and bands, gutters, directions, duplicates and ligatures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <tuple>

#include "text/uPDFReadingOrder.h"

using korvel::TPDFReadingOrder;
using korvel::TReadingGlyph;

namespace {

constexpr double kPageWidth = 600;
constexpr double kPageHeight = 800;

// Glyphs of `text` from (x, y) along direction `quarter` (0 right, 1 up, 2 left, 3 down), each
// character half the size wide, spaces as glyphs of their own; `gap` is put between letters.
void place(std::vector<TReadingGlyph>& glyphs, const std::string& text, double x, double y,
           double size = 10, int quarter = 0, double gap = 0) {
    const double dx[] = {1, 0, -1, 0};
    const double dy[] = {0, 1, 0, -1};
    for (const char c : text) {
        TReadingGlyph g;
        g.Text = std::string(1, c);
        g.X = x;
        g.Y = y;
        g.DirX = dx[quarter];
        g.DirY = dy[quarter];
        g.Size = size;
        g.Advance = (c == ' ' ? 0.25 : 0.5) * size;
        glyphs.push_back(g);
        x += dx[quarter] * (g.Advance + gap);
        y += dy[quarter] * (g.Advance + gap);
    }
}

std::string read(const std::vector<TReadingGlyph>& glyphs) {
    return TPDFReadingOrder::Text(TPDFReadingOrder::LayOut(glyphs, kPageWidth, kPageHeight));
}

} // namespace

TEST(ReadingOrder, WordsBreakAtSpacesAndAtGapsButNotAtKerning) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "two words", 50, 700);
    place(glyphs, "kern", 50, 688, 10, 0, 0.2); // 0.02 of the size between letters
    place(glyphs, "is", 50, 676);               // no space glyph: a gap of 0.3 of the size
    place(glyphs, "available", 63, 676);
    place(glyphs, "SPACED", 50, 664, 10, 0, 3); // letter-spaced: every gap 0.3 of the size
    place(glyphs, "          ", 46, 652);       // a field of blanks under a date
    place(glyphs, "03/25", 50, 652);
    place(glyphs, "!#$%", 50, 640, 10, 0, 15); // a chart of characters, 1.5 sizes apart
    EXPECT_EQ(read(glyphs), "two words\nkern\nis available\nSPACED\n03/25\n! # $ %\n");
}

TEST(ReadingOrder, ScriptsStayInTheirLine) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "*", 50, 704, 6); // a footnote mark before the line it belongs to
    place(glyphs, "Author", 53, 700);
    place(glyphs, "E=mc", 50, 688);
    place(glyphs, "2", 70, 692, 6);
    place(glyphs, "x", 50, 676);
    place(glyphs, "i", 55, 673, 6);
    place(glyphs, "H", 50, 664); // a subscript half the size lower, between letters
    place(glyphs, "2", 55, 659, 6);
    place(glyphs, "O", 58, 664);
    EXPECT_EQ(read(glyphs), "*Author\nE=mc2\nxi\nH2O\n");
    // As low under a cell of a row, or after a line's end, small text is a line of its own.
    glyphs.clear();
    place(glyphs, "66", 50, 640, 11);
    place(glyphs, "66", 70, 640, 11);
    place(glyphs, "2,000", 90, 640, 11);
    place(glyphs, "69", 70, 635, 7);
    place(glyphs, "end", 50, 600, 11);
    place(glyphs, "ab", 67, 595, 7);
    EXPECT_EQ(read(glyphs), "66 66 2,000\n\n69\n\nend\n\nab\n");
}

TEST(ReadingOrder, ColumnsReadWholeUnderATitleAndAboveAFooter) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "A title across both columns of the page", 150, 760, 14);
    // Two columns on shared baselines, with a paragraph break at the same height in both.
    for (int line = 0; line < 6; ++line) {
        const double y = 700 - 12 * line - (line >= 3 ? 12 : 0);
        place(glyphs, "left " + std::to_string(line) + " of some prose here", 50, y);
        place(glyphs, "right " + std::to_string(line) + " of some prose here", 320, y);
    }
    place(glyphs, "A footer line that spans the page from left to right too", 50, 60);
    EXPECT_EQ(read(glyphs), "A title across both columns of the page\n\n"
                            "left 0 of some prose here\nleft 1 of some prose here\n"
                            "left 2 of some prose here\n\nleft 3 of some prose here\n"
                            "left 4 of some prose here\nleft 5 of some prose here\n\n"
                            "right 0 of some prose here\nright 1 of some prose here\n"
                            "right 2 of some prose here\n\nright 3 of some prose here\n"
                            "right 4 of some prose here\nright 5 of some prose here\n\n"
                            "A footer line that spans the page from left to right too\n");
}

TEST(ReadingOrder, NarrowGuttersPartColumnsWideJustifiedGapsDoNot) {
    std::vector<TReadingGlyph> glyphs;
    // Columns 212.5 points wide, a gutter of one font size; the left column's third line is a
    // paragraph's last, the right column's second line starts a paragraph indented.
    const char* const left[] = {"aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jj",
                                "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jj", "aaaa bbbb",
                                "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jj",
                                "aaaa bbbb cccc dddd eeee ffff gggg hhhh iiii jj"};
    for (int line = 0; line < 5; ++line) {
        place(glyphs, left[line], 50, 700 - 12 * line);
        place(glyphs, line == 1 ? "  kkkk llll mmmm nnnn oooo pppp qqqq rrrr" :
                                  "kkkk llll mmmm nnnn oooo pppp qqqq rrrr ssss",
              272.5, 700 - 12 * line);
    }
    place(glyphs, "wide", 50, 600);  // a justified line's gap of 2.5 sizes, alone on its
    place(glyphs, "gap", 95, 600);   // baseline: it does not line up with others
    const std::string text = read(glyphs);
    EXPECT_EQ(text.find("jj kkkk"), std::string::npos) << text;
    EXPECT_EQ(text.find("bbbb kkkk"), std::string::npos) << text;
    EXPECT_LT(text.find("aaaa bbbb\naaaa"), text.find("kkkk")) << text;
    EXPECT_NE(text.find("wide gap"), std::string::npos) << text;
}

TEST(ReadingOrder, TableRowsReadAcrossTheirCells) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "A table of counts", 50, 760, 14);
    const char* const rows[][3] = {
        {"State", "Permit", "Total"}, {"Alabama", "18,870", "71,137"}, {"Alaska", "209", "7,095"}};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            place(glyphs, rows[row][column], 50 + 150 * column, 700 - 14 * row);
    EXPECT_EQ(read(glyphs), "A table of counts\n\nState Permit Total\nAlabama 18,870 71,137\n"
                            "Alaska 209 7,095\n");
}

TEST(ReadingOrder, DuplicatesCountOnceAndLigaturesBecomeLetters) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "Bold", 50, 700);
    place(glyphs, "Bold", 50.3, 700); // drawn again a little to the right
    TReadingGlyph ligature;
    ligature.Text = "\xEF\xAC\x81"; // U+FB01
    ligature.X = 50;
    ligature.Y = 688;
    ligature.Size = 10;
    ligature.Advance = 5;
    glyphs.push_back(ligature);
    place(glyphs, "nd", 55, 688);
    const korvel::TReadingLayout layout = TPDFReadingOrder::LayOut(glyphs, kPageWidth, kPageHeight);
    EXPECT_EQ(TPDFReadingOrder::Text(layout), "Bold\nfind\n");
    EXPECT_EQ(layout.DroppedGlyphs, 4u);
}

TEST(ReadingOrder, TurnedTextReadsInItsOwnDirection) {
    for (int quarter = 0; quarter < 4; ++quarter) {
        std::vector<TReadingGlyph> glyphs;
        // Two lines, the second one line further in the direction the glyphs' feet point.
        const double feetX[] = {0, 1, 0, -1};
        const double feetY[] = {-1, 0, 1, 0};
        place(glyphs, "first line", 300, 400, 10, quarter);
        place(glyphs, "second", 300 + 12 * feetX[quarter], 400 + 12 * feetY[quarter], 10, quarter);
        EXPECT_EQ(read(glyphs), "first line\nsecond\n") << quarter;
    }
}

TEST(ReadingOrder, WordBoxesCountFromTheTopLeft) {
    std::vector<TReadingGlyph> glyphs;
    place(glyphs, "ab cd", 100, 700);
    const korvel::TReadingLayout layout = TPDFReadingOrder::LayOut(glyphs, kPageWidth, kPageHeight);
    ASSERT_EQ(layout.Words.size(), 2u);
    const korvel::TReadingWord& second = layout.Words[1];
    EXPECT_EQ(second.Text, "cd");
    EXPECT_DOUBLE_EQ(second.X0, 112.5);
    EXPECT_DOUBLE_EQ(second.X1, 122.5);
    EXPECT_DOUBLE_EQ(second.Top, 92);     // 800 - 700 - 0.8 * 10
    EXPECT_DOUBLE_EQ(second.Bottom, 102); // 800 - 700 + 0.2 * 10
    EXPECT_EQ(second.Word, 1);
}

TEST(ReadingOrder, RightToLeftLinesReadInLogicalOrder) {
    // Each line as the page shows it, left to right, and as it is read: a glyph a character,
    // or glyphs apart by | where one glyph's text is a cluster already in reading order.
    const struct {
        const char* Shown;
        const char* Read;
    } cases[] = {
        {"םלוע םולש", "שלום עולם"},               // Hebrew words and their letters
        {"2024 תנש", "שנת 2024"},                 // a number in a Hebrew line keeps its digits
        {"Hello םולש world", "Hello שלום world"}, // Hebrew inside a Latin line
        {"ﻢﻠﺳ", "ﺳﻠﻢ"},                            // Arabic presentation forms
        {"ם|לו|ש", "שלום"},
        {"plain text", "plain text"},
    };
    for (const auto& c : cases) {
        std::vector<TReadingGlyph> glyphs;
        double x = 50;
        const std::string shown = c.Shown;
        for (std::size_t i = 0; i < shown.size();) {
            std::size_t length = 1;
            const bool clusters = shown.find('|') != std::string::npos;
            while (i + length < shown.size() &&
                   (clusters ? shown[i + length] != '|' : (shown[i + length] & 0xC0) == 0x80))
                ++length;
            TReadingGlyph g;
            g.Text = shown.substr(i, length);
            g.X = x;
            g.Y = 700;
            g.Size = 10;
            g.Advance = g.Text == " " ? 2.5 : 5;
            x += g.Advance;
            glyphs.push_back(g);
            i += length + (clusters ? 1 : 0);
        }
        EXPECT_EQ(read(glyphs), std::string(c.Read) + "\n") << c.Shown;
    }
}

TEST(ReadingOrder, ColumnsAndGuttersOverSeveralLines) {
    // Lines as (left text, gap after it, right text) from the top, 12 points apart.
    using TLine = std::tuple<std::string, double, std::string>;
    const std::string left = "aaaaa bbbbb ccccc ddddd eeeee", right = "kkkkk lllll mmmmm nnnnn";
    const struct {
        const char* Name;
        std::vector<TLine> Lines;
        std::string Read;
    } cases[] = {
        // Justified gaps over and under a wide one, each within it but not lining up with each
        // other: no strip is empty down the lines, so the lines stay whole.
        {"gaps that do not line up",
         {{left, 10, right}, {left, 10, right}, {left, 25, right},
          {left + " ff", 10, right}, {left + " ff", 10, right}},
         left + " " + right + "\n" + left + " " + right + "\n" + left + " " + right + "\n" +
             left + " ff " + right + "\n" + left + " ff " + right + "\n"},
        // Two columns, the right one ending early: the left one's last paragraph, under it, reads
        // before the right one. An empty line is a blank line.
        {"a right column ending early",
         {{left, 20, right}, {left, 20, right}, {left, 20, right}, {left, 20, right},
          {"", 0, ""}, {left, 0, ""}, {"aaaaa bbbbb", 0, ""}},
         left + "\n" + left + "\n" + left + "\n" + left + "\n\n" + left + "\n" + "aaaaa bbbbb\n\n" +
             right + "\n" + right + "\n" + right + "\n" + right + "\n"},
        // A table right under a paragraph: its first column is not the paragraph's end.
        {"a table under a paragraph",
         {{left + " " + right, 0, ""}, {"Idx", 42, "Total"}, {"N1", 42, "1,204"},
          {"S2", 42, "98.7"}},
         left + " " + right + "\n\nIdx Total\nN1 1,204\nS2 98.7\n"},
    };
    const auto width = [](const std::string& s) {
        return 5.0 * static_cast<double>(s.size()) - 2.5 * std::count(s.begin(), s.end(), ' ');
    };
    for (const auto& c : cases) {
        std::vector<TReadingGlyph> glyphs;
        double y = 700;
        for (const auto& [l, gap, r] : c.Lines) {
            place(glyphs, l, 50, y);
            place(glyphs, r, 50 + width(l) + gap, y);
            y -= 12;
        }
        EXPECT_EQ(read(glyphs), c.Read) << c.Name;
    }
}

// Lines the sweep has passed are dropped as it goes on; a line still growing is kept however
// many ended lines are dropped around it, and lines at one left edge keep their order.
TEST(ReadingOrder, ManyEndedLinesLeaveTheGrowingOnesWhole) {
    std::vector<TReadingGlyph> glyphs;
    std::string expected;
    for (int line = 0; line < 120; ++line) {
        const double y = 760 - 6 * line;
        if (line == 60) {
            place(glyphs, std::string(80, 'x'), 50, y, 4);
            expected += std::string(80, 'x') + '\n';
            continue;
        }
        place(glyphs, "a" + std::to_string(line), 50, y, 4);
        expected += "a" + std::to_string(line) + '\n';
    }
    const std::string text = read(glyphs);
    EXPECT_NE(text.find(std::string(80, 'x') + "\n"), std::string::npos) << text;
    std::string lines;
    for (char c : text)
        if (c != '\n' || (!lines.empty() && lines.back() != '\n'))
            lines += c;
    EXPECT_EQ(lines, expected);
}
