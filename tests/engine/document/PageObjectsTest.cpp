// Reading a long document a page at a time: the file mapped instead of read, the objects of a
// page let go when another page is selected, and everything read again exactly as before.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "file/uPDFFileBytes.h"
#include "file/uPDFStructure.h"
#include "pages/uPDFPageReach.h"
#include "pages/uPDFPageTree.h"
#include "support/PdfWriter.h"
#include "support/Processes.h"
#include "text/uPDFPageText.h"

using namespace korvel;
using tolvane_test::MakeSimplePdf;
using tolvane_test::SimpleDocOptions;
using tolvane_test::TempDir;

namespace {

// Page k shows "page k" in Helvetica; page/content pairs are objects 3 + 2(k-1) and 4 + 2(k-1).
std::vector<std::string> pageContents(int count) {
    std::vector<std::string> contents;
    for (int k = 1; k <= count; ++k)
        contents.push_back("BT /F1 12 Tf 72 700 Td (page " + std::to_string(k) + ") Tj ET");
    return contents;
}

std::string textWithoutReleases(const std::string& pdf, const std::string& password, int page,
                                int option) {
    TPDFDocument document;
    EXPECT_TRUE(document.LoadFromBytes(pdf));
    if (!password.empty()) {
        EXPECT_TRUE(document.Reload(password));
    }
    document.PageTree().SelectPage(page);
    document.PageTree().ReportLocatedPage(); // decrypts what the page reaches
    TPDFPageText text;
    if (option < 3)
        return text.RawText(document.PageTree(), option, TTextEncoding::Cp1252);
    return text.PositionedText(document.PageTree(), {}, TTextEncoding::Cp1252);
}

} // namespace

TEST(FileBytes, AFileMapsOrReadsAsItsBytesAndViewsOutliveAReleaseOfItsPages) {
    TempDir dir;
    const std::string bytes = std::string(200000, 'x') + "%%EOF";
    TPDFFileBytes file;
    ASSERT_TRUE(file.Open(dir.Write("a.pdf", bytes), 1 << 20));
    EXPECT_TRUE(file.Mapped());
    const std::string_view view = file.View();
    file.ReleasePages();
    EXPECT_EQ(view, bytes);

    TPDFFileBytes moved = std::move(file);
    EXPECT_EQ(moved.View(), bytes);
    EXPECT_TRUE(file.empty());

    // Released once the reads since the last release spread over more than a few regions.
    const int regions = TPDFFileBytes::kResidentRegions;
    for (int r = 0; r < regions; ++r)
        moved.NoteRead((std::int64_t{r} << TPDFFileBytes::kRegionShift) + 7, 100);
    moved.NoteRead(10, 1);
    EXPECT_FALSE(moved.ReleaseIfDue());
    moved.NoteRead(std::int64_t{regions} << TPDFFileBytes::kRegionShift, 1);
    EXPECT_TRUE(moved.ReleaseIfDue());
    EXPECT_FALSE(moved.ReleaseIfDue());
    EXPECT_EQ(moved.View(), bytes);

    EXPECT_FALSE(file.Open(dir.Write("b.pdf", bytes), 1000)) << "too large";
    EXPECT_TRUE(file.empty());
    EXPECT_FALSE(file.Open((dir.Path / "missing.pdf").string(), 1 << 20));
    ASSERT_TRUE(file.Open(dir.Write("empty.pdf", ""), 1 << 20));
    EXPECT_TRUE(file.empty());

    // A pipe is read to its end.
    const std::string fifo = (dir.Path / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << bytes; });
    EXPECT_TRUE(file.Open(fifo, 1 << 20));
    writer.join();
    EXPECT_FALSE(file.Mapped());
    EXPECT_EQ(file.View(), bytes);
}

TEST(PageObjects, ObjectsReadForAPageGoAtTheReleaseAndAreKeptWhenReadForAnotherPage) {
    TPDFDocument document;
    ASSERT_TRUE(document.LoadFromBytes(MakeSimplePdf(pageContents(3))));
    const TPDFIndObj* content2 = document.FindIndirect(6, 0);
    const std::uint64_t generation = document.PageGeneration();
    {
        TPDFDocument::TPageScope scope(document);
        TPDFObject* content = document.ResolveRef(6, 0);
        ASSERT_NE(content, nullptr);
        EXPECT_NE(content->Owner, &document.Store());
        EXPECT_EQ(document.KeepObject(8, 0)->Owner, &document.Store());
        document.ReleasePageObjects(); // not while a scope is open
        EXPECT_TRUE(content2->Loaded);
    }
    const TPDFObject* kept = document.ResolveRef(8, 0);
    document.ReleasePageObjects();
    EXPECT_NE(document.PageGeneration(), generation);
    EXPECT_FALSE(content2->Loaded);
    EXPECT_EQ(document.ResolveRef(8, 0), kept);

    TPDFDocument::TPageScope scope(document);
    const TPDFStream* again = AsStream(document.ResolveRef(6, 0));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->Owner, &document.Store()) << "read for a second page: kept";
    EXPECT_EQ(again->DecodedData(), "BT /F1 12 Tf 72 700 Td (page 2) Tj ET");
}

TEST(PageObjects, APassThroughTheFacadeKeepsOnePageAndReadsEveryPageAsWithoutReleases) {
    SimpleDocOptions plain;
    SimpleDocOptions streams;
    streams.UseObjectStreams = true;
    streams.CompressContent = true;
    SimpleDocOptions encrypted = streams;
    encrypted.Encrypted = true;
    encrypted.Encryption.KeyBits = 128;
    encrypted.Encryption.Version = 2;
    encrypted.Encryption.Revision = 3;
    encrypted.Encryption.UserPassword = "user";
    encrypted.Encryption.OwnerPassword = "owner";
    for (const SimpleDocOptions* options : {&plain, &streams, &encrypted}) {
        SCOPED_TRACE(options == &plain     ? "plain"
                     : options == &streams ? "object streams"
                                           : "encrypted");
        const std::string password = options->Encrypted ? "user" : "";
        const std::string pdf = MakeSimplePdf(pageContents(60), *options);
        TKorvel korvel;
        ASSERT_EQ(korvel.LoadFromBytes(pdf), 1);
        if (!password.empty()) {
            ASSERT_EQ(korvel.SetPassword(password), 1);
        }
        TPDFDocument& document = korvel.SelectedDocumentObject();
        int objectsAfterTen = 0;
        for (int page = 1; page <= 60; ++page) {
            ASSERT_EQ(korvel.SelectPage(page), 1);
            EXPECT_NE(korvel.GetPageText(0).find("page " + std::to_string(page)),
                      std::string::npos);
            if (page == 10)
                objectsAfterTen = document.Store().ObjectCount();
        }
        EXPECT_EQ(document.Store().ObjectCount(), objectsAfterTen)
            << "the document's store does not grow with the pages passed";
        // Back again, in any order: every page reads as a document that never lets go.
        for (const int page : {60, 2, 2, 1, 37}) {
            SCOPED_TRACE(page);
            ASSERT_EQ(korvel.SelectPage(page), 1);
            EXPECT_EQ(korvel.PageWidth(), 612);
            for (const int option : {0, 3})
                EXPECT_EQ(korvel.GetPageText(option),
                          textWithoutReleases(pdf, password, page, option));
        }
    }
}

TEST(PageObjects, AFileLoadedFromDiskReadsAsTheSameBytesLoadedFromMemory) {
    TempDir dir;
    const std::string pdf = MakeSimplePdf(pageContents(5));
    TKorvel fromFile;
    ASSERT_EQ(fromFile.LoadFromFile(dir.Write("five.pdf", pdf)), 1);
    EXPECT_TRUE(fromFile.SelectedDocumentObject().FileData() == pdf);
    TKorvel fromBytes;
    ASSERT_EQ(fromBytes.LoadFromBytes(pdf), 1);
    for (int page = 5; page >= 1; --page) {
        ASSERT_EQ(fromFile.SelectPage(page), 1);
        ASSERT_EQ(fromBytes.SelectPage(page), 1);
        EXPECT_EQ(fromFile.GetPageText(3), fromBytes.GetPageText(3));
    }
}

TEST(PageObjects, TheTreeBoundWalksEveryPageWithoutKeepingThemAndTheSelectedPageStays) {
    // Two levels, so that the walk keeps nodes and `Kids` across its releases.
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int n = 0; n < 3; ++n) {
        const int node = 3 + n;
        kids += std::to_string(node) + " 0 R ";
        std::string leaves;
        for (int k = 0; k < 900; ++k) {
            const int page = 1000 + n * 900 + k;
            leaves += std::to_string(page) + " 0 R ";
            w.Set(page, "<< /Type /Page /Parent " + std::to_string(node) +
                            " 0 R /MediaBox [0 0 200 300] >>");
        }
        w.Set(node, "<< /Type /Pages /Parent 2 0 R /Count 900 /Kids " + std::to_string(10 + n) +
                        " 0 R >>");
        w.Set(10 + n, "[" + leaves + "]");
    }
    w.Set(2, "<< /Type /Pages /Count 5000 /Kids [" + kids + "] >>");
    const std::string pdf = w.Finish();

    TKorvel korvel;
    ASSERT_EQ(korvel.LoadFromBytes(pdf), 1);
    ASSERT_EQ(korvel.SelectPage(1234), 1);
    TPDFDocument& document = korvel.SelectedDocumentObject();
    const int objects = document.Store().ObjectCount();
    EXPECT_EQ(korvel.LocatablePageBound(), 2700);
    EXPECT_EQ(korvel.LocatablePageBound(), 2700);
    // Kept: the third node and its `Kids` (900 references), which the walk had not reached.
    const int afterWalk = document.Store().ObjectCount();
    EXPECT_LT(afterWalk, objects + 1000);
    EXPECT_EQ(korvel.SelectedDocumentObject().PageTree().CurrentIndex(), 1234);
    EXPECT_EQ(korvel.PageHeight(), 300);
    // Pages read by the walk alone are not kept when their own turn comes.
    for (int page = 1; page <= 2700; ++page)
        ASSERT_EQ(korvel.SelectPage(page), 1);
    EXPECT_EQ(document.Store().ObjectCount(), afterWalk);

    TPDFDocument plain;
    ASSERT_TRUE(plain.LoadFromBytes(pdf));
    EXPECT_EQ(LocatablePageBound(plain.PageTree().RootNode()), 2700);
}
