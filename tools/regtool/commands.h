// The regtool commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qv::regtool {

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 1;     // bad command line or bad input
inline constexpr int kExitNotFound = 2;  // key or value missing
inline constexpr int kExitDenied = 3;    // access denied
inline constexpr int kExitFailed = 4;    // any other failure

// Runs one command: args[0] is the command name. Messages go to `err`.
int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace qv::regtool
