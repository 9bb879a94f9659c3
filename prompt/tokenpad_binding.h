// The process-wide binding of the software-token library.
//
// Loaded by name ("libtokenpad32.so", or the file named by
// TAVRIK_TOKENPAD_LIBRARY) at the first Bind; all eight entries are required,
// GetDLLInfo is optional. Released when the prompt library is unloaded.
#pragma once

#include "tokenpad32.h"

namespace qv::prompt {

struct TokenpadBinding {
  void* library = nullptr;
  decltype(&::OpenTokenService) openTokenService = nullptr;
  decltype(&::CloseTokenService) closeTokenService = nullptr;
  decltype(&::EnumToken) enumToken = nullptr;
  decltype(&::GetPasscode) getPasscode = nullptr;
  decltype(&::NewPinMode) newPinMode = nullptr;
  decltype(&::SelectToken) selectToken = nullptr;
  decltype(&::SetTokenTime) setTokenTime = nullptr;
  decltype(&::GetTokenError) getTokenError = nullptr;
  bool version4 = false;  // the library is version 4 or later

  bool Bound() const { return library != nullptr; }
};

// Binds once per process and returns the binding (not bound when the library
// is missing or incomplete).
const TokenpadBinding& BindTokenpad();

// The binding as it stands, without binding.
const TokenpadBinding& CurrentTokenpad();

// Releases the binding so the next BindTokenpad loads again (tests).
void UnbindTokenpad();

// The library's last error number for the service.
unsigned TokenError(unsigned service);

}  // namespace qv::prompt
