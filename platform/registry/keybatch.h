// Whole-key reads and writes, for tools that export and import keys.
#pragma once

#include <vector>

#include "platform/registry/regfile.h"
#include "platform/registry/registry.h"

namespace qv::reg {

// Reads every value of an open key (KEY_QUERY_VALUE) in one snapshot;
// `section->path` is the key's name as first written.
LSTATUS ReadKey(HKEY key, RegSection* section);

// Sets the given values and removes those marked `remove` (absent ones are
// ignored) in one atomic replace of the key (KEY_SET_VALUE): either all
// changes are made or none.
LSTATUS ApplyValues(HKEY key, const std::vector<RegValue>& values);

}  // namespace qv::reg
