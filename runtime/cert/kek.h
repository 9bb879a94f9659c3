// Protection of the DC private key under a key-encryption key built from
// this machine's system volume (never stored).
#pragma once

#include <cstdint>

#include "qvstatus.h"

extern "C" {

// The 16-byte KEK.
QVSTATUS GetKeyEncKey(uint8_t kek[16]);

// RC5-32/12/16 CBC-Pad under the KEK. The output is a new buffer (freed with
// CMDestroyCert); on failure it is null.
QVSTATUS CMEncKey(const uint8_t* plain, uint32_t plainLength, uint8_t** out, uint32_t* outLength);
QVSTATUS CMDecKey(const uint8_t* enc, uint32_t encLength, uint8_t** out, uint32_t* outLength);

}  // extern "C"
