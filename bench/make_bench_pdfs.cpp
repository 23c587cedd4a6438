// Writes the documents the load benchmarks measure: long documents of ordinary shape and small
// files that make a reader pay far more than their size (floods, lying tables and counts).
// Usage: make_bench_pdfs KIND OUTPUT.pdf [N]; `make_bench_pdfs list` names the kinds.
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include <zlib.h>

#include "support/FontPrograms.h"
#include "support/PdfWriter.h"

using tolvane_test::Deflate;
using tolvane_test::PdfWriter;
using tolvane_test::Put16;
using tolvane_test::Put32;

namespace {

std::string num(std::int64_t v) {
    return std::to_string(v);
}

std::string pageBody(int parent, int contents) {
    return "<< /Type /Page /Parent " + num(parent) + " 0 R /MediaBox [0 0 612 792] /Contents " +
           num(contents) + " 0 R /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 " +
           "/BaseFont /Helvetica /Encoding /WinAnsiEncoding >> >> >> >>";
}

std::string pageContent(int i) {
    return "BT /F1 12 Tf 72 720 Td (Page " + num(i) + ") Tj ET\n";
}

// N pages under a tree whose inner nodes have at most `fanout` kids (fanout 0: one flat Kids).
std::string tree(int pages, int fanout) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    struct Node {
        int Obj;
        int Count;
    };
    std::vector<Node> level;
    int next = 3;
    std::vector<int> pageObjs;
    for (int i = 1; i <= pages; ++i) {
        pageObjs.push_back(next);
        level.push_back({next, 1});
        next += 2;
    }
    // Parents are filled in after the tree is built.
    std::map<int, int> parentOf;
    while (fanout > 0 && static_cast<int>(level.size()) > fanout) {
        std::vector<Node> up;
        for (std::size_t i = 0; i < level.size(); i += static_cast<std::size_t>(fanout)) {
            const int obj = next++;
            std::string kids;
            int count = 0;
            for (std::size_t k = i; k < level.size() && k < i + static_cast<std::size_t>(fanout);
                 ++k) {
                kids += num(level[k].Obj) + " 0 R ";
                count += level[k].Count;
                parentOf[level[k].Obj] = obj;
            }
            w.Set(obj, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(count) + " >>");
            // The parent entry is added when the node's own parent is known.
            up.push_back({obj, count});
        }
        level = std::move(up);
    }
    std::string kids;
    for (const Node& n : level) {
        kids += num(n.Obj) + " 0 R ";
        parentOf[n.Obj] = 2;
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        const int obj = pageObjs[static_cast<std::size_t>(i)];
        w.Set(obj, pageBody(parentOf[obj], obj + 1));
        w.SetStream(obj + 1, " /Filter /FlateDecode", Deflate(pageContent(i + 1)));
    }
    return w.Finish();
}

// One page whose dictionary ends in `bytes` opening brackets.
std::string flood(std::int64_t bytes) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Junk " +
                 std::string(static_cast<std::size_t>(bytes), '[') + " >>");
    return w.Finish();
}

// A cross-reference stream with W [0 1 0] and `entries` one-byte entries (Flate).
std::string oneByteEntries(std::int64_t entries) {
    std::string out = "%PDF-1.5\n";
    std::vector<std::int64_t> offsets(4, 0);
    const char* bodies[] = {nullptr, "<< /Type /Catalog /Pages 2 0 R >>",
                            "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                            "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>"};
    for (int i = 1; i <= 3; ++i) {
        offsets[static_cast<std::size_t>(i)] = static_cast<std::int64_t>(out.size());
        out += num(i) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    std::string data(static_cast<std::size_t>(entries), '\0');
    for (int i = 1; i <= 3; ++i)
        data[static_cast<std::size_t>(i)] = static_cast<char>(offsets[static_cast<std::size_t>(i)]);
    const std::string packed = Deflate(data);
    const std::int64_t xref = static_cast<std::int64_t>(out.size());
    out += "4 0 obj\n<< /Type /XRef /Size " + num(entries) + " /W [0 1 0] /Index [0 " +
           num(entries) + "] /Root 1 0 R /Filter /FlateDecode /Length " + num(packed.size()) +
           " >>\nstream\n" + packed + "\nendstream\nendobj\nstartxref\n" + num(xref) + "\n%%EOF\n";
    return out;
}

// A classic table whose `entries` extra entries all name the offset of one big stream.
std::string sharedOffset(std::int64_t entries, std::int64_t streamBytes) {
    std::string out = "%PDF-1.4\n";
    std::vector<std::int64_t> offsets;
    auto add = [&](const std::string& body) {
        offsets.push_back(static_cast<std::int64_t>(out.size()));
        out += num(static_cast<std::int64_t>(offsets.size())) + " 0 obj\n" + body + "\nendobj\n";
    };
    add("<< /Type /Catalog /Pages 2 0 R >>");
    add("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    add("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R >>");
    add("<< /Length " + num(streamBytes) + " >>\nstream\n" +
        std::string(static_cast<std::size_t>(streamBytes), 'x') + "\nendstream");
    const std::int64_t xref = static_cast<std::int64_t>(out.size());
    const std::int64_t size = 5 + entries;
    out += "xref\n0 " + num(size) + "\n0000000000 65535 f\r\n";
    char line[32];
    for (std::int64_t i = 1; i < size; ++i) {
        const std::int64_t o = offsets[static_cast<std::size_t>(std::min<std::int64_t>(i, 4) - 1)];
        std::snprintf(line, sizeof line, "%010lld 00000 n\r\n", static_cast<long long>(o));
        out += line;
    }
    out +=
        "trailer\n<< /Size " + num(size) + " /Root 1 0 R >>\nstartxref\n" + num(xref) + "\n%%EOF\n";
    return out;
}

// One page with one uncompressed content stream of the given size.
std::string bigContent(std::int64_t bytes) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] /Contents 4 0 R >>");
    std::string content;
    content.reserve(static_cast<std::size_t>(bytes));
    while (static_cast<std::int64_t>(content.size()) + 40 < bytes)
        content += "BT 72 720 Td (filler text) Tj ET\n";
    w.SetStream(4, "", content);
    return w.Finish();
}

// `sections` cross-reference streams chained by Prev, each claiming Length 2147483647, before
// `padding` bytes at the end of the file.
std::string prevChain(int sections, std::int64_t padding) {
    std::string out = "%PDF-1.5\n";
    const std::int64_t catalog = static_cast<std::int64_t>(out.size());
    out += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    const std::int64_t pages = static_cast<std::int64_t>(out.size());
    out += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
    std::int64_t prev = 0;
    for (int s = 0; s < sections; ++s) {
        std::string data;
        auto entry = [&](int type, std::int64_t offset) {
            data += static_cast<char>(type);
            for (int b = 3; b >= 0; --b)
                data += static_cast<char>((offset >> (8 * b)) & 0xFF);
            data += '\0';
        };
        entry(0, 0);
        entry(1, catalog);
        entry(1, pages);
        const std::int64_t at = static_cast<std::int64_t>(out.size());
        out += "3 0 obj\n<< /Type /XRef /Size 3 /W [1 4 1] /Root 1 0 R";
        if (prev > 0)
            out += " /Prev " + num(prev);
        out += " /Length 2147483647 >>\nstream\n" + data + "\nendstream\nendobj\n";
        prev = at;
    }
    out += std::string(static_cast<std::size_t>(padding), ' ');
    out += "\nstartxref\n" + num(prev) + "\n%%EOF\n";
    return out;
}

// `pages` pages whose dictionaries sit alternately in two object streams padded to `padding`
// decoded bytes each.
std::string alternatingObjectStreams(int pages, std::int64_t padding) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i)
        kids += num(3 + 2 * i) + " 0 R ";
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    for (int i = 0; i < pages; ++i) {
        w.Set(3 + 2 * i, pageBody(2, 4 + 2 * i));
        w.SetStream(4 + 2 * i, "", pageContent(i + 1));
    }
    const int a = w.NextObjNum();
    const int b = a + 1;
    const int padA = a + 2;
    const int padB = a + 3;
    w.Set(padA, "(" + std::string(static_cast<std::size_t>(padding), 'a') + ")");
    w.Set(padB, "(" + std::string(static_cast<std::size_t>(padding), 'b') + ")");
    w.Compress(padA, a);
    w.Compress(padB, b);
    for (int i = 0; i < pages; ++i)
        w.Compress(3 + 2 * i, i % 2 == 0 ? a : b);
    return w.Finish();
}

// Page trees that make a walk pay: `Count` over kids without `Type` (untyped), or empty
// `Pages` nodes between the pages (emptynodes).
std::string awkwardTree(int pages, bool untyped) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    int next = 3;
    for (int i = 0; i < pages; ++i) {
        if (untyped) {
            w.Set(next, "<< /Parent 2 0 R /MediaBox [0 0 300 400] >>");
            kids += num(next++) + " 0 R ";
        } else {
            w.Set(next, "<< /Type /Pages /Count 1 >>"); // claims a page, has no Kids
            kids += num(next++) + " 0 R ";
            w.Set(next, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
            kids += num(next++) + " 0 R ";
        }
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    return w.Finish();
}

// One page under `depth` nested `Pages` nodes.
std::string deepChain(int depth) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    for (int d = 0; d < depth; ++d)
        w.Set(2 + d, "<< /Type /Pages /Kids [" + num(3 + d) + " 0 R] /Count 1 >>");
    w.Set(2 + depth,
          "<< /Type /Page /Parent " + num(1 + depth) + " 0 R /MediaBox [0 0 300 400] >>");
    return w.Finish();
}

// `pages` pages and an object numbered 2147483647.
std::string highestNumber(int pages) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < pages; ++i) {
        w.Set(3 + i, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 400] >>");
        kids += num(3 + i) + " 0 R ";
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    w.Form = tolvane_test::XRefForm::Stream;
    w.Set(2147483647, "null");
    return w.Finish();
}

// Fonts are selected through references only: every document of these kinds has its
// Helvetica as object kFontObj.
constexpr int kFontObj = 999;
const std::string kHelvetica =
    "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>";
const std::string kHelveticaResources = "<< /Font << /F1 999 0 R >> >>";

// A one-page document whose page has the given content (Flate when asked), resources and
// extra objects from 5 on (the content is object 4).
std::string onePage(const std::string& content, const std::string& resources,
                    const std::vector<std::string>& extra = {}, bool compress = true,
                    const std::string& pageExtra = "") {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources " +
                 resources + pageExtra + " >>");
    if (compress)
        w.SetStream(4, "/Filter /FlateDecode", Deflate(content));
    else
        w.SetStream(4, "", content);
    for (std::size_t i = 0; i < extra.size(); ++i)
        if (!extra[i].empty())
            w.Set(5 + static_cast<int>(i), extra[i]);
    w.Set(kFontObj, kHelvetica);
    return w.Finish();
}

// `count` saves of the graphics state, then text.
std::string saveFlood(std::int64_t count) {
    std::string content;
    content.reserve(static_cast<std::size_t>(count) * 2 + 64);
    for (std::int64_t i = 0; i < count; ++i)
        content += "q\n";
    content += "BT /F1 12 Tf 72 720 Td (after the saves) Tj ET\n";
    return onePage(content, kHelveticaResources);
}

// A content stream that inflates to `bytes` of text showing: the compressed data is written
// chunk by chunk, so making it costs time but no memory.
std::string inflateBomb(std::int64_t bytes) {
    std::string chunk;
    while (chunk.size() < (1u << 20))
        chunk += "BT /F1 12 Tf 72 720 Td (inflated) Tj ET\n";
    z_stream z{};
    deflateInit(&z, 9);
    std::string packed;
    char buffer[1 << 16];
    for (std::int64_t written = 0; written < bytes;) {
        const std::int64_t take = std::min<std::int64_t>(bytes - written, chunk.size());
        written += take;
        z.next_in = reinterpret_cast<Bytef*>(chunk.data());
        z.avail_in = static_cast<uInt>(take);
        const int flush = written >= bytes ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            packed.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(2, "<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    w.Set(3, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R /Resources " +
                 kHelveticaResources + " >>");
    w.SetStream(4, "/Filter /FlateDecode", packed);
    w.Set(kFontObj, kHelvetica);
    return w.Finish();
}

// One TJ array of `elements` elements: one-letter strings kept apart by adjustments, so that
// every string begins a block of its own.
std::string bigArray(std::int64_t elements) {
    std::string content = "BT /F1 12 Tf 72 720 Td [";
    for (std::int64_t i = 0; i < elements; i += 2)
        content += "(a)-2000";
    content += "] TJ ET\n";
    return onePage(content, kHelveticaResources);
}

// `levels` levels of forms, each drawing the next `fanout` times; the last shows text.
std::string formFan(std::int64_t levels, int fanout = 10) {
    std::vector<std::string> extra;
    const int first = 5;
    for (int level = 0; level < levels; ++level) {
        const int obj = first + level;
        std::string content;
        const bool last = level + 1 == levels;
        for (int i = 0; i < fanout; ++i)
            content += last ? "BT /F1 12 Tf 72 720 Td (leaf) Tj ET\n" : "/X Do\n";
        const std::string resources =
            last ? kHelveticaResources : "<< /XObject << /X " + num(obj + 1) + " 0 R >> >>";
        extra.push_back("<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources " +
                        resources + " /Length " + num(content.size()) + " >>\nstream\n" + content +
                        "\nendstream");
    }
    return onePage("/X Do\n", "<< /XObject << /X 5 0 R >> >>", extra);
}

// A form that draws itself and another that draws the first through a third, plus a widget
// whose appearance draws itself.
std::string selfDrawing(std::int64_t) {
    const std::string selfContent = "BT /F1 12 Tf 72 720 Td (self) Tj ET /Me Do /Other Do\n";
    const std::string appearance = "BT /F1 12 Tf 0 0 Td (widget) Tj ET /Me Do\n";
    std::vector<std::string> extra = {
        // 5: draws itself (as /Me) and 6 (as /Other)
        "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /Font << /F1 999 0 R "
        ">> /XObject << /Me 5 0 R /Other 6 "
        "0 R >> >> /Length " +
            num(selfContent.size()) + " >>\nstream\n" + selfContent + "\nendstream",
        // 6: draws 5
        "<< /Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources << /XObject << /Me 5 0 "
        "R >> >> /Length 7 >>\nstream\n/Me Do\n\nendstream",
        // 7: the widget, 8: its appearance drawing itself
        "<< /Type /Annot /Subtype /Widget /Rect [10 10 100 30] /AP << /N 8 0 R >> >>",
        "<< /Type /XObject /Subtype /Form /BBox [0 0 90 20] /Resources << /Font << /F1 999 0 R >> "
        "/XObject << /Me 8 0 R >> >> /Length " +
            num(appearance.size()) + " >>\nstream\n" + appearance + "\nendstream",
    };
    return onePage("/X Do\n", "<< /XObject << /X 5 0 R >> >>", extra, true, " /Annots [7 0 R]");
}

// Fonts that lie: a Type0 font that is its own descendant, a TrueType program whose directory
// claims 65 535 tables at huge offsets, a CFF program whose INDEX claims 65 535 items, and a
// ToUnicode map of `ranges` full ranges.
std::string lyingFonts(std::int64_t ranges) {
    std::string cmap = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                       "1 begincodespacerange <0000> <FFFF> endcodespacerange\n";
    for (std::int64_t i = 0; i < ranges; ++i)
        cmap += "1 beginbfrange <0000> <FFFF> <0041> endbfrange\n";
    cmap += "endcmap end end\n";
    std::string sfnt;
    Put32(sfnt, 0x00010000);
    Put16(sfnt, 65535);
    Put16(sfnt, 0);
    Put16(sfnt, 0);
    Put16(sfnt, 0);
    for (const char* tag : {"head", "hmtx", "hhea", "cmap", "post", "maxp"}) {
        sfnt += tag;
        Put32(sfnt, 0);
        Put32(sfnt, 0x7FFFFFF0);
        Put32(sfnt, 0x7FFFFFF0);
    }
    std::string cff = "\x01\x00\x04\x01";
    Put16(cff, 65535);
    cff += '\x04';
    Put32(cff, 1);
    Put32(cff, 0x7FFFFFF0);
    std::string content = "BT /T0 12 Tf 72 720 Td <0041004200430044> Tj ET\n"
                          "BT /TT 12 Tf 72 700 Td (TrueType) Tj ET\n"
                          "BT /C1 12 Tf 72 680 Td (Compact) Tj ET\n";
    content += "BT /U 12 Tf 72 660 Td <";
    for (int i = 0; i < 4096; ++i)
        content += "0041";
    content += "> Tj ET\n";
    std::vector<std::string> extra = {
        // 5: Type0 whose descendant is itself
        "<< /Type /Font /Subtype /Type0 /BaseFont /Loop /Encoding /Identity-H "
        "/DescendantFonts [5 0 R] >>",
        "<< /Length " + num(sfnt.size()) + " >>\nstream\n" + sfnt + "\nendstream", // 6
        "<< /Type /Font /Subtype /TrueType /BaseFont /Liar /FirstChar 32 /LastChar 126 "
        "/FontDescriptor 8 0 R >>",                                               // 7
        "<< /Type /FontDescriptor /FontName /Liar /Flags 32 /FontFile2 6 0 R >>", // 8
        "<< /Length " + num(cff.size()) + " /Subtype /Type1C >>\nstream\n" + cff +
            "\nendstream",                                                             // 9
        "<< /Type /Font /Subtype /Type1 /BaseFont /CffLiar /FontDescriptor 11 0 R >>", // 10
        "<< /Type /FontDescriptor /FontName /CffLiar /Flags 32 /FontFile3 9 0 R >>",   // 11
        "<< /Length " + num(cmap.size()) + " >>\nstream\n" + cmap + "\nendstream",     // 12
        "<< /Type /Font /Subtype /Type0 /BaseFont /Mapped /Encoding /Identity-H "
        "/DescendantFonts [14 0 R] /ToUnicode 12 0 R >>", // 13
        "<< /Type /Font /Subtype /CIDFontType2 /BaseFont /Mapped /CIDSystemInfo << /Registry "
        "(Adobe) /Ordering (Identity) /Supplement 0 >> /DW 500 >>", // 14
    };
    return onePage(content, "<< /Font << /T0 5 0 R /TT 7 0 R /C1 10 0 R /U 13 0 R >> >>", extra);
}

// A long book: pages of 46 lines of kerned text in two fonts, with a running header.
std::string book(int pages) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    w.Set(3, "<< /Font << /F1 " + num(4 + 2 * pages) + " 0 R /F2 " + num(5 + 2 * pages) +
                 " 0 R >> >>");
    w.Set(4 + 2 * pages, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Roman /Encoding "
                         "/WinAnsiEncoding >>");
    w.Set(5 + 2 * pages, "<< /Type /Font /Subtype /Type1 /BaseFont /Times-Bold /Encoding "
                         "/WinAnsiEncoding >>");
    static const char* const kWords[] = {
        "the",     "quick",    "brown",    "fox",  "jumps",      "over", "lazy",  "dog", "while",
        "reading", "portable", "document", "text", "extraction", "of",   "pages", "and", "lines"};
    std::string kids;
    std::uint32_t seed = 12345;
    const auto nextWord = [&] {
        seed = seed * 1103515245u + 12345u;
        return kWords[(seed >> 16) % (sizeof kWords / sizeof *kWords)];
    };
    for (int p = 0; p < pages; ++p) {
        const int page = 4 + 2 * p;
        kids += num(page) + " 0 R ";
        std::string content = "BT /F2 10 Tf 72 750 Td (Chapter " + num(p / 20 + 1) +
                              ") Tj 400 0 Td (Page " + num(p + 1) + ") Tj ET\n";
        content += "BT /F1 11 Tf 13 TL 72 720 Td\n";
        for (int line = 0; line < 46; ++line) {
            content += "[(";
            for (int k = 0; k < 12; ++k) {
                if (k)
                    content += k % 4 == 0 ? ") -120 (" : " ";
                content += nextWord();
            }
            content += ")] TJ T*\n";
        }
        content += "ET\n";
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources 3 0 R "
                    "/Contents " +
                        num(page + 1) + " 0 R >>");
        w.SetStream(page + 1, "/Filter /FlateDecode", Deflate(content));
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    return w.Finish();
}

// A document of many fonts: every page shows its line in a font object of its own (a simple
// font with Differences, Widths and a ToUnicode map, 3 objects a page), so that kept font
// records must stay within their bound.
std::string fontPages(int pages) {
    PdfWriter w;
    w.RootObj = 1;
    w.Set(1, "<< /Type /Catalog /Pages 2 0 R >>");
    const std::string toUnicode = "/CIDInit /ProcSet findresource begin 12 dict begin begincmap\n"
                                  "1 begincodespacerange <00> <FF> endcodespacerange\n"
                                  "1 beginbfrange <20> <7E> <0020> endbfrange\nendcmap end end\n";
    std::string widths;
    for (int c = 32; c <= 126; ++c)
        widths += num(300 + c) + " ";
    std::string kids;
    for (int p = 0; p < pages; ++p) {
        const int page = 3 + 5 * p;
        kids += num(page) + " 0 R ";
        w.Set(page, "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Font "
                    "<< /F1 " +
                        num(page + 2) + " 0 R >> >> /Contents " + num(page + 1) + " 0 R >>");
        w.SetStream(page + 1, "",
                    "BT /F1 11 Tf 72 720 Td (Page " + num(p + 1) +
                        " in a font of its own) Tj ET\n");
        w.Set(page + 2, "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding << "
                        "/Differences [40 /parenleft /parenright] >> /FirstChar 32 /LastChar 126 "
                        "/Widths " +
                            num(page + 3) + " 0 R /ToUnicode " + num(page + 4) + " 0 R >>");
        w.Set(page + 3, "[" + widths + "]");
        w.SetStream(page + 4, "", toUnicode);
    }
    w.Set(2, "<< /Type /Pages /Kids [" + kids + "] /Count " + num(pages) + " >>");
    return w.Finish();
}

} // namespace

int main(int argc, char** argv) {
    const std::map<std::string, std::function<std::string(std::int64_t)>> kinds = {
        {"flat", [](std::int64_t n) { return tree(static_cast<int>(n ? n : 20000), 0); }},
        {"tree10", [](std::int64_t n) { return tree(static_cast<int>(n ? n : 20000), 10); }},
        {"flood", [](std::int64_t n) { return flood(n ? n : std::int64_t{50} << 20); }},
        {"onebyte", [](std::int64_t n) { return oneByteEntries(n ? n : std::int64_t{32} << 20); }},
        {"sharedoffset",
         [](std::int64_t n) { return sharedOffset(n ? n : 20000, std::int64_t{20} << 20); }},
        {"bigcontent", [](std::int64_t n) { return bigContent(n ? n : std::int64_t{200} << 20); }},
        {"prevchain",
         [](std::int64_t n) { return prevChain(static_cast<int>(n ? n : 2000), 10 << 20); }},
        {"objstm2",
         [](std::int64_t n) {
             return alternatingObjectStreams(static_cast<int>(n ? n : 200), 40 << 20);
         }},
        {"untyped",
         [](std::int64_t n) { return awkwardTree(static_cast<int>(n ? n : 20000), true); }},
        {"emptynodes",
         [](std::int64_t n) { return awkwardTree(static_cast<int>(n ? n : 20000), false); }},
        {"deep", [](std::int64_t n) { return deepChain(static_cast<int>(n ? n : 3000)); }},
        {"highest", [](std::int64_t n) { return highestNumber(static_cast<int>(n ? n : 40000)); }},
        {"saves", [](std::int64_t n) { return saveFlood(n ? n : 5000000); }},
        {"inflate", [](std::int64_t n) { return inflateBomb(n ? n : std::int64_t{4} << 30); }},
        {"bigarray", [](std::int64_t n) { return bigArray(n ? n : 2000000); }},
        {"formfan", [](std::int64_t n) { return formFan(n ? n : 10); }},
        {"selfdraw", selfDrawing},
        {"lyingfonts", [](std::int64_t n) { return lyingFonts(n ? n : 100); }},
        {"book", [](std::int64_t n) { return book(static_cast<int>(n ? n : 2000)); }},
        {"fontpages", [](std::int64_t n) { return fontPages(static_cast<int>(n ? n : 20000)); }},
    };
    if (argc == 2 && std::string(argv[1]) == "list") {
        for (const auto& [name, fn] : kinds)
            std::cout << name << '\n';
        return 0;
    }
    if (argc < 3 || !kinds.count(argv[1])) {
        std::cerr << "usage: make_bench_pdfs KIND OUTPUT.pdf [N]   (make_bench_pdfs list)\n";
        return 2;
    }
    const std::int64_t n = argc > 3 ? std::atoll(argv[3]) : 0;
    std::ofstream(argv[2], std::ios::binary) << kinds.at(argv[1])(n);
    return 0;
}
