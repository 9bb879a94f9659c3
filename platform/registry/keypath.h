// Key paths: splitting, validation and the mapping of key names to directory
// names. Pure text handling.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qv::reg {

inline constexpr char kRootName[] = "HKEY_LOCAL_MACHINE";

// Splits a backslash-separated path; empty components (leading, trailing or
// doubled backslashes) are skipped. False when a component is too long or
// holds a control character.
bool SplitKeyPath(std::string_view path, std::vector<std::string>* parts);

// Joins components with backslashes.
std::string JoinKeyPath(const std::vector<std::string>& parts);

// The directory name of a key component: ASCII lower-cased, with '%', '/',
// '@' and a leading '.' written as %XX so that it is a single, plain
// directory entry that never starts with '@' (reserved for the key's own
// files). Empty when the encoded name would be too long for a directory
// entry.
std::string EncodeComponent(std::string_view name);

// Reverses the %XX escapes of EncodeComponent (the case is not restored).
std::string DecodeComponent(std::string_view dir);

// Accepts "HKEY_LOCAL_MACHINE\\rest", "HKLM\\rest" or the bare root name
// and stores the part after the root. False when the path names another root.
bool StripRootName(std::string_view full, std::string_view* rest);

}  // namespace qv::reg
