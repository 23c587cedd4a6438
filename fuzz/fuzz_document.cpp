// Fuzzes loading a whole document and walking its pages (filled in with the document layer).
#include "FuzzTargets.h"

int tolvane_fuzz::FuzzDocument(const std::uint8_t*, std::size_t) { return 0; }

TOLVANE_FUZZ_ENTRY(FuzzDocument)
