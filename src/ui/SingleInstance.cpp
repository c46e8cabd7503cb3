#include "ui/SingleInstance.h"

#include <unistd.h>

#include <QLocalSocket>

#include "common/Files.h"

namespace brindle::ui {

namespace {

constexpr const char* kShowSettings = "show-settings\n";
constexpr int kWaitMs = 2000;

}  // namespace

SingleInstance::SingleInstance(std::string socketPath) : path_(std::move(socketPath)) {}

std::string SingleInstance::defaultPath() {
    std::optional<std::string> runtime = Files::env("XDG_RUNTIME_DIR");
    if (runtime && !runtime->empty()) return *runtime + "/brindle.socket";
    return "/tmp/brindle-" + std::to_string(::getuid()) + ".socket";
}

bool SingleInstance::askRunningToShowSettings() {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(path_));
    if (!socket.waitForConnected(kWaitMs)) return false;
    socket.write(kShowSettings);
    socket.flush();
    // The running instance answers once it has read the request.
    bool answered = socket.waitForReadyRead(kWaitMs);
    socket.disconnectFromServer();
    return answered;
}

bool SingleInstance::listen(std::function<void()> showSettings) {
    showSettings_ = std::move(showSettings);
    // A socket left by an instance that ended without cleaning up.
    QLocalServer::removeServer(QString::fromStdString(path_));
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(QString::fromStdString(path_))) return false;
    QObject::connect(&server_, &QLocalServer::newConnection, [this] {
        while (QLocalSocket* client = server_.nextPendingConnection()) {
            QObject::connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            QObject::connect(client, &QLocalSocket::readyRead, client, [this, client] {
                if (!client->canReadLine()) return;
                QByteArray line = client->readLine();
                client->write("ok\n");
                client->flush();
                if (line == kShowSettings && showSettings_) showSettings_();
            });
        }
    });
    return true;
}

}  // namespace brindle::ui
