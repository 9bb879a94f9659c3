// Every entry as an empty function; the build renames one to leave it out.
#define KEL_ENTRY(name) \
  extern "C" __attribute__((visibility("default"))) int name() { return 0; }
#include "authclient/entries.def"
#undef KEL_ENTRY
