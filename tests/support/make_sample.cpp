// Writes samples/sample.pdf: four pages of Helvetica text with headings (the first page's
// content compressed), a page set in two columns and a page holding a ruled table.
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
    w.Set(2, "<< /Type /Pages /Kids [3 0 R 5 0 R 9 0 R 11 0 R] /Count 4 >>");
    const std::string resources = " /Resources << /Font << /F1 7 0 R /F2 13 0 R >> >>";
    const auto page = [&](int num, int contents) {
        w.Set(num, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                       std::to_string(contents) + " 0 R" + resources + " >>");
    };
    page(3, 4);
    w.SetStream(4, " /Filter /FlateDecode",
                tolvane_test::Deflate(
                    "BT /F1 18 Tf 72 720 Td (Tolvane Text Extractor sample) Tj ET\n"
                    "BT /F1 12 Tf 72 690 Td (This is the first page of a small sample "
                    "document.) Tj\n"
                    "0 -16 Td (Its text is set in Helvetica with WinAnsiEncoding.) Tj ET\n"));
    page(5, 6);
    w.SetStream(6, "",
                "BT /F1 12 Tf 72 720 Td (The second page has an uncompressed content "
                "stream.) Tj\n"
                "0 -16 Td (Caf\\351 cr\\350me br\\373l\\351e costs 5 \\200.) Tj ET\n");
    w.Set(7, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    w.Set(8, "<< /Title (Sample) /Producer (Tolvane test writer) >>");

    // Two columns: the content shows the whole left column first, then the right one, so the
    // content order and the row order differ.
    const char* left[] = {"The left column starts", "here and runs down the", "page for four short",
                          "lines of text."};
    const char* right[] = {"The right column sits", "beside it, level with",
                           "the left one, and ends", "on the same line."};
    std::string columns = "BT /F2 16 Tf 72 720 Td (Two columns) Tj ET\n";
    for (int column = 0; column < 2; ++column) {
        columns += "BT /F1 11 Tf " + std::string(column == 0 ? "72" : "320") + " 690 Td 14 TL";
        for (int line = 0; line < 4; ++line)
            columns += std::string(" (") + (column == 0 ? left : right)[line] + ") Tj T*";
        columns += " ET\n";
    }
    page(9, 10);
    w.SetStream(10, " /Filter /FlateDecode", tolvane_test::Deflate(columns));

    // A table of three columns with ruled cells, filled column by column.
    const char* cells[5][3] = {{"Item", "Quantity", "Price"},
                               {"Paper, A4", "500", "4.90"},
                               {"Pencils", "12", "3.60"},
                               {"Stapler", "1", "7.25"},
                               {"Total", "", "15.75"}};
    const int xs[3] = {72, 252, 392};
    std::string table = "BT /F2 16 Tf 72 720 Td (A table) Tj ET\n0.5 w\n";
    for (int row = 0; row <= 5; ++row)
        table += "72 " + std::to_string(696 - row * 20) + " m 540 " +
                 std::to_string(696 - row * 20) + " l S\n";
    for (const int x : {72, 246, 386, 540})
        table += std::to_string(x) + " 696 m " + std::to_string(x) + " 596 l S\n";
    for (int col = 0; col < 3; ++col)
        for (int row = 0; row < 5; ++row) {
            if (!*cells[row][col])
                continue;
            table += std::string("BT /") + (row == 0 ? "F2" : "F1") + " 11 Tf " +
                     std::to_string(xs[col] + 6) + " " + std::to_string(682 - row * 20) + " Td (" +
                     cells[row][col] + ") Tj ET\n";
        }
    page(11, 12);
    w.SetStream(12, " /Filter /FlateDecode", tolvane_test::Deflate(table));
    w.Set(13,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>");
    std::ofstream(argv[1], std::ios::binary) << w.Finish();
    return 0;
}
