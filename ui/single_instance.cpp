#include "ui/single_instance.h"

#include <QDir>
#include <QLocalSocket>
#include <QTimer>

namespace {

constexpr char kAnswer[] = "ok\n";

QString SocketBeside(const std::string &lockPath)
{
    QString path = QString::fromStdString(lockPath);
    if (path.endsWith(".lock"))
        path.chop(5);
    return path + ".sock";
}

} // namespace

CSingleInstance::CSingleInstance(QObject *parent) : QObject(parent)
{
    connect(&server, &QLocalServer::newConnection, this, &CSingleInstance::Serve);
}

CSingleInstance::Outcome CSingleInstance::Claim(const std::string &key, std::string &detail)
{
    switch (lock.Acquire("Quarrowlight_" + key + ".lock")) {
    case platform::InstanceLock::Result::Acquired:
        break;
    case platform::InstanceLock::Result::HeldByAnother:
        socketPath = SocketBeside(lock.Path());
        return AskFirst(detail);
    case platform::InstanceLock::Result::Failed:
        detail = "cannot take the instance lock " + lock.Path();
        return Outcome::Failed;
    }
    socketPath = SocketBeside(lock.Path());
    // Only the lock's holder serves the socket, so one found now was left
    // by a crash.
    QLocalServer::removeServer(socketPath);
    server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server.listen(socketPath))
        detail = "a later start cannot reach this one: " + server.errorString().toStdString();
    return Outcome::First;
}

CSingleInstance::Outcome CSingleInstance::AskFirst(std::string &detail)
{
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    QByteArray folder = QDir::currentPath().toUtf8().left(kMessageLimit - 1);
    folder.append('\n');
    if (socket.waitForConnected(kAnswerMs)) {
        socket.write(folder);
        if (socket.waitForBytesWritten(kAnswerMs) && socket.waitForReadyRead(kAnswerMs) &&
            socket.readAll().startsWith("ok"))
            return Outcome::Answered;
    }
    detail = "another instance is already downloading this package (lock " + lock.Path() + ") and does not answer";
    return Outcome::Unanswered;
}

// The asking side's folder is read with a cap and a deadline, so a stray
// client can neither flood nor hold the window.
void CSingleInstance::Serve()
{
    while (QLocalSocket *socket = server.nextPendingConnection()) {
        auto *received = new QByteArray;
        connect(socket, &QObject::destroyed, [received] { delete received; });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QTimer::singleShot(kAnswerMs, socket, [socket] { socket->abort(); socket->deleteLater(); });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, received] {
            received->append(socket->read(kMessageLimit - received->size()));
            const int end = received->indexOf('\n');
            if (end < 0 && received->size() < kMessageLimit)
                return;
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            socket->write(kAnswer);
            socket->flush();
            emit Raise(QString::fromUtf8(received->left(end < 0 ? received->size() : end)));
            socket->disconnectFromServer();
        });
    }
}
