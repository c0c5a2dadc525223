#pragma once
#include <QByteArray>
#include <QString>

#include <sys/types.h>

// How the program writes its files: never through a link found at the name (someone else's
// file must not receive mail), mail readable by its owner alone.
namespace hm {

// open(2) on path with O_NOFOLLOW and O_CLOEXEC added: a link at path fails (ELOOP) instead
// of being written through. With O_CREAT a new file gets mode (the umask applies as usual).
int openOwnFile(const QString& path, int flags, mode_t mode = 0600);

// Creates a file that did not exist in folder, named prefix, six random letters or digits and
// suffix, open for reading and writing; never through a link. Returns the descriptor and the
// name in *path, or -1 (errno tells why).
int createUniqueFile(const QString& folder, const QString& prefix, const QString& suffix, QString* path,
                     mode_t mode = 0600);

// Writes data to a new temporary file beside path, flushes it to disk and renames it over
// path, so a crash leaves either the old or the new content whole, and a link at path is
// replaced, not written through. The file keeps the mode of the one it replaces; with
// ownerOnly it is readable by its owner alone (it holds mail or a password). Returns false
// when anything failed; the old file is then untouched.
bool writeFileAtomically(const QString& path, const QByteArray& data, bool ownerOnly = false);

// Flushes a directory entry change (a rename) to disk.
bool syncDirectoryOf(const QString& path);

} // namespace hm
