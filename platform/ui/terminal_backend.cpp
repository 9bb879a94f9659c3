#include "platform/ui/backends.h"

namespace qv::ui::internal {

std::unique_ptr<Backend> MakeTerminalBackend() { return nullptr; }
std::unique_ptr<Backend> MakeTerminalBackendOnFds(int, int) { return nullptr; }

}  // namespace qv::ui::internal
