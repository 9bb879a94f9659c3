/* authcore.h must stay a plain C header. */
#include "authcore.h"

int AuthcoreHeaderCompilesAsC(void);

int AuthcoreHeaderCompilesAsC(void) {
  SMHandler handler = 0;
  QVSTATUS status = 0;
  return handler == 0 && status == 0 && sizeof(QVSTATUS) == 4;
}
