#include "app/single_instance.h"

#include "common/atomic_file.h"
#include "common/program_folder.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QSocketNotifier>
#include <QThread>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace hm {
namespace {

int heldLock = -1;
// A plain Unix socket and a notifier, rather than Qt Network: the launch maps no more
// libraries for a request that comes once in a while.
int listening = -1;
QSocketNotifier* notifier = nullptr;
std::function<void()> raiseHandler;

const QByteArray kRaiseRequest = "raise\n";
const QByteArray kRaiseAnswer = "raised\n";

// The socket's address; false when the path does not fit one.
bool addressOf(sockaddr_un& address)
{
    const QByteArray path = QFile::encodeName(instanceSocketPath());
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= qsizetype(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
    return true;
}

// Reads up to a line end within the time left; what came, without waiting longer.
QByteArray readLine(int fd, const QDeadlineTimer& deadline)
{
    QByteArray line;
    char c = 0;
    while (!line.endsWith('\n') && line.size() < 64) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 0))) <= 0 || ::read(fd, &c, 1) != 1)
            break;
        line += c;
    }
    return line;
}

void answerOne()
{
    const int fd = ::accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
        return;
    // The asker writes at once; one that does not is not waited for long.
    if (readLine(fd, QDeadlineTimer(1000)) == kRaiseRequest) {
        if (raiseHandler)
            raiseHandler();
        (void)::send(fd, kRaiseAnswer.constData(), size_t(kRaiseAnswer.size()), MSG_NOSIGNAL);
    }
    ::close(fd);
}

} // namespace

// Only the holder of the claim listens, so a socket file found here is a crashed instance's.
void listenForRaiseRequests()
{
    sockaddr_un address;
    if (listening >= 0 || !addressOf(address))
        return; // too long a path: a later launch then says it could not reach this one
    ::unlink(address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::chmod(address.sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        ::unlink(address.sun_path);
        return;
    }
    listening = fd;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] { answerOne(); });
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
    sockaddr_un address;
    if (!addressOf(address))
        return false;
    // The running instance may hold the claim a moment before it listens.
    const QDeadlineTimer deadline(3000);
    while (!deadline.hasExpired()) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            QThread::msleep(100);
            continue;
        }
        const bool raised =
            ::send(fd, kRaiseRequest.constData(), size_t(kRaiseRequest.size()), MSG_NOSIGNAL) == kRaiseRequest.size()
            && readLine(fd, deadline) == kRaiseAnswer;
        ::close(fd);
        return raised;
    }
    return false;
}

void releaseSingleInstance()
{
    if (listening >= 0) {
        delete notifier;
        notifier = nullptr;
        ::close(listening);
        listening = -1;
        ::unlink(QFile::encodeName(instanceSocketPath()).constData());
    }
    if (heldLock < 0)
        return;
    ::close(heldLock);
    heldLock = -1;
}

} // namespace hm
