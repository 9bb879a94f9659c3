// How object names become file and POSIX names.
#pragma once

#include <string>
#include <string_view>

namespace qv::kobj::internal {

// Longest encoded name kept as it is; longer ones are shortened and tagged
// with a hash of the whole name.
inline constexpr std::size_t kMaxEncodedName = 160;

// Keeps [A-Za-z0-9._-], writes every other byte as %XX (so distinct names
// stay distinct), and never returns more than kMaxEncodedName + 17 bytes.
// Empty for an empty name.
std::string EncodeName(std::string_view name);

// <RunDir()>/kobj
std::string ObjectDir();

// <ObjectDir()>/<kind>.<encoded>
std::string ControlPath(std::string_view kind, const std::string& encoded);

// NamePrefix() + "shm." + <encoded>
std::string SegmentName(const std::string& encoded);

}  // namespace qv::kobj::internal
