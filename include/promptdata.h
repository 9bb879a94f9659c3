/* The prompt data block shared by the prompt dialog library and its callers.
 *
 * 232 bytes, allocated and zero-filled by the caller, passed by address to
 * every prompt operation. Text fields are NUL-terminated. The window handle,
 * the token-service handle and the token list are 32-bit handles, so the
 * layout is the same for every caller.
 */
#ifndef PROMPTDATA_H
#define PROMPTDATA_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* bFlags */
#define PROMPT_FLAG_EDIT_USERNAME 0x01 /* the user name may be edited */
#define PROMPT_FLAG_TOPMOST 0x02       /* dialogs top-most and in the foreground */
#define PROMPT_FLAG_NO_SOFTTOKEN 0x04  /* software tokens not requested */
#define PROMPT_FLAG_TIMEOUTS 0x08      /* inactivity time-outs on */

/* dwTokenType, dwPreferredType */
#define PROMPT_TOKEN_CARD 1
#define PROMPT_TOKEN_SOFT 2
#define PROMPT_TOKEN_CARD_AND_SOFT 3

/* dwNewPinStatus */
#define PROMPT_NEWPIN_NONE 0
#define PROMPT_NEWPIN_ACCEPTED 1
#define PROMPT_NEWPIN_REJECTED 2

/* Results of the prompt operations. */
#define PROMPT_RESULT_OK 1
#define PROMPT_RESULT_CANCEL 2
#define PROMPT_RESULT_TIMEOUT 3

#define PROMPT_USERNAME_SIZE 34
#define PROMPT_CODE_SIZE 18

typedef struct PROMPT_DATA {
  uint16_t wVersion;        /*   0: 1 */
  uint8_t bFlags;           /*   2: PROMPT_FLAG_* */
  uint8_t bReserved1;       /*   3 */
  uint32_t hwndParent;      /*   4: owner window, 0 for none */
  uint32_t dwTokenType;     /*   8 */
  uint32_t dwPreferredType; /*  12 */
  int32_t iSoftToken;       /*  16: chosen software token, -1 none */
  uint32_t dwServerTime;    /*  20: server time, seconds since 1970; 0 not given */
  uint32_t dwNewPinStatus;  /*  24: PROMPT_NEWPIN_* */
  char szUsername[34];      /*  28 */
  char szPasscode[18];      /*  62 */
  char szNextCode[18];      /*  80 */
  char szOldPin[18];        /*  98: software token: the PIN it holds */
  char szNewPin[18];        /* 116: new PIN; software token: PIN typed at the prompt */
  char szSpareCode[18];     /* 134 */
  char szTokencode[18];     /* 152: software token: bare tokencode */
  int8_t bMinPinLen;        /* 170 */
  int8_t bMaxPinLen;        /* 171 */
  uint8_t bPinSelectable;   /* 172: 0 server PIN, 1 either, 2 user's PIN */
  uint8_t bAlphanumeric;    /* 173: 0 digits only */
  char szSystemPin[18];     /* 174: the PIN the server offers */
  uint8_t bReserved2[20];   /* 192 */
  uint32_t dwTokenCount;    /* 212 */
  uint32_t dwDefaultToken;  /* 216 */
  uint32_t hTokenService;   /* 220: 0 when none */
  uint32_t cbTokenList;     /* 224 */
  uint32_t pTokenList;      /* 228: handle of the token list, owned by the library */
} PROMPT_DATA;

#ifdef __cplusplus
static_assert(sizeof(PROMPT_DATA) == 232, "PROMPT_DATA is 232 bytes");
static_assert(offsetof(PROMPT_DATA, hwndParent) == 4);
static_assert(offsetof(PROMPT_DATA, dwTokenType) == 8);
static_assert(offsetof(PROMPT_DATA, iSoftToken) == 16);
static_assert(offsetof(PROMPT_DATA, dwNewPinStatus) == 24);
static_assert(offsetof(PROMPT_DATA, szUsername) == 28);
static_assert(offsetof(PROMPT_DATA, szPasscode) == 62);
static_assert(offsetof(PROMPT_DATA, szNextCode) == 80);
static_assert(offsetof(PROMPT_DATA, szOldPin) == 98);
static_assert(offsetof(PROMPT_DATA, szNewPin) == 116);
static_assert(offsetof(PROMPT_DATA, szSpareCode) == 134);
static_assert(offsetof(PROMPT_DATA, szTokencode) == 152);
static_assert(offsetof(PROMPT_DATA, bMinPinLen) == 170);
static_assert(offsetof(PROMPT_DATA, bAlphanumeric) == 173);
static_assert(offsetof(PROMPT_DATA, szSystemPin) == 174);
static_assert(offsetof(PROMPT_DATA, dwTokenCount) == 212);
static_assert(offsetof(PROMPT_DATA, hTokenService) == 220);
static_assert(offsetof(PROMPT_DATA, pTokenList) == 228);
#else
_Static_assert(sizeof(PROMPT_DATA) == 232, "PROMPT_DATA is 232 bytes");
#endif

#ifdef __cplusplus
}
#endif

#endif /* PROMPTDATA_H */
