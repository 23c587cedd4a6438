// Replays every file of the fuzz corpus folders through the fuzz entry points, so crashes found
// earlier stay fixed in the normal (and sanitizer) test build without libFuzzer.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzTargets.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: fuzz_replay CORPUS_DIR\n");
        return 2;
    }
    struct Target {
        const char* folder;
        int (*fn)(const std::uint8_t*, std::size_t);
    };
    const Target targets[] = {{"parse", tolvane_fuzz::FuzzParse},
                              {"decode", tolvane_fuzz::FuzzDecode},
                              {"document", tolvane_fuzz::FuzzDocument},
                              {"document_repair", tolvane_fuzz::FuzzDocumentRepair},
                              {"fonts", tolvane_fuzz::FuzzFonts}};
    int files = 0;
    for (const Target& t : targets) {
        const fs::path dir = fs::path(argv[1]) / t.folder;
        if (!fs::is_directory(dir))
            continue;
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (!entry.is_regular_file())
                continue;
            std::ifstream in(entry.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
            t.fn(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
            ++files;
        }
    }
    std::printf("replayed %d files\n", files);
    return 0;
}
