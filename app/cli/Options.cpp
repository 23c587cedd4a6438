#include "Options.h"

#include <CLI/CLI.hpp>

#include "Names.h"

namespace tolvane_cli {

CLI::Option* AddEncodingOption(CLI::App& command, std::string& name, const std::string& help) {
    const CLI::Validator check(
        [](const std::string& value) {
            return tolvane::EncodingFromName(value)
                       ? std::string()
                       : "expected " + std::string(tolvane::kEncodingNames) + ", not " + value;
        },
        "ENCODING");
    return command.add_option("--encoding", name, help)->check(check)->capture_default_str();
}

} // namespace tolvane_cli
