// Test helper: N wrong passcodes for a user through libauthclient.so.
#include <cstdio>
#include <cstdlib>

#include "kelclient.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: authclient_stress USER COUNT\n");
    return 2;
  }
  int count = std::atoi(argv[2]);
  KEL_HANDLE h = 0;
  if (KelInitialize() != 1 || QV_Init(&h) != ACM_OK) return 1;
  for (int i = 0; i < count; ++i)
    if (QV_Check(h, "0000000000", argv[1]) != ACM_ACCESS_DENIED) return 1;
  QV_Close(h);
  return 0;
}
