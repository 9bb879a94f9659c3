// The qvcert commands, callable in-process (tests) and from main.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace qv::qvcert {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Reads a pass phrase for `prompt`; false when none can be had.
using PassPrompt = bool (*)(const std::string& prompt, bool confirm, std::string* phrase);

// Runs one command line (without the program name).
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, PassPrompt prompt);

extern const char kHelp[];

}  // namespace qv::qvcert
