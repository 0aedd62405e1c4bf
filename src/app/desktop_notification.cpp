#include "app/desktop_notification.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>
#include <optional>

namespace palvoro {
namespace {

// A service that does not answer must not hold the watch.
constexpr int kNotifyTimeoutMs = 2000;
// The urgency hint's values in the desktop notification protocol.
constexpr uchar kUrgencyNormal = 1;
constexpr uchar kUrgencyCritical = 2;

}  // namespace

bool sessionBusNamed() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  return address != nullptr && *address != '\0';
}

bool notifyDesktop(const std::string& summary, const std::string& body, bool critical) {
  if (!sessionBusNamed()) return false;
  // QtDBus keeps its connections on an application object; a command-line run has none.
  int argc = 1;
  char name[] = "palvoro-cli";
  char* argv[] = {name, nullptr};
  std::optional<QCoreApplication> application;
  if (QCoreApplication::instance() == nullptr) application.emplace(argc, argv);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                     "org.freedesktop.Notifications", "Notify");
  QVariantMap hints;
  hints.insert("urgency", QVariant::fromValue(critical ? kUrgencyCritical : kUrgencyNormal));
  // app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout (-1: the service's).
  call << QString("PALVORO") << 0u << QString("drive-harddisk") << QString::fromStdString(summary)
       << QString::fromStdString(body) << QStringList() << hints << -1;
  const QDBusMessage reply = bus.call(call, QDBus::Block, kNotifyTimeoutMs);
  return reply.type() == QDBusMessage::ReplyMessage;
}

}  // namespace palvoro
