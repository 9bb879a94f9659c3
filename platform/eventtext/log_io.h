// Output helpers shared by traces and events.
#pragma once

#include <string>
#include <string_view>

namespace qv::eventtext {

// Now as "YYYY-MM-DDThh:mm:ss.mmmZ".
std::string IsoTimeNow();

// The running program's short name.
const char* ProgramName();

// Opens `path` for appending (creating it and its directory, mode 0640);
// -1 on failure.
int OpenAppend(const std::string& dir, const std::string& path);

// Writes `line` with one write call (continuing only after a short write).
bool WriteWhole(int fd, std::string_view line);

}  // namespace qv::eventtext
