// The call context shared by the transport and the peer checks.
#pragma once

namespace qv::rpc {

struct CallContext {
  int fd;
};

}  // namespace qv::rpc
