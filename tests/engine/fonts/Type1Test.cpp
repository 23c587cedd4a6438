#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "file/uPDFStructure.h"
#include "fonts/uPDFType1.h"

using namespace korvel;

namespace {

// ---------------------------------------------------------------------------------------------
// Type 1 programs: clear text and eexec encryption as a font tool writes them.

std::string Encrypt(std::string_view plain, bool hex) {
    std::uint16_t r = 55665;
    std::string cipher;
    const std::string withLead = "\x11\x22\x33\x44" + std::string(plain);
    for (const char ch : withLead) {
        const auto c = static_cast<unsigned char>(static_cast<unsigned char>(ch) ^ (r >> 8));
        r = static_cast<std::uint16_t>((c + std::uint32_t{r}) * 52845u + 22719u);
        cipher.push_back(static_cast<char>(c));
    }
    if (!hex)
        return cipher;
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < cipher.size(); ++i) {
        const auto c = static_cast<unsigned char>(cipher[i]);
        out += digits[c >> 4];
        out += digits[c & 15];
        if (i % 32 == 31)
            out += "\r\n";
    }
    return out;
}

const std::string kPrivate = "dup /Private 8 dict dup begin /RD{string currentfile exch "
                             "readstring pop}executeonly def /Encoding 99 array dup 65 /Zed put";

std::string ClearText(const std::string& encoding) {
    return "%!PS-AdobeFont-1.0: TestFont 001.000\n"
           "%%CreationDate: today\n"
           "FontDirectory/TestFont known{/TestFont findfont dup/UniqueID known{dup\n"
           "/UniqueID get 4000000 eq exch/FontType get 1 eq and}{pop false}ifelse\n"
           "{save true}{false}ifelse}{false}ifelse\n"
           "11 dict begin\n"
           "/FontInfo 9 dict dup begin\n"
           "/version (001.000) readonly def\n"
           "/Notice (Made \\(by hand\\) for (tests)) readonly def\n"
           "/isFixedPitch false def\n"
           "end readonly def\n"
           "/FontName /TestFont def\n"
           "/PaintType 0 def\n"
           "/FontType 1 def\n"
           "/FontMatrix [0.001 0 0 0.001 0 0] readonly def\n" +
           encoding +
           "/FontBBox {-10 -20 300 400} readonly def\n"
           "/UniqueID 4000000 def\n"
           "currentdict end\n"
           "currentfile eexec\n";
}

const std::string kDupEncoding = "/Encoding 256 array\n"
                                 "0 1 255 {1 index exch /.notdef put} for\n"
                                 "dup 32 /space put\n"
                                 "dup 65 /Aye put\n"
                                 "dup 300 /Big put\n"
                                 "dup 66 /Bee put\n"
                                 "readonly def\n";

struct Type1Parts {
    std::string Clear, Encrypted, Trailer;
    std::string Data() const { return Clear + Encrypted + Trailer; }
};

Type1Parts Program(const std::string& encoding) {
    return {ClearText(encoding), Encrypt(kPrivate, false),
            std::string(512, '0') + "\ncleartomark\n"};
}

std::unique_ptr<TPDFType1Decoder> LoadedType1(const Type1Parts& p) {
    auto program = std::make_unique<TPDFType1Decoder>();
    program->LoadType1(p.Data(), std::int64_t(p.Clear.size()), std::int64_t(p.Encrypted.size()),
                       std::int64_t(p.Trailer.size()));
    return program;
}

const TPDFGlyphNames kStandard = BaseEncodingNames(TPDFBaseEncoding::Standard);

} // namespace

// ---------------------------------------------------------------------------------------------
// Type 1 clear text

TEST(Type1ClearText, TokensRewriteIntoObjectSyntax) {
    const struct {
        const char* name;
        const char* text;
        const char* pdf;
    } cases[] = {
        {"a size, dict and begin open a dictionary", "11 dict begin /A 1 def end", "<< /A 1 >>"},
        {"procedures become arrays", "/FontBBox {0 -1 2.5 3} readonly def",
         "/FontBBox [ 0 -1 2.5 3 ]"},
        {"a StandardEncoding encoding becomes a name", "/Encoding StandardEncoding def",
         "/Encoding /StandardEncoding"},
        {"dup entries become code and name pairs",
         "/Encoding 256 array 0 1 255 {1 index exch /.notdef put} for dup 32 /space put "
         "dup 65 /A put readonly def /X 1 def",
         "/Encoding [ 32 /space 65 /A ] /X 1"},
        {"an encoding without dup swallows the rest", "/Encoding 256 array /FontBBox {1} def",
         "/Encoding ["},
        {"a closing def as the last token stays empty", "/Encoding 9 array dup 1 /b put def",
         "/Encoding [ 1 /b"},
        {"FontDirectory runs to the next dict",
         "FontDirectory /F known {x} {y} ifelse 12 dict begin end", "<< >>"},
        {"comments run to the line end", "/A % comment ( [\r/B %x\n/C", "/A /B /C"},
        {"strings keep nesting and escapes", "(a(b)c\\)d\\\\) (x", "(a(b)c\\)d\\\\) (x"},
        {"hex strings give their digits", "<41 42> <>", "41 42"},
        {"names end at delimiters", "/a/b(c)/d[/e]{/f}<00>", "/a /b (c) /d [ /e ] [ /f ] 00"},
        {"numbers take one point", "-.5.5 1.2.3 - 7", "-.5 .5 1.2 .3 - 7"},
        {"charstring procedure names stay bare", "/x 4 RD /y ND /z NP RDX",
         "/x 4 RD /y ND /z NP /ps:RDX"},
        {"an unknown byte ends the text", "/a 1 |- /b 2", "/a 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Type1ClearTextToPDF(c.text), c.pdf) << c.name;
    EXPECT_EQ(Type1ClearTextToPDF(std::string("/a\0/b", 5)), "/a /b") << "a zero byte separates";
}

TEST(Type1ClearText, RepeatedForwardSearchesStayLinear) {
    // Each of these would rescan to the end for every repetition in a naive walk.
    std::string dicts, encodings, directories;
    for (int i = 0; i < 100000; ++i) {
        dicts += "1 dict ";
        encodings += "/Encoding 1 array dup ";
        directories += "FontDirectory ";
    }
    EXPECT_EQ(Type1ClearTextToPDF(dicts + "begin"), "<<");
    EXPECT_EQ(Type1ClearTextToPDF(encodings).substr(0, 12), "/Encoding [ ");
    EXPECT_EQ(Type1ClearTextToPDF(directories), "");
}

// ---------------------------------------------------------------------------------------------
// Type 1 programs

TEST(Type1Program, DupEntriesOverlayTheStandardNames) {
    const auto program = LoadedType1(Program(kDupEncoding));
    TPDFGlyphNames expected = kStandard;
    expected[32] = "space";
    expected[65] = "Aye";
    expected[66] = "Bee"; // 300 stores nothing
    EXPECT_EQ(program->BuiltInEncoding, expected);
    ASSERT_NE(program->FontBBox, nullptr);
    EXPECT_EQ(program->FontBBox->ToText(), "[ -10 -20 300 400 ]");
    EXPECT_EQ(program->GetScale(), 1);
}

TEST(Type1Program, TheEncodingComesOnlyFromTheClearText) {
    const struct {
        const char* name;
        std::string encoding;
        bool hasBBox;
    } cases[] = {
        {"StandardEncoding keeps the standard names", "/Encoding StandardEncoding def\n", true},
        {"no encoding keeps the standard names", "", true},
        {"an encoding without dup entries loses the rest", "/Encoding 256 array\n", false},
    };
    for (const auto& c : cases) {
        const auto program = LoadedType1(Program(c.encoding));
        EXPECT_EQ(program->BuiltInEncoding, kStandard) << c.name;
        EXPECT_EQ(program->FontBBox != nullptr, c.hasBBox) << c.name;
    }
}

TEST(Type1Program, TheLengthsCutThePartsOrNothing) {
    const Type1Parts p = Program(kDupEncoding);
    const std::string data = p.Data();
    const auto l1 = std::int64_t(p.Clear.size());
    const auto l2 = std::int64_t(p.Encrypted.size());
    const auto l3 = std::int64_t(p.Trailer.size());
    const struct {
        const char* name;
        std::int64_t l1, l2, l3;
        std::size_t clear, encrypted, trailer;
        bool custom;
    } cases[] = {
        {"exact lengths cut three parts", l1, l2, l3, p.Clear.size(), p.Encrypted.size(),
         p.Trailer.size(), true},
        {"Length2 = 0 leaves the parts empty", l1, 0, l3, 0, 0, 0, false},
        {"a negative Length1 leaves the parts empty", -5, l2, l3, 0, 0, 0, false},
        {"a negative Length3 gives no trailer", l1, l2, -9, p.Clear.size(), p.Encrypted.size(), 0,
         true},
        {"lengths past the data are cut at its end", l1, 1 << 30, 1 << 30, p.Clear.size(),
         p.Encrypted.size() + p.Trailer.size(), 0, true},
        {"a Length1 past the data takes it all", 1 << 30, 1 << 30, 0, data.size(), 0, 0, true},
    };
    for (const auto& c : cases) {
        TPDFType1Decoder program;
        program.LoadType1(data, c.l1, c.l2, c.l3);
        EXPECT_EQ(program.ClearText.size(), c.clear) << c.name;
        EXPECT_EQ(program.EncryptedPart.size(), c.encrypted) << c.name;
        EXPECT_EQ(program.Trailer.size(), c.trailer) << c.name;
        EXPECT_EQ(program.BuiltInEncoding[65], c.custom ? "Aye" : "A") << c.name;
    }
}

TEST(Type1Program, TheStreamGivesDataAndResolvedLengths) {
    const Type1Parts p = Program(kDupEncoding);
    TPDFStructure store;
    TPDFStream* stream = store.CreateStream(p.Data());
    TPDFNumeric* length2 = store.CreateNumber(double(p.Encrypted.size()));
    stream->Dictionary()->Put("Length1", store.CreateNumber(double(p.Clear.size()) + 0.4));
    stream->Dictionary()->Put("Length2", store.CreateRef(7, 0));
    stream->Dictionary()->Put("Length3", store.CreateName("bad"));
    int calls = 0;
    TPDFType1Decoder program([&](const TPDFIndRef*, std::int32_t num, std::int32_t) {
        ++calls;
        return num == 7 ? static_cast<TPDFObject*>(length2) : nullptr;
    });
    program.LoadType1(stream);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(program.ClearText, p.Clear);
    EXPECT_EQ(program.EncryptedPart, p.Encrypted);
    EXPECT_EQ(program.Trailer, ""); // a name as Length3 counts as 0
    EXPECT_EQ(program.BuiltInEncoding[66], "Bee");

    TPDFType1Decoder unresolved; // no resolver and no store resolution: Length2 is 0
    unresolved.LoadType1(stream);
    EXPECT_EQ(unresolved.ClearText, "");
    EXPECT_EQ(unresolved.BuiltInEncoding, kStandard);
}

TEST(Type1Program, TheEncryptedPartDecryptsInBothForms) {
    for (const bool hex : {false, true}) {
        const std::string plain = kPrivate + std::string("\0\xff", 2);
        EXPECT_EQ(DecryptEexec(Encrypt(plain, hex)), plain) << (hex ? "hex" : "binary");
    }
    EXPECT_EQ(DecryptEexec("AB"), "");
    EXPECT_EQ(DecryptEexec(""), "");
    EXPECT_EQ(DecryptEexec("\r\n" + Encrypt("abc", true)), "abc"); // white space before hex
    // Hex digits stop at the first byte that is neither a digit nor white space.
    EXPECT_EQ(DecryptEexec(Encrypt("abc", true) + "zz00"), "abc");
}

TEST(Type1Program, DeepProceduresAndNoiseLoadWithoutHarm) {
    const std::string deep = "/FontBBox " + std::string(100000, '{') + std::string(100000, '}');
    const std::string noise = "/Encoding 3 array dup 0 dup 1 put put /x dup readonly def\n";
    for (const std::string& clear : {ClearText(deep + "\n"), ClearText(noise),
                                     std::string(1000, '('), std::string("11 dict begin /a")}) {
        TPDFType1Decoder program;
        program.LoadType1(clear + "xx", std::int64_t(clear.size()), 2, 0);
        EXPECT_EQ(program.ClearText, clear);
    }
}
