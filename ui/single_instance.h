#pragma once
// One window per package. The first start takes the same lock the
// command-line program takes, so the two exclude each other, and listens on
// a local socket beside it; a later start sends its current folder there
// and leaves when the first answers. Nobody is ever killed: a holder that
// does not answer (a hung window, or the command-line program) makes the
// later start give up with a message.
#include <QLocalServer>
#include <QObject>
#include <string>

#include "platform/instance_lock.h"

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Outcome { First, Answered, Unanswered, Failed };

    static constexpr int kMessageLimit = 4096;
    static constexpr int kAnswerMs = 1000;

    explicit CSingleInstance(QObject *parent = nullptr);

    // key: the package key. detail: what went wrong, for the user.
    Outcome Claim(const std::string &key, std::string &detail);
    const QString &SocketPath() const { return socketPath; }

signals:
    // A later start asked this one to come forward, from directory.
    void Raise(const QString &directory);

private:
    void Serve();
    Outcome AskFirst(std::string &detail);

    platform::InstanceLock lock;
    QLocalServer server;
    QString socketPath;
};
