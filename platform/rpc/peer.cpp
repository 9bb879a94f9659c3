// Who is calling: socket family and the peer's kernel credentials.
#include <grp.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string>
#include <vector>

#include "platform/rpc/rpc.h"
#include "platform/rpc/rpc_internal.h"

namespace qv::rpc {
namespace {

size_t NssBufferSize(int name) {
  long n = ::sysconf(name);
  return n > 0 ? static_cast<size_t>(n) : 4096;
}

// Runs a get*_r lookup, doubling the buffer on ERANGE while under 1 MiB; on
// success hands the entry to use while the buffer still backs it. False when
// the entry is unknown or the lookup fails.
template <typename Entry, typename Lookup, typename Use>
bool NssLookup(int size_name, Lookup lookup, Use use) {
  std::vector<char> buf(NssBufferSize(size_name));
  for (int tries = 0; tries < 8; ++tries) {
    Entry entry{};
    Entry* found = nullptr;
    int r = lookup(&entry, buf.data(), buf.size(), &found);
    if (r == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (r != 0 || !found) return false;
    use(entry);
    return true;
  }
  return false;
}

// The group's id by name; false when unknown.
bool GroupId(const char* group, gid_t* gid) {
  return NssLookup<struct group>(
      _SC_GETGR_R_SIZE_MAX,
      [group](struct group* g, char* buf, size_t size, struct group** found) {
        return ::getgrnam_r(group, g, buf, size, found);
      },
      [gid](const struct group& g) { *gid = g.gr_gid; });
}

// The user's name and primary group by uid; false when unknown.
bool UserById(uid_t uid, std::string* name, gid_t* primary) {
  return NssLookup<struct passwd>(
      _SC_GETPW_R_SIZE_MAX,
      [uid](struct passwd* pw, char* buf, size_t size, struct passwd** found) {
        return ::getpwuid_r(uid, pw, buf, size, found);
      },
      [name, primary](const struct passwd& pw) {
        *name = pw.pw_name;
        *primary = pw.pw_gid;
      });
}

bool UserInGroup(const std::string& user, gid_t primary, gid_t wanted) {
  if (primary == wanted) return true;
  int count = 64;
  for (int tries = 0; tries < 8; ++tries) {
    std::vector<gid_t> groups(static_cast<size_t>(count));
    int n = count;
    if (::getgrouplist(user.c_str(), primary, groups.data(), &n) >= 0) {
      for (int i = 0; i < n; ++i)
        if (groups[static_cast<size_t>(i)] == wanted) return true;
      return false;
    }
    if (n <= count || n > 65536) return false;
    count = n;
  }
  return false;
}

}  // namespace

std::string ProtocolSequence(const CallContext* call) {
  if (!call) return {};
  sockaddr_storage addr{};
  socklen_t len = sizeof addr;
  if (::getsockname(call->fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return {};
  switch (addr.ss_family) {
    case AF_UNIX: {
      int type = 0;
      socklen_t tl = sizeof type;
      if (::getsockopt(call->fd, SOL_SOCKET, SO_TYPE, &type, &tl) != 0) return {};
      return type == SOCK_STREAM ? "ncalrpc" : "unix-other";
    }
    case AF_INET:
    case AF_INET6:
      return "ncacn_ip_tcp";
    default:
      return "unknown";
  }
}

bool PeerCredentials(const CallContext* call, PeerIdentity* out) {
  if (!call || !out) return false;
  struct ucred cred{};
  socklen_t len = sizeof cred;
  if (::getsockopt(call->fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred)
    return false;
  // A socket without a peer process reports pid 0 and the overflow ids.
  if (cred.pid <= 0) return false;
  out->pid = static_cast<uint32_t>(cred.pid);
  out->uid = cred.uid;
  out->gid = cred.gid;
  return true;
}

bool PeerInGroup(const CallContext* call, const char* group) {
  PeerIdentity peer;
  gid_t wanted = 0;
  if (!group || !*group || !PeerCredentials(call, &peer) || !GroupId(group, &wanted)) return false;
  if (peer.gid == wanted) return true;
  std::string user;
  gid_t primary = 0;
  return UserById(peer.uid, &user, &primary) && UserInGroup(user, primary, wanted);
}

CallContext* MakeCallContext(int socket) { return new (std::nothrow) CallContext{socket}; }

void FreeCallContext(CallContext* call) { delete call; }

}  // namespace qv::rpc
