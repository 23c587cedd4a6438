#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "document/uPDFDocument.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageTree.h"
#include "security/uPDFSecurity.h"
#include "support/PdfWriter.h"

using namespace korvel;
using tolvane_test::MakeSimplePdf;
using tolvane_test::PdfWriter;
using tolvane_test::SimpleDocOptions;
using tolvane_test::XRefForm;

namespace {

// The table field (10 digits) of an offset.
std::string fieldOf(std::int64_t offset) {
    std::string s = std::to_string(offset);
    return std::string(10 - s.size(), '0') + s;
}

// A file laid out by hand: each object's text is written exactly as given (its `N G obj`
// line included), and a classic table lists the offsets under the numbers given here, so tests
// can make the table and the objects disagree. Starts with a one-page tree in objects 1 to 3.
struct HandFile {
    std::string Head = "%PDF-1.4\n";
    std::vector<std::pair<int, std::string>> Objects = {
        {1, "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj"},
        {2, "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj"},
        {3, "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>\nendobj"}};
    std::string TrailerExtra = "/Root 1 0 R";
    std::map<int, std::int64_t> Offsets;

    std::string Build() {
        std::string out = Head;
        for (const auto& [num, text] : Objects) {
            Offsets[num] = std::int64_t(out.size());
            out += text + "\n";
        }
        const int size = Offsets.rbegin()->first + 1;
        const std::int64_t xref = std::int64_t(out.size());
        out += "xref\n0 " + std::to_string(size) + "\n";
        for (int n = 0; n < size; ++n)
            out += Offsets.count(n) ? fieldOf(Offsets[n]) + " 00000 n\r\n"
                                    : fieldOf(0) + " 65535 f\r\n";
        return out + "trailer\n<< /Size " + std::to_string(size) + " " + TrailerExtra +
               " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    }
};

// What object `num` resolves to: the raw data of a stream, a string in parentheses, "[count]"
// of an array, or "null", "dict", "other", "none".
std::string show(TPDFDocument& doc, int num) {
    TPDFObject* value = doc.ResolveRef(num, 0);
    if (!value)
        return "none";
    if (const TPDFStream* stream = AsStream(value))
        return std::string(stream->RawData());
    if (const auto* text = Cast<TPDFString>(value))
        return "(" + text->Value + ")";
    if (const TPDFArray* array = AsArray(value))
        return "[" + std::to_string(array->Count()) + "]";
    return value->Class() == TPDFClass::Null         ? "null"
           : value->Class() == TPDFClass::Dictionary ? "dict"
                                                     : "other";
}

int loadedSlots(const TPDFDocument& doc) {
    int n = 0;
    for (const auto& slot : doc.IndirectObjects())
        n += slot.Loaded;
    return n;
}

// A stream buffer that claims `size` bytes when asked for its end but holds only `data`.
class FakeSizeBuf : public std::stringbuf {
public:
    FakeSizeBuf(std::int64_t size, std::string data)
        : std::stringbuf(std::move(data)), FSize(size) {}

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir,
                     std::ios_base::openmode mode) override {
        FAtEnd = dir == std::ios_base::end || (dir == std::ios_base::cur && FAtEnd);
        return FAtEnd ? pos_type(FSize + off) : std::stringbuf::seekoff(off, dir, mode);
    }

private:
    std::int64_t FSize;
    bool FAtEnd = false;
};

} // namespace

TEST(DocumentLoad, ASimpleFileLoadsWithItsPageTreeFromBytesOrAStream) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET", "BT ET"})));
    EXPECT_EQ(doc.HeaderVersion(), "1.4");
    EXPECT_EQ(doc.PageTree().PageCount(), 2);
    EXPECT_EQ(doc.Catalog()->GetTypeName(), "Catalog");
    EXPECT_EQ(doc.PagesRoot()->GetTypeName(), "Pages");
    std::istringstream in(MakeSimplePdf({"BT ET"}));
    ASSERT_TRUE(doc.LoadFromStream(in));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
}

TEST(DocumentLoad, AShortReadAndFilesOfTwoGibibytesFailBeforeParsing) {
    // A whole file, but the stream claims more bytes than it delivers, or 2 GiB.
    const std::string pdf = MakeSimplePdf({"BT ET"});
    for (std::int64_t claimed : {std::int64_t(pdf.size()) + 100, kMaxFileSize}) {
        FakeSizeBuf buf(claimed, pdf);
        std::istream in(&buf);
        TPDFDocument doc;
        EXPECT_FALSE(doc.LoadFromStream(in)) << claimed;
        EXPECT_TRUE(doc.IndirectObjects().empty());
        EXPECT_TRUE(doc.FileData().empty());
    }
}

TEST(DocumentLoad, TheHeaderMayFollowJunkWithinTheFirst1024BytesAndNeedsANumberText) {
    const struct {
        std::string Head;
        bool Loads;
        const char* Version;
    } cases[] = {
        {std::string(500, 'j') + "\n%PDF-1.7\n", true, "1.7"},
        {std::string(1030, 'j') + "\n%PDF-1.7\n", false, ""},
        {"%PDF-1.4.1\n", false, ""},
        {"%PDF-\n", true, ""},
        {"%!PS-Adobe-3.0 PDF-1.3\n", true, "1.3"},
        {"%!PS-Adobe-3.0\n", false, ""},
    };
    for (const auto& c : cases) {
        HandFile f;
        f.Head = c.Head;
        TPDFDocument doc;
        ASSERT_EQ(doc.LoadFromBytes(f.Build()), c.Loads) << c.Head;
        if (c.Loads) {
            EXPECT_EQ(doc.HeaderVersion(), c.Version);
            EXPECT_EQ(doc.PageTree().PageCount(), 1);
            EXPECT_EQ(doc.Trailer()->Get("ID", false), nullptr); // none is added
        }
    }
}

TEST(DocumentLoad, AStartxrefPointingAtNothingReadableOrAPrevCycleFails) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog >>");
    w.StartXRefDelta = 3000;
    TPDFDocument doc;
    EXPECT_FALSE(doc.LoadFromBytes(w.Finish()));
    EXPECT_TRUE(doc.IndirectObjects().empty());
    EXPECT_EQ(doc.Trailer()->Count(), 0);

    std::string file = HandFile().Build();
    const std::size_t xref = file.rfind("xref\n0");
    file.replace(file.find("/Root 1 0 R"), 11, "/Root 1 0 R /Prev " + std::to_string(xref));
    EXPECT_FALSE(doc.LoadFromBytes(file));
}

TEST(DocumentLoad, AHybridFileFindsTheCompressedObjectsOfItsXRefStmStream) {
    // The writer puts the XRefStm stream right before the table: both stand in one window.
    PdfWriter w;
    w.Form = XRefForm::Hybrid;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R >>");
    w.Set(4, "(compressed)");
    w.Compress(2, 8);
    w.Compress(4, 8);
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    EXPECT_EQ(doc.SectionOffsets().size(), 2u);
    EXPECT_EQ(show(doc, 4), "(compressed)");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    // Objects read from an object stream are marked as compressed and decrypted.
    EXPECT_TRUE(doc.FindIndirect(2, 0)->Compressed);
    EXPECT_TRUE(doc.FindIndirect(2, 0)->Decrypted);
    EXPECT_TRUE(doc.ReadCompressedObjects());
}

TEST(DocumentUpdates, TheNewestEntryWinsButAFreedObjectStillLoadsFromTheOlderOne) {
    PdfWriter base, update;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.Set(5, "(old)");
    base.Set(6, "(old six)");
    update.Set(5, "(new)");
    update.Set(7, "(other)");
    update.FreedObjects = {6};
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(update.FinishUpdate(base.Finish())));
    EXPECT_EQ(doc.SectionOffsets().size(), 2u);
    EXPECT_EQ(show(doc, 5), "(new)");
    EXPECT_EQ(show(doc, 6), "(old six)");
    EXPECT_EQ(show(doc, 7), "(other)");
}

TEST(DocumentUpdates, OnlyTheNewestTrailerCountsWithoutChainOrStreamKeys) {
    PdfWriter base, update;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.TrailerExtra = "/Info 1 0 R /Extra 1";
    update.Set(2, "<< /Type /Catalog /Marker 1 >>");
    update.RootObj = 2;
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(update.FinishUpdate(base.Finish())));
    EXPECT_EQ(doc.Catalog()->GetInteger("Marker", 0), 1);
    for (const char* key : {"Prev", "Extra", "Info"})
        EXPECT_EQ(doc.Trailer()->Get(key, false), nullptr) << key;

    base.Form = XRefForm::Stream;
    ASSERT_TRUE(doc.LoadFromBytes(base.Finish()));
    for (const char* key : {"Type", "W", "Index", "Length", "Filter", "Prev"})
        EXPECT_EQ(doc.Trailer()->Get(key, false), nullptr) << key;
    EXPECT_NE(doc.Trailer()->Get("Root", false), nullptr);
    EXPECT_NE(doc.Trailer()->Get("Size", false), nullptr);
}

TEST(DocumentObjects, ATextNamingAnotherObjectGivesAnIndirectNull) {
    HandFile f;
    f.Objects.push_back({5, "6 0 obj\n(six)\nendobj"});
    f.Objects.push_back({6, "6 1 obj\n(six)\nendobj"});
    f.Objects.push_back({7, "7 0 OBJ\n(seven)\nendobj"});
    f.Objects.push_back({8, "8 0 object (eight)\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    for (int n : {5, 6, 7, 8}) {
        ASSERT_EQ(show(doc, n), "null") << n;
        EXPECT_TRUE(doc.ResolveRef(n, 0)->IsIndirect);
        EXPECT_EQ(doc.ResolveRef(n, 0)->ObjNum, n);
    }
    // The table's first subsection starts at 1 instead of 0: every object gets its neighbour,
    // and a catalog is made to stand in.
    std::string file = HandFile().Build();
    file.replace(file.find("xref\n0 4"), 8, "xref\n1 4");
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(show(doc, 2), "null");
    EXPECT_EQ(doc.PageTree().PageCount(), 0);
    EXPECT_EQ(doc.Catalog()->Count(), 0);
}

TEST(DocumentObjects, StreamDataFollowsTheKeywordLineAndTheLengthWhereItCanBeFound) {
    const struct {
        int Num;
        std::string Body, Shown;
    } cases[] = {
        // `obj` needs no white space after it, `stream` none before it.
        {5, "<</Length 3>>stream\nabc", "abc"},
        {6, " <</Length 3>>stream \x07\r\nxyz", "xyz"},
        {7, " <</Length 3>>stream\rpqr", "pqr"},
        {8, " <</Length 3>>streamX\nabc", "dict"}, // no line end after the keyword: no stream
        // An indirect Length is followed; a wrong one is kept, cut at the next object.
        {9, " <</Length 10 0 R>>\nstream\nabcdef", "abcd"},
        {10, " 4 endobj", "other"}, // the Length (what follows its endobj is ignored)
        {11, " <</Length 8>>\nstream\nabcdef", "abcdef\ne"},
        {12, " <</Length 500>>\nstream\nabc", "abc\nendstream\nendobj\n"},
        // A Length that cannot be found leaves the dictionary.
        {13, " <</Length 99 0 R>>\nstream\nabc", "dict"},
        {14, " <</Length 14 0 R>>\nstream\nabc", "dict"},
        {15, " <</Length (3)>>\nstream\nabc", "dict"},
    };
    HandFile f;
    for (const auto& c : cases)
        f.Objects.push_back(
            {c.Num, std::to_string(c.Num) + " 0 obj" + c.Body + "\nendstream\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    for (const auto& c : cases)
        EXPECT_EQ(show(doc, c.Num), c.Shown) << c.Num;
    EXPECT_EQ(AsStream(doc.ResolveRef(5, 0))->Dictionary()->GetInteger("Length", 0), 3);
    EXPECT_EQ(AsStream(doc.ResolveRef(9, 0))->Dictionary()->GetInteger("Length", 0), 4);
}

TEST(DocumentObjects, NestedLengthChainsAreBounded) {
    // Object k is a stream whose Length is object k+1, itself such a stream, 200 deep.
    HandFile f;
    const int depth = 200;
    for (int k = 10; k < 10 + depth; ++k)
        f.Objects.push_back({k, std::to_string(k) + " 0 obj <</Length " + std::to_string(k + 1) +
                                    " 0 R>>\nstream\nabc\nendstream\nendobj"});
    f.Objects.push_back({10 + depth, std::to_string(10 + depth) + " 0 obj 3 endobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_NE(doc.ResolveRef(10, 0), nullptr);
    // Objects past the bound were left unloaded, so on their own they still load in full.
    EXPECT_EQ(show(doc, 10 + depth - 1), "abc");
}

TEST(DocumentObjects, SlotRangesRunToTheNextKnownOffsetAndStayInsideTheFile) {
    HandFile f;
    f.Objects.push_back({5, "5 0 obj (five) endobj junk between"});
    f.Objects.push_back({6, "6 0 obj (six) endobj"});
    f.Objects.push_back({7, "7 0 obj (seven) endobj"});
    f.Objects.push_back({8, "8 0 obj (eight) endobj"});
    std::string file = f.Build();
    // Object 7 shares the offset of 6; the offset of 8 lies past the end of the file.
    file.replace(file.rfind(fieldOf(f.Offsets[7])), 10, fieldOf(f.Offsets[6]));
    file.replace(file.rfind(fieldOf(f.Offsets[8])), 10, "0999999999");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    const TPDFIndObj* five = doc.FindIndirect(5, 0);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->Offset, f.Offsets[5]);
    EXPECT_EQ(five->Extent, f.Offsets[6] - f.Offsets[5]);
    EXPECT_FALSE(five->Loaded);
    EXPECT_EQ(show(doc, 5), "(five)");
    // With no known offset after it, 6 runs up to the table; 7, whose numbers do not stand at
    // that offset, gets no bytes at all (it could only read as null).
    const TPDFIndObj* six = doc.FindIndirect(6, 0);
    EXPECT_EQ(six->Offset + six->Extent, doc.SectionOffsets().front());
    EXPECT_EQ(doc.FindIndirect(7, 0)->Extent, 0);
    EXPECT_EQ(show(doc, 6), "(six)");
    EXPECT_EQ(show(doc, 7), "null");
    ASSERT_NE(doc.FindIndirect(8, 0), nullptr);
    EXPECT_EQ(doc.FindIndirect(8, 0)->Extent, 0);
    EXPECT_EQ(show(doc, 8), "null");
    EXPECT_EQ(show(doc, 77), "none");
}

TEST(DocumentObjects, MillionsOfOneByteEntriesMakeSlotsOnlyForObjectsThatCanLoad) {
    // W [0 1 0]: every decoded byte is an entry at an offset below 256. Only entries whose
    // numbers stand at their offset get slots; the others still resolve to indirect nulls.
    HandFile h;
    std::string file = h.Build();
    file.resize(file.rfind("xref\n"));
    const std::int64_t entries = 4 << 20;
    std::string data(static_cast<std::size_t>(entries), '\0');
    for (int n = 1; n <= 3; ++n)
        data[std::size_t(n)] = static_cast<char>(h.Offsets[n]);
    for (std::int64_t n = 4; n < entries; n += 7) // offsets where other numbers stand
        data[std::size_t(n)] = static_cast<char>(h.Offsets[int(n % 3) + 1]);
    const std::string packed = tolvane_test::Deflate(data);
    const std::int64_t xref = std::int64_t(file.size());
    file += "4 0 obj\n<< /Type /XRef /Size " + std::to_string(entries) +
            " /W [0 1 0] /Root 1 0 R /Filter /FlateDecode /Length " +
            std::to_string(packed.size()) + " >>\nstream\n" + packed +
            "\nendstream\nendobj\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_EQ(doc.PageTree().PageWidth(), 200);
    EXPECT_LT(doc.IndirectObjects().size(), 10u);
    for (const int n : {4, 11, 4000000}) {
        ASSERT_EQ(show(doc, n), "null") << n;
        EXPECT_EQ(doc.ResolveRef(n, 0)->ObjNum, n);
    }
    EXPECT_EQ(show(doc, int(entries) + 5), "none");
    EXPECT_EQ(doc.AddIndirect(nullptr)->ObjNum, entries) << "numbered above every named object";
}

// The one-page hand file with an object stream 9 holding `body`, and a cross-reference
// stream that lists objects 1 to 3 and 9 in the file and `compressed` (number -> index) in 9.
std::string withObjectStream(const std::string& containerDict, const std::string& body,
                             const std::map<int, int>& compressed) {
    HandFile h;
    h.Objects.push_back({9, "9 0 obj <</Type /ObjStm " + containerDict + " /Length " +
                                std::to_string(body.size()) + ">>\nstream\n" + body +
                                "\nendstream\nendobj"});
    std::string file = h.Build();
    file.resize(file.rfind("xref\n"));
    std::string rows;
    for (int n = 0; n < 10; ++n) {
        const bool inStream = compressed.count(n) > 0;
        const std::int64_t f2 = inStream ? 9 : h.Offsets.count(n) ? h.Offsets[n] : 0;
        const int type = inStream ? 2 : f2 ? 1 : 0;
        rows += {char(type), char(f2 >> 8), char(f2), char(inStream ? compressed.at(n) : 0)};
    }
    const std::size_t streamAt = file.size();
    file += "10 0 obj <</Type /XRef /Size 10 /W [1 2 1] /Root 1 0 R /Length " +
            std::to_string(rows.size()) + ">>\nstream\n" + rows + "\nendstream\nendobj\n";
    return file + "startxref\n" + std::to_string(streamAt) + "\n%%EOF\n";
}

TEST(DocumentObjectStreams, MismatchedOrHostileHeadersGiveNullsWithoutCrashing) {
    const struct {
        std::string Dict, Body;
        std::map<int, int> Compressed;
        std::map<int, std::string> Shown;
    } cases[] = {
        // Header: object 2 at 0, object 4 at 6. Object 4 sits at index 1; object 5 claims
        // index 0, where the header lists 2.
        {"/N 2 /First 8", "2 0 4 6 (two) (three)", {{4, 1}, {5, 0}}, {{4, "(three)"}, {5, "null"}}},
        // The last object runs to the end of the data.
        {"/N 2 /First 8", "4 0 5 6 (four) [5 5]", {{4, 0}, {5, 1}}, {{4, "(four)"}, {5, "[2]"}}},
        {"/N 2147483647 /First 4", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        {"/N 1 /First 2147483647", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        {"/N 0 /First 4", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        {"/N 1 /First -5", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        {"/N 1 /First 4 /Type /XRef", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        {"/N 1 /First 2", "5 -9 (x)", {{5, 0}}, {{5, "null"}}},
        // An index past N, and an object stream that names itself as its container.
        {"/N 1 /First 4", "5 0 (x)", {{5, 3}, {9, 0}}, {{5, "null"}, {9, "null"}}},
    };
    for (const auto& c : cases) {
        TPDFDocument doc;
        ASSERT_TRUE(doc.LoadFromBytes(withObjectStream(c.Dict, c.Body, c.Compressed))) << c.Dict;
        EXPECT_EQ(doc.PageTree().PageCount(), 1) << c.Dict;
        for (const auto& [num, shown] : c.Shown) {
            EXPECT_EQ(show(doc, num), shown) << c.Dict << " " << num;
            EXPECT_TRUE(doc.FindIndirect(num, 0)->Decrypted) << c.Dict << " " << num;
        }
    }
}

TEST(DocumentObjectStreams, ManyObjectsLoadLazily) {
    // 5000 string objects in object streams beside a one-page tree: opening the document and
    // its first page reads only what the page needs.
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    for (int n = 10; n < 5010; ++n) {
        w.Set(n, "(string " + std::to_string(n) + ")");
        w.Compress(n, 6000 + (n - 10) / 100);
    }
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_GT(doc.IndirectObjects().size(), 5000u);
    EXPECT_LT(loadedSlots(doc), 10);
    EXPECT_EQ(show(doc, 4321), "(string 4321)");
    EXPECT_EQ(show(doc, 4322), "(string 4322)");
    EXPECT_LT(loadedSlots(doc), 14);
}

TEST(DocumentLinearization, ALinearizationDictionaryIsRecognisedAndCleared) {
    HandFile f;
    f.Objects.insert(f.Objects.begin(), {7, "7 0 obj\n<< /Linearized 1 /L 1000 /N 1 >>\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_TRUE(doc.Linearized());
    EXPECT_EQ(AsDictionary(doc.ResolveRef(7, 0))->Count(), 0);

    HandFile plain;
    plain.Objects.push_back({7, "7 0 obj\n<< /L 1000 >>\nendobj % /Linearized"});
    ASSERT_TRUE(doc.LoadFromBytes(plain.Build()));
    EXPECT_FALSE(doc.Linearized());
}

TEST(DocumentIndirect, AddIndirectOnADocumentWithHighestNumber41Gives42) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.NewBlank());
    for (int i = 0; i < 36; ++i)
        doc.AddIndirect(doc.Store().CreateNull());
    ASSERT_NE(doc.FindIndirect(41, 0), nullptr);
    TPDFIndObj* slot = doc.AddIndirect(doc.Store().CreateNumber(7));
    EXPECT_EQ(slot->ObjNum, 42);
    EXPECT_TRUE(slot->Object->IsIndirect);
    EXPECT_EQ(slot->Object->ObjNum, 42);
    EXPECT_EQ(doc.FindIndirect(42, 0), slot);
    EXPECT_EQ(doc.Trailer()->GetInteger("Size", -1), 43);
}

TEST(DocumentIndirect, AfterNumber2147483647NewObjectsTakeTheLowestFreeNumbersInTurn) {
    PdfWriter w;
    w.Form = XRefForm::Stream;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [4 0 R] /Count 1 >>");
    w.Set(4, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>");
    w.Set(2147483647, "null");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    // The writer gave its cross-reference stream number 3, the first free one.
    std::vector<std::int32_t> numbers;
    for (int i = 0; i < 4; ++i)
        numbers.push_back(doc.AddIndirect(nullptr)->ObjNum);
    EXPECT_EQ(numbers, (std::vector<std::int32_t>{5, 6, 7, 8}));
}

TEST(DocumentScratch, ShortLivedValuesResolveThroughTheDocumentAndLeaveItsStoreAlone) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(HandFile().Build()));
    const int before = doc.Store().ObjectCount();
    const std::size_t slots = doc.IndirectObjects().size();
    {
        auto scratch = doc.NewScratchStore();
        for (int i = 0; i < 100000; ++i) {
            TPDFObject* operand = scratch->Parse("[/F1 12 (text) 3 0 R]");
            if (i == 0) {
                const TPDFDictionary* page =
                    AsDictionary(AsRef(AsArray(operand)->Item(3))->Resolve());
                ASSERT_NE(page, nullptr);
                EXPECT_EQ(page->GetTypeName(), "Page");
                EXPECT_EQ(page->Owner, &doc.Store());
            }
            operand->ReleaseTree();
        }
    }
    EXPECT_EQ(doc.Store().ObjectCount(), before);
    EXPECT_EQ(doc.IndirectObjects().size(), slots);
}

TEST(DocumentIndirect, CatalogAndInfoAreMadeWhenMissing) {
    HandFile f;
    f.TrailerExtra = "";
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(doc.PageTree().PageCount(), 0);
    TPDFDictionary* catalog = doc.Catalog();
    EXPECT_EQ(doc.Catalog(), catalog);
    const TPDFIndRef* root = AsRef(doc.Trailer()->Get("Root", false));
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(doc.ResolveRef(root->RefObjNum(), 0), catalog);
    TPDFDictionary* info = doc.InfoDictionary();
    EXPECT_EQ(doc.InfoDictionary(), info);
    EXPECT_NE(AsRef(doc.Trailer()->Get("Info", false)), nullptr);
}

TEST(DocumentBlank, IsOnePageWithSizeSixAlsoAfterALoad) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET", "BT ET", "BT ET"})));
    ASSERT_TRUE(doc.NewBlank());
    EXPECT_TRUE(doc.FileData().empty());
    EXPECT_EQ(doc.IndirectObjects().size(), 5u);
    EXPECT_EQ(doc.HeaderVersion(), "1.4");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_EQ(doc.Trailer()->GetInteger("Size", -1), 6);
    EXPECT_NE(AsStream(doc.ResolveRef(5, 0)), nullptr);
    EXPECT_EQ(doc.ResolveRef(1, 0), doc.PagesRoot());
    EXPECT_EQ(AsDictionary(doc.ResolveRef(3, 0)), doc.Catalog());
    EXPECT_EQ(AsDictionary(doc.ResolveRef(4, 0)), doc.InfoDictionary());
    EXPECT_EQ(AsDictionary(doc.ResolveRef(2, 0))->GetTypeName(), "Page");
    // The ID is two distinct hex strings of the same 16 bytes.
    const TPDFArray* id = AsArray(doc.Trailer()->Get("ID"));
    ASSERT_TRUE(id && id->Count() == 2);
    const auto *a = Cast<TPDFString>(id->Item(0)), *b = Cast<TPDFString>(id->Item(1));
    ASSERT_TRUE(a && b && a != b);
    EXPECT_TRUE(a->IsHex && a->Value.size() == 16 && a->Value == b->Value);
}

TEST(DocumentEncryption, AnRc4FileWithItsTreeInObjectStreamsLoadsItsPages) {
    // The empty user password is applied before the page tree is read.
    for (bool fortyBit : {true, false}) {
        SimpleDocOptions options;
        options.UseObjectStreams = options.Encrypted = true;
        if (fortyBit) {
            options.Encryption.Revision = 2;
            options.Encryption.Version = 1;
            options.Encryption.KeyBits = 40;
        }
        options.Encryption.OwnerPassword = "owner";
        TPDFDocument doc;
        ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT (secret) Tj ET"}, options)));
        EXPECT_EQ(doc.EncryptionKind(), 1);
        EXPECT_EQ(doc.PageTree().PageCount(), 1) << fortyBit;
        doc.PageTree().ReportLocatedPage();
        doc.PageTree().SelectPage(1);
        EXPECT_EQ(doc.PageTree().ContentStreams().at(0)->DecodedData(), "BT (secret) Tj ET");
    }
}

TEST(DocumentEncryption, ReloadWithTheUserPasswordReadsCompressedObjectsAgain) {
    SimpleDocOptions options;
    options.UseObjectStreams = options.Encrypted = true;
    options.Encryption.UserPassword = "user";
    options.Encryption.OwnerPassword = "owner";
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET"}, options)));
    EXPECT_FALSE(doc.Security().PasswordApplied());
    EXPECT_EQ(doc.PageTree().PageCount(), 0);
    EXPECT_TRUE(doc.ReadCompressedObjects());
    ASSERT_TRUE(doc.Security().CheckUserPassword("user"));
    const std::size_t bytes = doc.FileData().size();
    ASSERT_TRUE(doc.Reload("user"));
    EXPECT_EQ(doc.FileData().size(), bytes);
    EXPECT_TRUE(doc.Security().PasswordApplied());
    EXPECT_EQ(doc.Security().AppliedPassword(), "user");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
}
