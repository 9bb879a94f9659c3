// Test peer of the cache service: "host" serves the cache until its input
// ends; "client" calls each procedure once and prints the four statuses.
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "qvcert.h"
#include "runtime/cache/cache_service.h"

namespace {

const char kHelp[] =
    "NAME\n"
    "    cache_peer - second process for the credential cache service's tests\n"
    "SYNOPSIS\n"
    "    cache_peer host | client | --help\n"
    "DESCRIPTION\n"
    "    host    makes the desktop credentials, serves the cache, prints \"ready\"\n"
    "            and serves until standard input ends.\n"
    "    client  calls the four procedures once (certificate, store, fetch,\n"
    "            clear) and prints their statuses in hexadecimal on one line.\n"
    "    The system root comes from TAVRIK_ROOT.\n"
    "EXIT STATUS\n"
    "    0 on success, 1 when start-up failed, 2 for a usage error.\n";

int Host() {
  QVSTATUS s = CMInitDesktopSide(1);
  if (s == QV_OK) s = DMStartup(1, 1);
  if (s != QV_OK) {
    printf("fail %08X\n", s);
    return 1;
  }
  printf("ready\n");
  fflush(stdout);
  char buf[64];
  while (read(0, buf, sizeof buf) > 0) {
  }
  DMRundown();
  return 0;
}

int Client() {
  QVSTATUS s = DMStartup(1, 2);
  DMHANDLE h = nullptr;
  if (s == QV_OK) s = DMOpenCache(&h);
  if (s != QV_OK) {
    printf("fail %08X\n", s);
    return 1;
  }
  CM_CRED_BUFFER cert{0, nullptr}, got{0, nullptr};
  uint8_t text[] = "(SessionCertificate)";
  CM_CRED_BUFFER in{sizeof text - 1, text};
  const QVSTATUS a = DMDesktopGetDesktopCreds(h, CM_ITEM_CERTIFICATE, &cert);
  const QVSTATUS b = DMDesktopStoreSessionCert(h, "peer", "EXAMPLE", &in);
  const QVSTATUS c = DMDesktopGetSessionCert(h, "peer", "EXAMPLE", &got);
  const QVSTATUS d = DMClearSessionCerts(h);
  printf("%08X %08X %08X %08X\n", a, b, c, d);
  if (cert.bytes) CMDestroyCert(cert.bytes, cert.length);
  if (got.bytes) CMDestroyCert(got.bytes, got.length);
  DMCloseCache(&h);
  DMRundown();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && strcmp(argv[1], "host") == 0) return Host();
  if (argc == 2 && strcmp(argv[1], "client") == 0) return Client();
  fputs(kHelp, argc == 2 && strcmp(argv[1], "--help") == 0 ? stdout : stderr);
  return argc == 2 && strcmp(argv[1], "--help") == 0 ? 0 : 2;
}
