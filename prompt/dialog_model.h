// Finding the controls of a dialog description by id.
#pragma once

#include "platform/ui/ui.h"

namespace qv::prompt {

template <typename T>
T* FindById(std::vector<T>& controls, int id) {
  for (T& c : controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

// The value of the chosen item, or `none` when nothing is chosen.
inline int SelectedValue(const ui::Choice& choice, int none) {
  if (choice.selected < 0 || static_cast<size_t>(choice.selected) >= choice.items.size()) {
    return none;
  }
  return choice.items[choice.selected].value;
}

inline void SelectValue(ui::Choice& choice, int value) {
  choice.selected = -1;
  for (size_t i = 0; i < choice.items.size(); ++i) {
    if (choice.items[i].value == value) choice.selected = static_cast<int>(i);
  }
}

}  // namespace qv::prompt
