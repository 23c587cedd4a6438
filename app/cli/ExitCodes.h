#pragma once
// The exit codes every command of tolvane-text shares, and how often a terminal is asked for a
// password.

namespace tolvane_cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitLoad = 2;      // not loadable, or its encryption unsupported
inline constexpr int kExitPassword = 3;  // a password missing or wrong
inline constexpr int kExitRunFailed = 4; // the run failed; nothing written
inline constexpr int kExitStopped = 130; // ended by Ctrl-C after the page it was on
inline constexpr int kPasswordAttempts = 3;

} // namespace tolvane_cli
