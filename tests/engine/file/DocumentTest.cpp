#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include "file/uPDFDocument.h"
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

// A file laid out by hand: each object's text is written exactly as given (its `N G obj`
// line included), and a classic table lists the offsets under the numbers given here, so tests
// can make the table and the objects disagree.
struct HandFile {
    std::string Head = "%PDF-1.4\n";
    std::vector<std::pair<int, std::string>> Objects;
    std::string TrailerExtra = "/Root 1 0 R";
    std::map<int, std::int64_t> Offsets;

    std::string Build() {
        std::string out = Head;
        int highest = 0;
        for (const auto& [num, text] : Objects) {
            Offsets[num] = std::int64_t(out.size());
            out += text + "\n";
            highest = std::max(highest, num);
        }
        const std::int64_t xref = std::int64_t(out.size());
        out += "xref\n0 " + std::to_string(highest + 1) + "\n";
        for (int n = 0; n <= highest; ++n) {
            auto it = Offsets.find(n);
            std::string field = std::to_string(it == Offsets.end() ? 0 : it->second);
            field.insert(0, 10 - field.size(), '0');
            out += field + (it == Offsets.end() ? " 65535 f\r\n" : " 00000 n\r\n");
        }
        out += "trailer\n<< /Size " + std::to_string(highest + 1) + " " + TrailerExtra +
               " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
        return out;
    }
};

const char* kCatalog = "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj";
const char* kPages = "2 0 obj\n<< /Type /Pages /Kids [3 0 R] /Count 1 >>\nendobj";
const char* kPage = "3 0 obj\n<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 300] >>\nendobj";

HandFile onePage() {
    HandFile f;
    f.Objects = {{1, kCatalog}, {2, kPages}, {3, kPage}};
    return f;
}

TPDFObject* objectOf(TPDFDocument& doc, int num, int gen = 0) {
    return doc.ResolveRef(num, gen);
}

std::string rawOf(TPDFDocument& doc, int num) {
    const TPDFStream* stream = AsStream(objectOf(doc, num));
    return stream ? stream->RawData() : "<no stream>";
}

std::string textOf(TPDFDocument& doc, int num) {
    const auto* s = Cast<TPDFString>(objectOf(doc, num));
    return s ? s->Value : "<no string>";
}

int sizeOf(TPDFDocument& doc) {
    return doc.Trailer()->GetInteger("Size", -1);
}

int loadedSlots(const TPDFDocument& doc) {
    int n = 0;
    for (const auto& slot : doc.IndirectObjects())
        n += slot->Loaded;
    return n;
}

// A stream buffer that claims a size and then delivers fewer bytes (or none).
class FakeSizeBuf : public std::streambuf {
public:
    FakeSizeBuf(std::int64_t size, std::string data) : FSize(size), FData(std::move(data)) {
        setg(FData.data(), FData.data(), FData.data() + FData.size());
    }

protected:
    pos_type seekoff(off_type off, std::ios_base::seekdir dir, std::ios_base::openmode) override {
        if (dir == std::ios_base::end)
            return pos_type(FSize + off);
        if (dir == std::ios_base::beg && off == 0) {
            setg(FData.data(), FData.data(), FData.data() + FData.size());
            return pos_type(0);
        }
        return pos_type(off_type(-1));
    }
    pos_type seekpos(pos_type pos, std::ios_base::openmode mode) override {
        return seekoff(off_type(pos), std::ios_base::beg, mode);
    }

private:
    std::int64_t FSize;
    std::string FData;
};

} // namespace

TEST(DocumentLoad, ASimpleFileLoadsWithItsPageTree) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET", "BT ET"})));
    EXPECT_EQ(doc.HeaderVersion(), "1.4");
    EXPECT_EQ(doc.PageTree().PageCount(), 2);
    EXPECT_EQ(doc.PageTree().CurrentIndex(), 1);
    EXPECT_EQ(doc.Catalog()->GetTypeName(), "Catalog");
    EXPECT_EQ(doc.PagesRoot()->GetTypeName(), "Pages");
    EXPECT_FALSE(doc.Linearized());
    EXPECT_TRUE(doc.Security().PasswordApplied());
}

TEST(DocumentLoad, LoadFromStreamReadsTheWholeStream) {
    std::istringstream in(MakeSimplePdf({"BT ET"}));
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromStream(in));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
}

TEST(DocumentLoad, AShortReadFailsTheLoad) {
    FakeSizeBuf buf(1000, MakeSimplePdf({"BT ET"}).substr(0, 100));
    std::istream in(&buf);
    TPDFDocument doc;
    EXPECT_FALSE(doc.LoadFromStream(in));
    EXPECT_TRUE(doc.IndirectObjects().empty());
    EXPECT_TRUE(doc.FileData().empty());
}

TEST(DocumentLoad, FilesOfTwoGibibytesAreRefusedBeforeReading) {
    FakeSizeBuf buf(kMaxFileSize, std::string());
    std::istream in(&buf);
    TPDFDocument doc;
    EXPECT_FALSE(doc.LoadFromStream(in));
}

TEST(DocumentHeader, JunkBeforeTheHeaderWithinTheFirst1024BytesIsAccepted) {
    PdfWriter w;
    w.Prefix = std::string(500, 'j') + "\n";
    w.Header = "%PDF-1.7";
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R >>");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    EXPECT_EQ(doc.HeaderVersion(), "1.7");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);

    w.Prefix = std::string(1030, 'j') + "\n";
    EXPECT_FALSE(doc.LoadFromBytes(w.Finish()));
}

TEST(DocumentHeader, VersionMustBeANumberText) {
    HandFile f = onePage();
    TPDFDocument doc;
    f.Head = "%PDF-1.4.1\n";
    EXPECT_FALSE(doc.LoadFromBytes(f.Build()));
    f.Head = "%PDF-\n";
    EXPECT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(doc.HeaderVersion(), "");
    f.Head = "%!PS-Adobe-3.0 PDF-1.3\n";
    EXPECT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(doc.HeaderVersion(), "1.3");
    f.Head = "%!PS-Adobe-3.0\n";
    EXPECT_FALSE(doc.LoadFromBytes(f.Build()));
}

TEST(DocumentLoad, AStartxrefPointingAtNothingReadableFails) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog >>");
    w.StartXRefDelta = 3000;
    TPDFDocument doc;
    EXPECT_FALSE(doc.LoadFromBytes(w.Finish()));
    EXPECT_TRUE(doc.IndirectObjects().empty());
    EXPECT_EQ(doc.Trailer()->Count(), 0);
}

TEST(DocumentLoad, APrevCycleFailsTheLoad) {
    HandFile f = onePage();
    std::string file = f.Build();
    const std::size_t xref = file.rfind("xref\n0");
    file.replace(file.find("/Root 1 0 R"), 11, "/Root 1 0 R /Prev " + std::to_string(xref));
    TPDFDocument doc;
    EXPECT_FALSE(doc.LoadFromBytes(file));
}

TEST(DocumentLoad, AHybridFileFindsTheObjectsOfItsXRefStmStream) {
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
    EXPECT_EQ(textOf(doc, 4), "compressed");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
}

TEST(DocumentUpdates, ARedefinedObjectGivesTheNewOne) {
    PdfWriter base;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.Set(5, "(old)");
    PdfWriter update;
    update.Set(5, "(new)");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(update.FinishUpdate(base.Finish())));
    EXPECT_EQ(textOf(doc, 5), "new");
    EXPECT_EQ(doc.SectionOffsets().size(), 2u);
}

TEST(DocumentUpdates, AFreedObjectStillLoadsFromTheOlderEntry) {
    PdfWriter base;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.Set(5, "(old)");
    PdfWriter update;
    update.Set(6, "(other)");
    update.FreedObjects = {5};
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(update.FinishUpdate(base.Finish())));
    EXPECT_EQ(textOf(doc, 5), "old");
    EXPECT_EQ(textOf(doc, 6), "other");
}

TEST(DocumentUpdates, OnlyTheNewestTrailerCountsWithoutChainKeys) {
    PdfWriter base;
    base.RootObj = 1;
    base.Set(1, "<< /Type /Catalog >>");
    base.TrailerExtra = "/Info 1 0 R /Extra 1";
    PdfWriter update;
    update.Set(2, "<< /Type /Catalog /Marker 1 >>");
    update.RootObj = 2;
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(update.FinishUpdate(base.Finish())));
    EXPECT_EQ(doc.Catalog()->GetInteger("Marker", 0), 1);
    EXPECT_EQ(doc.Trailer()->Get("Prev", false), nullptr);
    EXPECT_EQ(doc.Trailer()->Get("Extra", false), nullptr);
    EXPECT_EQ(doc.Trailer()->Get("Info", false), nullptr);
}

TEST(DocumentUpdates, AStreamTrailerLosesItsStreamKeys) {
    PdfWriter w;
    w.Form = XRefForm::Stream;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog >>");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(w.Finish()));
    for (const char* key : {"Type", "W", "Index", "Length", "Filter", "Prev"})
        EXPECT_EQ(doc.Trailer()->Get(key, false), nullptr) << key;
    EXPECT_NE(doc.Trailer()->Get("Root", false), nullptr);
    EXPECT_NE(doc.Trailer()->Get("Size", false), nullptr);
}

TEST(DocumentObjects, ATextNamingAnotherObjectGivesNull) {
    HandFile f = onePage();
    f.Objects.push_back({5, "6 0 obj\n(six)\nendobj"});
    f.Objects.push_back({6, "6 1 obj\n(six)\nendobj"});
    f.Objects.push_back({7, "7 0 OBJ\n(seven)\nendobj"});
    f.Objects.push_back({8, "8 0 object (eight)\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    for (int n : {5, 6, 7, 8}) {
        TPDFObject* value = objectOf(doc, n);
        ASSERT_NE(value, nullptr) << n;
        EXPECT_EQ(value->Class(), TPDFClass::Null) << n;
        EXPECT_TRUE(value->IsIndirect);
        EXPECT_EQ(value->ObjNum, n);
    }
}

TEST(DocumentObjects, NumberingOffByOneLeavesNoUsableCatalog) {
    std::string file = onePage().Build();
    // The table's first subsection starts at 1 instead of 0: every object gets its neighbour.
    file.replace(file.find("xref\n0 4"), 8, "xref\n1 4");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(objectOf(doc, 2)->Class(), TPDFClass::Null);
    EXPECT_EQ(doc.PageTree().PageCount(), 0);
    // A catalog was made to stand in: a new object and a Size that counts it.
    EXPECT_EQ(doc.Catalog()->Count(), 0);
}

TEST(DocumentObjects, ObjKeywordNeedsNoWhiteSpaceAndStreamNeedsNoSpaceBefore) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj<</Length 3>>stream\nabc\nendstream\nendobj"});
    f.Objects.push_back({6, "6 0 obj <</Length 3>>stream \x07\r\nxyz\nendstream\nendobj"});
    f.Objects.push_back({7, "7 0 obj <</Length 3>>stream\rpqr\nendstream\nendobj"});
    f.Objects.push_back({8, "8 0 obj <</Length 3>>streamX\nabc\nendstream\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(rawOf(doc, 5), "abc");
    EXPECT_EQ(AsStream(objectOf(doc, 5))->Dictionary()->GetInteger("Length", 0), 3);
    EXPECT_EQ(rawOf(doc, 6), "xyz");
    EXPECT_EQ(rawOf(doc, 7), "pqr");
    // Without a line end after the keyword there is no stream: the dictionary stands.
    EXPECT_NE(AsDictionary(objectOf(doc, 8)), nullptr);
}

TEST(DocumentObjects, IndirectLengthIsFollowedAndAWrongLengthIsKept) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj <</Length 6 0 R>>\nstream\nabcdef\nendstream\nendobj"});
    f.Objects.push_back({6, "6 0 obj 4 endobj"});
    f.Objects.push_back({7, "7 0 obj <</Length 8>>\nstream\nabcdef\nendstream\nendobj"});
    f.Objects.push_back({8, "8 0 obj <</Length 500>>\nstream\nabc\nendstream\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(rawOf(doc, 5), "abcd");
    EXPECT_EQ(AsStream(objectOf(doc, 5))->Dictionary()->GetInteger("Length", 0), 4);
    EXPECT_EQ(rawOf(doc, 7), "abcdef\ne");
    // The data is cut at the end of the object's byte range (the next object).
    EXPECT_EQ(rawOf(doc, 8), "abc\nendstream\nendobj\n");
}

TEST(DocumentObjects, ALengthThatCannotBeFoundLeavesTheDictionary) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj <</Length 99 0 R>>\nstream\nabc\nendstream\nendobj"});
    f.Objects.push_back({6, "6 0 obj <</Length 6 0 R>>\nstream\nabc\nendstream\nendobj"});
    f.Objects.push_back({7, "7 0 obj <</Length (3)>>\nstream\nabc\nendstream\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    for (int n : {5, 6, 7})
        EXPECT_NE(AsDictionary(objectOf(doc, n)), nullptr) << n;
}

TEST(DocumentObjects, NestedLengthChainsAreBounded) {
    // Object k is a stream whose Length is object k+1, itself such a stream, 200 deep.
    HandFile f = onePage();
    const int depth = 200;
    for (int k = 10; k < 10 + depth; ++k)
        f.Objects.push_back({k, std::to_string(k) + " 0 obj <</Length " + std::to_string(k + 1) +
                                    " 0 R>>\nstream\nabc\nendstream\nendobj"});
    f.Objects.push_back({10 + depth, std::to_string(10 + depth) + " 0 obj 3 endobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_NE(objectOf(doc, 10), nullptr);
    // Objects past the bound were left unloaded, so on their own they still load in full.
    EXPECT_EQ(rawOf(doc, 10 + depth - 1), "abc");
}

TEST(DocumentObjects, SlotRangesRunToTheNextKnownOffset) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj (five) endobj junk between"});
    f.Objects.push_back({6, "6 0 obj (six) endobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    const TPDFIndObj* five = doc.FindIndirect(5, 0);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->Offset, f.Offsets[5]);
    EXPECT_EQ(five->Extent, f.Offsets[6] - f.Offsets[5]);
    EXPECT_FALSE(five->Loaded);
    EXPECT_EQ(textOf(doc, 5), "five");
    // The last object runs up to the table.
    const TPDFIndObj* six = doc.FindIndirect(6, 0);
    EXPECT_EQ(six->Offset + six->Extent, doc.SectionOffsets().front());
}

// The table field (10 digits) of an offset.
std::string fieldOf(std::int64_t offset) {
    std::string s = std::to_string(offset);
    return std::string(10 - s.size(), '0') + s;
}

TEST(DocumentObjects, TwoEntriesAtOneOffsetBothGetItsBytes) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj (five) endobj"});
    f.Objects.push_back({6, "6 0 obj (six) endobj"});
    std::string file = f.Build();
    file.replace(file.rfind(fieldOf(f.Offsets[6])), 10, fieldOf(f.Offsets[5]));
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(textOf(doc, 5), "five");
    EXPECT_EQ(objectOf(doc, 6)->Class(), TPDFClass::Null);
    EXPECT_EQ(doc.FindIndirect(6, 0)->Extent, doc.FindIndirect(5, 0)->Extent);
}

TEST(DocumentObjects, DamagedOffsetsGiveNullsWithoutReadingOutside) {
    HandFile f = onePage();
    f.Objects.push_back({5, "5 0 obj (five) endobj"});
    std::string file = f.Build();
    file.replace(file.rfind(fieldOf(f.Offsets[5])), 10, "0999999999");
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    const TPDFIndObj* five = doc.FindIndirect(5, 0);
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->Extent, 0);
    EXPECT_EQ(objectOf(doc, 5)->Class(), TPDFClass::Null);
    EXPECT_EQ(doc.ResolveRef(77, 0), nullptr);
}

TEST(DocumentObjectStreams, CompressedObjectsLoadAndAreMarkedDecrypted) {
    SimpleDocOptions options;
    options.UseObjectStreams = true;
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET"}, options)));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    const TPDFIndObj* catalog = doc.FindIndirect(1, 0);
    ASSERT_NE(catalog, nullptr);
    EXPECT_TRUE(catalog->Compressed);
    EXPECT_TRUE(catalog->Decrypted);
    EXPECT_TRUE(doc.ReadCompressedObjects());
}

// The one-page hand file with an object stream 9 holding `body`, and a cross-reference
// stream that lists objects 1 to 3 and 9 in the file and `compressed` (number -> index) in 9.
std::string withObjectStream(const std::string& containerDict, const std::string& body,
                             const std::map<int, int>& compressed) {
    HandFile h = onePage();
    h.Objects.push_back({9, "9 0 obj <</Type /ObjStm " + containerDict + " /Length " +
                                std::to_string(body.size()) + ">>\nstream\n" + body +
                                "\nendstream\nendobj"});
    std::string hand = h.Build();
    std::string file = hand.substr(0, hand.rfind("xref\n"));
    std::string rows;
    for (int n = 0; n < 10; ++n) {
        std::int64_t f2 = h.Offsets.count(n) ? h.Offsets[n] : 0;
        int type = f2 ? 1 : 0, f3 = 0;
        if (compressed.count(n)) {
            type = 2;
            f2 = 9;
            f3 = compressed.at(n);
        }
        rows += char(type);
        rows += char((f2 >> 8) & 0xff);
        rows += char(f2 & 0xff);
        rows += char(f3);
    }
    const std::size_t streamAt = file.size();
    file += "10 0 obj <</Type /XRef /Size 10 /W [1 2 1] /Root 1 0 R /Length " +
            std::to_string(rows.size()) + ">>\nstream\n" + rows + "\nendstream\nendobj\n";
    return file + "startxref\n" + std::to_string(streamAt) + "\n%%EOF\n";
}

TEST(DocumentObjectStreams, AHeaderListingAnotherNumberGivesNull) {
    // Header: object 2 at 0, object 4 at 6. Object 4 sits at index 1; object 5 claims index 0,
    // where the header lists 2.
    const std::string file =
        withObjectStream("/N 2 /First 8", "2 0 4 6 (two) (three)", {{4, 1}, {5, 0}});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_EQ(textOf(doc, 4), "three");
    EXPECT_EQ(objectOf(doc, 5)->Class(), TPDFClass::Null);
    EXPECT_TRUE(doc.FindIndirect(5, 0)->Decrypted);
}

TEST(DocumentObjectStreams, TheLastObjectRunsToTheEndOfTheData) {
    const std::string file =
        withObjectStream("/N 2 /First 8", "4 0 5 6 (four) [5 5]", {{4, 0}, {5, 1}});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(file));
    EXPECT_EQ(textOf(doc, 4), "four");
    const TPDFArray* five = AsArray(objectOf(doc, 5));
    ASSERT_NE(five, nullptr);
    EXPECT_EQ(five->Count(), 2);
}

TEST(DocumentObjectStreams, HostileHeadersGiveNullsWithoutCrashing) {
    for (std::string dict : {"/N 2147483647 /First 4", "/N 1 /First 2147483647", "/N 0 /First 4",
                             "/N 1 /First -5", "/N 1 /First 4 /Type /XRef", "/N 1 /First 2"}) {
        TPDFDocument doc;
        ASSERT_TRUE(doc.LoadFromBytes(withObjectStream(dict, "5 -9 (x)", {{5, 0}}))) << dict;
        TPDFObject* value = objectOf(doc, 5);
        ASSERT_NE(value, nullptr) << dict;
        EXPECT_EQ(value->Class(), TPDFClass::Null) << dict;
    }
    // An index past N, and an object stream that names itself as its container.
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(withObjectStream("/N 1 /First 4", "5 0 (x)", {{5, 3}, {9, 0}})));
    EXPECT_EQ(objectOf(doc, 5)->Class(), TPDFClass::Null);
    EXPECT_EQ(objectOf(doc, 9)->Class(), TPDFClass::Null);
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
    EXPECT_EQ(textOf(doc, 4321), "string 4321");
    EXPECT_EQ(textOf(doc, 4322), "string 4322");
    EXPECT_LT(loadedSlots(doc), 14);
}

TEST(DocumentLinearization, ALinearizationDictionaryIsRecognisedAndCleared) {
    HandFile f = onePage();
    f.Objects.insert(f.Objects.begin(), {7, "7 0 obj\n<< /Linearized 1 /L 1000 /N 1 >>\nendobj"});
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_TRUE(doc.Linearized());
    EXPECT_EQ(AsDictionary(objectOf(doc, 7))->Count(), 0);

    HandFile plain = onePage();
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
    EXPECT_EQ(slot->GenNum, 0);
    EXPECT_TRUE(slot->Loaded);
    EXPECT_TRUE(slot->Object->IsIndirect);
    EXPECT_EQ(slot->Object->ObjNum, 42);
    EXPECT_EQ(doc.FindIndirect(42, 0), slot);
    EXPECT_EQ(sizeOf(doc), 43);
}

TEST(DocumentIndirect, CatalogAndInfoAreMadeWhenMissing) {
    HandFile f = onePage();
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

TEST(DocumentBlank, IsOnePageOf612By792WithSizeSix) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.NewBlank());
    EXPECT_EQ(doc.HeaderVersion(), "1.4");
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_EQ(doc.PageTree().CurrentIndex(), 1);
    EXPECT_DOUBLE_EQ(doc.PageTree().PageWidth(), 612);
    EXPECT_DOUBLE_EQ(doc.PageTree().PageHeight(), 792);
    EXPECT_EQ(sizeOf(doc), 6);
    EXPECT_NE(AsStream(objectOf(doc, 5)), nullptr);
    EXPECT_EQ(objectOf(doc, 1), doc.PagesRoot());
    EXPECT_EQ(AsDictionary(objectOf(doc, 3)), doc.Catalog());
    EXPECT_EQ(AsDictionary(objectOf(doc, 4)), doc.InfoDictionary());
    EXPECT_EQ(AsDictionary(objectOf(doc, 2))->GetTypeName(), "Page");
    const TPDFArray* id = AsArray(doc.Trailer()->Get("ID"));
    ASSERT_NE(id, nullptr);
    ASSERT_EQ(id->Count(), 2);
    const auto* a = Cast<TPDFString>(id->Item(0));
    const auto* b = Cast<TPDFString>(id->Item(1));
    ASSERT_TRUE(a && b);
    EXPECT_NE(a, b);
    EXPECT_EQ(a->Value.size(), 16u);
    EXPECT_EQ(a->Value, b->Value);
    EXPECT_TRUE(a->IsHex);
    EXPECT_EQ(doc.EncryptionKind(), 0);
}

TEST(DocumentBlank, ALoadedDocumentCanBeMadeBlankAgain) {
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(MakeSimplePdf({"BT ET", "BT ET", "BT ET"})));
    ASSERT_TRUE(doc.NewBlank());
    EXPECT_EQ(doc.PageTree().PageCount(), 1);
    EXPECT_TRUE(doc.FileData().empty());
    EXPECT_EQ(doc.IndirectObjects().size(), 5u);
}

TEST(DocumentEncryption, AnRc4FileWithItsTreeInObjectStreamsLoadsItsPages) {
    for (bool fortyBit : {true, false}) {
        SimpleDocOptions options;
        options.UseObjectStreams = true;
        options.Encrypted = true;
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
    options.UseObjectStreams = true;
    options.Encrypted = true;
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

TEST(DocumentEncryption, ATrailerWithoutIdGetsNoneOnLoad) {
    HandFile f = onePage();
    TPDFDocument doc;
    ASSERT_TRUE(doc.LoadFromBytes(f.Build()));
    EXPECT_EQ(doc.Trailer()->Get("ID", false), nullptr);
}
