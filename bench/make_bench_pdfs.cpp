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

#include "support/PdfWriter.h"

using tolvane_test::Deflate;
using tolvane_test::PdfWriter;

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
