#include "prompt/token_list.h"

#include <cstring>
#include <map>
#include <mutex>

#include "promptdata.h"

namespace qv::prompt {
namespace {

std::mutex g_lock;
uint32_t g_nextHandle = 1;

std::map<uint32_t, std::vector<uint8_t>>& Lists() {
  static auto* lists = new std::map<uint32_t, std::vector<uint8_t>>();
  return *lists;
}

std::string TextAt(const std::vector<uint8_t>& list, size_t offset, size_t size) {
  const char* p = reinterpret_cast<const char*>(list.data() + offset);
  return std::string(p, ::strnlen(p, size));
}

}  // namespace

void StoreTokenList(PROMPT_DATA& block, std::vector<uint8_t> bytes) {
  FreeTokenList(block);
  std::lock_guard<std::mutex> guard(g_lock);
  uint32_t handle = g_nextHandle++;
  if (g_nextHandle == 0) g_nextHandle = 1;
  Lists()[handle] = std::move(bytes);
  block.pTokenList = handle;
}

void FreeTokenList(PROMPT_DATA& block) {
  std::lock_guard<std::mutex> guard(g_lock);
  if (block.pTokenList != 0) Lists().erase(block.pTokenList);
  block.pTokenList = 0;
}

std::vector<TokenEntry> TokenEntries(const PROMPT_DATA& block) {
  std::vector<TokenEntry> entries;
  std::lock_guard<std::mutex> guard(g_lock);
  auto it = Lists().find(block.pTokenList);
  if (it == Lists().end()) return entries;
  const std::vector<uint8_t>& list = it->second;
  size_t limit = std::min<size_t>(block.cbTokenList, list.size());
  for (size_t i = 0; i < block.dwTokenCount; ++i) {
    size_t base = i * kTokenEntrySize;
    if (base + kTokenEntrySize > limit) break;
    entries.push_back({TextAt(list, base + 4, 24), TextAt(list, base + 28, 24),
                       TextAt(list, base + 52, 24), TextAt(list, base + 76, 48)});
  }
  return entries;
}

}  // namespace qv::prompt
