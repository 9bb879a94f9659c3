// The cache host's list of session certificates, newest first.
#pragma once

#include "qvstatus.h"

namespace qv::cert {

// Starts a new empty list (an existing one is cleared first).
QVSTATUS CreateSessionCache();
// Frees every entry, wiping the certificate texts, and the list.
void DestroySessionCache();

}  // namespace qv::cert
