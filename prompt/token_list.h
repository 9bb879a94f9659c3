// Token lists of the software-token library, kept by the prompt library and
// named in the prompt data block by a 32-bit handle.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PROMPT_DATA;

namespace qv::prompt {

inline constexpr uint32_t kTokenEntrySize = 124;
inline constexpr uint32_t kMaxTokenListBytes = 1u << 20;

struct TokenEntry {
  std::string text;          // at 4: shown in the token choice
  std::string secondText;    // at 28: shown after " - "
  std::string selector;      // at 52: passed to SelectToken
  std::string passwordMode;  // at 76
};

// Stores `bytes` as the block's token list (freeing any old one).
void StoreTokenList(PROMPT_DATA& block, std::vector<uint8_t> bytes);

// Frees the block's token list; pTokenList becomes 0.
void FreeTokenList(PROMPT_DATA& block);

// The entries of the block's list: at most dwTokenCount, and only those that
// lie wholly inside the list.
std::vector<TokenEntry> TokenEntries(const PROMPT_DATA& block);

}  // namespace qv::prompt
