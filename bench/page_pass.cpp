// A pass over every page of a document as the text layers will make it: select the page, read
// every content stream's decoded data. Prints, at each quarter of the pass, the live values of
// the store, the slots and the resident memory, so growth per page visited shows. With an
// option, the pass goes through the facade instead and asks every page's text for it (one
// process, one call per page, as `page-text` does), for memory profilers.
// Usage: page_pass FILE.pdf [OPTION]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "document/uPDFDocument.h"
#include "facade/uKorvel.h"
#include "pages/uPDFPageTree.h"

namespace {

long peakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long currentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

int facadePass(const char* fileName, int option) {
    korvel::TKorvel engine;
    if (!engine.LoadFromFile(fileName)) {
        std::fprintf(stderr, "cannot load %s\n", fileName);
        return 2;
    }
    const int pages = engine.PageCount();
    std::size_t textBytes = 0;
    for (int i = 1; i <= pages; ++i)
        if (engine.SelectPage(i))
            textBytes += engine.GetPageText(option).size();
    std::printf("pages %d, text bytes %zu, rss %ld KiB, peak %ld KiB\n", pages, textBytes,
                currentKiB(), peakKiB());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: page_pass FILE.pdf [OPTION]\n");
        return 2;
    }
    if (argc == 3)
        return facadePass(argv[1], std::atoi(argv[2]));
    std::ifstream in(argv[1], std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    korvel::TPDFDocument doc;
    if (!doc.LoadFromBytes(std::move(bytes))) {
        std::fprintf(stderr, "cannot load %s\n", argv[1]);
        return 2;
    }
    korvel::TPDFPageTree& tree = doc.PageTree();
    const int pages = tree.PageCount();
    std::size_t contentBytes = 0;
    std::printf("%8s %10s %8s %10s %10s\n", "pages", "values", "slots", "rss KiB", "peak KiB");
    for (int i = 1; i <= pages; ++i) {
        tree.SelectPage(i);
        const int streams = static_cast<int>(tree.ContentStreams().size());
        for (int s = 1; s <= streams; ++s) {
            tree.SetStreamCursor(s);
            contentBytes += tree.ContentData().size();
        }
        if (i % (pages / 4 > 0 ? pages / 4 : 1) == 0 || i == pages)
            std::printf("%8d %10d %8zu %10ld %10ld\n", i, doc.Store().ObjectCount(),
                        doc.IndirectObjects().size(), currentKiB(), peakKiB());
    }
    std::printf("content bytes read: %zu\n", contentBytes);
    return 0;
}
