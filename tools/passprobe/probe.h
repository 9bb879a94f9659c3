// The test programs' shared parts: message texts, the message box, and the
// proxy test over the runtime's desktop call.
#pragma once

#include <cstdint>
#include <string>

#include "qvstatus.h"

namespace qv::probe {

inline constexpr const char* kCaption = "Vexa KEL/Dazar Authentication Test";

// Message texts by number.
inline constexpr const char* kMsgEnterUser = "Enter a username.";  // 1000
inline constexpr const char* kMsgEnterDomain = "Enter a domain.";  // 1001
inline constexpr const char* kMsgEnterController =
    "Enter a valid hostname for the\nDomain Controller of this domain.";       // 1002 (95)
inline constexpr const char* kMsgCannotReadConf = "Cannot read AUTHCONF.REC";  // 1002
inline constexpr const char* kMsgNoServer = "Cannot communicate with Vexa KEL/Server.";  // 1004
inline constexpr const char* kMsgDialogFailed = "User interface dialog failed.";         // 1005
inline constexpr const char* kMsgSuccess = "Authentication successful.";             // 1006, 1015
inline constexpr const char* kMsgDenied = "Access denied.";                          // 1007
inline constexpr const char* kMsgInvalidServer = "Invalid server in AUTHCONF.REC.";  // 1008
inline constexpr const char* kMsgPinAccepted = "New PIN accepted.";                  // 1009
inline constexpr const char* kMsgPinRejected = "New PIN rejected.";                  // 1010
inline constexpr const char* kMsgUnexpected = "Unexpected error.";                   // 1011
inline constexpr const char* kMsgInitFailed =
    "Initialization of AUTHCORE.DLL library failed.\n%s";  // 1013
inline constexpr const char* kMsgNoController =
    "Cannot find a Domain Controller.\n%s\nEnter the hostname.";  // 1014
inline constexpr const char* kMsgNoController95 =
    "Cannot find Domain Controller.\n%s";                                // 1014 (95)
inline constexpr const char* kMsgFailed = "Authentication failed.\n%s";  // 1016

// Message-box styles used here.
inline constexpr uint32_t kIconStop = 0x10;
inline constexpr uint32_t kIconExclamation = 0x30;
inline constexpr uint32_t kIconInformation = 0x40;

// Shows `text` in a message box with the programs' caption.
void ShowMessage(const std::string& text, uint32_t style);
// `format`'s %s replaced by the text of `status`.
std::string StatusMessage(const char* format, QVSTATUS status);

// The runtime entries the proxy test needs.
struct RuntimeApi {
  QVSTATUS (*startup)(int, int, int);
  void (*rundown)();
  QVSTATUS (*authenticate)(const char*, char*, const char*, uint32_t);
};

// What the proxy test ended with, for the exit status.
enum class Outcome { kSuccess, kDenied, kFailed, kUsage };

// The programs' exit status for an outcome: 0 success, 1 denied, 2 usage,
// 3 any other failure.
int ExitCode(Outcome outcome);

// Starts the runtime as a desktop client, authenticates `user` of `domain`
// through the proxy on `controller`, shows the result and runs down.
// `fieldLimits` cuts the names to 32, 32 and 64 characters; `checkFields`
// shows 1000 to 1002 for an empty name.
Outcome ProxyTest(const RuntimeApi& api, std::string user, std::string domain,
                  std::string controller, bool checkFields, bool fieldLimits);

}  // namespace qv::probe
