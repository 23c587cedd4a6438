#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "file/uPDFStructure.h"

using namespace korvel;

namespace {

// Parses text in a fresh store and reports where scanning stopped (0-based).
struct Parsed {
    TPDFStructure Store;
    TPDFObject* Value = nullptr;
    std::size_t End = 0;
    explicit Parsed(std::string_view text) { Value = Store.Parse(text, &End); }
};

double numberOf(const TPDFObject* v) {
    return AsNumber(v, -999);
}

std::string stringOf(const TPDFObject* v) {
    const TPDFString* s = Cast<TPDFString>(v);
    return s ? s->Value : std::string("<not a string>");
}

std::string nameOf(const TPDFObject* v) {
    const TPDFName* n = Cast<TPDFName>(v);
    return n ? n->Value() : std::string("<not a name>");
}

// Levels of arrays nested as first items.
int arrayDepth(const TPDFObject* v) {
    int depth = 0;
    while (const TPDFArray* a = Cast<TPDFArray>(v)) {
        ++depth;
        v = a->Item(0);
    }
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

// --- white space, comments, keywords

TEST(Parser, CommentBeforeNumberIsSkipped) {
    Parsed p("% comment\n42");
    EXPECT_EQ(numberOf(p.Value), 42);
    Parsed crlf("%c\r\n5");
    EXPECT_EQ(numberOf(crlf.Value), 5);
    Parsed nul(std::string("\0 \t\f7", 5));
    EXPECT_EQ(numberOf(nul.Value), 7);
}

TEST(Parser, EmptyTextGivesNone) {
    Parsed p("");
    EXPECT_EQ(p.Value, nullptr);
    EXPECT_EQ(p.End, 0u);
}

TEST(Parser, OperatorsAndObjectKeywordsGiveNoneWithoutMoving) {
    for (const char* text : {"endobj", "obj", "stream", "R", "+5", "}", ">>", ")"}) {
        Parsed p(text);
        EXPECT_EQ(p.Value, nullptr) << text;
        EXPECT_EQ(p.End, 0u) << text;
    }
}

TEST(Parser, CommentRunningToTheEndLeavesPositionPastTheEnd) {
    Parsed p("% only a comment");
    EXPECT_EQ(p.Value, nullptr);
    EXPECT_EQ(p.End, 16u);
}

TEST(Parser, TrailingWhiteSpaceIsNotPassed) {
    Parsed p("12 ");
    EXPECT_EQ(numberOf(p.Value), 12);
    EXPECT_EQ(p.End, 2u);
    Parsed blank("   ");
    EXPECT_EQ(blank.Value, nullptr);
    EXPECT_EQ(blank.End, 2u);
}

TEST(Parser, KeywordsNeedWhiteSpaceDelimiterOrEndAfterThem) {
    EXPECT_EQ(Parsed("truex").Value, nullptr);
    EXPECT_EQ(Parsed("nullx").Value, nullptr);
    Parsed t("true");
    ASSERT_NE(Cast<TPDFBoolean>(t.Value), nullptr);
    EXPECT_TRUE(Cast<TPDFBoolean>(t.Value)->Value);
    Parsed f("false/");
    ASSERT_NE(Cast<TPDFBoolean>(f.Value), nullptr);
    EXPECT_FALSE(Cast<TPDFBoolean>(f.Value)->Value);
    EXPECT_EQ(f.End, 5u);
    EXPECT_NE(Cast<TPDFNull>(Parsed("null ").Value), nullptr);
    EXPECT_EQ(Parsed("null}").Value, nullptr) << "} is not a delimiter";
}

TEST(Parser, OnlyTheFirstObjectIsRead) {
    Parsed p("1 2 3");
    EXPECT_EQ(numberOf(p.Value), 1);
    EXPECT_EQ(p.End, 1u);
    EXPECT_EQ(p.Store.ObjectCount(), 1) << "a failed reference look-ahead makes no object";
}

// --- numbers and references

TEST(Parser, NumberTokensStopAtSecondPointOrMinus) {
    Parsed p("[--5 1.2.3 -.5 4. . 1e5]");
    const TPDFArray* a = Cast<TPDFArray>(p.Value);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Count(), 8);
    const double expected[] = {0, -5, 1.2, 0.3, -0.5, 4, 0, 1};
    for (int i = 0; i < 8; ++i)
        EXPECT_DOUBLE_EQ(numberOf(a->Item(i)), expected[i]) << i;
    EXPECT_EQ(p.End, 21u) << "the array ends at the e";
}

TEST(Parser, IntegersOutsideThe32BitRangeReadAsZero) {
    EXPECT_EQ(numberOf(Parsed("2147483648").Value), 0);
    EXPECT_EQ(numberOf(Parsed("2147483647").Value), 2147483647.0);
    EXPECT_EQ(numberOf(Parsed("-2147483648").Value), -2147483648.0);
    EXPECT_EQ(numberOf(Parsed("-").Value), 0);
}

TEST(Parser, RealsUseTheDecimalTextReading) {
    EXPECT_DOUBLE_EQ(numberOf(Parsed("3.14159265358").Value), 3.141592653);
    EXPECT_EQ(numberOf(Parsed("12345678901.5").Value), 0.5);
    EXPECT_EQ(numberOf(Parsed(".5").Value), 0.5);
}

TEST(Parser, ReferenceInsideArray) {
    Parsed p("[1 2 R 3]");
    const TPDFArray* a = Cast<TPDFArray>(p.Value);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Count(), 2);
    const TPDFIndRef* r = Cast<TPDFIndRef>(a->Item(0));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->RefObjNum(), 1);
    EXPECT_EQ(r->RefGenNum(), 2);
    EXPECT_EQ(numberOf(a->Item(1)), 3);
    EXPECT_EQ(Cast<TPDFArray>(Parsed("[1 2 3]").Value)->Count(), 3);
}

TEST(Parser, ObjKeywordLeavesTheGenerationUnread) {
    Parsed p("12 0 obj");
    EXPECT_EQ(numberOf(p.Value), 12);
    EXPECT_EQ(p.End, 2u);
}

TEST(Parser, NegativeGenerationMakesNoReference) {
    Parsed p("3 -1 R");
    EXPECT_EQ(numberOf(p.Value), 3);
    EXPECT_EQ(p.End, 1u);
}

TEST(Parser, ByteAfterRIsNotExamined) {
    Parsed p("1 0 RG");
    const TPDFIndRef* r = Cast<TPDFIndRef>(p.Value);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->RefObjNum(), 1);
    EXPECT_EQ(p.End, 5u);
}

TEST(Parser, ReferenceGenerationMayBeARealAndIsTruncated) {
    Parsed parsed1("5 1.9 R");
    const TPDFIndRef* r = Cast<TPDFIndRef>(parsed1.Value);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->RefGenNum(), 1);
    Parsed real("5.0 0 R");
    EXPECT_EQ(numberOf(real.Value), 5);
    EXPECT_EQ(real.End, 3u) << "no reference after a real";
}

TEST(Parser, ReferenceMayHaveCommentsBetweenItsParts) {
    Parsed parsed2("7 %x\n 0 %y\r\n R");
    const TPDFIndRef* r = Cast<TPDFIndRef>(parsed2.Value);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->RefObjNum(), 7);
    EXPECT_EQ(r->RefGenNum(), 0);
}

TEST(Parser, ReferenceDoesNotSetTheIndirectObjectNumbers) {
    Parsed parsed8("9 3 R");
    const TPDFObject* r = parsed8.Value;
    ASSERT_NE(r, nullptr);
    EXPECT_FALSE(r->IsIndirect);
    EXPECT_EQ(r->ObjNum, 0);
    EXPECT_EQ(r->Kind, 'I');
}

// --- dictionaries

TEST(Parser, DictionaryEndPositionIsJustAfterTheClosingBrackets) {
    Parsed p("<</A 1/B[2 3]>>");
    const TPDFDictionary* d = Cast<TPDFDictionary>(p.Value);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(), 2);
    EXPECT_EQ(numberOf(d->Get("A")), 1);
    EXPECT_EQ(Cast<TPDFArray>(d->Get("B"))->Count(), 2);
    EXPECT_EQ(d->EndPosition, 16);
    EXPECT_EQ(p.End, 15u);
    Parsed stream("<</Length 3>>\nstream");
    EXPECT_EQ(Cast<TPDFDictionary>(stream.Value)->EndPosition, 14);
}

TEST(Parser, KeyWithoutValueIsDropped) {
    Parsed p("<</A /B /C>>");
    const TPDFDictionary* d = Cast<TPDFDictionary>(p.Value);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Count(), 1);
    EXPECT_EQ(nameOf(d->Get("A")), "B");
    EXPECT_EQ(d->EndPosition, 13);
}

TEST(Parser, NonNameKeyEndsTheDictionaryAfterItsValue) {
    Parsed p("<< 1 2 >>");
    const TPDFDictionary* d = Cast<TPDFDictionary>(p.Value);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Count(), 0);
    EXPECT_EQ(d->EndPosition, 7);
    EXPECT_EQ(p.End, 6u);
}

TEST(Parser, RepeatedKeyKeepsFirstPositionWithLastValue) {
    Parsed parsed3("<</A 1/B 2/A 3>>");
    const TPDFDictionary* d = Cast<TPDFDictionary>(parsed3.Value);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Count(), 2);
    EXPECT_EQ(d->EntryAt(0).first->Value(), "A");
    EXPECT_EQ(numberOf(d->EntryAt(0).second), 3);
    EXPECT_EQ(d->EntryAt(1).first->Value(), "B");
}

TEST(Parser, UnclosedDictionaryEndsWhereScanningStopped) {
    Parsed p("<</A 1");
    const TPDFDictionary* d = Cast<TPDFDictionary>(p.Value);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(numberOf(d->Get("A")), 1);
    EXPECT_EQ(d->EndPosition, 7);
}

TEST(Parser, EmptyDictionaryNeedsTwoBytesAfterItsOpening) {
    Parsed parsed4("<<>>");
    const TPDFDictionary* d = Cast<TPDFDictionary>(parsed4.Value);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->EndPosition, 5);
    // With fewer bytes the opening is read as a hex string instead.
    EXPECT_NE(Cast<TPDFString>(Parsed("<<>").Value), nullptr);
}

// --- arrays

TEST(Parser, UnknownTokenEndsArrayOnThatToken) {
    Parsed p("[1 +5 2]");
    const TPDFArray* a = Cast<TPDFArray>(p.Value);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Count(), 1);
    EXPECT_EQ(p.End, 3u);
}

TEST(Parser, EmptyArrayOrHexStringEndingTheTextGiveNone) {
    EXPECT_EQ(Parsed("[]").Value, nullptr);
    EXPECT_EQ(Parsed("<>").Value, nullptr);
    ASSERT_NE(Cast<TPDFArray>(Parsed("[] ").Value), nullptr);
    EXPECT_EQ(stringOf(Parsed("<> ").Value), "");
}

TEST(Parser, UnclosedArrayKeepsItsItems) {
    Parsed parsed5("[1 [2 3");
    const TPDFArray* a = Cast<TPDFArray>(parsed5.Value);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Count(), 2);
    EXPECT_EQ(Cast<TPDFArray>(a->Item(1))->Count(), 2);
    // An opening bracket with only one byte after it starts nothing.
    Parsed parsed9("[1 [2");
    EXPECT_EQ(Cast<TPDFArray>(parsed9.Value)->Count(), 1);
}

// --- literal strings

TEST(Parser, LiteralStringEscapesAndNesting) {
    EXPECT_EQ(stringOf(Parsed("(a\\(b)").Value), "a(b");
    EXPECT_EQ(stringOf(Parsed("(a(b)c)").Value), "a(b)c");
    EXPECT_EQ(stringOf(Parsed("(x\\101)").Value), "xA");
    EXPECT_EQ(stringOf(Parsed("(\\n\\r\\t\\b\\f\\)\\\\)").Value), "\n\r\t\b\f)\\");
    EXPECT_EQ(stringOf(Parsed("(\\q)").Value), "\\q");
}

TEST(Parser, OctalEscapesTakeEightAndNineAtFaceValue) {
    EXPECT_EQ(stringOf(Parsed("(\\18)").Value), "\x10");
    EXPECT_EQ(stringOf(Parsed("(\\9)").Value), "\x09");
    EXPECT_EQ(stringOf(Parsed("(\\0411)").Value), "!1") << "at most three digits";
    EXPECT_EQ(stringOf(Parsed("(\\777)").Value), "\xFF");
    EXPECT_EQ(stringOf(Parsed("(\\400)").Value), std::string(1, '\0')) << "modulo 256";
    EXPECT_EQ(stringOf(Parsed("(\\0)").Value), std::string(1, '\0'));
}

TEST(Parser, LineEndsInLiteralStringsAreRewritten) {
    EXPECT_EQ(stringOf(Parsed("(line\r\nnext)").Value), "line\nnext");
    EXPECT_EQ(stringOf(Parsed("(a\rb)").Value), "a\nb");
    EXPECT_EQ(stringOf(Parsed("(a\r\r\nb)").Value), "a\n\nb");
    EXPECT_EQ(stringOf(Parsed("(a\\\nb)").Value), "ab");
    EXPECT_EQ(stringOf(Parsed("(a\\\r\nb)").Value), "ab");
    EXPECT_EQ(stringOf(Parsed("(a\\\rb)").Value), "ab");
    EXPECT_EQ(stringOf(Parsed("(a\\\n\nb)").Value), "a\nb");
}

TEST(Parser, BytesMadeByAnEscapeAreNotExaminedAgain) {
    EXPECT_EQ(stringOf(Parsed("(\\\\n)").Value), "\\n");
    EXPECT_EQ(stringOf(Parsed("(\\134n)").Value), "\\n");
}

TEST(Parser, BackslashNearTheEndDoesNotEscapeTheClosingParenthesis) {
    // Fewer than two bytes follow the backslash: the ) closes the string.
    Parsed p("(a\\)");
    EXPECT_EQ(stringOf(p.Value), "a\\");
    EXPECT_EQ(p.End, 4u);
    EXPECT_EQ(stringOf(Parsed("(a\\)b)").Value), "a)b");
}

TEST(Parser, UnterminatedLiteralStringGivesNoneWithoutMoving) {
    Parsed p("(abc(d)");
    EXPECT_EQ(p.Value, nullptr);
    EXPECT_EQ(p.End, 0u);
    Parsed parsed6("[1 (x");
    const TPDFArray* a = Cast<TPDFArray>(parsed6.Value);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->Count(), 1);
}

TEST(Parser, LiteralStringsKeepZeroBytes) {
    const std::string text("(a\0b)", 5);
    EXPECT_EQ(stringOf(Parsed(text).Value), std::string("a\0b", 3));
    EXPECT_FALSE(Cast<TPDFString>(Parsed(text).Value)->IsHex);
}

// --- hex strings

TEST(Parser, HexStringsIgnoreWhiteSpaceAndJunk) {
    EXPECT_EQ(stringOf(Parsed("<48 65 6C6C 6F>").Value), "Hello");
    EXPECT_EQ(stringOf(Parsed("<4x8zz6\t5>").Value), "He");
    EXPECT_EQ(stringOf(Parsed("<6c6C>").Value), "ll");
    EXPECT_TRUE(Cast<TPDFString>(Parsed("<41>").Value)->IsHex);
}

TEST(Parser, OddHexCountGetsAZeroAppended) {
    EXPECT_EQ(stringOf(Parsed("<ABC>").Value), "\xAB\xC0");
    EXPECT_EQ(stringOf(Parsed("<7>").Value), "\x70");
}

TEST(Parser, UnterminatedHexStringDropsTheLastByte) {
    Parsed p("<4142");
    EXPECT_EQ(stringOf(p.Value), "A\x40");
    EXPECT_EQ(p.End, 5u);
}

// --- names

TEST(Parser, NameEscapesNeedTwoHexDigits) {
    EXPECT_EQ(nameOf(Parsed("/A#42").Value), "AB");
    EXPECT_EQ(nameOf(Parsed("/A#4").Value), "A#4");
    EXPECT_EQ(nameOf(Parsed("/A#4G").Value), "A#4G");
    EXPECT_EQ(nameOf(Parsed("/#20#2f#").Value), " /#");
}

TEST(Parser, NamesEndAtWhiteSpaceOrDelimiterButNotAtBrace) {
    Parsed p("/A/B");
    EXPECT_EQ(nameOf(p.Value), "A");
    EXPECT_EQ(p.End, 2u);
    EXPECT_EQ(nameOf(Parsed("/A}").Value), "A}");
    Parsed parsed7("[/]");
    const TPDFArray* a = Cast<TPDFArray>(parsed7.Value);
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->Count(), 1);
    EXPECT_EQ(nameOf(a->Item(0)), "");
}

TEST(Parser, ParsedNamesAreNewAndNotCommon) {
    Parsed p("[/Type /Type]");
    const TPDFArray* a = Cast<TPDFArray>(p.Value);
    EXPECT_NE(a->Item(0), a->Item(1));
    EXPECT_FALSE(Cast<TPDFName>(a->Item(0))->IsCommon);
}

// --- bounds on hostile input

TEST(Parser, ContainersNestUpToTheBound) {
    const std::string text = std::string(kMaxNesting, '[') + "1" + std::string(kMaxNesting, ']');
    Parsed p(text);
    EXPECT_EQ(arrayDepth(p.Value), kMaxNesting);
    EXPECT_EQ(p.End, text.size());
}

TEST(Parser, ContainerOneDeeperThanTheBoundScansAsNone) {
    const std::string text =
        std::string(kMaxNesting + 1, '[') + "1" + std::string(kMaxNesting + 1, ']');
    Parsed p(text);
    EXPECT_EQ(maxDepth(p.Value), kMaxNesting);
    // The deepest array got none at the extra bracket and ended there, empty; the array around
    // it then read the extra bracket as its next item, at an allowed depth.
    EXPECT_EQ(arrayDepth(p.Value), kMaxNesting);
    const TPDFObject* v = p.Value;
    for (int i = 1; i < kMaxNesting - 1; ++i)
        v = Cast<TPDFArray>(v)->Item(0);
    const TPDFArray* parent = Cast<TPDFArray>(v);
    ASSERT_EQ(parent->Count(), 2);
    EXPECT_EQ(Cast<TPDFArray>(parent->Item(0))->Count(), 0);
    EXPECT_EQ(Cast<TPDFArray>(parent->Item(1))->ToText(), "[ 1 ]");
    EXPECT_EQ(p.End, text.size() - 1) << "one closing bracket is left over";
}

TEST(Parser, DictionariesCountTowardsTheSameBound) {
    std::string text;
    for (int i = 0; i < kMaxNesting + 1; ++i)
        text += "<</A ";
    text += "1";
    for (int i = 0; i < kMaxNesting + 1; ++i)
        text += ">>";
    Parsed p(text);
    int depth = 0;
    for (const TPDFObject* v = p.Value; const TPDFDictionary* d = Cast<TPDFDictionary>(v);
         v = d->Get("A"))
        ++depth;
    EXPECT_EQ(depth, kMaxNesting);
    EXPECT_EQ(maxDepth(p.Value), kMaxNesting);
}

TEST(Parser, TwoHundredThousandOpeningBracketsDoNotOverflowTheStack) {
    const std::string text(200000, '[');
    Parsed p(text);
    EXPECT_EQ(maxDepth(p.Value), kMaxNesting);
    // An opening bracket needs two bytes after it: the last two open nothing.
    EXPECT_EQ(p.End, text.size() - 2);
    EXPECT_FALSE(p.Value->ToText().empty());
}

TEST(Parser, UnterminatedStringInsideDeepArraysEndsThemAll) {
    const std::string text = std::string(kMaxNesting, '[') + "1 (" + std::string(1 << 20, 'x');
    Parsed p(text);
    EXPECT_EQ(arrayDepth(p.Value), kMaxNesting);
    EXPECT_EQ(p.End, static_cast<std::size_t>(kMaxNesting) + 2) << "stopped at the (";
}

TEST(Parser, HugeDictionaryParsesWithEveryKey) {
    // Keys are looked up through an index once a dictionary grows, so this stays linear.
    constexpr int kKeys = 200000;
    std::string text = "<<";
    for (int i = 0; i < kKeys; ++i)
        text += "/K" + std::to_string(i) + " " + std::to_string(i % 1000);
    text += "/K5 (again)>>";
    Parsed p(text);
    const TPDFDictionary* d = Cast<TPDFDictionary>(p.Value);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Count(), kKeys);
    EXPECT_EQ(numberOf(d->Get("K199999")), 999);
    EXPECT_EQ(d->IndexOfKey("K5"), 5);
    EXPECT_EQ(stringOf(d->Get("K5")), "again");
    EXPECT_EQ(d->Get("K200000"), nullptr);
}

// --- round trips through ToText

TEST(ParserRoundTrip, EveryValueClassSurvivesToTextAndParse) {
    TPDFStructure store;
    std::string allBytes;
    for (int c = 0; c < 256; ++c)
        allBytes += static_cast<char>(c);
    TPDFDictionary* d = store.CreateDictionary();
    d->Put("Null", store.CreateNull());
    d->Put("True", store.CreateBoolean(true));
    d->Put("False", store.CreateBoolean(false));
    d->Put("Int", store.CreateNumber(-42));
    d->Put("Real", store.CreateNumber(3.25));
    d->Put("Lit", store.CreateString(allBytes, false));
    d->Put("Hex", store.CreateString(allBytes, true));
    d->Put("EmptyHex", store.CreateString("", true));
    d->Put("Name", store.CreateName(allBytes));
    d->Put("EmptyName", store.CreateName(""));
    d->Put("Ref", store.CreateRef(12, 3));
    d->Put("Arr", store.CreateArray(std::vector<std::int32_t>{1, 2, 3}));
    TPDFDictionary* inner = store.CreateDictionary();
    inner->Put("Deep", store.CreateArray({store.CreateArray(), store.CreateRef(1, 0)}));
    d->Put("Dict", inner);
    d->PutEntry(store.CreateName(std::string("K\0#(/)", 6)), store.CreateNumber(1.5));

    const std::string text = d->ToText();
    TPDFStructure other;
    const TPDFDictionary* back = Cast<TPDFDictionary>(other.Parse(text));
    ASSERT_NE(back, nullptr);
    ASSERT_EQ(back->Count(), d->Count());
    EXPECT_EQ(back->ToText(), text);
    EXPECT_NE(Cast<TPDFNull>(back->Get("Null")), nullptr);
    EXPECT_TRUE(Cast<TPDFBoolean>(back->Get("True"))->Value);
    EXPECT_FALSE(Cast<TPDFBoolean>(back->Get("False"))->Value);
    EXPECT_EQ(numberOf(back->Get("Int")), -42);
    EXPECT_EQ(numberOf(back->Get("Real")), 3.25);
    EXPECT_EQ(stringOf(back->Get("Lit")), allBytes);
    EXPECT_FALSE(Cast<TPDFString>(back->Get("Lit"))->IsHex);
    EXPECT_EQ(stringOf(back->Get("Hex")), allBytes);
    EXPECT_TRUE(Cast<TPDFString>(back->Get("Hex"))->IsHex);
    EXPECT_EQ(stringOf(back->Get("EmptyHex")), "");
    EXPECT_EQ(nameOf(back->Get("Name")), allBytes);
    EXPECT_EQ(nameOf(back->Get("EmptyName")), "");
    const TPDFIndRef* ref = Cast<TPDFIndRef>(back->Get("Ref", false));
    ASSERT_NE(ref, nullptr);
    EXPECT_EQ(ref->RefObjNum(), 12);
    EXPECT_EQ(ref->RefGenNum(), 3);
    EXPECT_EQ(back->Get("Arr")->ToText(), "[ 1 2 3 ]");
    EXPECT_EQ(numberOf(back->Get(std::string_view("K\0#(/)", 6))), 1.5);
}

TEST(ParserRoundTrip, NumbersKeepFourDecimals) {
    TPDFStructure store;
    for (const double v : {0.0, 12.0, -3.25, 0.5, 1.2345, -1e9, 2147483647.0}) {
        const std::string text = store.CreateNumber(v)->ToText();
        EXPECT_DOUBLE_EQ(numberOf(store.Parse(text)), v) << text;
    }
    EXPECT_DOUBLE_EQ(numberOf(store.Parse(store.CreateNumber(1.23456)->ToText())), 1.2345);
}

TEST(ParserRoundTrip, TopLevelScalarsRoundTrip) {
    TPDFStructure store;
    for (TPDFObject* v : std::vector<TPDFObject*>{
             store.CreateNull(), store.CreateBoolean(true), store.CreateNumber(7),
             store.CreateString("a\r\nb)", false), store.CreateName("A B"), store.CreateRef(4, 0),
             store.CreateArray(), store.CreateDictionary()}) {
        const std::string text = v->ToText();
        TPDFObject* back = store.Parse(text);
        ASSERT_NE(back, nullptr) << text;
        EXPECT_EQ(back->Class(), v->Class());
        EXPECT_EQ(back->ToText(), text);
    }
}

// --- content-stream operand decoders

TEST(ParseHexToken, KeepsLettersAndDigitsWithInvalidPairsAsZero) {
    EXPECT_EQ(ParseHexToken("<48656C6C6F>"), "Hello");
    EXPECT_EQ(ParseHexToken("<48 65\n6c>"), "Hel");
    EXPECT_EQ(ParseHexToken("<4 8 6>"), "\x48\x60");
    EXPECT_EQ(ParseHexToken("<GZ41>"), std::string("\0A", 2));
    EXPECT_EQ(ParseHexToken("<4G41>"), std::string("\0A", 2));
    EXPECT_EQ(ParseHexToken("<4-1>"), "\x41");
}

TEST(ParseHexToken, OtherTokensGiveEmptyBytes) {
    EXPECT_EQ(ParseHexToken("48>"), "");
    EXPECT_EQ(ParseHexToken("<48"), "");
    EXPECT_EQ(ParseHexToken("<>"), "");
    EXPECT_EQ(ParseHexToken("<"), "");
    EXPECT_EQ(ParseHexToken(""), "");
}

TEST(ParseLiteralToken, NumericEscapesTryThreeThenTwoThenOneDigits) {
    EXPECT_EQ(ParseLiteralToken("(\\101)"), "A");
    EXPECT_EQ(ParseLiteralToken("(\\1234)"), "S4");
    EXPECT_EQ(ParseLiteralToken("(\\789)"), std::string("\x07") + "89");
    EXPECT_EQ(ParseLiteralToken("(\\18)"), "\x10");
    EXPECT_EQ(ParseLiteralToken("(\\41)"), "!");
    EXPECT_EQ(ParseLiteralToken("(\\0ab)"), std::string("\0ab", 3));
}

TEST(ParseLiteralToken, UnknownEscapeDropsTheBackslash) {
    EXPECT_EQ(ParseLiteralToken("(\\9)"), "9");
    EXPECT_EQ(ParseLiteralToken("(\\q)"), "q");
    EXPECT_EQ(ParseLiteralToken("(ab\\)"), "ab");
}

TEST(ParseLiteralToken, NamedEscapesAndLineContinuations) {
    EXPECT_EQ(ParseLiteralToken("(\\b\\t\\n\\f\\r\\(\\)\\\\)"), "\b\t\n\f\r()\\");
    EXPECT_EQ(ParseLiteralToken("(a\\\r\nb)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(a\\\rb)"), "ab");
    EXPECT_EQ(ParseLiteralToken("(a\\\nb)"), "ab");
}

TEST(ParseLiteralToken, BareCarriageReturnsAreCopied) {
    EXPECT_EQ(ParseLiteralToken("(a\r\nb)"), "a\r\nb");
    EXPECT_EQ(ParseLiteralToken("()"), "");
    EXPECT_EQ(ParseLiteralToken("("), "");
}
