// Facts about this machine: its computer name and the identity of its
// system volume.
//
// Computer name: the REG_SZ value "ComputerName" under HKEY_LOCAL_MACHINE
// "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName" when set
// and not empty, otherwise the short host name (up to the first '.'); either
// way cut to 15 characters. Every component that asks for "this machine's
// name" uses GetComputerName.
//
// CMake target: qvhost.
#pragma once

#include <cstdint>
#include <string>

namespace qv::host {

inline constexpr char kComputerNameKey[] =
    "SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ComputerName";
inline constexpr char kComputerNameValue[] = "ComputerName";
inline constexpr size_t kMaxComputerName = 15;

// False when neither the setting nor the host name can be read.
bool GetComputerName(std::string* name);

// Identity of the volume that holds the system, stable across reboots and
// different between machines. Read from the machine identifier file
// (/etc/machine-id, or /var/lib/dbus/machine-id when that is missing; the
// environment variable QV_MACHINE_ID_FILE names another file, for tests) and
// the root file system's facts.
struct VolumeFacts {
  uint32_t serial = 0;           // low word of the file-system id
  uint32_t serialHigh = 0;       // high word of the file-system id
  std::string fileSystem;        // file-system type name, at most 19 characters
  uint32_t flags = 0;            // mount flags
  uint32_t maxComponent = 0;     // longest file-name component
  uint64_t device = 0;           // block device of "/" (0 for a virtual one)
  std::string machineId;         // the machine identifier's text
};

// False (with errno's value in *error) when the facts cannot be read.
bool GetVolumeFacts(VolumeFacts* facts, int* error);

}  // namespace qv::host
