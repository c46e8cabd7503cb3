#include "ui/DesktopNotifications.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QVariantMap>

namespace brindle::ui {

namespace {

const char* kService = "org.freedesktop.Notifications";
const char* kPath = "/org/freedesktop/Notifications";

QDBusInterface server() {
    return QDBusInterface(kService, kPath, kService, QDBusConnection::sessionBus());
}

}  // namespace

DesktopNotifications::DesktopNotifications(Answered answered) : answered_(std::move(answered)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.connect(kService, kPath, kService, "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kService, "NotificationReplied", this, SLOT(replied(uint, QString)));
    bus.connect(kService, kPath, kService, "NotificationClosed", this, SLOT(closed(uint, uint)));
}

bool DesktopNotifications::available() const {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(kService).value();
}

bool DesktopNotifications::offersInlineReply() const {
    QDBusReply<QStringList> capabilities = server().call("GetCapabilities");
    return capabilities.isValid() && capabilities.value().contains("inline-reply");
}

void DesktopNotifications::post(const Notification& notification) {
    QStringList actions;
    QVariantMap hints;
    if (notification.shareActions) {
        actions << "default"
                << "Share"
                << "share" << QString::fromUtf8("Share\u2026") << "skip"
                << "Not now";
        if (offersInlineReply()) {
            actions << "inline-reply"
                    << "Share";
            hints["x-kde-reply-placeholder-text"] = "name@example.com";
        }
    }
    QDBusReply<uint> id = server().call("Notify", "Brindle", 0u, "", QString::fromStdString(notification.title),
                                        QString::fromStdString(notification.body), actions, hints, -1);
    if (id.isValid() && notification.shareActions) offers_[id.value()] = notification.rel;
}

void DesktopNotifications::actionInvoked(uint id, const QString& action) {
    auto found = offers_.find(id);
    if (found == offers_.end()) return;
    std::string rel = found->second;
    offers_.erase(found);
    if (action == "default") return answered_(rel, "", "");
    answered_(rel, action.toStdString(), "");
}

void DesktopNotifications::replied(uint id, const QString& text) {
    auto found = offers_.find(id);
    if (found == offers_.end()) return;
    std::string rel = found->second;
    offers_.erase(found);
    answered_(rel, "share", text.toStdString());
}

void DesktopNotifications::closed(uint id, uint) {
    offers_.erase(id);
}

}  // namespace brindle::ui
