// The buttons of a message-box style.
#pragma once

#include <cstdint>
#include <vector>

namespace qv::ui::internal {

// The buttons in order, e.g. {kIdYes, kIdNo}.
std::vector<int> BoxButtons(uint32_t style);

// The button that Return chooses.
int BoxDefaultButton(uint32_t style);

// The button text as shown ("OK", "Yes", ...).
const char* ButtonText(int id);

}  // namespace qv::ui::internal
