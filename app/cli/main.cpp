// tolvane-text: the command line of the extractor (placeholder until the facade is wired).
#include <cstdio>

int main() {
    std::fputs("tolvane-text: not built yet\n", stderr);
    return 2;
}
