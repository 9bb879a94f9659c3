#include "prompt/testing/fake_backend.h"

namespace qv::prompt::testing {

FakeBackend::FakeBackend() { ui::SetBackendForProcess(this); }
FakeBackend::~FakeBackend() { ui::SetBackendForProcess(nullptr); }

int FakeBackend::MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                            uint32_t timeoutSeconds) {
  shownBoxes.push_back({caption, text, style, timeoutSeconds});
  if (boxes_.empty()) return ui::kIdOk;
  int answer = boxes_.front();
  boxes_.pop_front();
  return answer;
}

int FakeBackend::Dialog(ui::Dialog& dialog, ui::DialogHooks* hooks) {
  shownDialogs.push_back(dialog);
  if (dialogs_.empty()) return ui::kIdTimedOut;
  DialogHandler handler = std::move(dialogs_.front());
  dialogs_.pop_front();
  return handler(dialog, hooks);
}

FakeBackend::DialogHandler Answer(int button, std::vector<std::pair<int, std::string>> fields,
                                  std::vector<std::pair<int, int>> choices) {
  return [=](ui::Dialog& d, ui::DialogHooks* hooks) {
    for (auto [id, value] : choices) {
      ui::Choice* c = ChoiceOf(d, id);
      if (c == nullptr) continue;
      for (size_t i = 0; i < c->items.size(); ++i) {
        if (c->items[i].value == value) c->selected = static_cast<int>(i);
      }
      if (hooks != nullptr) hooks->OnChoiceChanged(d, id);
    }
    for (const auto& [id, value] : fields) {
      if (ui::Field* f = FieldOf(d, id)) f->value = value;
    }
    return button;
  };
}

ui::Field* FieldOf(ui::Dialog& d, int id) {
  for (auto& f : d.fields) {
    if (f.id == id) return &f;
  }
  return nullptr;
}

ui::Choice* ChoiceOf(ui::Dialog& d, int id) {
  for (auto& c : d.choices) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

const ui::StaticText* TextOf(const ui::Dialog& d, int id) {
  for (const auto& t : d.texts) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace qv::prompt::testing
