// The C header and the runtime's own declarations of the same entries must
// agree: a C function declared twice with different types does not compile.
#include "authcore.h"
#include "qvcert.h"
#include "runtime/auth/protocol/ui_lock.h"
#include "runtime/auth/settings.h"
#include "runtime/auth/timed_message_box.h"
#include "runtime/cache/cache_service.h"
#include "runtime/session/session_manager.h"
#include "runtime/startup/startup.h"
