#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "file/uPDFXRef.h"
#include "support/PdfWriter.h"

using namespace korvel;

namespace {

// Runs a reader over the bytes and logs every callback in order: "S offset",
// "E num value2 type value3" (type `_` for blank) and "T" for a trailer.
struct Reading {
    std::vector<std::string> Log;
    std::vector<std::string> Trailers;
    bool Ok = false;
    std::int32_t Start = 0;
};

Reading readFrom(const std::string& bytes, std::int64_t offset) {
    Reading run;
    TXRStringStream stream(bytes);
    TPDFXRefReader reader(stream);
    reader.OnSection = [&](std::int32_t at) { run.Log.push_back("S " + std::to_string(at)); };
    reader.OnEntry = [&](std::int32_t num, std::int32_t v2, char type, std::int32_t v3) {
        run.Log.push_back("E " + std::to_string(num) + " " + std::to_string(v2) + " " +
                          std::string(1, type == ' ' ? '_' : type) + " " + std::to_string(v3));
    };
    reader.OnTrailer = [&](const std::string& text) {
        run.Log.push_back("T");
        run.Trailers.push_back(text);
    };
    run.Ok = reader.ReadSection(offset);
    return run;
}

Reading readFile(const std::string& bytes) {
    TXRStringStream stream(bytes);
    TPDFXRefReader reader(stream);
    std::int32_t start = reader.FindStartXRef();
    Reading run = readFrom(bytes, start);
    run.Start = start;
    return run;
}

std::int32_t startOf(const std::string& bytes) {
    TXRStringStream stream(bytes);
    return TPDFXRefReader(stream).FindStartXRef();
}

std::vector<std::string> entriesOf(const Reading& run) {
    std::vector<std::string> out;
    for (const std::string& line : run.Log)
        if (line[0] == 'E')
            out.push_back(line);
    return out;
}

int count(const Reading& run, const std::string& line) {
    int n = 0;
    for (const std::string& l : run.Log)
        n += l == line;
    return n;
}

// A cross-reference stream object `num` at the end of `prefix`, with the given dictionary
// entries (without Length) and data; returns its offset.
std::int64_t appendXRefStream(std::string& file, int num, const std::string& dict,
                              const std::string& data) {
    std::int64_t at = std::int64_t(file.size());
    file += std::to_string(num) + " 0 obj\n<< /Type /XRef " + dict + " /Length " +
            std::to_string(data.size()) + " >>\nstream\n" + data + "\nendstream\nendobj\n";
    return at;
}

std::string bytesOf(std::initializer_list<int> values) {
    std::string out;
    for (int v : values)
        out += char(v);
    return out;
}

} // namespace

TEST(XRefStartFinding, NumberBeforeLastEofIsTheOffset) {
    EXPECT_EQ(startOf("%PDF-1.4\njunk\nstartxref\n1234\n%%EOF\n"), 1234);
    // The keyword before the number is not looked at.
    EXPECT_EQ(startOf("%PDF-1.4\nwhatever 55 \r\n%%EOF"), 55);
    EXPECT_EQ(startOf("%PDF-1.4\nstartxref\n\n%%EOF"), 0);
}

TEST(XRefStartFinding, LastOfTwoUpdatesInTheTailWins) {
    std::string file = "%PDF-1.4\nstartxref\n100\n%%EOF\nmore\nstartxref\n200\n%%EOF\n";
    EXPECT_EQ(startOf(file), 200);
}

TEST(XRefStartFinding, WithoutEofTheFirstStartxrefOfTheTailCounts) {
    EXPECT_EQ(startOf("%PDF-1.4\nstartxref \r\n 77 startxref 88"), 77);
    EXPECT_EQ(startOf("%PDF-1.4\nnothing here"), 0);
    EXPECT_EQ(startOf("%PDF-1.4\nstartxref\nabc"), 0);
    // Only the last 1024 bytes are searched.
    EXPECT_EQ(startOf("startxref 77\n" + std::string(2000, ' ')), 0);
}

TEST(XRefStartFinding, AnOverlongNumberSaturatesInsteadOfWrapping) {
    EXPECT_EQ(startOf("startxref\n99999999999999999999999\n%%EOF"), 2147483647);
}

TEST(XRefReadAt, ClipsToTheFileAndTreatsNegativeOffsetsAsZero) {
    std::string data = "0123456789";
    TXRStringStream stream(data);
    TPDFXRefReader reader(stream);
    EXPECT_EQ(reader.ReadAt(8, 5), "89");
    EXPECT_EQ(reader.ReadAt(-4, 3), "012");
    EXPECT_EQ(reader.ReadAt(3, 0), "");
    EXPECT_EQ(reader.ReadAt(3, -2), "");
    EXPECT_EQ(reader.ReadAt(50, 2), "");
    stream.Seek(-3);
    EXPECT_EQ(stream.Position(), 0);
    stream.Seek(99);
    EXPECT_EQ(stream.Position(), 10);
}

TEST(XRefTable, EntriesThenTrailerInFileOrder) {
    std::string file = "%PDF-1.4\n"
                       "xref\n0 3\n"
                       "0000000000 65535 f\r\n"
                       "0000000017 00000 n\r\n"
                       "0000000081 00002 n\r\n"
                       "trailer\n<< /Size 3 /Root 1 0 R >>\n"
                       "startxref\n9\n%%EOF\n";
    Reading run = readFile(file);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Start, 9);
    EXPECT_EQ(run.Log,
              (std::vector<std::string>{"S 9", "E 0 0 f 65535", "E 1 17 n 0", "E 2 81 n 2", "T"}));
    ASSERT_EQ(run.Trailers.size(), 1u);
    EXPECT_NE(run.Trailers[0].find("/Root 1 0 R"), std::string::npos);
}

TEST(XRefTable, EntriesOf19BytesAreStillRead) {
    for (std::string end : {"\n", " \n", " \r", "\r"}) {
        std::string file = "%PDF-1.4\nxref\n0 3\n0000000000 65535 f" + end + "0000000017 00000 n" +
                           end + "0000000081 00000 n" + end +
                           "trailer\n<< /Size 3 >>\nstartxref\n9\n%%EOF\n";
        Reading run = readFile(file);
        EXPECT_TRUE(run.Ok);
        EXPECT_EQ(entriesOf(run),
                  (std::vector<std::string>{"E 0 0 f 65535", "E 1 17 n 0", "E 2 81 n 0"}))
            << int(end[0]);
    }
}

TEST(XRefTable, SubsectionsNumberFromTheirOwnFirstObject) {
    std::string file = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\n"
                       "7 2\n0000000100 00000 n\r\n0000000200 00000 n\r\n"
                       "trailer\n<< /Size 9 >>\nstartxref\n9\n%%EOF\n";
    Reading run = readFile(file);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(entriesOf(run),
              (std::vector<std::string>{"E 0 0 f 65535", "E 7 100 n 0", "E 8 200 n 0"}));
}

TEST(XRefTable, UnreadableFieldsReadAsZeroAndNumberingIsNotCorrected) {
    std::string file = "%PDF-1.4\nxref\n1 2\n00000000x0 6553x f\r\n+000000017    12 n\r\n"
                       "trailer\n<< /Size 3 >>\nstartxref\n9\n%%EOF\n";
    Reading run = readFile(file);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(entriesOf(run), (std::vector<std::string>{"E 1 0 f 0", "E 2 17 n 12"}));
}

TEST(XRefTable, OffsetsAFewBytesOffStillFindTheKeyword) {
    std::string body = "%PDF-1.4\n" + std::string(40, '%') + "\n";
    const std::int64_t at = std::int64_t(body.size());
    std::string file = body + "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size 1 >>\n";
    for (std::int64_t delta : {-5, -200, 3, 10}) {
        Reading run = readFrom(file, at + delta);
        EXPECT_TRUE(run.Ok) << delta;
        EXPECT_EQ(entriesOf(run).size(), 1u) << delta;
    }
    // More than 10 bytes past the keyword it is out of the window.
    EXPECT_FALSE(readFrom(file, at + 11).Ok);
}

TEST(XRefTable, TheTailOfStartxrefIsNoTable) {
    std::string file = "%PDF-1.4\nstartxref\n0\nxref\n0 1\n0000000000 65535 f\r\n"
                       "trailer\n<< /Size 1 >>\n";
    EXPECT_FALSE(readFrom(file, 9).Ok);
}

TEST(XRefTable, AnObjectBeforeTheKeywordFailsTheSection) {
    std::string file = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\nxref\n0 1\n0000000000 65535 f\r\n"
                       "trailer\n<< /Size 1 >>\n";
    EXPECT_FALSE(readFrom(file, 9).Ok);
    EXPECT_FALSE(readFrom("%PDF-1.4\nnothing at all here\n", 9).Ok);
}

TEST(XRefTable, MissingOrBrokenTrailerFails) {
    const std::string head = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\n";
    EXPECT_FALSE(readFrom(head + "startxref\n9\n%%EOF", 9).Ok);
    EXPECT_FALSE(readFrom(head + "trailer\n/Size 1\n", 9).Ok);
    EXPECT_FALSE(readFrom(head + "trailer\n[ << >> ]\n", 9).Ok);
    EXPECT_TRUE(readFrom(head + "trailer\n<< >>\n", 9).Ok);
}

TEST(XRefTable, ACountBeyondTheFileEndsTheSubsections) {
    std::string file = "%PDF-1.4\nxref\n0 99999999999999999999\n0000000000 65535 f\r\n"
                       "trailer\n<< /Size 1 >>\n";
    Reading run = readFrom(file, 9);
    EXPECT_TRUE(run.Ok);
    EXPECT_TRUE(entriesOf(run).empty());

    std::string claimed = "%PDF-1.4\nxref\n0 50\n0000000000 65535 f\r\ntrailer\n<< >>\n";
    run = readFrom(claimed, 9);
    EXPECT_TRUE(entriesOf(run).empty());
}

TEST(XRefTable, NumberingPastThe32BitRangeEndsTheSubsections) {
    std::string file = "%PDF-1.4\nxref\n2147483647 2\n0000000000 65535 f\r\n"
                       "0000000000 65535 f\r\ntrailer\n<< >>\n";
    Reading run = readFrom(file, 9);
    EXPECT_TRUE(entriesOf(run).empty());
}

TEST(XRefChain, PrevIsReadAfterAllOfTheNewerSection) {
    tolvane_test::PdfWriter base;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.Set(2, "(old)");
    std::string file = base.Finish();
    const std::int64_t oldXRef = base.XRefOffset();
    tolvane_test::PdfWriter update;
    update.Set(2, "(new)");
    file = update.FinishUpdate(file);

    Reading run = readFile(file);
    EXPECT_TRUE(run.Ok);
    ASSERT_EQ(run.Trailers.size(), 2u);
    std::vector<std::string> expected = {"S " + std::to_string(update.XRefOffset()),
                                         "E 2 " + std::to_string(update.Offsets().at(2)) + " n 0",
                                         "T", "S " + std::to_string(oldXRef)};
    ASSERT_GE(run.Log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(run.Log.begin(), run.Log.begin() + 4), expected);
    EXPECT_EQ(run.Log.back(), "T");
}

TEST(XRefChain, HybridTrailerReadsXRefStmBeforePrev) {
    std::string file = "%PDF-1.4\n";
    std::string data = bytesOf({2, 0, 9, 0});
    std::int64_t stm = appendXRefStream(file, 9, "/Size 10 /W [1 2 1] /Index [5 1]", data);
    std::int64_t old = std::int64_t(file.size());
    file += "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size 1 >>\n";
    std::int64_t newest = std::int64_t(file.size());
    file += "xref\n3 1\n0000000010 00000 n\r\ntrailer\n<< /Size 10 /XRefStm " +
            std::to_string(stm) + " /Prev " + std::to_string(old) + " >>\n";
    Reading run = readFrom(file, newest);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Log,
              (std::vector<std::string>{"S " + std::to_string(newest), "E 3 10 n 0", "T",
                                        "S " + std::to_string(stm), "E 5 9 c 0", "T",
                                        "S " + std::to_string(old), "E 0 0 f 65535", "T"}));
}

TEST(XRefChain, AFailingXRefStmDoesNotMatterButAFailingPrevDoes) {
    std::string file = "%PDF-1.4\n";
    std::int64_t newest = std::int64_t(file.size());
    file += "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /XRefStm 999999 >>\n";
    EXPECT_TRUE(readFrom(file, newest).Ok);
    std::string other = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Prev 999999 >>\n";
    EXPECT_FALSE(readFrom(other, 9).Ok);
}

TEST(XRefChain, PrevCyclesFail) {
    // A section whose Prev is itself.
    std::string self = "%PDF-1.4\nxref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Prev 9 >>\n";
    Reading run = readFrom(self, 9);
    EXPECT_FALSE(run.Ok);
    EXPECT_EQ(count(run, "S 9"), 1);

    // Two sections pointing at each other.
    std::string file = "%PDF-1.4\n";
    std::int64_t a = std::int64_t(file.size());
    file += "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Prev BBBBBB >>\n";
    file += std::string(1100, '%') + "\n";
    std::int64_t b = std::int64_t(file.size());
    file += "xref\n1 1\n0000000000 00000 n\r\ntrailer\n<< /Prev " + std::to_string(a) + " >>\n";
    std::string bText = std::to_string(b);
    bText.insert(0, 6 - bText.size(), '0');
    file.replace(file.find("BBBBBB"), 6, bText);
    EXPECT_FALSE(readFrom(file, a).Ok);
    EXPECT_FALSE(readFrom(file, b).Ok);
}

TEST(XRefChain, XRefStmAndPrevToTheSameSectionReadItOnce) {
    // Thirty sections, each naming the next one both as XRefStm and as Prev: read naively that
    // is two to the thirtieth readings of the last one.
    const int n = 30;
    std::vector<std::string> parts(n);
    std::string file = "%PDF-1.4\n";
    std::vector<std::int64_t> at(n);
    // Written from the oldest to the newest so that every offset is known when it is needed.
    for (int i = n - 1; i >= 0; --i) {
        at[i] = std::int64_t(file.size());
        std::string trailer = "<< /Size 40";
        if (i + 1 < n)
            trailer +=
                " /XRefStm " + std::to_string(at[i + 1]) + " /Prev " + std::to_string(at[i + 1]);
        trailer += " >>";
        file += "xref\n" + std::to_string(i) + " 1\n0000000010 00000 n\r\ntrailer\n" + trailer +
                "\n" + std::string(1100, ' ') + "\n";
    }
    const auto started = std::chrono::steady_clock::now();
    Reading run = readFrom(file, at[0]);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_TRUE(run.Ok);
    EXPECT_LT(took, std::chrono::seconds(2));
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(count(run, "E " + std::to_string(i) + " 10 n 0"), 1) << i;
}

TEST(XRefChain, TwoOffsetsOfOneSectionReadItOnce) {
    std::string file = "%PDF-1.4\n";
    std::int64_t old = std::int64_t(file.size());
    file += "xref\n0 1\n0000000000 65535 f\r\ntrailer\n<< /Size 1 >>\n";
    std::int64_t newest = std::int64_t(file.size());
    file += "xref\n1 1\n0000000010 00000 n\r\ntrailer\n<< /XRefStm " + std::to_string(old) +
            " /Prev " + std::to_string(old + 2) + " >>\n";
    Reading run = readFrom(file, newest);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(count(run, "E 0 0 f 65535"), 1);
}

TEST(XRefChain, ALongPrevChainIsWalkedWithoutRecursion) {
    const int n = 20000;
    std::string file = "%PDF-1.4\n";
    std::int64_t previous = -1;
    for (int i = 0; i < n; ++i) {
        std::int64_t at = std::int64_t(file.size());
        file += "xref\n0 0\ntrailer\n<<";
        if (previous >= 0)
            file += " /Prev " + std::to_string(previous);
        file += " >>\n";
        previous = at;
    }
    TXRStringStream stream(file);
    TPDFXRefReader reader(stream);
    int sections = 0;
    reader.OnSection = [&](std::int32_t) { ++sections; };
    EXPECT_TRUE(reader.ReadSection(previous));
    EXPECT_EQ(sections, n);
}

TEST(XRefStream, FieldsAreDecodedThroughThePredictor) {
    // Rows for W [1 2 1]: free 0, in use at 0x0123 generation 5, compressed in 9 at index 4.
    std::string rows[3] = {bytesOf({0, 0, 0, 255}), bytesOf({1, 1, 0x23, 5}),
                           bytesOf({2, 0, 9, 4})};
    std::string data, above(4, '\0');
    for (const std::string& row : rows) {
        data += char(2); // PNG up
        for (int i = 0; i < 4; ++i)
            data += char(row[i] - above[i]);
        above = row;
    }
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(
        file, 3,
        "/Size 3 /W [1 2 1] /Index [0 3] /Filter /FlateDecode /DecodeParms << /Predictor 12 "
        "/Columns 4 >>",
        tolvane_test::Deflate(data));
    Reading run = readFrom(file, at);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Log, (std::vector<std::string>{"S " + std::to_string(at), "E 0 0 f 255",
                                                 "E 1 291 n 5", "E 2 9 c 4", "T"}));
}

TEST(XRefStream, WithoutTypeFieldEveryEntryIsInUseWithGenerationZero) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(file, 3, "/Size 2 /W [0 2 0]", bytesOf({0, 10, 0, 20}));
    Reading run = readFrom(file, at);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(entriesOf(run), (std::vector<std::string>{"E 0 10 n 0", "E 1 20 n 0"}));
}

TEST(XRefStream, UnknownTypesReportBlankEntries) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(file, 3, "/Size 1 /W [1 1 1]", bytesOf({7, 10, 20}));
    EXPECT_EQ(entriesOf(readFrom(file, at)), (std::vector<std::string>{"E 0 0 _ 0"}));
}

TEST(XRefStream, IndirectLengthGivesNoEntriesButSucceeds) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = std::int64_t(file.size());
    file += "3 0 obj\n<< /Type /XRef /Size 1 /W [1 1 1] /Length 4 0 R >>\nstream\n"
            "\x01\x0A\x00\nendstream\nendobj\n";
    Reading run = readFrom(file, at);
    EXPECT_TRUE(run.Ok);
    EXPECT_TRUE(entriesOf(run).empty());
    EXPECT_EQ(count(run, "T"), 1);
}

TEST(XRefStream, ACountOfTwoBillionIsBoundedByTheData) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(file, 3, "/Size 3 /W [1 1 1] /Index [0 2147483647]",
                                       bytesOf({1, 10, 0, 1, 20, 0, 1}));
    const auto started = std::chrono::steady_clock::now();
    Reading run = readFrom(file, at);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    EXPECT_TRUE(run.Ok);
    // The seventh byte is the start of an entry that does not fit: reading stops there.
    EXPECT_EQ(entriesOf(run), (std::vector<std::string>{"E 0 10 n 0", "E 1 20 n 0"}));
}

TEST(XRefStream, NegativeOrZeroWidthsReadNothing) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(file, 3, "/Size 2 /W [-3 1 -1]", bytesOf({10, 20}));
    EXPECT_EQ(entriesOf(readFrom(file, at)),
              (std::vector<std::string>{"E 0 10 n 0", "E 1 20 n 0"}));

    std::string zero = "%PDF-1.5\n";
    at = appendXRefStream(zero, 3, "/Size 5 /W [0 0 0] /Index [0 2147483647]", "abc");
    Reading run = readFrom(zero, at);
    EXPECT_TRUE(run.Ok);
    EXPECT_TRUE(entriesOf(run).empty());
}

TEST(XRefStream, IndexPairsAndOddElements) {
    std::string file = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(file, 3, "/Size 9 /W [1 1 1] /Index [4 1 /x 1 7]",
                                       bytesOf({1, 10, 0, 1, 20, 0, 1, 30, 0}));
    EXPECT_EQ(entriesOf(readFrom(file, at)),
              (std::vector<std::string>{"E 4 10 n 0", "E 0 20 n 0"}));
}

TEST(XRefStream, ADictionaryThatIsNoXRefStreamFails) {
    for (std::string dict : {"<< /Type /ObjStm /Size 1 >>", "<< /Type /XRef >>",
                             "<< /Type /XRef /Size 1 0 R >>", "[ /Type /XRef ]"}) {
        std::string file = "%PDF-1.5\n3 0 obj\n" + dict + "\nendobj\n";
        EXPECT_FALSE(readFrom(file, 9).Ok) << dict;
    }
}

TEST(XRefStream, PrevBelowOneEndsTheChain) {
    std::string file = "%PDF-1.5\n";
    std::int64_t old = appendXRefStream(file, 3, "/Size 1 /W [1 1 1]", bytesOf({1, 5, 0}));
    std::int64_t newest =
        appendXRefStream(file, 4, "/Size 2 /W [1 1 1] /Index [1 1] /Prev " + std::to_string(old),
                         bytesOf({1, 6, 0}));
    Reading run = readFrom(file, newest);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(entriesOf(run), (std::vector<std::string>{"E 1 6 n 0", "E 0 5 n 0"}));

    std::string alone = "%PDF-1.5\n";
    std::int64_t at = appendXRefStream(alone, 3, "/Size 1 /W [1 1 1] /Prev 0", bytesOf({1, 5, 0}));
    EXPECT_EQ(count(readFrom(alone, at), "T"), 1);
}
