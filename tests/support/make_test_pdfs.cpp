// Writes the test documents of TestPdfs.h for the Python tests:
//   make_test_pdfs text OUT LINE...            one page per line
//   make_test_pdfs encrypted OUT PASSWORD LINE...
//   make_test_pdfs unknown-handler OUT
//   make_test_pdfs damaged OUT
//   make_test_pdfs formfan OUT LEVELS
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "support/TestPdfs.h"

namespace {

// Page text arrives as UTF-8 arguments; the pages show WinAnsi bytes. Letters up to U+00FF
// are the same in both; anything above becomes '?'.
std::string winAnsiFromUtf8(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            out += text[i];
        } else if ((byte & 0xE0) == 0xC0 && i + 1 < text.size()) {
            const unsigned code =
                ((byte & 0x1Fu) << 6) | (static_cast<unsigned char>(text[++i]) & 0x3Fu);
            out += code < 0x100 ? static_cast<char>(code) : '?';
        } else if ((byte & 0xC0) != 0x80) {
            out += '?';
        }
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr
            << "usage: make_test_pdfs text|encrypted|unknown-handler|damaged|formfan OUT ...\n";
        return 2;
    }
    const std::string kind = argv[1];
    std::vector<std::string> rest;
    for (int i = 3; i < argc; ++i)
        rest.push_back(winAnsiFromUtf8(argv[i]));
    std::string bytes;
    if (kind == "text")
        bytes = tolvane_test::TextPdf(rest);
    else if (kind == "encrypted" && !rest.empty())
        bytes = tolvane_test::EncryptedTextPdf({rest.begin() + 1, rest.end()}, rest[0]);
    else if (kind == "unknown-handler")
        bytes = tolvane_test::UnknownHandlerPdf();
    else if (kind == "damaged")
        bytes = tolvane_test::DamagedPdf();
    else if (kind == "formfan" && !rest.empty())
        bytes = tolvane_test::FormFanPdf(std::atoi(rest[0].c_str()));
    else {
        std::cerr << "make_test_pdfs: unknown kind or missing arguments\n";
        return 2;
    }
    std::ofstream(argv[2], std::ios::binary) << bytes;
    return 0;
}
