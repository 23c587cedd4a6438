#pragma once
// Where the command line takes a password from, so that scripts need not put it on the command
// line, where every user of the machine sees it in the process list: --password PW,
// --password-file FILE (its first line; "-" for standard input) or the TOLVANE_PASSWORD
// environment variable, in that order. And the prompt on a terminal, which hides what is typed
// and gives the terminal back as it was on every way out (Enter, end of input, Ctrl-C, a kill).

#include <optional>
#include <string>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace tolvane_cli {

struct TPasswordArgs {
    std::string Password;
    std::string File;
    CLI::Option* PasswordOption = nullptr;
    CLI::Option* FileOption = nullptr;
};

// Adds --password and --password-file (which exclude each other) to `command`.
void AddPasswordOptions(CLI::App& command, TPasswordArgs& args, const std::string& passwordHelp);

// The password the options or the environment give, nullopt when none does. Throws
// std::runtime_error with a message naming the file when the password file cannot be read.
std::optional<std::string> ResolvePassword(const TPasswordArgs& args);
// True when the password comes from standard input (--password-file -).
bool PasswordReadsStdin(const TPasswordArgs& args);

// Writes `prompt` and a space to stderr and reads a line from standard input with echo off
// when it is a terminal; nullopt at end of input.
std::optional<std::string> ReadHidden(const std::string& prompt);

} // namespace tolvane_cli
