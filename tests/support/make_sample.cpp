// Writes samples/sample.pdf: two pages of Helvetica text, the first page's content compressed.
// With --pages N [--objstm] it writes instead an N-page document for the load benchmarks.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/PdfWriter.h"

namespace {

int writeManyPages(int pages, bool objectStreams, const char* path) {
    std::vector<std::string> contents;
    contents.reserve(static_cast<std::size_t>(pages));
    for (int i = 1; i <= pages; ++i)
        contents.push_back("BT /F1 12 Tf 72 720 Td (Page " + std::to_string(i) + ") Tj ET\n");
    tolvane_test::SimpleDocOptions options;
    options.CompressContent = true;
    if (objectStreams) {
        options.Form = tolvane_test::XRefForm::Stream;
        options.UseObjectStreams = true;
    }
    std::ofstream(path, std::ios::binary) << tolvane_test::MakeSimplePdf(contents, options);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--pages") {
        const bool objectStreams = argc == 5 && std::string(argv[3]) == "--objstm";
        return writeManyPages(std::atoi(argv[2]), objectStreams, argv[argc - 1]);
    }
    if (argc != 2) {
        std::cerr
            << "usage: make_sample OUTPUT.pdf | make_sample --pages N [--objstm] OUTPUT.pdf\n";
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
