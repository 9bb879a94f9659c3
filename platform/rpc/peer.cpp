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

// The group's id by name; false when unknown.
bool GroupId(const char* group, gid_t* gid) {
  std::vector<char> buf(NssBufferSize(_SC_GETGR_R_SIZE_MAX));
  for (int tries = 0; tries < 8; ++tries) {
    struct group g{};
    struct group* found = nullptr;
    int r = ::getgrnam_r(group, &g, buf.data(), buf.size(), &found);
    if (r == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (r != 0 || !found) return false;
    *gid = g.gr_gid;
    return true;
  }
  return false;
}

// The user's name and primary group by uid; false when unknown.
bool UserById(uid_t uid, std::string* name, gid_t* primary) {
  std::vector<char> buf(NssBufferSize(_SC_GETPW_R_SIZE_MAX));
  for (int tries = 0; tries < 8; ++tries) {
    struct passwd pw{};
    struct passwd* found = nullptr;
    int r = ::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found);
    if (r == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (r != 0 || !found) return false;
    *name = pw.pw_name;
    *primary = pw.pw_gid;
    return true;
  }
  return false;
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
