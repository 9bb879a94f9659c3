// Whether a stop belongs to a system shutdown, asked of logind.
#include <systemd/sd-bus.h>
#include <systemd/sd-daemon.h>

#include "platform/service/service.h"

namespace qv::service {

bool SystemShuttingDown() {
  if (sd_booted() <= 0) return false;
  sd_bus* bus = nullptr;
  if (sd_bus_open_system(&bus) < 0) return false;
  sd_bus_error error = SD_BUS_ERROR_NULL;
  int preparing = 0;
  int r = sd_bus_get_property_trivial(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                      "org.freedesktop.login1.Manager", "PreparingForShutdown",
                                      &error, 'b', &preparing);
  sd_bus_error_free(&error);
  sd_bus_unref(bus);
  return r >= 0 && preparing != 0;
}

}  // namespace qv::service
