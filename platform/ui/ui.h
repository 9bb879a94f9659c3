// User interface layer: message boxes and dialogs behind one back-end
// interface.
//
// Back ends (chosen by the environment variable TAVRIK_UI):
//   terminal  the user's terminal (/dev/tty): same captions, prompts and
//             messages; no echo for secret fields; message boxes wait for
//             an answer up to their time-out
//   scripted  answers read from the file named by TAVRIK_UI_SCRIPT; every
//             prompt and message recorded as one JSON line in the file named
//             by TAVRIK_UI_RECORD (secret values masked); several processes
//             may share one script and one record (script format:
//             platform/ui/script.h; dialogs with no matching line time out,
//             message boxes with none take their default button)
//   none      no user interface: every message box and dialog ends at once
//             as timed out
// Without TAVRIK_UI: terminal when the process has a terminal, else none.
// TAVRIK_UI_TIMEOUT (seconds) replaces every non-zero time-out, for tests.
//
// Every call runs on the caller's thread and returns when answered, timed
// out or closed by CloseThreadWindows. No call throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qv::ui {

// Message-box style bits.
inline constexpr uint32_t kMbOk = 0x00000000;
inline constexpr uint32_t kMbOkCancel = 0x00000001;
inline constexpr uint32_t kMbAbortRetryIgnore = 0x00000002;
inline constexpr uint32_t kMbYesNoCancel = 0x00000003;
inline constexpr uint32_t kMbYesNo = 0x00000004;
inline constexpr uint32_t kMbRetryCancel = 0x00000005;
inline constexpr uint32_t kMbButtonsMask = 0x0000000F;
inline constexpr uint32_t kMbIconStop = 0x00000010;
inline constexpr uint32_t kMbIconQuestion = 0x00000020;
inline constexpr uint32_t kMbIconExclamation = 0x00000030;
inline constexpr uint32_t kMbIconInformation = 0x00000040;
inline constexpr uint32_t kMbIconMask = 0x000000F0;
inline constexpr uint32_t kMbDefButton2 = 0x00000100;
inline constexpr uint32_t kMbDefButton3 = 0x00000200;
inline constexpr uint32_t kMbDefButtonMask = 0x00000F00;
inline constexpr uint32_t kMbTopmost = 0x00040000;
inline constexpr uint32_t kMbServiceNotification = 0x00200000;

// Answers of message boxes and dialogs (button identifiers).
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
// The time-out elapsed without an answer.
inline constexpr int kIdTimedOut = 32000;
// Closed from another thread (CloseThreadWindows).
inline constexpr int kIdClosed = 32001;

// Shows a message box: `style` as above, `timeoutSeconds` 0 for no limit.
// Returns the button chosen, kIdTimedOut or kIdClosed.
int ShowMessageBox(const std::string& caption, const std::string& text, uint32_t style,
                   uint32_t timeoutSeconds);

// --- Dialogs -------------------------------------------------------------

struct StaticText {
  int id = 0;  // 0 when the text has no control of its own
  std::string text;
  bool visible = true;
  // Non-empty when `text` carries a secret: what records show instead.
  std::string recordText;
};

struct Field {
  int id = 0;
  std::string label;
  std::string value;    // initial value; the answer on return
  bool secret = false;  // password style: no echo, masked in records
  bool readOnly = false;
  bool enabled = true;
  bool visible = true;
  bool numericOnly = false;   // digits, backspace and '.' only
  std::size_t maxLength = 0;  // 0: no limit
};

struct ChoiceItem {
  std::string text;
  int value = 0;  // item data, or the control id of a radio button
  bool enabled = true;
};

// A list or a group of radio buttons; `selected` is an index into `items`
// (-1 for none).
struct Choice {
  int id = 0;
  std::string label;
  std::vector<ChoiceItem> items;
  int selected = -1;
  bool visible = true;
  bool enabled = true;
};

struct Button {
  int id = 0;  // kIdOk, kIdCancel, ...
  std::string text;
};

struct Dialog {
  int templateId = 0;
  std::string caption;
  std::vector<StaticText> texts;
  std::vector<Choice> choices;  // asked before the fields
  std::vector<Field> fields;
  std::vector<Button> buttons;
  int focus = 0;  // id of the field that gets the focus
  bool topmost = false;
  uint32_t timeoutSeconds = 0;  // 0: no limit
  uint32_t restartSeconds = 0;  // user activity restarts the timer with this
};

// Called by a back end after the user changed choice `choiceId`, so that the
// dialog can lay itself out again (texts, fields) before the fields are asked.
class DialogHooks {
 public:
  virtual ~DialogHooks() = default;
  virtual void OnChoiceChanged(Dialog& dialog, int choiceId) = 0;
};

// Shows `dialog` until a button is pressed; fields and choices hold the
// answers on return. Returns the button's id, kIdTimedOut or kIdClosed.
int RunDialog(Dialog& dialog, DialogHooks* hooks);

// Keeps a dialog open across several calls (its own rounds and the message
// boxes opened from it), so that CloseThreadWindows reaches it between them.
class DialogScope {
 public:
  DialogScope();
  ~DialogScope();
  DialogScope(const DialogScope&) = delete;
  DialogScope& operator=(const DialogScope&) = delete;
  // True once CloseThreadWindows asked this thread's windows to close.
  bool Closed() const;

 private:
  void* window_;
};

// --- Back ends -------------------------------------------------------------

class Backend {
 public:
  virtual ~Backend() = default;
  virtual const char* Name() const = 0;
  virtual int MessageBox(const std::string& caption, const std::string& text, uint32_t style,
                         uint32_t timeoutSeconds) = 0;
  virtual int Dialog(Dialog& dialog, DialogHooks* hooks) = 0;
};

// The back end in use: the one set for the process, else the environment's.
Backend& CurrentBackend();

// Replaces the back end for this process (tests); nullptr restores the
// environment's choice. The caller keeps ownership.
void SetBackendForProcess(Backend* backend);

// --- Closing another thread's windows --------------------------------------

// Identifies a thread that shows windows.
typedef uint64_t ThreadKey;
ThreadKey CurrentThreadKey();

// Ends every message box and dialog open on that thread with kIdClosed.
// Returns the number of windows that were asked to close.
int CloseThreadWindows(ThreadKey thread);

}  // namespace qv::ui
