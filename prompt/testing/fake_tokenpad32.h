// Control block of the stand-in software-token library used by the tests.
#pragma once

#include <cstdint>

struct FakeTokenpadState {
  // Behaviour.
  int openFails;
  uint32_t majorVersion;  // written by GetDLLInfo
  uint32_t tokenCount;
  uint32_t defaultToken;
  char names[4][24];
  char serials[4][24];
  char selectors[4][24];
  char modes[4][24];
  char password[32];     // what a password-protected token accepts
  uint32_t selectError;  // non-zero: SelectToken fails with this error
  int passcodeFails;
  int newPinFails;
  char tokencode[18];  // the bare tokencode the token shows
  char nextTokencode[18];
  // Calls seen.
  int openCalls;
  int closeCalls;
  int enumCalls;
  int selectCalls;
  char lastName[24];
  char lastSelector[24];
  char lastPassword[32];
  int lastPasswordNull;
  int setTimeCalls;
  uint32_t lastTime;
  int passcodeCalls;
  char lastPin[18];
  int newPinCalls;
  char newPinFrom[18];
  char newPinTo[18];
  uint32_t lastError;
};

extern "C" FakeTokenpadState* FakeTokenpad_State();
