// Readiness of a socket, for the network message layer.
#pragma once

namespace qv::netmsg {

enum class WaitResult { kReadable, kTimeout, kError };

// Waits until `socket` is readable (a closed peer counts as readable).
// `timeoutMs` 0 polls, -1 waits without limit.
WaitResult WaitReadable(int socket, int timeoutMs);

// Seconds of a monotonic clock.
long long MonotonicSeconds();

}  // namespace qv::netmsg
