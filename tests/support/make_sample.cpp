// Writes samples/sample.pdf: two pages of Helvetica text, the first page's content compressed.
// Build by hand against the test-support library: it is not part of the regular build.
#include <fstream>
#include <iostream>

#include "support/PdfWriter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_sample OUTPUT.pdf\n";
        return 2;
    }
    tolvane_test::PdfWriter w;
    w.RootObj = 1;
    w.TrailerExtra = "/Info 8 0 R";
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R 5 0 R] /Count 2 >>");
    const std::string resources = " /Resources << /Font << /F1 7 0 R >> >>";
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R" + resources +
                 " >>");
    w.SetStream(4, " /Filter /FlateDecode",
                tolvane_test::Deflate(
                    "BT /F1 18 Tf 72 720 Td (Tolvane Text Extractor sample) Tj ET\n"
                    "BT /F1 12 Tf 72 690 Td (This is the first page of a small sample "
                    "document.) Tj\n"
                    "0 -16 Td (Its text is set in Helvetica with WinAnsiEncoding.) Tj ET\n"));
    w.Set(5, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R" + resources +
                 " >>");
    w.SetStream(6, "",
                "BT /F1 12 Tf 72 720 Td (The second page has an uncompressed content "
                "stream.) Tj\n"
                "0 -16 Td (Caf\\351 cr\\350me br\\373l\\351e costs 5 \\200.) Tj ET\n");
    w.Set(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    w.Set(8, "<< /Title (Sample) /Producer (Tolvane test writer) >>");
    std::ofstream(argv[1], std::ios::binary) << w.Finish();
    return 0;
}
