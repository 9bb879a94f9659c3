#include "platform/desktop/desktop.h"

#include <systemd/sd-bus.h>
#include <systemd/sd-login.h>

#include <cstdlib>

namespace qv::desktop {
namespace {

// True when logind reports the active session of seat0 as locked.
bool ActiveSessionLocked() {
  char* session = nullptr;
  if (sd_seat_get_active("seat0", &session, nullptr) < 0 || session == nullptr) return false;
  bool locked = false;
  sd_bus* bus = nullptr;
  sd_bus_message* reply = nullptr;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  const char* path = nullptr;
  if (sd_bus_open_system(&bus) >= 0 &&
      sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                         "org.freedesktop.login1.Manager", "GetSession", &error, &reply, "s",
                         session) >= 0 &&
      sd_bus_message_read(reply, "o", &path) >= 0 && path != nullptr) {
    int value = 0;
    sd_bus_error_free(&error);
    if (sd_bus_get_property_trivial(bus, "org.freedesktop.login1", path,
                                    "org.freedesktop.login1.Session", "LockedHint", &error, 'b',
                                    &value) >= 0) {
      locked = value != 0;
    }
  }
  sd_bus_error_free(&error);
  sd_bus_message_unref(reply);
  sd_bus_flush_close_unref(bus);
  std::free(session);
  return locked;
}

}  // namespace

QVSTATUS InputDesktopName(std::string& name) {
  const char* forced = std::getenv("TAVRIK_INPUT_DESKTOP");
  if (forced != nullptr && *forced != '\0') {
    name = forced;
    return QV_OK;
  }
  name = ActiveSessionLocked() ? kScreenSaverDesktop : kDefaultDesktop;
  return QV_OK;
}

}  // namespace qv::desktop
