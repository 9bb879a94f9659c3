// The token store file: locked reads and atomic updates.
//
// Files: <dir>/store (mode 0660) and <dir>/store.lock. Every access takes an
// open-file-description lock on the lock file (shared to read, exclusive to
// update), so threads and processes exclude each other; an update writes a
// new file beside the store and renames it over, so readers see either the
// old or the new store, never a part.
#pragma once

#include <functional>
#include <string>

#include "authclient/record.h"

namespace kel {

enum class StoreResult { kOk, kMissing, kIoError, kCorrupt };

// <state dir>/tokens, or the directory set for this process.
std::string StoreDir();
// "" restores the default.
void SetStoreDirForProcess(const std::string& dir);

StoreResult ReadStore(const std::string& dir, Store* out, std::string* error);

// Runs `change` on the store under the exclusive lock; when it answers true
// the store is written back. With `create`, a missing store (and directory,
// mode 2770) starts empty; otherwise a missing store is kMissing.
StoreResult UpdateStore(const std::string& dir, const std::function<bool(Store&)>& change, bool create,
                        std::string* error);

}  // namespace kel
