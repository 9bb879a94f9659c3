// Status and event codes of the system.
//
// A status is a 32-bit value, 0 for success. Failure statuses have the form
// 0xC000xxxx; informational and warning events use the same numbers with
// 0x4000xxxx and 0x8000xxxx. Every code is also a message identifier of the
// event-text library, whose table holds one text per code.
//
// The codes live in X-macro lists under qvcodes/, one per subsystem:
//   QV_CODE(name, value, "text")   a code with its text
//   QV_ALIAS(name, other)          a second name for a code listed elsewhere
#pragma once

#include <cstdint>

typedef uint32_t QVSTATUS;

inline constexpr QVSTATUS QV_OK = 0;

#define QV_CODE(name, value, text) inline constexpr QVSTATUS name = value;
#define QV_ALIAS(name, other) inline constexpr QVSTATUS name = other;
#include "qvcodes/all.def"
#undef QV_ALIAS
#undef QV_CODE

// True for 0xC000xxxx failure statuses.
constexpr bool QvFailed(QVSTATUS s) { return (s & 0xC0000000u) == 0xC0000000u; }
