#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "file/uPDFXRef.h"
#include "support/PdfWriter.h"

using namespace korvel;

namespace {

using Lines = std::vector<std::string>;

// Every callback of a reader in order: "S offset", "E num value2 type value3" (type `_` for
// blank) and "T" for a trailer; Entries holds the "E" lines alone.
struct Reading {
    bool Ok = false;
    Lines Log, Entries, Trailers;
};

Reading readFrom(const std::string& bytes, std::int64_t offset) {
    Reading run;
    TXRStringStream stream(bytes);
    TPDFXRefReader reader(stream);
    reader.OnSection = [&](std::int32_t at) { run.Log.push_back("S " + std::to_string(at)); };
    reader.OnEntry = [&](std::int32_t num, std::int32_t v2, char type, std::int32_t v3) {
        run.Entries.push_back("E " + std::to_string(num) + " " + std::to_string(v2) + " " +
                              std::string(1, type == ' ' ? '_' : type) + " " + std::to_string(v3));
        run.Log.push_back(run.Entries.back());
    };
    reader.OnTrailer = [&](const std::string& text) {
        run.Log.push_back("T");
        run.Trailers.push_back(text);
    };
    run.Ok = reader.ReadSection(offset);
    return run;
}

std::int32_t startOf(const std::string& bytes) {
    TXRStringStream stream(bytes);
    return TPDFXRefReader(stream).FindStartXRef();
}

int count(const Lines& lines, const std::string& line) {
    return int(std::count(lines.begin(), lines.end(), line));
}

std::string Bytes(const std::vector<int>& values) {
    return std::string(values.begin(), values.end());
}

// Appends cross-reference stream object `num` with the dictionary entries (`Length` added
// unless given) and data; returns its offset.
std::int64_t appendXRefStream(std::string& file, int num, std::string dict,
                              const std::string& data) {
    const std::int64_t at = std::int64_t(file.size());
    if (dict.find("/Length") == std::string::npos)
        dict += " /Length " + std::to_string(data.size());
    file += std::to_string(num) + " 0 obj\n<< /Type /XRef " + dict + " >>\nstream\n" + data +
            "\nendstream\nendobj\n";
    return at;
}

// The head of a file whose table starts at offset 9, and the free entry of object 0.
const std::string kHead = "%PDF-1.4\nxref\n";
const std::string kFree = "0000000000 65535 f\r\n";

} // namespace

TEST(XRefStartFinding, TheNumberBeforeTheLastEofInTheLast1024BytesIsTheOffset) {
    const std::pair<std::string, std::int32_t> cases[] = {
        {"%PDF-1.4\njunk\nstartxref\n1234\n%%EOF\n", 1234},
        {"%PDF-1.4\nwhatever 55 \r\n%%EOF", 55}, // the keyword before it is not looked at
        {"%PDF-1.4\nstartxref\n\n%%EOF", 0},
        {"%PDF-1.4\nstartxref\n100\n%%EOF\nmore\nstartxref\n200\n%%EOF\n", 200}, // two updates
        // Without an `%%EOF` the first startxref of the tail counts.
        {"%PDF-1.4\nstartxref \r\n 77 startxref 88", 77},
        {"%PDF-1.4\nnothing here", 0},
        {"%PDF-1.4\nstartxref\nabc", 0},
        {"startxref 77\n" + std::string(2000, ' '), 0},
        {"startxref\n99999999999999999999999\n%%EOF", 2147483647}, // saturates, no wrapping
    };
    for (const auto& [file, expected] : cases)
        EXPECT_EQ(startOf(file), expected) << file.substr(0, 40);
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
    const std::string file = kHead + "0 3\n" + kFree +
                             "0000000017 00000 n\r\n0000000081 00002 n\r\n"
                             "trailer\n<< /Size 3 /Root 1 0 R >>\nstartxref\n9\n%%EOF\n";
    ASSERT_EQ(startOf(file), 9);
    Reading run = readFrom(file, 9);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Log, (Lines{"S 9", "E 0 0 f 65535", "E 1 17 n 0", "E 2 81 n 2", "T"}));
    ASSERT_EQ(run.Trailers.size(), 1u);
    EXPECT_NE(run.Trailers[0].find("/Root 1 0 R"), std::string::npos);
}

TEST(XRefTable, ShortEntriesSubsectionsAndUnreadableFieldsAreReadAsWritten) {
    const std::string tail = "trailer\n<< /Size 9 >>\n";
    std::vector<std::pair<std::string, Lines>> cases;
    for (std::string end : {"\n", " \n", " \r", "\r"}) // entries of 19 bytes
        cases.push_back({"0 2\n0000000000 65535 f" + end + "0000000017 00000 n" + end,
                         {"E 0 0 f 65535", "E 1 17 n 0"}});
    // Subsections number from their own first object.
    cases.push_back({"0 1\n" + kFree + "7 2\n0000000100 00000 n\r\n0000000200 00000 n\r\n",
                     {"E 0 0 f 65535", "E 7 100 n 0", "E 8 200 n 0"}});
    // Unreadable fields read as zero, and the numbering is not corrected.
    cases.push_back(
        {"1 2\n00000000x0 6553x f\r\n+000000017    12 n\r\n", {"E 1 0 f 0", "E 2 17 n 12"}});
    // Counts beyond the file or numbering past the 32-bit range end the subsections.
    cases.push_back({"0 99999999999999999999\n" + kFree, {}});
    cases.push_back({"0 50\n" + kFree, {}});
    cases.push_back({"2147483647 2\n" + kFree + kFree, {}});
    for (const auto& [body, expected] : cases) {
        Reading run = readFrom(kHead + body + tail, 9);
        EXPECT_TRUE(run.Ok) << body;
        EXPECT_EQ(run.Entries, expected) << body;
    }
}

TEST(XRefTable, OffsetsAFewBytesOffStillFindTheKeyword) {
    std::string file = "%PDF-1.4\n" + std::string(40, '%') + "\n";
    const std::int64_t at = std::int64_t(file.size());
    file += "xref\n0 1\n" + kFree + "trailer\n<< /Size 1 >>\n";
    for (std::int64_t delta : {-5, -200, 3, 10}) {
        Reading run = readFrom(file, at + delta);
        EXPECT_TRUE(run.Ok) << delta;
        EXPECT_EQ(run.Entries.size(), 1u) << delta;
    }
    // More than 10 bytes past the keyword it is out of the window.
    EXPECT_FALSE(readFrom(file, at + 11).Ok);
}

TEST(XRefSection, WhatIsNoReadableSectionFails) {
    const std::string table = kHead + "0 1\n" + kFree;
    const std::string cases[] = {
        "%PDF-1.4\nstartxref\n0\nxref\n0 1\n" + kFree + "trailer\n<< /Size 1 >>\n", // a tail
        "%PDF-1.4\n1 0 obj\n<<>>\nendobj\nxref\n0 1\n" + kFree + "trailer\n<< /Size 1 >>\n",
        "%PDF-1.4\nnothing at all here\n",
        // A missing or broken trailer, or a Prev that cannot be read.
        table + "startxref\n9\n%%EOF",
        table + "trailer\n/Size 1\n",
        table + "trailer\n[ << >> ]\n",
        table + "trailer\n<< /Prev 999999 >>\n",
        // Dictionaries that are no cross-reference stream.
        "%PDF-1.5\n3 0 obj\n<< /Type /ObjStm /Size 1 >>\nendobj\n",
        "%PDF-1.5\n3 0 obj\n<< /Type /XRef >>\nendobj\n",
        "%PDF-1.5\n3 0 obj\n<< /Type /XRef /Size 1 0 R >>\nendobj\n",
        "%PDF-1.5\n3 0 obj\n[ /Type /XRef ]\nendobj\n",
    };
    for (const std::string& file : cases)
        EXPECT_FALSE(readFrom(file, 9).Ok) << file;
    EXPECT_TRUE(readFrom(table + "trailer\n<< >>\n", 9).Ok);
    // A failing XRefStm does not matter.
    EXPECT_TRUE(readFrom(table + "trailer\n<< /XRefStm 999999 >>\n", 9).Ok);
}

TEST(XRefChain, HybridTrailerReadsItsSectionThenXRefStmThenPrev) {
    std::string file = "%PDF-1.4\n";
    const std::int64_t stm =
        appendXRefStream(file, 9, "/Size 10 /W [1 2 1] /Index [5 1]", Bytes({2, 0, 9, 0}));
    const std::string old = std::to_string(file.size());
    file += "xref\n0 1\n" + kFree + "trailer\n<< /Size 1 >>\n";
    const std::string newest = std::to_string(file.size());
    file += "xref\n3 1\n0000000010 00000 n\r\ntrailer\n<< /Size 10 /XRefStm " +
            std::to_string(stm) + " /Prev " + old + " >>\n";
    Reading run = readFrom(file, std::stoll(newest));
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Log, (Lines{"S " + newest, "E 3 10 n 0", "T", "S " + std::to_string(stm),
                              "E 5 9 c 0", "T", "S " + old, "E 0 0 f 65535", "T"}));
}

TEST(XRefChain, XRefStreamPrevIsFollowed) {
    std::string file = "%PDF-1.5\n";
    const std::int64_t old = appendXRefStream(file, 3, "/Size 1 /W [1 1 1]", Bytes({1, 5, 0}));
    const std::int64_t newest = appendXRefStream(
        file, 4, "/Size 2 /W [1 1 1] /Index [1 1] /Prev " + std::to_string(old), Bytes({1, 6, 0}));
    Reading run = readFrom(file, newest);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Entries, (Lines{"E 1 6 n 0", "E 0 5 n 0"}));
}

TEST(XRefChain, PrevCyclesFail) {
    // A section whose Prev is itself, and two sections pointing at each other.
    Reading run = readFrom(kHead + "0 1\n" + kFree + "trailer\n<< /Prev 9 >>\n", 9);
    EXPECT_FALSE(run.Ok);
    EXPECT_EQ(count(run.Log, "S 9"), 1);
    std::string file = kHead + "0 1\n" + kFree + "trailer\n<< /Prev 2000 >>\n";
    file.resize(2000, ' ');
    file += "xref\n1 1\n0000000000 00000 n\r\ntrailer\n<< /Prev 9 >>\n";
    EXPECT_FALSE(readFrom(file, 9).Ok);
    EXPECT_FALSE(readFrom(file, 2000).Ok);
}

TEST(XRefChain, SectionsReachedTwiceAreReadOnce) {
    // Thirty sections, each naming the next one both as XRefStm and as Prev: read naively that
    // is two to the thirtieth readings of the last one. Written from the oldest to the newest
    // so that every offset is known when it is needed.
    const int n = 30;
    std::string file = "%PDF-1.4\n";
    std::vector<std::string> at(n + 1);
    for (int i = n - 1; i >= 0; --i) {
        at[i] = std::to_string(file.size());
        const std::string next = i + 1 < n ? " /XRefStm " + at[i + 1] + " /Prev " + at[i + 1] : "";
        file += "xref\n" + std::to_string(i) + " 1\n0000000010 00000 n\r\ntrailer\n<< /Size 40" +
                next + " >>\n" + std::string(1100, ' ') + "\n";
    }
    const auto started = std::chrono::steady_clock::now();
    Reading run = readFrom(file, std::stoll(at[0]));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_TRUE(run.Ok);
    for (int i = 0; i < n; ++i)
        EXPECT_EQ(count(run.Entries, "E " + std::to_string(i) + " 10 n 0"), 1) << i;

    // Two offsets of one section (the second a few bytes off) read it once.
    file = "%PDF-1.4\nxref\n0 1\n" + kFree + "trailer\n<< /Size 1 >>\n";
    const std::int64_t newest = std::int64_t(file.size());
    file += "xref\n1 1\n0000000010 00000 n\r\ntrailer\n<< /XRefStm 9 /Prev 11 >>\n";
    run = readFrom(file, newest);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(count(run.Entries, "E 0 0 f 65535"), 1);
}

TEST(XRefChain, ALongPrevChainIsWalkedWithoutRecursion) {
    const int n = 20000;
    std::string file = "%PDF-1.4\n", prev;
    for (int i = 0; i < n; ++i) {
        const std::string at = std::to_string(file.size());
        file += "xref\n0 0\ntrailer\n<<" + (prev.empty() ? "" : " /Prev " + prev) + " >>\n";
        prev = at;
    }
    Reading run = readFrom(file, std::stoll(prev));
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Trailers.size(), std::size_t(n));
}

TEST(XRefStream, FieldsAreDecodedThroughThePredictor) {
    // Rows for W [1 2 1]: free 0, in use at 0x0123 generation 5, compressed in 9 at index 4.
    const std::string rows = Bytes({0, 0, 0, 255, 1, 1, 0x23, 5, 2, 0, 9, 4});
    std::string data;
    for (std::size_t k = 0; k < rows.size(); ++k) {
        if (k % 4 == 0)
            data += '\x02'; // PNG up
        data += char(rows[k] - (k >= 4 ? rows[k - 4] : 0));
    }
    std::string file = "%PDF-1.5\n";
    const std::int64_t at = appendXRefStream(file, 3,
                                             "/Size 3 /W [1 2 1] /Index [0 3] /Filter /FlateDecode "
                                             "/DecodeParms << /Predictor 12 /Columns 4 >>",
                                             tolvane_test::Deflate(data));
    Reading run = readFrom(file, at);
    EXPECT_TRUE(run.Ok);
    EXPECT_EQ(run.Log,
              (Lines{"S " + std::to_string(at), "E 0 0 f 255", "E 1 291 n 5", "E 2 9 c 4", "T"}));
}

TEST(XRefStream, OddWidthsTypesAndCountsReadOnlyWhatTheDataHolds) {
    const struct {
        std::string Dict, Data;
        Lines Expected;
    } cases[] = {
        // Without a type field every entry is in use with generation zero.
        {"/Size 2 /W [0 2 0]", Bytes({0, 10, 0, 20}), {"E 0 10 n 0", "E 1 20 n 0"}},
        {"/Size 1 /W [1 1 1]", Bytes({7, 10, 20}), {"E 0 0 _ 0"}},   // unknown types are blank
        {"/Size 1 /W [1 1 1] /Length 4 0 R", Bytes({1, 10, 0}), {}}, // indirect Length
        // A count of two billion is bounded by the data: the seventh byte does not fit.
        {"/Size 3 /W [1 1 1] /Index [0 2147483647]",
         Bytes({1, 10, 0, 1, 20, 0, 1}),
         {"E 0 10 n 0", "E 1 20 n 0"}},
        // Negative or zero widths read nothing.
        {"/Size 2 /W [-3 1 -1]", Bytes({10, 20}), {"E 0 10 n 0", "E 1 20 n 0"}},
        {"/Size 5 /W [0 0 0] /Index [0 2147483647]", "abc", {}},
        // Index pairs: a non-number reads as 0, an odd last element is ignored.
        {"/Size 9 /W [1 1 1] /Index [4 1 /x 1 7]",
         Bytes({1, 10, 0, 1, 20, 0, 1, 30, 0}),
         {"E 4 10 n 0", "E 0 20 n 0"}},
        {"/Size 1 /W [1 1 1] /Prev 0", Bytes({1, 5, 0}), {"E 0 5 n 0"}}, // Prev below one ends
        // A Length past the end of the file reads in place, as far as the entries need.
        {"/Size 2 /W [1 1 1] /Length 2147483647",
         Bytes({1, 10, 0, 1, 20, 0}),
         {"E 0 10 n 0", "E 1 20 n 0"}},
        {"/Size 2 /W [1 1 1] /Filter /FlateDecode /Length 2147483647",
         tolvane_test::Deflate(Bytes({1, 10, 0, 1, 20, 0})),
         {"E 0 10 n 0", "E 1 20 n 0"}},
    };
    for (const auto& c : cases) {
        std::string file = "%PDF-1.5\n";
        const std::int64_t at = appendXRefStream(file, 3, c.Dict, c.Data);
        const auto started = std::chrono::steady_clock::now();
        Reading run = readFrom(file, at);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        EXPECT_TRUE(run.Ok) << c.Dict;
        EXPECT_EQ(run.Entries, c.Expected) << c.Dict;
        EXPECT_EQ(run.Trailers.size(), 1u) << c.Dict;
    }
}
