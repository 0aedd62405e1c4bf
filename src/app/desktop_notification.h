#pragma once
// A desktop notification through the session bus's org.freedesktop.Notifications, for a
// watch run in a user's session. A watch from the system's timer has no session bus and
// sends none; the journal carries its changes.

#include <string>

namespace palvoro {

// Whether the environment names a session bus (DBUS_SESSION_BUS_ADDRESS).
bool sessionBusNamed();

// Shows one notification; false when no bus or no notification service answered within two
// seconds. `critical` asks the service to keep it until dismissed.
bool notifyDesktop(const std::string& summary, const std::string& body, bool critical);

}  // namespace palvoro
