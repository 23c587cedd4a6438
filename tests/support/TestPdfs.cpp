#include "support/TestPdfs.h"

#include "support/PdfWriter.h"

namespace tolvane_test {

namespace {

std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '(' || c == ')' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}

// Pages with their text in Helvetica, the font an indirect object as writers make it.
std::string textDocument(const std::vector<std::string>& pageLines,
                         const EncryptionParams* encryption) {
    PdfWriter w;
    w.RootObj = 1;
    const int count = static_cast<int>(pageLines.size());
    const int font = 3 + 2 * count;
    std::string kids;
    for (int i = 0; i < count; ++i)
        kids += std::to_string(3 + 2 * i) + " 0 R ";
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
    for (int i = 0; i < count; ++i) {
        const int page = 3 + 2 * i;
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents " +
                        std::to_string(page + 1) + " 0 R /Resources << /Font << /F1 " +
                        std::to_string(font) + " 0 R >> >> >>");
        w.SetStream(page + 1, "",
                    "BT /F1 12 Tf 72 720 Td (" + escaped(pageLines[std::size_t(i)]) + ") Tj ET\n");
    }
    w.Set(font,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    if (encryption)
        w.Encrypt(*encryption);
    return w.Finish();
}

} // namespace

std::string TextPdf(const std::vector<std::string>& pageLines) {
    return textDocument(pageLines, nullptr);
}

std::string EncryptedTextPdf(const std::vector<std::string>& pageLines,
                             const std::string& userPassword) {
    EncryptionParams params;
    params.UserPassword = userPassword;
    params.OwnerPassword = userPassword + "-owner";
    return textDocument(pageLines, &params);
}

std::string UnknownHandlerPdf() {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>");
    w.Set(4, "<< /Filter /ExampleVendorSecurity /V 4 /Length 128 >>");
    w.TrailerExtra = "/Encrypt 4 0 R /ID [<00112233445566778899aabbccddeeff> "
                     "<00112233445566778899aabbccddeeff>]";
    return w.Finish();
}

std::string DamagedPdf() {
    const std::string whole = TextPdf({"lost"});
    return whole.substr(0, 9) + "\n% the rest of this file was lost\n";
}

std::string FormFanPdf(int levels, int pages) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids = "3 0 R";
    for (int page = 1; page < pages; ++page)
        kids += " " + std::to_string(1000 + page) + " 0 R";
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    const std::string page = "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents "
                             "4 0 R /Resources << /XObject << /X 5 0 R >> >> >>";
    w.Set(3, page);
    for (int extra = 1; extra < pages; ++extra)
        w.Set(1000 + extra, page);
    w.SetStream(4, "", "/X Do\n");
    const int font = 5 + levels;
    for (int level = 0; level < levels; ++level) {
        const int obj = 5 + level;
        const bool last = level + 1 == levels;
        std::string content;
        for (int i = 0; i < 10; ++i)
            content += last ? "BT /F1 12 Tf 72 720 Td (leaf) Tj ET\n" : "/X Do\n";
        const std::string resources =
            last ? "<< /Font << /F1 " + std::to_string(font) + " 0 R >> >>"
                 : "<< /XObject << /X " + std::to_string(obj + 1) + " 0 R >> >>";
        w.SetStream(obj,
                    "/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources " + resources,
                    content);
    }
    w.Set(font,
          "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    return w.Finish();
}

} // namespace tolvane_test
