#include "app/single_instance.h"

#include "common/atomic_file.h"
#include "common/program_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace hm {
namespace {

int heldLock = -1;

} // namespace

QString instanceLockPath()
{
    return dataPath(QStringLiteral("\\★MAilData\\hayatemail.lock"));
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
    return true;
}

void releaseSingleInstance()
{
    if (heldLock < 0)
        return;
    ::close(heldLock);
    heldLock = -1;
}

} // namespace hm
