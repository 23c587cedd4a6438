#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "file/uPDFStructure.h"

using namespace korvel;
using namespace std::string_view_literals;

namespace {

// What the text scans to, written back as text, and the 0-based position where scanning
// stopped; for a dictionary also its EndPosition: "12 @2", "<<\n>>\n @4 end 5".
std::string scan(std::string_view text) {
    TPDFStructure store;
    std::size_t end = 0;
    const TPDFObject* v = store.Parse(text, &end);
    std::string out = (v ? v->ToText() : "none") + " @" + std::to_string(end);
    if (const TPDFDictionary* d = Cast<TPDFDictionary>(v))
        out += " end " + std::to_string(d->EndPosition);
    return out;
}

// The bytes of the string the text scans to, or of the name after a "/".
std::string bytes(std::string_view text) {
    TPDFStructure store;
    const TPDFObject* v = store.Parse(text);
    if (const TPDFName* n = Cast<TPDFName>(v))
        return "/" + n->Value();
    const TPDFString* s = Cast<TPDFString>(v);
    return s ? s->Value : "<neither string nor name>";
}

// Levels of arrays nested as first items.
int arrayDepth(const TPDFObject* v) {
    int depth = 0;
    for (; const TPDFArray* a = Cast<TPDFArray>(v); v = a->Item(0))
        ++depth;
    return depth;
}

// Deepest nesting of arrays and dictionaries, walked without recursion.
int maxDepth(const TPDFObject* root) {
    int deepest = 0;
    std::vector<std::pair<const TPDFObject*, int>> stack{{root, 1}};
    while (!stack.empty()) {
        const auto [v, depth] = stack.back();
        stack.pop_back();
        if (const TPDFArray* a = Cast<TPDFArray>(v)) {
            deepest = std::max(deepest, depth);
            for (const TPDFObject* item : a->Items())
                stack.emplace_back(item, depth + 1);
        } else if (const TPDFDictionary* d = Cast<TPDFDictionary>(v)) {
            deepest = std::max(deepest, depth);
            for (int i = 0; i < d->Count(); ++i)
                stack.emplace_back(d->EntryAt(i).second, depth + 1);
        }
    }
    return deepest;
}

} // namespace

// --- white space, comments, keywords, numbers, references

TEST(Parser, ScansOnlyTheFirstObjectAndStopsJustAfterIt) {
    EXPECT_EQ(scan("% comment\n42"), "42 @12");
    EXPECT_EQ(scan("%c\r\n5"), "5 @5");
    EXPECT_EQ(scan("\0 \t\f7"sv), "7 @5");
    EXPECT_EQ(scan(""), "none @0");
    EXPECT_EQ(scan("% only a comment"), "none @16");
    EXPECT_EQ(scan("12 "), "12 @2") << "trailing white space is not passed";
    EXPECT_EQ(scan("   "), "none @2");
    EXPECT_EQ(scan("1 2 3"), "1 @1");
    TPDFStructure store;
    store.Parse("1 2 3");
    EXPECT_EQ(store.ObjectCount(), 1) << "a failed reference look-ahead makes no object";
}

TEST(Parser, OperatorsAndKeywordsWithoutADelimiterAfterThemGiveNoneWithoutMoving) {
    // An empty array or hex string ending the text also gives none: it needs a byte after it.
    for (const char* text : {"endobj", "obj", "stream", "R", "+5", "}", ">>", ")", "truex", "nullx",
                             "null}", "[]", "<>"})
        EXPECT_EQ(scan(text), "none @0") << text;
    EXPECT_EQ(scan("true"), "true @4");
    EXPECT_EQ(scan("false/"), "false @5");
    EXPECT_EQ(scan("null "), "null @4");
    EXPECT_EQ(scan("[] "), "[ ] @2");
    EXPECT_EQ(scan("<> "), "<> @2");
}

TEST(Parser, NumbersReadAsDecimalTextAndStopAtASecondPointOrMinus) {
    EXPECT_EQ(scan("[--5 1.2.3 -.5 4. . 1e5]"), "[ 0 -5 1.2 0.3 -0.5 4 0 1 ] @21")
        << "the array ends at the e";
    EXPECT_EQ(scan("2147483648"), "0 @10");
    EXPECT_EQ(scan("-2147483648"), "-2147483648 @11");
    EXPECT_EQ(scan("-"), "0 @1");
    EXPECT_EQ(scan("12345678901.5"), "0.5 @13");
    EXPECT_EQ(scan(".5"), "0.5 @2");
    TPDFStructure store;
    EXPECT_DOUBLE_EQ(AsNumber(store.Parse("3.14159265358")), 3.141592653);
}

TEST(Parser, ReferencesNeedTwoIntegersBeforeRAndIgnoreTheByteAfterIt) {
    EXPECT_EQ(scan("[1 2 R 3]"), "[ 1 2 R 3 ] @9");
    EXPECT_EQ(scan("[1 2 3]"), "[ 1 2 3 ] @7");
    EXPECT_EQ(scan("12 0 obj"), "12 @2");
    EXPECT_EQ(scan("3 -1 R"), "3 @1") << "a negative generation";
    EXPECT_EQ(scan("5.0 0 R"), "5 @3") << "a real object number";
    EXPECT_EQ(scan("5 1.9 R"), "5 1 R @7") << "a real generation is truncated";
    EXPECT_EQ(scan("7 %x\n 0 %y\r\n R"), "7 0 R @14");
    EXPECT_EQ(scan("1 0 RG"), "1 0 R @5");
    TPDFStructure store;
    const TPDFObject* r = store.Parse("9 3 R");
    EXPECT_TRUE(!r->IsIndirect && r->ObjNum == 0) << "the indirect-object numbers are not set";
}

// --- dictionaries and arrays

TEST(Parser, DictionaryEndPositionIsOneBasedAndARepeatedKeyKeepsItsFirstPosition) {
    EXPECT_EQ(scan("<</A 1/B 2/A 3>>"), "<<\n/A 3\n/B 2\n>>\n @16 end 17")
        << "a repeated key keeps its first position with the last value";
    EXPECT_EQ(scan("<</A 1/B[2 3]>>"), "<<\n/A 1\n/B [ 2 3 ]\n>>\n @15 end 16");
    EXPECT_EQ(scan("<</Length 3>>\nstream"), "<<\n/Length 3\n>>\n @13 end 14");
    EXPECT_EQ(scan("<</A /B /C>>"), "<<\n/A /B\n>>\n @12 end 13") << "a key without value";
    EXPECT_EQ(scan("<< 1 2 >>"), "<<\n>>\n @6 end 7") << "a key that is no name ends it";
    EXPECT_EQ(scan("<</A 1"), "<<\n/A 1\n>>\n @6 end 7") << "unclosed";
    EXPECT_EQ(scan("<<>>"), "<<\n>>\n @4 end 5");
    EXPECT_EQ(scan("<<>"), "<> @3") << "fewer than two bytes after it: a hex string";
}

TEST(Parser, ArraysEndOnAnUnknownTokenAndKeepTheirItemsWhenUnclosed) {
    EXPECT_EQ(scan("[1 +5 2]"), "[ 1 ] @3");
    EXPECT_EQ(scan("[1 [2 3"), "[ 1 [ 2 3 ] ] @7");
    EXPECT_EQ(scan("[1 [2"), "[ 1 ] @3") << "an opening bracket needs two bytes after it";
    EXPECT_EQ(scan("[1 (x"), "[ 1 ] @3") << "an unterminated string is no item";
    EXPECT_EQ(scan("[/]"), "[ / ] @3");
}

// --- strings and names

TEST(Parser, LiteralStringEscapesNestingAndLineEnds) {
    EXPECT_EQ(bytes("(a\\(b)"), "a(b");
    EXPECT_EQ(bytes("(a(b)c)"), "a(b)c");
    EXPECT_EQ(bytes("(\\n\\r\\t\\b\\f\\)\\\\)"), "\n\r\t\b\f)\\");
    EXPECT_EQ(bytes("(\\q)"), "\\q");
    EXPECT_EQ(bytes("(a\0b)"sv), "a\0b"sv);
    // Octal escapes take 8 and 9 at face value, at most three digits, modulo 256.
    EXPECT_EQ(bytes("(x\\101)"), "xA");
    EXPECT_EQ(bytes("(\\18)"), "\x10");
    EXPECT_EQ(bytes("(\\9)"), "\x09");
    EXPECT_EQ(bytes("(\\0411)"), "!1");
    EXPECT_EQ(bytes("(\\400)"), "\0"sv);
    // Bytes made by an escape are not examined again.
    EXPECT_EQ(bytes("(\\\\n)"), "\\n");
    EXPECT_EQ(bytes("(\\134n)"), "\\n");
    // CR and CRLF become LF; a backslash before a line end drops both.
    EXPECT_EQ(bytes("(a\r\r\nb)"), "a\n\nb");
    EXPECT_EQ(bytes("(a\\\r\nb)"), "ab");
    EXPECT_EQ(bytes("(a\\\rb)"), "ab");
    EXPECT_EQ(bytes("(a\\\n\nb)"), "a\nb");
    // Fewer than two bytes after a backslash: the ) closes the string.
    EXPECT_EQ(scan("(a\\)"), "(a\\\\) @4");
    EXPECT_EQ(bytes("(a\\)b)"), "a)b");
    EXPECT_EQ(scan("(abc(d)"), "none @0") << "unterminated";
}

TEST(Parser, HexStringsIgnoreJunkPadOddCountsAndDropTheLastByteUnterminated) {
    EXPECT_EQ(bytes("<48 65 6C6C 6F>"), "Hello");
    EXPECT_EQ(bytes("<4x8zz6\t5>"), "He");
    EXPECT_EQ(bytes("<6c6C>"), "ll");
    EXPECT_EQ(bytes("<ABC>"), "\xAB\xC0");
    EXPECT_EQ(bytes("<7>"), "\x70");
    EXPECT_EQ(scan("<4142"), "<4140> @5");
    EXPECT_EQ(scan("<41>"), "<41> @4") << "kept as a hex string";
    EXPECT_EQ(scan("(A)"), "(A) @3");
}

TEST(Parser, NamesDecodeTwoDigitEscapesAndEndAtWhiteSpaceOrDelimiterButNotAtBrace) {
    EXPECT_EQ(bytes("/A#42"), "/AB");
    EXPECT_EQ(bytes("/A#4"), "/A#4");
    EXPECT_EQ(bytes("/A#4G"), "/A#4G");
    EXPECT_EQ(bytes("/#20#2f#"), "/ /#");
    EXPECT_EQ(bytes("/A}"), "/A}");
    EXPECT_EQ(scan("/A/B"), "/A @2");
    TPDFStructure store;
    const TPDFArray* a = Cast<TPDFArray>(store.Parse("[/Type /Type /Tz]"));
    EXPECT_EQ(a->Item(0), a->Item(1)) << "a live parsed name is shared by value";
    EXPECT_NE(a->Item(0), a->Item(2));
    EXPECT_FALSE(Cast<TPDFName>(a->Item(0))->IsCommon);
    // A released or renamed name is not handed out again.
    TPDFName* tz = Cast<TPDFName>(a->Item(2));
    tz->SetValue("Uz");
    EXPECT_NE(Cast<TPDFArray>(store.Parse("[/Tz]"))->Item(0), tz);
    TPDFName* lone = Cast<TPDFName>(store.Parse("/Lone"));
    store.Release(lone);
    EXPECT_NE(store.Parse("/Lone"), lone);
}

// --- bounds on hostile input

TEST(Parser, ContainersNestUpToTheBoundAndOneDeeperScansAsNone) {
    std::string text = std::string(kMaxNesting, '[') + "1" + std::string(kMaxNesting, ']');
    std::size_t end = 0;
    TPDFStructure store;
    EXPECT_EQ(arrayDepth(store.Parse(text, &end)), kMaxNesting);
    EXPECT_EQ(end, text.size());
    text = "[" + text + "]";
    const TPDFObject* v = store.Parse(text, &end);
    EXPECT_EQ(maxDepth(v), kMaxNesting);
    // The deepest array got none at the extra bracket and ended there, empty; the array around
    // it then read the extra bracket as its next item, at an allowed depth.
    EXPECT_EQ(arrayDepth(v), kMaxNesting);
    for (int i = 1; i < kMaxNesting - 1; ++i)
        v = Cast<TPDFArray>(v)->Item(0);
    EXPECT_EQ(v->ToText(), "[ [ ] [ 1 ] ]");
    EXPECT_EQ(end, text.size() - 1) << "one closing bracket is left over";
    // Dictionaries count towards the same bound.
    text.clear();
    for (int i = 0; i < kMaxNesting + 1; ++i)
        text += "<</A ";
    EXPECT_EQ(maxDepth(store.Parse(text + "1" + std::string(2 * (kMaxNesting + 1), '>'))),
              kMaxNesting);
}

TEST(Parser, AFloodOfOpeningsStopsMakingValuesAtTheSecondRefusal) {
    // The first refusal ends the deepest container; its parent reads the refused bracket as a
    // new container, which is refused again: from there every open container ends.
    TPDFStructure store;
    for (const std::string unit : {"[", "<</K ", "<</K [", "[<</K ", "<<"}) {
        std::string text;
        while (text.size() < 400000)
            text += unit;
        std::size_t end = 0;
        const int before = store.ObjectCount();
        const TPDFObject* v = store.Parse(text, &end);
        // Dictionaries as keys end their dictionary empty, so `<<` alone nests no values.
        EXPECT_EQ(maxDepth(v), unit == "<<" ? 1 : kMaxNesting) << unit;
        EXPECT_LT(end, 2 * static_cast<std::size_t>(kMaxNesting) * unit.size()) << unit;
        EXPECT_LT(store.ObjectCount() - before, 4 * kMaxNesting) << unit;
    }
    // A page dictionary ending in a flood keeps its entries before it.
    const TPDFDictionary* page = Cast<TPDFDictionary>(
        store.Parse("<< /Type /Page /MediaBox [0 0 612 792] /Junk " + std::string(1 << 20, '[')));
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->GetTypeName(), "Page");
    EXPECT_EQ(page->Get("MediaBox")->ToText(), "[ 0 0 612 792 ]");
    EXPECT_NE(page->Get("Junk"), nullptr);
    // An unterminated string deep down is searched for its end once.
    std::size_t end = 0;
    const std::string open = std::string(kMaxNesting, '[') + "1 (" + std::string(1 << 20, 'x');
    EXPECT_EQ(arrayDepth(store.Parse(open, &end)), kMaxNesting);
    EXPECT_EQ(end, static_cast<std::size_t>(kMaxNesting) + 2) << "stopped at the (";
}

TEST(Parser, HugeDictionaryParsesWithEveryKey) {
    // Keys are looked up through an index once a dictionary grows, so this stays linear.
    constexpr int kKeys = 200000;
    std::string text = "<<";
    for (int i = 0; i < kKeys; ++i)
        text += "/K" + std::to_string(i) + " " + std::to_string(i % 1000);
    TPDFStructure store;
    const TPDFDictionary* d = Cast<TPDFDictionary>(store.Parse(text + "/K5 (again)>>"));
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Count(), kKeys);
    EXPECT_EQ(AsNumber(d->Get("K199999")), 999);
    EXPECT_EQ(d->IndexOfKey("K5"), 5);
    EXPECT_EQ(d->Get("K5")->ToText(), "(again)");
    EXPECT_EQ(d->Get("K200000"), nullptr);
}

// --- round trips through ToText

TEST(ParserRoundTrip, EveryValueClassSurvivesToTextAndParseAloneAndInADictionary) {
    TPDFStructure store, other;
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        allBytes += static_cast<char>(c);
    TPDFDictionary* inner = store.CreateDictionary();
    inner->Put("Deep", store.CreateArray({store.CreateArray(), store.CreateRef(1, 0)}));
    TPDFDictionary* d = store.CreateDictionary();
    for (TPDFObject* v : std::vector<TPDFObject*>{
             store.CreateNull(), store.CreateBoolean(true), store.CreateBoolean(false),
             store.CreateNumber(-42), store.CreateNumber(3.25), store.CreateNumber(-1e9),
             store.CreateNumber(2147483647.0), store.CreateNumber(1.2345),
             store.CreateString(allBytes), store.CreateString(allBytes, true),
             store.CreateString("a\r\nb)"), store.CreateName(allBytes), store.CreateName("A B"),
             store.CreateName(""), store.CreateRef(12, 3),
             store.CreateArray(std::vector<std::int32_t>{1, 2, 3}), store.CreateArray(),
             store.CreateDictionary(), inner}) {
        const std::string text = v->ToText();
        const TPDFObject* back = other.Parse(text);
        ASSERT_NE(back, nullptr) << text;
        ASSERT_EQ(back->Class(), v->Class()) << text;
        EXPECT_EQ(back->ToText(), text);
        const TPDFString* s = Cast<TPDFString>(v);
        const TPDFString* sBack = Cast<TPDFString>(back);
        EXPECT_TRUE(!s || (sBack->Value == s->Value && sBack->IsHex == s->IsHex)) << text;
        const TPDFName* n = Cast<TPDFName>(v);
        EXPECT_TRUE(!n || Cast<TPDFName>(back)->Value() == n->Value()) << text;
        d->PutEntry(store.CreateName("K" + std::to_string(d->Count())), v);
    }
    d->Put("EmptyHex", store.CreateString("", true));
    d->PutEntry(store.CreateName(std::string("K\0#(/)", 6)), store.CreateNumber(1.5));
    const std::string text = d->ToText();
    const TPDFDictionary* back = Cast<TPDFDictionary>(other.Parse(text));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Count(), d->Count());
    EXPECT_EQ(back->ToText(), text);
    EXPECT_EQ(back->EntryAt(back->Count() - 1).first->Value(), std::string("K\0#(/)", 6));
}

// --- content-stream operand decoders

TEST(ParseHexToken, KeepsLettersAndDigitsWithInvalidPairsAsZeroAndOtherTokensGiveNothing) {
    EXPECT_EQ(ParseHexToken("<48 65\n6c>"), "Hel");
    EXPECT_EQ(ParseHexToken("<4 8 6>"), "\x48\x60");
    EXPECT_EQ(ParseHexToken("<GZ41>"), "\0A"sv);
    EXPECT_EQ(ParseHexToken("<4G41>"), "\0A"sv);
    EXPECT_EQ(ParseHexToken("<4-1>"), "\x41");
    for (const char* token : {"48>", "<48", "<>", "<", ""})
        EXPECT_EQ(ParseHexToken(token), "") << token;
}

TEST(ParseLiteralToken, DecodesEscapesCopiesBareLineEndsAndDropsUnknownBackslashes) {
    // Numeric escapes try three, then two, then one digit.
    EXPECT_EQ(ParseLiteralToken("(\\101)"), "A");
    EXPECT_EQ(ParseLiteralToken("(\\1234)"), "S4");
    EXPECT_EQ(ParseLiteralToken("(\\789)"), "\a89");
    EXPECT_EQ(ParseLiteralToken("(\\18)"), "\x10");
    EXPECT_EQ(ParseLiteralToken("(\\41)"), "!");
    EXPECT_EQ(ParseLiteralToken("(\\0ab)"), "\0ab"sv);
    EXPECT_EQ(ParseLiteralToken("(\\9)"), "9");
    EXPECT_EQ(ParseLiteralToken("(\\q)"), "q");
    EXPECT_EQ(ParseLiteralToken("(ab\\)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(\\b\\t\\n\\f\\r\\(\\)\\\\)"), "\b\t\n\f\r()\\");
    EXPECT_EQ(ParseLiteralToken("(a\\\r\nb)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(a\\\rb)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(a\\\nb)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(a\r\nb)"), "a\r\nb");
    EXPECT_EQ(ParseLiteralToken("()"), "");
    EXPECT_EQ(ParseLiteralToken("("), "");
}
