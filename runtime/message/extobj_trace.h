// Entry and outcome traces of the message-object layer.
#pragma once

#include "platform/eventtext/eventtext.h"
#include "runtime/message/extobj_model.h"

#define QV_EXTOBJ_ENTER(module) \
  QV_TRACE(qv::extobj::kTraceLevel, qv::extobj::kTraceCategory, (module), "Entering %s", __func__)

namespace qv::extobj {

inline QVSTATUS Leave(const char* module, int line, const char* routine, QVSTATUS status) {
  QVTraceMessage(kTraceLevel, kTraceCategory, module, line, "Leaving %s, return code 0x%08X",
                 routine, status);
  return status;
}

}  // namespace qv::extobj

#define QV_EXTOBJ_LEAVE(module, status) qv::extobj::Leave((module), __LINE__, __func__, (status))
