// The record of the scripted back end: one JSON object per line, appended
// with one write so that several processes can share the file.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ui/ui.h"

namespace qv::ui::internal {

// `source`: "script" (answered by a script line), "default" (a box answered
// with its default button), "unscripted" (no matching line: timed out).
std::string BoxRecord(const std::string& caption, const std::string& text, uint32_t style,
                      uint32_t timeoutSeconds, int answer, const char* source);

// Secret field values and secret texts are masked.
std::string DialogRecord(const Dialog& dialog, int answer, const char* source);

// Appends `line` and a line break; false when the file cannot be written.
bool AppendRecordLine(const std::string& path, const std::string& line);

// The mask shown for a non-empty secret.
inline constexpr const char* kMasked = "********";

}  // namespace qv::ui::internal
