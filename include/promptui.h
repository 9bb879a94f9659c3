/* Prompt dialog library (libpromptui.so): C ABI.
 *
 * Every operation takes the address of a caller-owned PROMPT_DATA. Calling
 * order per authentication: PROMPTUI_Init, then PROMPTUI_Check, PROMPTUI_Pin
 * and PROMPTUI_Next as the server asks, then PROMPTUI_Close. Results:
 * PROMPT_RESULT_OK (1), PROMPT_RESULT_CANCEL (2), PROMPT_RESULT_TIMEOUT (3).
 * Software tokens are offered when libtokenpad32.so can be loaded.
 * The dialogs are shown through the ui layer's back end (TAVRIK_UI).
 */
#ifndef PROMPTUI_H
#define PROMPTUI_H

#include <stdint.h>

#include "promptdata.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The passcode dialog alone: 1 OK, 2 Cancel, 3 time-out. */
int32_t qvAuthDlg(PROMPT_DATA* block);
/* The new PIN dialog alone. */
int32_t qvPinDlg(PROMPT_DATA* block);
/* The next-tokencode dialog alone. */
int32_t qvNextDlg(PROMPT_DATA* block);

/* Opens the software-token service when there is one; always 0. */
int32_t PROMPTUI_Init(PROMPT_DATA* block);
/* 1: the passcode is in szPasscode; 2: cancelled or a software token's PIN
 * could not be put back; 3: time-out or a software-token failure. */
int32_t PROMPTUI_Check(PROMPT_DATA* block);
/* 1: the new PIN is in szNewPin; 2: cancelled or refused by the software
 * token; 3: time-out. */
int32_t PROMPTUI_Pin(PROMPT_DATA* block);
/* 1: the next tokencode is in szNextCode (software token: also in
 * szPasscode); 2: cancelled; 3: time-out. */
int32_t PROMPTUI_Next(PROMPT_DATA* block);
/* Frees the token list and closes the software-token service. */
void PROMPTUI_Close(PROMPT_DATA* block);

typedef int32_t (*PFN_PROMPTUI)(PROMPT_DATA*);
typedef void (*PFN_PROMPTUI_CLOSE)(PROMPT_DATA*);

#ifdef __cplusplus
}
#endif

#endif /* PROMPTUI_H */
