// Local RPC transport: one Unix-domain stream socket per endpoint.
//
// An endpoint name such as "KELAgent DT" becomes the socket file
// qv::paths::RunDir() + "/KELAgent_DT.sock" (characters other than letters,
// digits, '.', '-' and '_' become '_'). One call per connection: the client
// sends one frame, the server answers with one frame and closes. A frame is
// a 32-bit little-endian length (at most kMaxFrame) and that many bytes.
//
// The server runs at most `maxCalls` calls at once; further connections
// wait in the listen queue until a call finishes. A call must deliver its
// request within the request bound, so a silent client cannot hold a slot.
// The client waits for its answer within the timeout it gives.
//
// Results are the transport's status numbers below (0 on success); no
// exception leaves this interface. Frame buffers are wiped ('*') once used,
// since they may carry key material. CMake target: qvrpc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::rpc {

inline constexpr uint32_t kRpcOk = 0;
inline constexpr uint32_t kRpcInvalidBinding = 1702;      // no usable binding handle
inline constexpr uint32_t kRpcInvalidEndpoint = 1706;     // endpoint name unusable
inline constexpr uint32_t kRpcOutOfResources = 1721;      // socket, thread or memory
inline constexpr uint32_t kRpcServerUnavailable = 1722;   // nobody listens on the endpoint
inline constexpr uint32_t kRpcCallFailed = 1726;          // connection broke during the call
inline constexpr uint32_t kRpcProtocolError = 1728;       // malformed or oversized frame
inline constexpr uint32_t kRpcAlreadyListening = 1713;
inline constexpr uint32_t kRpcNotListening = 1715;
inline constexpr uint32_t kRpcDuplicateEndpoint = 1740;   // a live server holds the endpoint
inline constexpr uint32_t kRpcCannotSupport = 1764;
inline constexpr uint32_t kRpcNullReference = 1780;       // null out-pointer given to a call
inline constexpr uint32_t kRpcBadStubData = 1783;         // reply does not decode
inline constexpr uint32_t kRpcSecurityFailed = 1800;      // endpoint's access cannot be set
inline constexpr uint32_t kRpcCallTimeout = 1818;         // no answer within the bound

inline constexpr size_t kMaxFrame = 1u << 20;
inline constexpr unsigned kDefaultMaxCalls = 10;
inline constexpr int kDefaultRequestTimeoutMs = 5000;

// The socket file of an endpoint; empty when the name is empty, longer
// than 64 characters, or the path does not fit a socket address.
std::string EndpointPath(const std::string& endpoint);

// One call being served, handed to the server's handler.
struct CallContext;

// "ncalrpc" for a local Unix-domain socket, "ncacn_ip_tcp" for TCP, ""
// when the socket cannot be asked.
std::string ProtocolSequence(const CallContext* call);

// The peer's process, user and group as the kernel saw them at connect.
struct PeerIdentity {
  uint32_t pid = 0;
  uint32_t uid = 0;
  uint32_t gid = 0;
};
// False when the socket carries no peer credentials (not a Unix socket).
bool PeerCredentials(const CallContext* call, PeerIdentity* out);

// True when the peer's primary group, or one of its user's groups, is the
// group named `group`. False for an unknown group or user.
bool PeerInGroup(const CallContext* call, const char* group);

// A call context over an existing connected socket (the socket stays the
// caller's). For transports tests and checks; freed with FreeCallContext.
CallContext* MakeCallContext(int socket);
void FreeCallContext(CallContext* call);

// Serves one request. Returns false to close the connection without an
// answer (a malformed request). `reply` is sent as one frame.
using Handler = bool (*)(CallContext* call, const std::vector<uint8_t>& request,
                         std::vector<uint8_t>* reply, void* arg);

struct Server;

// Prepares a server for `endpoint` (validates the name, creates the run
// directory and the socket). Nothing is bound yet.
uint32_t CreateServer(const std::string& endpoint, unsigned maxCalls, Server** out);

// Binds the endpoint's socket file, open to every local user (admission is
// decided per call), and starts the listen queue. A file left by a server
// that is gone is replaced; kRpcDuplicateEndpoint while a live server holds
// it (callers may retry).
uint32_t RegisterEndpoint(Server* server);

// Starts the accept thread; returns without waiting.
uint32_t StartListening(Server* server, Handler handler, void* arg);

// Stops accepting, waits for the calls in progress, and removes the socket
// file this server bound. kRpcNotListening when it was not listening.
uint32_t StopListening(Server* server);

// Releases the server (stopping it first).
void DestroyServer(Server* server);

// Bound on how long a served call may take to deliver its request.
void SetRequestTimeoutForTest(Server* server, int milliseconds);

// One call: connects to `endpoint`, sends `request`, waits at most
// `timeoutMs` for the answer. kRpcServerUnavailable when nobody listens;
// kRpcCallFailed when the server closed without answering.
uint32_t Call(const std::string& endpoint, const std::vector<uint8_t>& request,
              std::vector<uint8_t>* reply, int timeoutMs);

}  // namespace qv::rpc
