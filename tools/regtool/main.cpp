// regtool: reads and edits the registry from the command line.
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/paths/paths.h"
#include "tools/regtool/commands.h"

namespace {

const char kHelp[] = R"(NAME
    regtool - read and edit registry keys and values

SYNOPSIS
    regtool [--root DIR] get KEY NAME
    regtool [--root DIR] set KEY NAME TYPE VALUE...
    regtool [--root DIR] delete KEY NAME
    regtool [--root DIR] delete-key KEY [--recursive]
    regtool [--root DIR] list KEY
    regtool [--root DIR] export KEY [FILE]
    regtool [--root DIR] import FILE
    regtool --help

DESCRIPTION
    KEY is a path below HKEY_LOCAL_MACHINE, written with backslashes and
    with or without the root's name: "SOFTWARE\Tavrik\QVNetwork",
    "HKLM\SOFTWARE\Tavrik\QVNetwork" and
    "HKEY_LOCAL_MACHINE\SOFTWARE\Tavrik\QVNetwork" are the same key. Key and
    value names compare without regard to case. An empty NAME ("") is the
    key's default value.

    get      Prints a value: a dword in decimal, a string as text, a
             multi-string one text per line, other types as hex bytes.
    set      Writes a value, creating the key if needed. TYPE is one of
               dword      VALUE is a number, decimal or 0x hex
               sz         VALUE is a text
               expand_sz  VALUE is a text (kept unexpanded)
               binary     VALUE is hex bytes: 01,02,ff or 0102ff ("" for none)
               multi_sz   one non-empty text per VALUE argument
    delete   Removes a value.
    delete-key
             Removes a key and its values; with --recursive also its
             subkeys, otherwise a key with subkeys is refused.
    list     Prints each value of a key: name, type and data (data written
             as in an export).
    export   Writes the key and all its subkeys as text to FILE (replaced
             whole) or to standard output.
    import   Reads such text from FILE ("-": standard input) and applies it.
             "Name"=- removes a value, [-KEY] removes a key with its
             subkeys. The whole text is checked first: if any line is bad,
             nothing is written. Each key is then written in one step.

TEXT FORMAT
    [HKEY_LOCAL_MACHINE\SOFTWARE\Tavrik\QVNetwork]
    "Port"=dword:0000092e
    "Server"="auth1.example"
    "Blob"=hex:01,02,ff
    "Path"=hex(2):25,00           expandable string, bytes with its NUL
    "List"=hex(7):61,00,62,00,00  multi-string
    Lines starting with ';' are comments; a trailing backslash continues a
    hex list on the next line.

OPTIONS
    --root DIR
             Uses DIR as the system's root instead of $TAVRIK_ROOT; keys
             live under DIR/etc/tavrik/registry.
    -h, --help
             Prints this text.

EXIT STATUS
    0  success
    1  bad command line or bad input (unknown type, bad number, malformed
       hex, malformed import text)
    2  key, value or file not found
    3  access denied
    4  any other failure (damaged key file, storage error, key has subkeys)
)";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (args.empty() && (a == "--help" || a == "-h")) {
      std::cout << kHelp;
      return 0;
    }
    if (args.empty() && a == "--root") {
      if (i + 1 >= argc || !*argv[i + 1]) {
        std::cerr << "regtool: --root needs a directory (see regtool --help)\n";
        return qv::regtool::kExitUsage;
      }
      qv::paths::SetRootForProcess(argv[++i]);
      continue;
    }
    if (args.empty() && a.rfind("--root=", 0) == 0) {
      qv::paths::SetRootForProcess(a.substr(7));
      continue;
    }
    args.push_back(a);
  }
  if (args.empty()) {
    std::cerr << "regtool: no command (see regtool --help)\n";
    return qv::regtool::kExitUsage;
  }
  return qv::regtool::RunCommand(args, std::cout, std::cerr);
}
