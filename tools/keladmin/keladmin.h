// The token store administrator's commands.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace keladmin {

// Runs one command line (without the program name). Output goes to `out`,
// messages to `err`. 0 success, 1 bad input or failure (nothing changed), 2 usage.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err);

extern const char kHelp[];

}  // namespace keladmin
