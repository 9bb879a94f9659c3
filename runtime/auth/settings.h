// Runtime settings: values under HKEY_LOCAL_MACHINE
// "SOFTWARE\\Tavrik\\QVNetwork".
//
// A setting that cannot be read is never an error: the caller's default
// applies. The ports are read once at start-up; TestMode, SendDomainName and
// DisableNetBIOSLookup at each use, so a change takes effect without a
// restart. CMake target: qvsettings.
#pragma once

#include <cstdint>
#include <string>

inline constexpr const char* QV_SETTINGS_KEY = "SOFTWARE\\Tavrik\\QVNetwork";

inline constexpr uint32_t QV_DEFAULT_CLIENT_PORT = 2334;
inline constexpr uint32_t QV_DEFAULT_PROXY_PORT = 2335;

extern "C" {

// Reads the value `name` into `buffer` (`size` bytes). Returns 1 when read,
// 0 when the key or the value is missing, the key cannot be opened with all
// access, or the value is larger than `size`. The value's type is not tested.
int QVAgentGetSetting(const char* name, void* buffer, uint32_t size);

// Ports in host order: the network authentication service's and the proxy
// service's. Written by AMReadPortSettings, read afterwards.
extern uint32_t KelClientPort;
extern uint32_t KelProxyPort;

// Reads KelClientPort and KelProxyPort (defaults 2334 and 2335).
void AMReadPortSettings(void);

}  // extern "C"

namespace qv::auth {

// A DWORD setting, or `fallback` when it cannot be read.
uint32_t ReadDwordSetting(const char* name, uint32_t fallback);

// Read at each use.
uint32_t TestMode();            // 0 normal, 2 interactive test, other: silent test
bool SendDomainName();          // user name sent as "domain\\user"
bool DisableNetBIOSLookup();    // resolve host names without NetBIOS

// Bounds of the secure-session listener and handshake, read when a listener
// starts and when a handshake begins.
inline constexpr uint32_t kDefaultHandshakeTimeoutSeconds = 10;
inline constexpr uint32_t kDefaultMaxSessionThreads = 64;
uint32_t HandshakeTimeoutSeconds();  // SessionHandshakeTimeout; 0 reads as the default
uint32_t MaxSessionThreads();        // MaxSessionThreads; 0 reads as the default

// The local address listeners bind to: the text of the string setting
// ListenAddress, else of the environment variable TAVRIK_LISTEN_ADDRESS (tests
// and demos), else "" for every local address.
std::string ListenAddress();

}  // namespace qv::auth
