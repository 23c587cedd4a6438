#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "document/uPDFDocument.h"
#include "fonts/uPDFFontRasterizer.h"
#include "platform/uInstalledFonts.h"
#include "support/NoInstalledFonts.h"
#include "support/PdfWriter.h"
#include "text/uPDFExtractor.h"

using namespace korvel;
using tolvane_test::NoInstalledFonts;
using tolvane_test::PdfWriter;

namespace {

// The page's fonts. F1: Helvetica in WinAnsiEncoding (space 278). F2: the same with a space
// 250 wide. F5: no code is a space and LastChar is 65 (A shows as B). F6: no space, LastChar
// 255, code 32 shows as a. F7: code 100 is the space, 32 shows as a. FD: a direct dictionary
// (A shows as B) with BaseFont Courier.
const char* const kHelvetica = "/Type /Font /Subtype /Type1 /BaseFont /Helvetica ";
const std::vector<std::string> kFontObjects = {
    std::string("<< ") + kHelvetica + "/Encoding /WinAnsiEncoding >>",
    std::string("<< ") + kHelvetica +
        "/Encoding /WinAnsiEncoding /FirstChar 32 /LastChar 32 /Widths [250] >>",
    std::string("<< ") + kHelvetica +
        "/Encoding << /Differences [32 /a 65 /B] >> /FirstChar 65 /LastChar 65 /Widths [500] >>",
    std::string("<< ") + kHelvetica +
        "/Encoding << /Differences [32 /a] >> /FirstChar 255 /LastChar 255 /Widths [500] >>",
    std::string("<< ") + kHelvetica +
        "/Encoding << /BaseEncoding /WinAnsiEncoding /Differences [32 /a 100 /space] >> >>",
};
const std::string kFontEntries =
    "/F1 3 0 R /F2 4 0 R /F5 5 0 R /F6 6 0 R /F7 7 0 R "
    "/FD << /Type /Font /Subtype /Type1 /BaseFont /Courier /Encoding << /Differences [65 /B] >> >>";

struct Case {
    const char* Name;
    std::string Content;
    std::string Text;
};

class Extractor : public ::testing::Test {
protected:
    void SetUp() override {
        SetInstalledFonts(&Installed);
        PdfWriter w;
        w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
        w.Set(2, "<< /Type /Pages /Kids [] /Count 0 >>");
        for (std::size_t i = 0; i < kFontObjects.size(); ++i)
            w.Set(int(i) + 3, kFontObjects[i]);
        w.Set(10, "<< /Font 11 0 R >>");
        w.Set(11, "<< " + kFontEntries + " >>");
        w.RootObj = 1;
        ASSERT_TRUE(Doc.LoadFromBytes(w.Finish()));
        Resources = AsDictionary(Doc.ResolveRef(10, 0));
        ASSERT_NE(Resources, nullptr);
    }
    void TearDown() override { SetInstalledFonts(nullptr); }

    // One extraction as a page-text call makes it: a fresh collection and extractor.
    std::string Extract(std::string_view content, int option = 0,
                        TTextEncoding encoding = TTextEncoding::Cp1252) {
        TPDFFontCollection fonts(encoding);
        fonts.LoadPrograms = true;
        TPDFExtractor extractor(Resources, fonts);
        return extractor.ExtractText(content, option);
    }

    // Contents start with `BT /F1 12 Tf 72 700 Td` unless they start with `!`.
    void Check(const std::vector<Case>& cases, int option) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.Name);
            const std::string content = c.Content.front() == '!'
                                            ? c.Content.substr(1)
                                            : "BT /F1 12 Tf 72 700 Td " + c.Content;
            EXPECT_EQ(Extract(content, option), c.Text);
        }
    }

    NoInstalledFonts Installed;
    TPDFDocument Doc;
    const TPDFDictionary* Resources = nullptr;
};

} // namespace

TEST_F(Extractor, PenMovesPlaceSpacesAndLineBreaks) {
    // Size 12, space 278: the half-space distance is 1.668, a line 10.2, an empty line 20.4.
    // (A) leaves the pen 8.004 after 72.
    // clang-format off
    const std::vector<Case> cases = {
        {"a string shows as itself, with nothing around it", "(Hello) Tj ET", "Hello"},
        {"a 14-point drop back to the line start gives a space and a line break",
         "(A) Tj 0 -14 Td (B) Tj", "A \r\nB"},
        {"a drop of less than 10.2 gives only the space", "(A) Tj 0 -10 Td (B) Tj", "A B"},
        {"a 30-point drop by Td gives one line break", "(A) Tj 0 -30 Td (B) Tj", "A \r\nB"},
        {"a 30-point rise by Td gives an empty line", "(A) Tj 0 30 Td (B) Tj", "A \r\n\r\nB"},
        {"a 30-point drop by Tm gives an empty line",
         "(A) Tj 1 0 0 1 72 670 Tm (B) Tj", "A \r\n\r\nB"},
        {"a 15-point drop by Tm gives one line break", "(A) Tj 1 0 0 1 72 685 Tm (B) Tj",
         "A \r\nB"},
        {"a Td move shorter than half a space joins the strings", "(A) Tj 9 0 Td (B) Tj", "AB"},
        {"a Td move of half a space separates them", "(A) Tj 10 0 Td (B) Tj", "A B"},
        {"a Tm move shorter than half a space joins the strings",
         "(A) Tj 1 0 0 1 81 700 Tm (B) Tj", "AB"},
        {"a Tm move back counts by its size", "(A) Tj 1 0 0 1 60 700 Tm (B) Tj", "A B"},
        {"TD needs the width of a whole space", "(A) Tj 11 0 TD (B) Tj", "AB"},
        {"TD past a whole space separates", "(A) Tj 12 0 TD (B) Tj", "A B"},
        {"a TD move back gives no space", "(A) Tj 0 -14 TD (B) Tj", "A\r\nB"},
        {"TD sets the leading T* moves by", "(A) Tj 0 -14 TD (B) Tj T* (C) Tj",
         "A\r\nB\r\nC"},
        {"TL sets the leading", "14 TL (A) Tj T* (B) Tj", "A\r\nB"},
        {"T* three times leaves one empty line", "(A) Tj T* T* T* (B) Tj", "A\r\n\r\nB"},
        {"a quote starts a new line and shows its string", "(A) Tj (B) ' (C) Tj", "A\r\nBC"},
        {"a double quote shows its string after a line break", "(A) Tj 1 2 (B) \" (C) Tj",
         "A\r\nBC"},
        {"after a line break the tests are skipped", "(A) Tj T* 1 0 0 1 300 100 Tm (B) Tj",
         "A\r\nB"},
        {"a Tm scale of one half reads as 0 and every test passes",
         "!BT /F1 12 Tf 0.5 0 0 0.5 100 200 Tm (A) Tj 0 0 Td (B) Tj", "A \r\n\r\nB"},
        {"a Tm scale multiplies Td operands",
         "!BT /F1 1 Tf 12 0 0 12 72 700 Tm (A) Tj 0 -1.2 Td (B) Tj", "A \r\nB"},
        {"a cm scale enters through Tm",
         "!2 0 0 2 0 0 cm BT /F1 1 Tf 6 0 0 6 36 350 Tm (A) Tj 0 -1.2 Td (B) Tj", "A \r\nB"},
        {"Td moves from the line start, not from the pen",
         "(A) Tj 20 0 Td (B) Tj 0 -14 Td (C) Tj", "A B \r\nC"},
        {"BT resets the line start but not the pen", "(A) Tj BT 0 0 Td (B) Tj", "A \r\nB"},
    };
    // clang-format on
    Check(cases, 0);
}

TEST_F(Extractor, ArraysSpaceTheirAdjustmentsAndSpreadUnderCharSpacing) {
    // F2: space 250 at size 12, so a space is 3 wide and half a space in thousandths is 125.
    // clang-format off
    const std::vector<Case> cases = {
        {"a positive adjustment joins", "!/F2 12 Tf [(W) 120 (orld)] TJ", "World"},
        {"an adjustment of half a space joins", "!/F2 12 Tf [(W) -125 (orld)] TJ", "World"},
        {"an adjustment past half a space separates", "!/F2 12 Tf [(W) -130 (orld)] TJ",
         "W orld"},
        {"a character spacing wider than a space spreads a literal",
         "!/F2 12 Tf 4 Tc [(abc)] TJ", "a b c"},
        {"a character spacing of exactly a space does not", "!/F2 12 Tf 3 Tc [(abc)] TJ", "abc"},
        {"a hexadecimal string is not spread", "!/F2 12 Tf 4 Tc [<616263>] TJ", "abc"},
        {"Tj does not spread", "!/F2 12 Tf 4 Tc (abc) Tj", "abc"},
        {"names and nested brackets in an array are passed over",
         "!/F2 12 Tf [(a) /x [ (b)] TJ", "ab"},
        {"an array's bytes wait for the next TJ", "!/F2 12 Tf [(x)] 0 d (A) Tj [(B)] TJ", "AxB"},
        {"an array that is never closed ends with the content", "!(A) Tj [(B) (C) TJ", "A"},
    };
    // clang-format on
    Check(cases, 0);
}

TEST_F(Extractor, TheFontDecidesTextAndSpaceCode) {
    // Code 39 is quoteright in StandardEncoding (Windows-1252 0x92), quotesingle in WinAnsi.
    // clang-format off
    const std::vector<Case> cases = {
        {"before any font the StandardEncoding text applies", "!(\\047) Tj", "\x92"},
        {"a direct font dictionary selects its own tables", "!/FD 12 Tf (A\\047) Tj", "B\x92"},
        {"a direct font dictionary replaces the previous font's tables",
         "!/F1 12 Tf (A\\047) Tj /FD 12 Tf (A\\047) Tj /F1 12 Tf (A) Tj", "A'B\x92" "A"},
        {"an unknown font name keeps the previous tables", "!/F5 12 Tf /Nope 12 Tf (A) Tj", "B"},
        {"a font below code 255 gets 255 as its space",
         "!/F5 12 Tf [(A) -300 (A)] TJ (A\\377A) Tj", "B BB B"},
        {"the next selected font takes 255 back", "!/F5 12 Tf /F1 12 Tf (A\\377A) Tj",
         "A\xFF" "A"},
        {"a font up to code 255 keeps code 32 as its space code", "!/F6 12 Tf [(A) -300 (A)] TJ",
         "AaA"},
        {"the lowest code whose text is a space is the space code",
         "!/F7 12 Tf [(A) -300 (A)] TJ", "A A"},
    };
    // clang-format on
    Check(cases, 0);
}

TEST_F(Extractor, RecordLinesCarryPositionColourSizeAndFont) {
    // clang-format off
    const std::vector<Case> cases = {
        {"a Tj gives its fields", "!BT /F1 12 Tf 72 700.5 Td (Hi) Tj ET",
         "72.00,700.50,#000000,12.00,\"Helvetica\",\"Hi\""},
        {"every showing operator gives one line", "!/F1 12 Tf (A) Tj (B) ' [(C)] TJ",
         "0.00,0.00,#000000,12.00,\"Helvetica\",\"A\"\r\n"
         "8.00,0.00,#000000,12.00,\"Helvetica\",\"B\"\r\n"
         "16.00,0.00,#000000,12.00,\"Helvetica\",\"C\""},
        {"a Tj escapes backslashes and quotes", "!(a\"b\\\\c) Tj",
         "0.00,0.00,#000000,12.00,\"\",\"a\\\"b\\\\c\""},
        {"a TJ escapes only quotes", "![(a\"b\\\\c)] TJ",
         "0.00,0.00,#000000,12.00,\"\",\"a\\\"b\\c\""},
        {"red is written blue first", "!1 0 0 rg TJ", "0.00,0.00,#0000FF,12.00,\"\",\"\""},
        {"blue is written last", "!0 0 1 rg TJ", "0.00,0.00,#FF0000,12.00,\"\",\"\""},
        {"grey rounds halves to even", "!0.5 g TJ", "0.00,0.00,#808080,12.00,\"\",\"\""},
        {"a TJ is placed where its array began; its strings and adjustments move the pen",
         "!/F2 10 Tf 10 0 Td [( ) -1000 ( )] TJ (C) Tj",
         "10.00,0.00,#000000,10.00,\"Helvetica\",\"   \"\r\n"
         "25.00,0.00,#000000,10.00,\"Helvetica\",\"C\""},
        {"a hexadecimal string in an array does not move the pen", "![<41>] TJ (B) Tj",
         "0.00,0.00,#000000,12.00,\"\",\"A\"\r\n0.00,0.00,#000000,12.00,\"\",\"B\""},
        {"a direct font dictionary names its BaseFont", "!/FD 9 Tf (A) Tj",
         "0.00,0.00,#000000,9.00,\"Courier\",\"B\""},
        {"an unknown font has no name and a size that is no number is 12",
         "!/Nope /x Tf (A) Tj", "0.00,0.00,#000000,12.00,\"\",\"A\""},
        {"Tm is multiplied by the cm matrix",
         "!2 0 0 2 0 0 cm 1 0 0 1 36 350 Tm (A) Tj",
         "72.00,700.00,#000000,12.00,\"\",\"A\""},
        {"q keeps one matrix: Q twice restores the second q",
         "!q 2 0 0 2 0 0 cm q 3 0 0 3 0 0 cm Q Q 1 0 0 1 10 20 Tm (A) Tj",
         "20.00,40.00,#000000,12.00,\"\",\"A\""},
        {"character and word spacing add to the thousandths before scaling",
         "!/F2 10 Tf 100 Tc 50 Tw ( ) Tj (a) Tj",
         "0.00,0.00,#000000,10.00,\"Helvetica\",\" \"\r\n"
         "4.00,0.00,#000000,10.00,\"Helvetica\",\"a\""},
        {"a Tm entry between -1 and 0 is no 0 and keeps the scale",
         "!/F2 10 Tf 2 -0.5 0 2 0 0 Tm ( ) Tj ( ) Tj",
         "0.00,0.00,#000000,10.00,\"Helvetica\",\" \"\r\n"
         "2.50,0.00,#000000,10.00,\"Helvetica\",\" \""},
        {"a Tm scale of 2 doubles widths", "!/F2 10 Tf 2 0 0 2 0 0 Tm ( ) Tj ( ) Tj",
         "0.00,0.00,#000000,10.00,\"Helvetica\",\" \"\r\n"
         "5.00,0.00,#000000,10.00,\"Helvetica\",\" \""},
        {"T* moves down by the leading to the line start", "!14 TL 5 0 Td (A) Tj T* (B) Tj",
         "5.00,0.00,#000000,12.00,\"\",\"A\"\r\n5.00,-14.00,#000000,12.00,\"\",\"B\""},
    };
    // clang-format on
    Check(cases, 2);
}

TEST_F(Extractor, TokensEndOnlyWhereTheRawSyntaxEndsThem) {
    struct TokenCase {
        const char* Name;
        std::string Content;
        std::vector<std::string> Tokens;
    };
    // clang-format off
    const std::vector<TokenCase> cases = {
        {"operands and operators split at white space", "/F1 12 Tf", {"/F1", "12", "Tf"}},
        {"a slash does not end a token", "/F1/F2", {"/F1/F2"}},
        {"a dictionary opener is no token of its own", "<</MCID 0>> BDC",
         {"<</MCID 0>", ">", "BDC"}},
        {"strings nest", "(a(b)c)d", {"(a(b)c)", "d"}},
        {"an escaped parenthesis does not close", "(a\\)b)", {"(a\\)b)"}},
        {"brackets are one byte", "[1 2]TJ", {"[", "1", "2", "]", "TJ"}},
        {"a string that is never closed runs to the end", "x (abc", {"x", "(abc"}},
        {"a hexadecimal string that is never closed runs to the end", "<41 42", {"<41 42"}},
        {"comments are not comments", "% note\n(x)", {"%", "note", "(x)"}},
        {"a zero byte is white space", std::string("a\0b", 3), {"a", "b"}},
    };
    // clang-format on
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TPDFRawLexer lexer(c.Content);
        std::vector<std::string> tokens;
        for (std::string_view t = lexer.Next(); !t.empty(); t = lexer.Next())
            tokens.emplace_back(t);
        EXPECT_EQ(tokens, c.Tokens);
        EXPECT_TRUE(lexer.Next().empty()) << "the end repeats";
    }
}

TEST_F(Extractor, TheLastTokenIsReadWhole) {
    // clang-format off
    const std::vector<Case> cases = {
        {"content that ends in Tj shows its string", "!(A) Tj", "A"},
        {"also with a line end after it", "!(A) Tj\r\n", "A"},
        {"an unclosed string swallows the operators after it", "!(A) Tj (B) Tj (C\\) Tj", "AB"},
    };
    // clang-format on
    Check(cases, 0);
}

TEST_F(Extractor, TheCleanUpRemovesBlankLinesZerosAndEdges) {
    // clang-format off
    const std::vector<Case> cases = {
        {"a line of one space goes", "!(A) Tj T* ( ) Tj T* (B) Tj", "A\r\nB"},
        {"lines of one space go however many", "!(A) Tj T* ( ) Tj T* ( ) Tj T* (B) Tj",
         "A\r\nB"},
        {"a zero byte becomes a space", "!(A\\000B) Tj", "A B"},
        {"blank lines and spaces at both ends go", "!T* T* ( A ) Tj T* ( ) Tj T*", "A"},
        {"nothing shown gives nothing", "!BT T* ET", ""},
    };
    // clang-format on
    Check(cases, 0);
}

// The single-pass clean-up against the plain definition: replace all, again and again.
TEST(ExtractorCleanUp, GivesWhatRepeatedReplacingGives) {
    const auto replaceAll = [](std::string text, std::string_view from, std::string_view to) {
        std::string out;
        std::size_t at = 0;
        for (std::size_t hit; (hit = text.find(from, at)) != std::string::npos;) {
            out.append(text, at, hit - at).append(to);
            at = hit + from.size();
        }
        return out.append(text, at);
    };
    const auto plain = [&](std::string text) {
        while (text.find("\r\n \r\n") != std::string::npos)
            text = replaceAll(text, "\r\n \r\n", "\r\n");
        while (text.find("\r\n\r\n\r\n") != std::string::npos)
            text = replaceAll(text, "\r\n\r\n\r\n", "\r\n\r\n");
        for (char& c : text)
            c = c == '\0' ? ' ' : c;
        const std::size_t first = text.find_first_not_of(std::string("\r\n \t\0", 5));
        if (first == std::string::npos)
            return std::string();
        const std::size_t last = text.find_last_not_of(std::string("\r\n \t\0", 5));
        return text.substr(first, last - first + 1);
    };
    // Pieces of the patterns and of what breaks them.
    const std::vector<std::string> pieces = {"\r\n", "\r\n", "\r\n", " ", " ", std::string(1, '\0'),
                                             "a",    "\r",   "\n",   "\t"};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int i = int(random() % 16); i > 0; --i)
            text += pieces[random() % pieces.size()];
        std::string fast = text;
        CleanUpExtractedText(fast);
        ASSERT_EQ(fast, plain(text)) << "input of " << text.size() << " bytes";
    }
}

TEST_F(Extractor, TextIsBytesInUtf8Too) {
    EXPECT_EQ(Extract("/F1 12 Tf (caf\\351) Tj [(A) -300 (\\351)] TJ 0 -14 Td (B) Tj", 0,
                      TTextEncoding::Utf8),
              "caf\xC3\xA9"
              "A \xC3\xA9 \r\nB");
    EXPECT_EQ(Extract("/F2 12 Tf (\\351) Tj", 2, TTextEncoding::Utf8),
              "0.00,0.00,#000000,12.00,\"Helvetica\",\"\xC3\xA9\"");
}

TEST_F(Extractor, FloodsOfBracketsStringsAndArrayElementsFinish) {
    EXPECT_EQ(Extract(std::string(5 << 20, '[')), "");
    EXPECT_EQ(Extract(std::string(5 << 20, '(')), "");
    EXPECT_EQ(Extract(std::string(5 << 20, '<')), "");
    std::string tj = "/F1 12 Tf [";
    for (int i = 0; i < 100000; ++i)
        tj += "(a) -1 ";
    tj += "] TJ";
    EXPECT_EQ(Extract(tj), std::string(100000, 'a'));
    EXPECT_EQ(Extract(tj, 2).size(),
              std::string("0.00,0.00,#000000,12.00,\"Helvetica\",\"\"").size() + 100000);
}

TEST_F(Extractor, EveryExtractionStartsAfresh) {
    TPDFFontCollection fonts;
    TPDFExtractor extractor(Resources, fonts);
    EXPECT_EQ(extractor.ExtractText("1 0 0 rg /F1 10 Tf 5 5 Td (A) Tj", 2),
              "5.00,5.00,#0000FF,10.00,\"Helvetica\",\"A\"");
    EXPECT_EQ(extractor.Colour(), "#0000FF");
    std::string text = "left over";
    extractor.ExtractText("(A) Tj", 2, text);
    EXPECT_EQ(text, "0.00,0.00,#000000,12.00,\"\",\"A\"");
    EXPECT_EQ(extractor.Colour(), "#000000");
}
