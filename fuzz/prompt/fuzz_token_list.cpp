// A token list as a software-token library hands it over, with the count and
// size it claims, shown in the passcode dialog.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ui/ui.h"
#include "prompt/dialogs.h"
#include "prompt/token_list.h"
#include "promptdata.h"

namespace {

class Silent final : public qv::ui::Backend {
 public:
  const char* Name() const override { return "fuzz"; }
  int MessageBox(const std::string&, const std::string&, uint32_t, uint32_t) override {
    return qv::ui::kIdOk;
  }
  int Dialog(qv::ui::Dialog&, qv::ui::DialogHooks*) override { return qv::ui::kIdCancel; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Silent silent;
  qv::ui::SetBackendForProcess(&silent);
  if (size < 12) return 0;
  PROMPT_DATA block;
  std::memset(&block, 0, sizeof block);
  std::memcpy(&block.dwTokenCount, data, 4);
  std::memcpy(&block.cbTokenList, data + 4, 4);
  std::memcpy(&block.iSoftToken, data + 8, 4);
  block.dwTokenType = PROMPT_TOKEN_CARD_AND_SOFT;
  qv::prompt::StoreTokenList(block, std::vector<uint8_t>(data + 12, data + size));
  (void)qv::prompt::TokenEntries(block);
  (void)qv::prompt::PasscodeDialog(block);
  qv::prompt::FreeTokenList(block);
  return 0;
}
