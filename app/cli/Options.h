#pragma once
// Options several commands share, so they read and explain them alike.

#include <string>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace tolvane_cli {

// --encoding into `name`: utf-8 or cp1252 in any letter case and their common spellings
// (tolvane::EncodingFromName). Its default is what `name` holds.
CLI::Option* AddEncodingOption(CLI::App& command, std::string& name, const std::string& help);

} // namespace tolvane_cli
