#include "platform/ui/script.h"

#include <charconv>

#include "platform/ui/ui.h"

namespace qv::ui::internal {
namespace {

struct NamedAnswer {
  const char* name;
  int answer;
};

constexpr NamedAnswer kAnswers[] = {
    {"ok", kIdOk},         {"cancel", kIdCancel}, {"abort", kIdAbort}, {"retry", kIdRetry},
    {"ignore", kIdIgnore}, {"yes", kIdYes},       {"no", kIdNo},       {"timeout", kIdTimedOut},
    {"close", kIdClosed},  {"wait", kAnswerWait},
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Reads one token: a bare word up to white space or '=', or a quoted text.
bool NextToken(std::string_view& rest, std::string& token, bool stopAtEquals) {
  token.clear();
  while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  if (rest.empty()) return false;
  if (rest.front() == '"') {
    rest.remove_prefix(1);
    while (!rest.empty()) {
      char c = rest.front();
      rest.remove_prefix(1);
      if (c == '"') return true;
      if (c == '\\') {
        if (rest.empty()) return false;
        char e = rest.front();
        rest.remove_prefix(1);
        switch (e) {
          case 'n':
            token += '\n';
            break;
          case 't':
            token += '\t';
            break;
          case 'r':
            token += '\r';
            break;
          case '"':
            token += '"';
            break;
          case '\\':
            token += '\\';
            break;
          default:
            return false;
        }
      } else {
        token += c;
      }
    }
    return false;  // no closing quote
  }
  while (!rest.empty() && !IsSpace(rest.front()) && !(stopAtEquals && rest.front() == '=')) {
    token += rest.front();
    rest.remove_prefix(1);
  }
  return true;
}

bool ParseInt(std::string_view text, int& value) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

int AnswerFromName(std::string_view name) {
  for (const auto& a : kAnswers) {
    if (name == a.name) return a.answer;
  }
  return 0;
}

const char* AnswerName(int answer) {
  for (const auto& a : kAnswers) {
    if (answer == a.answer) return a.name;
  }
  return "unknown";
}

ScriptLine ParseScriptLine(std::string_view line, ScriptAnswer& out) {
  out = ScriptAnswer();
  std::string_view rest = line;
  while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  if (rest.empty() || rest.front() == '#') return ScriptLine::kSkip;

  std::string what, match, answer;
  if (!NextToken(rest, what, false)) return ScriptLine::kError;
  bool matchQuoted = false;
  {
    std::string_view probe = rest;
    while (!probe.empty() && IsSpace(probe.front())) probe.remove_prefix(1);
    matchQuoted = !probe.empty() && probe.front() == '"';
  }
  if (!NextToken(rest, match, false)) return ScriptLine::kError;
  if (!NextToken(rest, answer, false)) return ScriptLine::kError;

  if (what == "box") {
    out.target = ScriptTarget::kBox;
    if (matchQuoted) {
      out.boxText = match;
    } else if (match != "*") {
      return ScriptLine::kError;
    }
  } else if (what == "dialog") {
    out.target = ScriptTarget::kDialog;
    if (match != "*" && (matchQuoted || !ParseInt(match, out.templateId) || out.templateId <= 0)) {
      return ScriptLine::kError;
    }
  } else if (what == "*") {
    if (match != "*" || matchQuoted) return ScriptLine::kError;
  } else {
    return ScriptLine::kError;
  }

  out.answer = AnswerFromName(answer);
  if (out.answer == 0) return ScriptLine::kError;

  std::string key, value;
  while (NextToken(rest, key, true)) {
    int id = 0;
    if (!ParseInt(key, id) || rest.empty() || rest.front() != '=') return ScriptLine::kError;
    rest.remove_prefix(1);
    if (rest.empty() || IsSpace(rest.front())) {
      value.clear();
    } else if (!NextToken(rest, value, false)) {
      return ScriptLine::kError;
    }
    out.values.emplace_back(id, value);
  }
  while (!rest.empty() && IsSpace(rest.front())) rest.remove_prefix(1);
  return rest.empty() ? ScriptLine::kAnswer : ScriptLine::kError;
}

std::vector<ScriptAnswer> ParseScript(std::string_view text, int* errors) {
  std::vector<ScriptAnswer> answers;
  int bad = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    ScriptAnswer answer;
    switch (ParseScriptLine(line, answer)) {
      case ScriptLine::kAnswer:
        answers.push_back(std::move(answer));
        break;
      case ScriptLine::kError:
        ++bad;
        break;
      case ScriptLine::kSkip:
        break;
    }
  }
  if (errors != nullptr) *errors = bad;
  return answers;
}

}  // namespace qv::ui::internal
