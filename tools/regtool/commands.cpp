#include "tools/regtool/commands.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "platform/registry/keybatch.h"
#include "platform/registry/keypath.h"
#include "platform/registry/regfile.h"
#include "platform/registry/registry.h"
#include "tools/regtool/valueargs.h"

namespace qv::regtool {
namespace {

using namespace qv::reg;

constexpr int kMaxDepth = 256;

int ExitFor(LSTATUS st) {
  switch (st) {
    case ERROR_SUCCESS:
      return kExitOk;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_KEY_DELETED:
      return kExitNotFound;
    case ERROR_ACCESS_DENIED:
      return kExitDenied;
    case ERROR_INVALID_PARAMETER:
      return kExitUsage;
    default:
      return kExitFailed;
  }
}

std::string StatusText(LSTATUS st) {
  switch (st) {
    case ERROR_FILE_NOT_FOUND:
      return "not found";
    case ERROR_ACCESS_DENIED:
      return "access denied";
    case ERROR_INVALID_PARAMETER:
      return "invalid name";
    case ERROR_KEY_DELETED:
      return "key was deleted";
    case ERROR_BADDB:
      return "key file is damaged";
    case ERROR_OUTOFMEMORY:
      return "out of memory";
    default:
      return "storage failure (" + std::to_string(st) + ")";
  }
}

int Fail(std::ostream& err, const std::string& what, LSTATUS st) {
  err << "regtool: " << what << ": " << StatusText(st) << "\n";
  return ExitFor(st);
}

int Usage(std::ostream& err, const std::string& msg) {
  err << "regtool: " << msg << " (see regtool --help)\n";
  return kExitUsage;
}

// A key argument: "HKEY_LOCAL_MACHINE\\A\\B", "HKLM\\A\\B" or "A\\B". Gives
// the path below the root and the full name for messages and exports.
bool KeyArg(const std::string& arg, std::string* sub, std::string* full) {
  std::string_view rest = arg;
  if (!StripRootName(arg, &rest)) rest = arg;
  std::vector<std::string> parts;
  if (!SplitKeyPath(rest, &parts)) return false;
  for (const std::string& p : parts) {
    if (EncodeComponent(p).empty()) return false;
  }
  *sub = JoinKeyPath(parts);
  *full = sub->empty() ? std::string(kRootName) : std::string(kRootName) + "\\" + *sub;
  return true;
}

int CmdGet(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 3) return Usage(err, "get takes KEY NAME");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  Key key;
  LSTATUS st = key.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  uint32_t type = 0, size = 0;
  std::string data;
  // The value may grow between the two reads; retry a few times.
  for (int attempt = 0; attempt < 5; ++attempt) {
    st = QueryValue(key.get(), a[2].c_str(), &type, nullptr, &size);
    if (st != ERROR_SUCCESS) break;
    data.assign(size, '\0');
    st = QueryValue(key.get(), a[2].c_str(), &type, data.data(), &size);
    if (st != ERROR_MORE_DATA) break;
  }
  if (st != ERROR_SUCCESS) return Fail(err, "value '" + a[2] + "' of " + full, st);
  data.resize(size);
  out << ShowValue(type, data) << "\n";
  return kExitOk;
}

int CmdSet(const std::vector<std::string>& a, std::ostream& err) {
  if (a.size() < 4) return Usage(err, "set takes KEY NAME TYPE VALUE...");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  uint32_t type = 0;
  if (!ParseTypeName(a[3], &type)) {
    return Usage(err, "unknown type '" + a[3] + "' (dword, sz, expand_sz, binary, multi_sz)");
  }
  std::string data, why;
  std::vector<std::string> values(a.begin() + 4, a.end());
  if (!BuildValue(type, values, &data, &why)) return Usage(err, why);
  Key key;
  LSTATUS st = key.Create(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  st = SetValue(key.get(), a[2].c_str(), type, data.data(), static_cast<uint32_t>(data.size()));
  if (st != ERROR_SUCCESS) return Fail(err, "value '" + a[2] + "' of " + full, st);
  return kExitOk;
}

int CmdDelete(const std::vector<std::string>& a, std::ostream& err) {
  if (a.size() != 3) return Usage(err, "delete takes KEY NAME");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  Key key;
  LSTATUS st = key.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_SET_VALUE | KEY_QUERY_VALUE);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  st = DeleteValue(key.get(), a[2].c_str());
  if (st != ERROR_SUCCESS) return Fail(err, "value '" + a[2] + "' of " + full, st);
  return kExitOk;
}

LSTATUS DeleteTree(HKEY parent, const std::string& sub, int depth) {
  if (depth > kMaxDepth) return ERROR_INVALID_PARAMETER;
  Key key;
  LSTATUS st = key.Open(parent, sub.c_str(), KEY_READ);
  if (st != ERROR_SUCCESS) return st;
  char name[kMaxKeyNameLength + 1];
  while (true) {
    uint32_t size = sizeof name;
    st = EnumKey(key.get(), 0, name, &size);
    if (st == ERROR_NO_MORE_ITEMS) break;
    if (st != ERROR_SUCCESS) return st;
    st = DeleteTree(key.get(), name, depth + 1);
    if (st != ERROR_SUCCESS) return st;
  }
  return DeleteKey(parent, sub.c_str());
}

int CmdDeleteKey(const std::vector<std::string>& a, std::ostream& err) {
  bool recursive = a.size() == 3 && (a[2] == "-r" || a[2] == "--recursive");
  if (a.size() != 2 && !recursive) return Usage(err, "delete-key takes KEY [--recursive]");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  if (sub.empty()) return Usage(err, "the root key cannot be deleted");
  LSTATUS st = recursive ? DeleteTree(HKEY_LOCAL_MACHINE, sub, 0)
                         : DeleteKey(HKEY_LOCAL_MACHINE, sub.c_str());
  if (st == ERROR_ACCESS_DENIED && !recursive) {
    Key key;
    uint32_t size = kMaxKeyNameLength + 1;
    char name[kMaxKeyNameLength + 1];
    if (key.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ) == ERROR_SUCCESS &&
        EnumKey(key.get(), 0, name, &size) == ERROR_SUCCESS) {
      err << "regtool: key " << full << " has subkeys (use --recursive)\n";
      return kExitFailed;
    }
  }
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  return kExitOk;
}

int CmdList(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 2) return Usage(err, "list takes KEY");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  Key key;
  LSTATUS st = key.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  RegSection section;
  st = ReadKey(key.get(), &section);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  for (const RegValue& v : section.values) {
    out << (v.name.empty() ? std::string("@") : v.name) << "\t" << TypeName(v.type) << "\t"
        << FormatData(v.type, v.data) << "\n";
  }
  return kExitOk;
}

LSTATUS ExportTree(HKEY key, const std::string& path, int depth, std::string* text) {
  if (depth > kMaxDepth) return ERROR_INVALID_PARAMETER;
  RegSection section;
  LSTATUS st = ReadKey(key, &section);
  if (st != ERROR_SUCCESS) return st;
  if (!NamesEqual(section.path, path)) section.path = path;
  *text += FormatSection(section);
  char name[kMaxKeyNameLength + 1];
  for (uint32_t i = 0;; ++i) {
    uint32_t size = sizeof name;
    st = EnumKey(key, i, name, &size);
    if (st == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
    if (st != ERROR_SUCCESS) return st;
    Key child;
    st = child.Open(key, name, KEY_READ);
    if (st != ERROR_SUCCESS) return st;
    st = ExportTree(child.get(), section.path + "\\" + name, depth + 1, text);
    if (st != ERROR_SUCCESS) return st;
  }
}

// Writes a file whole: a new file renamed over the old one.
bool WriteFileAtomically(const std::string& path, const std::string& text) {
  std::string tmp = path + ".regtool-tmp";
  {
    std::ofstream f(tmp, std::ios::binary | std::ios::trunc);
    if (!f) return false;
    f << text;
    f.flush();
    if (!f) {
      std::remove(tmp.c_str());
      return false;
    }
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

int CmdExport(const std::vector<std::string>& a, std::ostream& out, std::ostream& err) {
  if (a.size() != 2 && a.size() != 3) return Usage(err, "export takes KEY [FILE]");
  std::string sub, full;
  if (!KeyArg(a[1], &sub, &full)) return Usage(err, "bad key name '" + a[1] + "'");
  Key key;
  LSTATUS st = key.Open(HKEY_LOCAL_MACHINE, sub.c_str(), KEY_READ);
  if (st != ERROR_SUCCESS) return Fail(err, "key " + full, st);
  std::string text = "; registry export\n\n";
  st = ExportTree(key.get(), full, 0, &text);
  if (st != ERROR_SUCCESS) return Fail(err, "export of " + full, st);
  if (a.size() == 2 || a[2] == "-") {
    out << text;
    return kExitOk;
  }
  if (!WriteFileAtomically(a[2], text)) {
    err << "regtool: cannot write " << a[2] << "\n";
    return kExitFailed;
  }
  return kExitOk;
}

int CmdImport(const std::vector<std::string>& a, std::ostream& err) {
  if (a.size() != 2) return Usage(err, "import takes FILE (or - for standard input)");
  std::string text;
  if (a[1] == "-") {
    text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
  } else {
    std::ifstream f(a[1], std::ios::binary);
    if (!f) {
      err << "regtool: cannot read " << a[1] << "\n";
      return kExitNotFound;
    }
    text.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  }
  std::vector<RegSection> sections;
  std::string why;
  if (!ParseRegText(text, &sections, &why)) return Usage(err, a[1] + ": " + why);

  // Everything is checked before anything is written.
  std::vector<std::string> subs(sections.size());
  for (size_t i = 0; i < sections.size(); ++i) {
    std::string_view rest;
    std::string full;
    if (!StripRootName(sections[i].path, &rest) || !KeyArg(std::string(rest), &subs[i], &full)) {
      return Usage(err, a[1] + ": bad key name '" + sections[i].path + "'");
    }
    if (subs[i].empty() && sections[i].remove) {
      return Usage(err, a[1] + ": the root key cannot be deleted");
    }
  }
  for (size_t i = 0; i < sections.size(); ++i) {
    const RegSection& s = sections[i];
    LSTATUS st;
    if (s.remove) {
      st = DeleteTree(HKEY_LOCAL_MACHINE, subs[i], 0);
      if (st == ERROR_FILE_NOT_FOUND) st = ERROR_SUCCESS;
    } else {
      Key key;
      st = key.Create(HKEY_LOCAL_MACHINE, subs[i].c_str(), KEY_SET_VALUE | KEY_QUERY_VALUE);
      if (st == ERROR_SUCCESS) st = ApplyValues(key.get(), s.values);
    }
    if (st != ERROR_SUCCESS) {
      int rc = Fail(err, "import of " + s.path, st);
      if (i > 0) err << "regtool: the " << i << " key(s) before it were imported\n";
      return rc;
    }
  }
  return kExitOk;
}

}  // namespace

int RunCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) return Usage(err, "no command");
  const std::string& cmd = args[0];
  if (cmd == "get") return CmdGet(args, out, err);
  if (cmd == "set") return CmdSet(args, err);
  if (cmd == "delete") return CmdDelete(args, err);
  if (cmd == "delete-key") return CmdDeleteKey(args, err);
  if (cmd == "list") return CmdList(args, out, err);
  if (cmd == "export") return CmdExport(args, out, err);
  if (cmd == "import") return CmdImport(args, err);
  return Usage(err, "unknown command '" + cmd + "'");
}

}  // namespace qv::regtool
