#include "Password.h"

#include <CLI/CLI.hpp>

#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>

namespace tolvane_cli {

namespace {

// A password file is one line; more than this is not a password file.
constexpr std::size_t kMaxPasswordBytes = 64 * 1024;

std::string firstLine(std::istream& in) {
    std::string line;
    for (int c = in.get(); c != EOF && c != '\n'; c = in.get()) {
        if (line.size() >= kMaxPasswordBytes)
            throw std::runtime_error("its first line is longer than a password");
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

// The terminal's settings while a prompt hides input, for the handler below.
termios gSavedTerminal{};
volatile std::sig_atomic_t gTerminalHidden = 0;
constexpr int kRestoredSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restoreTerminalAndRaise(int signal) {
    if (gTerminalHidden != 0) {
        ::tcsetattr(0, TCSANOW, &gSavedTerminal);
        gTerminalHidden = 0;
        const char newline = '\n';
        [[maybe_unused]] const ssize_t ignored = ::write(2, &newline, 1);
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Echo off for its lifetime; the terminal and the signal handlers come back as they were
// however the prompt ends.
class THiddenInput {
public:
    THiddenInput() {
        if (::tcgetattr(0, &gSavedTerminal) != 0)
            return;
        struct sigaction action {};
        action.sa_handler = restoreTerminalAndRaise;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i)
            sigaction(kRestoredSignals[i], &action, &FPrevious[i]);
        termios hidden = gSavedTerminal;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        gTerminalHidden = 1;
        ::tcsetattr(0, TCSAFLUSH, &hidden);
        FActive = true;
    }
    ~THiddenInput() {
        if (!FActive)
            return;
        ::tcsetattr(0, TCSAFLUSH, &gSavedTerminal);
        gTerminalHidden = 0;
        for (std::size_t i = 0; i < std::size(kRestoredSignals); ++i)
            sigaction(kRestoredSignals[i], &FPrevious[i], nullptr);
    }
    THiddenInput(const THiddenInput&) = delete;
    THiddenInput& operator=(const THiddenInput&) = delete;

private:
    bool FActive = false;
    struct sigaction FPrevious[std::size(kRestoredSignals)]{};
};

} // namespace

void AddPasswordOptions(CLI::App& command, TPasswordArgs& args, const std::string& passwordHelp) {
    args.PasswordOption = command.add_option("--password", args.Password, passwordHelp);
    args.FileOption = command.add_option(
        "--password-file", args.File,
        "Read the password from the first line of FILE (- for stdin); for scripts, as is the "
        "TOLVANE_PASSWORD environment variable: a password on the command line is seen by "
        "every user in the process list");
    args.FileOption->type_name("FILE");
    args.FileOption->excludes(args.PasswordOption);
}

bool PasswordReadsStdin(const TPasswordArgs& args) {
    return args.FileOption && args.FileOption->count() > 0 && args.File == "-";
}

std::optional<std::string> ResolvePassword(const TPasswordArgs& args) {
    if (args.PasswordOption && args.PasswordOption->count() > 0)
        return args.Password;
    if (args.FileOption && args.FileOption->count() > 0) {
        try {
            if (args.File == "-")
                return firstLine(std::cin);
            std::ifstream in(args.File, std::ios::binary);
            if (!in)
                throw std::runtime_error("it can not be read");
            return firstLine(in);
        } catch (const std::runtime_error& e) {
            throw std::runtime_error("--password-file " + args.File + ": " + e.what());
        }
    }
    if (const char* fromEnvironment = std::getenv("TOLVANE_PASSWORD"))
        return std::string(fromEnvironment);
    return std::nullopt;
}

std::optional<std::string> ReadHidden(const std::string& prompt) {
    std::string line;
    bool got = false;
    {
        const THiddenInput hidden; // before the prompt, so nothing typed after it is echoed
        std::fputs((prompt + " ").c_str(), stderr);
        std::fflush(stderr);
        for (int c = std::fgetc(stdin); c != EOF; c = std::fgetc(stdin)) {
            got = true;
            if (c == '\n')
                break;
            line += static_cast<char>(c);
        }
    }
    std::fputs("\n", stderr);
    if (!got)
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace tolvane_cli
