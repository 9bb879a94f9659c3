// The answer script of the scripted back end.
//
// One answer per line; empty lines and lines starting with '#' are skipped:
//   <what> <match> <answer> [<id>=<value> ...]
//   what    box | dialog | *
//   match   dialog: a template number or *; box: * or a quoted text that
//           must occur in the box's text
//   answer  ok cancel yes no abort retry ignore timeout close wait
//           (wait: stay open until closed by another thread or timed out)
//   id      a field id (the value is the field's text) or a choice id (the
//           value is the item's value)
// Values may be double-quoted, with \" \\ \n \t escapes inside.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv::ui::internal {

enum class ScriptTarget { kAny, kBox, kDialog };

struct ScriptAnswer {
  ScriptTarget target = ScriptTarget::kAny;
  int templateId = 0;   // dialog: 0 matches any
  std::string boxText;  // box: empty matches any
  int answer = 0;       // a button id, kIdTimedOut, kIdClosed or kAnswerWait
  std::vector<std::pair<int, std::string>> values;
};

inline constexpr int kAnswerWait = -1;

enum class ScriptLine { kAnswer, kSkip, kError };

// Parses one line; kSkip for blank lines and comments.
ScriptLine ParseScriptLine(std::string_view line, ScriptAnswer& out);

// The answer lines of a script text, in order; lines that do not parse are
// counted in `errors` and left out.
std::vector<ScriptAnswer> ParseScript(std::string_view text, int* errors);

// Answer names: "ok" -> kIdOk ...; 0 when unknown.
int AnswerFromName(std::string_view name);
const char* AnswerName(int answer);

}  // namespace qv::ui::internal
