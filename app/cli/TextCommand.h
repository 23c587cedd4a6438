#pragma once
// tolvane-text text: the text of PDF files for scripts, with the conventions of the text tools
// Linux users already script: UTF-8, LF line ends, a form feed after every page, no header or
// footer unless asked, standard input and output by "-", silent on success, a message and a
// non-zero exit on every failure (1 usage, 2 not loadable or encryption unsupported, 3
// password, 4 the run failed), nothing written for a file that fails. Its output is never
// derived from the input's name unless a folder is given, so no input is overwritten.

#include <string>
#include <vector>

#include "Password.h"

namespace CLI {
class App;
}

namespace tolvane_cli {

struct TTextOptions {
    std::vector<std::string> Files; // inputs, and perhaps the output (see RunText)
    std::string Out;                // -o: a file, "-", or a folder (ending in "/" or existing)
    std::string Pages;              // "1-3,7,10-"; empty for every page
    std::string Filter = "all";
    std::string Layout = "reading";
    std::string Encoding = "utf-8";
    bool NoPageBreaks = false;
    std::string Header;
    std::string Footer;
    bool Repair = false; // accepted: text always reads damaged files leniently
    bool Verbose = false;
    bool Words = false; // a TSV line per word with its box instead of the text
    bool Json = false;  // a JSON object per page: its reading text and its words with boxes
    TPasswordArgs Password;
};

// Adds the `text` subcommand to `app`, filling `options` when it is parsed.
CLI::App* AddTextCommand(CLI::App& app, TTextOptions& options);
int RunText(const TTextOptions& options);

} // namespace tolvane_cli
