#pragma once
#include <QByteArray>
#include <QString>

namespace hm {

// Writes data to a temporary file beside path, flushes it to disk and renames it over path,
// so a crash leaves either the old or the new content whole. With ownerOnly the file is
// readable by its owner alone (it holds a password). Returns false when anything failed;
// the old file is then untouched.
bool writeFileAtomically(const QString& path, const QByteArray& data, bool ownerOnly = false);

// Flushes a directory entry change (a rename) to disk.
bool syncDirectoryOf(const QString& path);

} // namespace hm
