#include "platform/host/host.h"

#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/registry/registry.h"

namespace qv::host {
namespace {

std::string FileSystemName(long type) {
  switch (static_cast<unsigned long>(type)) {
    case 0xEF53: return "ext4";
    case 0x58465342: return "xfs";
    case 0x9123683E: return "btrfs";
    case 0x794C7630: return "overlay";
    case 0x01021994: return "tmpfs";
    case 0x2FC12FC1: return "zfs";
    case 0xF2F52010: return "f2fs";
    case 0x6969: return "nfs";
    default: {
      char buf[20];
      std::snprintf(buf, sizeof buf, "fs%08lx", static_cast<unsigned long>(type));
      return buf;
    }
  }
}

bool ReadMachineId(std::string* id, int* error) {
  const char* override = std::getenv("QV_MACHINE_ID_FILE");
  const char* candidates[] = {override, "/etc/machine-id", "/var/lib/dbus/machine-id"};
  for (const char* path : candidates) {
    if (!path) continue;
    std::ifstream in(path);
    std::string line;
    if (in && std::getline(in, line) && !line.empty()) {
      *id = line;
      return true;
    }
    // An explicit override must be readable.
    if (path == override) break;
  }
  *error = errno ? errno : ENOENT;
  return false;
}

}  // namespace

bool GetComputerName(std::string* name) {
  name->clear();
  qv::reg::Key key;
  std::string value;
  if (key.Open(qv::reg::HKEY_LOCAL_MACHINE, kComputerNameKey, qv::reg::KEY_QUERY_VALUE) ==
          qv::reg::ERROR_SUCCESS &&
      qv::reg::QueryString(key.get(), kComputerNameValue, &value) == qv::reg::ERROR_SUCCESS &&
      !value.empty()) {
    *name = value;
  } else {
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0 || !buf[0]) return false;
    *name = buf;
    *name = name->substr(0, name->find('.'));
  }
  if (name->size() > kMaxComputerName) name->resize(kMaxComputerName);
  return !name->empty();
}

bool GetVolumeFacts(VolumeFacts* facts, int* error) {
  *facts = VolumeFacts{};
  *error = 0;
  struct statfs fs {};
  struct stat st {};
  if (statfs("/", &fs) != 0 || stat("/", &st) != 0) {
    *error = errno;
    return false;
  }
  int fsid[2];
  static_assert(sizeof fsid == sizeof fs.f_fsid);
  std::memcpy(fsid, &fs.f_fsid, sizeof fsid);
  facts->serial = static_cast<uint32_t>(fsid[0]);
  facts->serialHigh = static_cast<uint32_t>(fsid[1]);
  facts->fileSystem = FileSystemName(static_cast<long>(fs.f_type)).substr(0, 19);
  facts->flags = static_cast<uint32_t>(fs.f_flags);
  facts->maxComponent = static_cast<uint32_t>(fs.f_namelen);
  // Anonymous devices (major 0: overlay, tmpfs) are numbered at mount time and
  // change across reboots; only a real block device identifies the volume.
  facts->device = major(st.st_dev) != 0 ? static_cast<uint64_t>(st.st_dev) : 0;
  return ReadMachineId(&facts->machineId, error);
}

}  // namespace qv::host
