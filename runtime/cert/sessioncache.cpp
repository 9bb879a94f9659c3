#include "runtime/cert/sessioncache.h"

#include <list>
#include <memory>
#include <mutex>
#include <new>
#include <string>

#include "qvcert.h"
#include "runtime/cert/cm_internal.h"

namespace qv::cert {
namespace {

constexpr char kModule[] = "CMcache";

struct Entry {
  std::string user;
  std::string domain;
  SecureBytes text;  // session-certificate object, text form
};

std::mutex g_cacheMutex;
std::list<std::unique_ptr<Entry>> g_cache;

bool Same(const std::string& a, const char* b) { return EqualNoCase(a.c_str(), b); }

// Takes the entry for user and domain out of the list.
std::unique_ptr<Entry> TakeOut(const char* user, const char* domain) {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  for (auto it = g_cache.begin(); it != g_cache.end(); ++it) {
    if (Same((*it)->user, user) && Same((*it)->domain, domain)) {
      std::unique_ptr<Entry> e = std::move(*it);
      g_cache.erase(it);
      return e;
    }
  }
  return nullptr;
}

}  // namespace

QVSTATUS CreateSessionCache() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  g_cache.clear();
  return QV_OK;
}

void DestroySessionCache() {
  std::lock_guard<std::mutex> lock(g_cacheMutex);
  g_cache.clear();
}

}  // namespace qv::cert

using namespace qv::cert;

extern "C" {

QVSTATUS LDMDesktopStoreSessionCert(const char* user, const char* domain, const CM_CRED_BUFFER* text) {
  CM_ENTER(kModule, "LDMDesktopStoreSessionCert");
  if (!user || !domain || !text || (text->length && !text->bytes)) {
    CM_LEAVE(kModule, "LDMDesktopStoreSessionCert", QVS_CM_NULL_POINTER);
    return QVS_CM_NULL_POINTER;
  }
  // Replacing is two locked steps: the old entry out, then the new one in.
  std::unique_ptr<Entry> old = TakeOut(user, domain);
  QVSTATUS status = old ? QVE_CM_CERT_REPLACED : QV_OK;
  old.reset();
  std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
  if (!entry) {
    status = QVS_CM_ENTRY_NO_MEMORY;
  } else {
    entry->user = user;
    entry->domain = domain;
    entry->text = SecureBytes(text->bytes, text->length);
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    g_cache.push_front(std::move(entry));
  }
  CM_LEAVE(kModule, "LDMDesktopStoreSessionCert", status);
  return status;
}

QVSTATUS LDMDesktopGetSessionCert(const char* user, const char* domain, CM_CRED_BUFFER* out) {
  CM_ENTER(kModule, "LDMDesktopGetSessionCert");
  QVSTATUS status = QVE_CM_NO_SESSION_CERT;
  if (out) *out = CM_CRED_BUFFER{0, nullptr};
  if (!user || !domain || !out) {
    status = QVS_CM_NULL_POINTER;
  } else {
    std::lock_guard<std::mutex> lock(g_cacheMutex);
    for (const auto& e : g_cache) {
      CM_TRACE(kTraceDetail, kModule, "Search index: %s\\%s, This SessionCert: %s\\%s.", domain, user,
               e->domain.c_str(), e->user.c_str());
      if (Same(e->user, user) && Same(e->domain, domain)) {
        if ((out->bytes = CopyBytes(e->text.data(), e->text.size()))) {
          out->length = static_cast<uint32_t>(e->text.size());
          status = QV_OK;
        } else {
          status = QVS_CM_ENTRY_NO_MEMORY;
        }
        break;
      }
    }
  }
  CM_LEAVE(kModule, "LDMDesktopGetSessionCert", status);
  return status;
}

QVSTATUS LDMDesktopClearSessionCerts(void) {
  CM_ENTER(kModule, "LDMDesktopClearSessionCerts");
  QVSTATUS status = CreateSessionCache();
  CM_LEAVE(kModule, "LDMDesktopClearSessionCerts", status);
  return status;
}

QVSTATUS CMStoreSessionCert(const char* user, const char* domain, HQVEXTOBJ obj) {
  CM_ENTER(kModule, "CMStoreSessionCert");
  CM_TRACE(kTraceFlow, kModule, "Storing SessionCert with domain: %s, user: %s", domain ? domain : "",
           user ? user : "");
  size_t length = 0;
  QVSTATUS status = errQVExtObjExternalSize(obj, &length);
  if (status == QV_OK) {
    SecureBytes text(length);
    status = errQVExtObjWriteToBuffer(obj, reinterpret_cast<char*>(text.data()), &length);
    if (status == QV_OK) {
      CM_CRED_BUFFER buf{static_cast<uint32_t>(length), text.data()};
      status = CMGetCacheDispatch()->storeSessionCert(user, domain, &buf);
    }
  }
  CM_LEAVE(kModule, "CMStoreSessionCert", status);
  return status;
}

QVSTATUS CMGetSessionCert(const char* user, const char* domain, HQVEXTOBJ* obj) {
  CM_ENTER(kModule, "CMGetSessionCert");
  CM_TRACE(kTraceFlow, kModule, "Trying to get SessionCert with domain: %s, user: %s", domain ? domain : "",
           user ? user : "");
  if (obj) *obj = nullptr;
  CM_CRED_BUFFER buf{0, nullptr};
  QVSTATUS status = obj ? CMGetCacheDispatch()->getSessionCert(user, domain, &buf) : QVS_CM_NULL_POINTER;
  if (status == QV_OK)
    status = errQVExtObjCreateObjFromBuffer(obj, reinterpret_cast<const char*>(buf.bytes), buf.length);
  if (buf.bytes) WipeFree(buf.bytes, buf.length);
  CM_LEAVE(kModule, "CMGetSessionCert", status);
  return status;
}

QVSTATUS CMClearSessionCerts(void) {
  CM_ENTER(kModule, "CMClearSessionCerts");
  QVSTATUS status = CMGetCacheDispatch()->clearSessionCerts();
  CM_LEAVE(kModule, "CMClearSessionCerts", status);
  return status;
}

}  // extern "C"
