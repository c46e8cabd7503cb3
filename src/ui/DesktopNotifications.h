#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <string>

#include "app/Desktop.h"

namespace brindle::ui {

// Notifications through org.freedesktop.Notifications on the session bus.
// A share offer carries the actions "share" ("Share…") and "skip" ("Not
// now"), plus an inline reply where the server offers one. Answers come back
// through answered(rel, action, text): action "share" (text: the typed
// reply, or empty), "skip", or "" for a click on the notification itself.
class DesktopNotifications : public QObject {
    Q_OBJECT
public:
    using Answered = std::function<void(const std::string& rel, const std::string& action, const std::string& text)>;

    explicit DesktopNotifications(Answered answered);

    // Whether a notification server is on the session bus.
    bool available() const;
    void post(const Notification& notification);

private slots:
    void actionInvoked(uint id, const QString& action);
    void replied(uint id, const QString& text);
    void closed(uint id, uint reason);

private:
    bool offersInlineReply() const;

    Answered answered_;
    std::map<uint, std::string> offers_;  // notification id -> rel
};

}  // namespace brindle::ui
