// An in-process back end for the prompt tests: records what is shown and
// answers from queued handlers.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/ui.h"

namespace qv::prompt::testing {

struct ShownBox {
  std::string caption;
  std::string text;
  uint32_t style = 0;
  uint32_t timeout = 0;
};

class FakeBackend final : public ui::Backend {
 public:
  using DialogHandler = std::function<int(ui::Dialog&, ui::DialogHooks*)>;

  FakeBackend();
  ~FakeBackend() override;

  const char* Name() const override { return "fake"; }
  int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                 uint32_t timeoutSeconds) override;
  int Dialog(ui::Dialog& dialog, ui::DialogHooks* hooks) override;

  // Queues the answer to the next dialog; without one a dialog times out.
  void OnDialog(DialogHandler handler) { dialogs_.push_back(std::move(handler)); }
  // Queues the answer to the next message box; without one, OK.
  void OnBox(int answer) { boxes_.push_back(answer); }

  std::vector<ui::Dialog> shownDialogs;  // as presented, before answering
  std::vector<ShownBox> shownBoxes;

 private:
  std::deque<DialogHandler> dialogs_;
  std::deque<int> boxes_;
};

// Handler helpers: set values by control id, pick a choice value, press a button.
FakeBackend::DialogHandler Answer(int button, std::vector<std::pair<int, std::string>> fields = {},
                                  std::vector<std::pair<int, int>> choices = {});

ui::Field* FieldOf(ui::Dialog& d, int id);
ui::Choice* ChoiceOf(ui::Dialog& d, int id);
const ui::StaticText* TextOf(const ui::Dialog& d, int id);

}  // namespace qv::prompt::testing
