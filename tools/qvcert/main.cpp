// qvcert: the administrator's certificate tool.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "runtime/cert/cm_internal.h"
#include "tools/qvcert/commands.h"

namespace {

bool ReadHidden(const std::string& prompt, std::string* line) {
  FILE* tty = std::fopen("/dev/tty", "r+");
  if (!tty) return false;
  termios old{};
  const int fd = fileno(tty);
  const bool haveTerm = tcgetattr(fd, &old) == 0;
  if (haveTerm) {
    termios quiet = old;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    tcsetattr(fd, TCSAFLUSH, &quiet);
  }
  std::fputs(prompt.c_str(), tty);
  std::fflush(tty);
  line->clear();
  int ch;
  while ((ch = std::fgetc(tty)) != EOF && ch != '\n') line->push_back(static_cast<char>(ch));
  if (haveTerm) tcsetattr(fd, TCSAFLUSH, &old);
  std::fputs("\n", tty);
  std::fclose(tty);
  return ch != EOF || !line->empty();
}

bool Prompt(const std::string& prompt, bool confirm, std::string* phrase) {
  if (!ReadHidden(prompt, phrase)) return false;
  if (!confirm) return true;
  std::string again;
  bool same = ReadHidden("Again: ", &again) && again == *phrase;
  qv::cert::WipeStars(again.data(), again.size());
  if (!same) {
    qv::cert::WipeStars(phrase->data(), phrase->size());
    phrase->clear();
    std::cerr << "qvcert: the pass phrases differ\n";
  }
  return same;
}

}  // namespace

int main(int argc, char** argv) {
  umask(077);  // key files and certificates are the administrator's
  std::vector<std::string> args(argv + 1, argv + argc);
  return qv::qvcert::Run(args, std::cout, std::cerr, Prompt);
}
