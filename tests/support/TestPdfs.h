#pragma once
// Whole test documents for the batch command and the Python module: pages of text, encrypted
// ones, one under an unknown security handler, a damaged one, and one that costs far more time
// and memory than its size (forms drawing forms).

#include <string>
#include <vector>

namespace tolvane_test {

// One page per line of text, each line in Helvetica at the top left of a Letter page.
std::string TextPdf(const std::vector<std::string>& pageLines);
// The same, RC4-encrypted (128-bit) with a user password.
std::string EncryptedTextPdf(const std::vector<std::string>& pageLines,
                             const std::string& userPassword);
// A document whose Encrypt dictionary names a security handler the engine does not know.
std::string UnknownHandlerPdf();
// Bytes that begin like a PDF file and break off.
std::string DamagedPdf();
// A page drawing a form that draws the next ten times, `levels` deep, the last showing text:
// 10^(levels - 1) text blocks from a file of a few KB; `pages` pages draw it alike.
std::string FormFanPdf(int levels, int pages = 1);

} // namespace tolvane_test
