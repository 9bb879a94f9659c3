// The registry's text format: sections of values, as stored in key files and
// exchanged by export and import.
//
//   ; comment
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Tavrik\QVNetwork]
//   "Port"=dword:0000092e
//   "Name"="text with \"quotes\" and \\ backslashes"
//   @="the key's default value"
//   "Blob"=hex:01,02,ff
//   "Path"=hex(2):25,54,4d,50,25,00        expandable string, NUL included
//   "List"=hex(7):61,00,62,00,00           multi-string
//   "Gone"=-                               (import) delete the value
//   [-HKEY_LOCAL_MACHINE\SOFTWARE\Old]     (import) delete the key
//
// Long hex lists may continue on the next line after a trailing backslash.
// Pure text handling: no file or system access.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qv::reg {

struct RegValue {
  std::string name;  // "" for the default value
  uint32_t type = 0;
  std::string data;  // raw bytes
  bool remove = false;
};

struct RegSection {
  std::string path;  // as written, e.g. "HKEY_LOCAL_MACHINE\\SOFTWARE\\X"
  bool remove = false;
  std::vector<RegValue> values;
};

// Largest text accepted by the parser (bytes).
inline constexpr size_t kMaxRegTextSize = 64u << 20;

// Parses a whole text. On failure returns false and sets `error` to a
// message naming the line; `out` is then unspecified.
bool ParseRegText(std::string_view text, std::vector<RegSection>* out, std::string* error);

// Formats one section (header and values, no comment) followed by a blank
// line. Values a quoted string cannot carry exactly are written as hex(N).
std::string FormatSection(const RegSection& section);

// One value's right-hand side, e.g. dword:0000092e.
std::string FormatData(uint32_t type, std::string_view data);

// Appends data as comma-separated lowercase hex byte pairs ("0a,ff").
void AppendHexBytes(std::string* out, std::string_view data);

// ASCII case-insensitive equality, as used for key and value names.
bool NamesEqual(std::string_view a, std::string_view b);

// Index of the value named `name` (case-insensitive), or -1.
long FindValue(const std::vector<RegValue>& values, std::string_view name);

}  // namespace qv::reg
