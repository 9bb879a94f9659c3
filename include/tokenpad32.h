/* Software-token library (libtokenpad32.so): C ABI.
 *
 * Tokens live in a per-user token file: $TAVRIK_TOKENPAD_FILE when set,
 * else $XDG_CONFIG_HOME/tavrik/tokens, else ~/.config/tavrik/tokens
 * (written by `keladmin export`). A token protected by a password keeps its
 * seed encrypted under that password.
 *
 * Every entry answers non-zero for success unless said otherwise; after a
 * failure GetTokenError gives the reason (TOKENPAD_ERR_*).
 */
#ifndef TOKENPAD32_H
#define TOKENPAD32_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TOKENPAD_MAJOR_VERSION 4
#define TOKENPAD_MINOR_VERSION 0

/* Error numbers. */
#define TOKENPAD_ERR_NONE 0
#define TOKENPAD_ERR_BAD_HANDLE 1
#define TOKENPAD_ERR_BAD_ARGUMENT 2
#define TOKENPAD_ERR_NO_FILE 3      /* token file missing or unreadable */
#define TOKENPAD_ERR_BAD_FILE 4     /* token file malformed */
#define TOKENPAD_ERR_NO_TOKEN 5     /* no such token */
#define TOKENPAD_ERR_NOT_SELECTED 6 /* no token selected */
#define TOKENPAD_ERR_BAD_PIN 7      /* PIN not digits or too long */
#define TOKENPAD_ERR_BAD_PASSWORD 21
#define TOKENPAD_ERR_NO_RESOURCES 22

/* Token list entry: 124 bytes. */
typedef struct TOKENPAD_ENTRY {
  uint32_t dwIndex;          /* 0: position in the list */
  char szName[24];           /* 4: label shown in the token choice */
  char szSerial[24];         /* 28: serial number, shown after " - " */
  char szSelector[24];       /* 52: passed back to SelectToken */
  char szPasswordMode[24];   /* 76: "PASSWORD", "NPASSWORD" or "" */
  uint32_t dwDigits;         /* 100: tokencode length */
  uint32_t dwInterval;       /* 104: seconds per tokencode */
  uint32_t dwKind;           /* 108: 1 PIN-pad (PIN added digit-wise), 0 PIN before code */
  uint8_t reserved[12];      /* 112 */
} TOKENPAD_ENTRY;

/* Reads the token file and opens a service: handle written. */
int OpenTokenService(uint32_t* handle);
/* Releases a service and wipes its seed. */
void CloseTokenService(uint32_t handle);
/* Fills `list` with *size bytes at most; 0 with *size set to the size needed
 * when the buffer is NULL or too small. *count: number of tokens; *defaultToken:
 * index of the default token. */
int EnumToken(uint32_t handle, uint32_t* count, uint32_t* defaultToken, void* list, uint32_t* size);
/* Selects a token by the texts of its entry (name at 4, selector at 52);
 * `password` may be NULL for a token without one. Wrong password:
 * TOKENPAD_ERR_BAD_PASSWORD. */
int SelectToken(uint32_t handle, const char* name, const char* selector, const char* password);
/* Sets the token clock: `seconds` since 1970 now, advancing from there. */
void SetTokenTime(uint32_t handle, uint32_t seconds);
/* Writes into 18-byte buffers: the passcode (tokencode with the PIN), the next
 * passcode (following tokencode with the PIN), a spare code (the tokencode
 * after that, with the PIN) and the bare tokencode. Any out buffer may be NULL. */
int GetPasscode(uint32_t handle, const char* pin, char* passcode, char* nextPasscode, char* spareCode,
                char* tokencode);
/* Changes the PIN the token works with (checks the new PIN's form). */
int NewPinMode(uint32_t handle, const char* currentPin, const char* newPin);
/* Answers the last error number and writes it to *error (may be NULL). */
uint32_t GetTokenError(uint32_t handle, uint32_t* error);
/* Writes two 32-bit words: major and minor version. */
int GetDLLInfo(void* info);

#ifdef __cplusplus
}
#endif

#endif /* TOKENPAD32_H */
