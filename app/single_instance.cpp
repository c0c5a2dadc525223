#include "app/single_instance.h"

#include "common/atomic_file.h"
#include "common/program_folder.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hm {
namespace {

int heldLock = -1;
QLocalServer* server = nullptr;
std::function<void()> raiseHandler;

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaiseAnswer = "raised\n";

void answer(QLocalSocket* socket)
{
    if (!socket->canReadLine())
        return;
    if (socket->readLine() == kRaiseRequest) {
        if (raiseHandler)
            raiseHandler();
        socket->write(kRaiseAnswer);
        socket->flush();
    }
    socket->disconnectFromServer();
}

} // namespace

// Only the holder of the claim listens, so a socket file found here is a crashed instance's.
void listenForRaiseRequests()
{
    if (server)
        return;
    const QString path = instanceSocketPath();
    QLocalServer::removeServer(path);
    server = new QLocalServer;
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(path)) {
        // A later launch then says it could not reach this one.
        delete server;
        server = nullptr;
        return;
    }
    QObject::connect(server, &QLocalServer::newConnection, server, [] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] { answer(socket); });
            answer(socket);
        }
    });
}

QString instanceLockPath()
{
    return dataPath(QStringLiteral("\\★MAilData\\hayatemail.lock"));
}

QString instanceSocketPath()
{
    return dataPath(QStringLiteral("\\★MAilData\\hayatemail.sock"));
}

bool claimSingleInstance()
{
    if (heldLock >= 0)
        return true;
    // The claim lives beside the data it guards, so whatever the environment says, one data
    // folder has one claim. The kernel drops it when the process ends, however it ends. The
    // file is never removed: a starter that opened it just before an exit must contend for
    // the same file as one that opens it later.
    const int fd = openOwnFile(instanceLockPath(), O_RDWR | O_CREAT);
    if (fd < 0)
        return true; // no place for the claim: better two instances than none
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    heldLock = fd;
    listenForRaiseRequests();
    return true;
}

void setRaiseHandler(std::function<void()> raise)
{
    raiseHandler = std::move(raise);
}

bool askRunningInstanceToRaise()
{
    // The running instance may hold the claim a moment before it listens.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(instanceSocketPath());
        if (!socket.waitForConnected(500)) {
            QThread::msleep(100);
            continue;
        }
        socket.write(kRaiseRequest);
        if (!socket.waitForBytesWritten(1000))
            return false;
        while (!socket.canReadLine() && socket.waitForReadyRead(int(std::max<qint64>(deadline.remainingTime(), 1))))
            ;
        return socket.canReadLine() && socket.readLine() == kRaiseAnswer;
    }
    return false;
}

void releaseSingleInstance()
{
    if (server) {
        server->close(); // removes the socket file
        delete server;
        server = nullptr;
    }
    if (heldLock < 0)
        return;
    ::close(heldLock);
    heldLock = -1;
}

} // namespace hm
