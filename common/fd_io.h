#pragma once
#include <QtGlobal>

#include <sys/types.h>

// Whole reads and writes on a descriptor, retried after interruptions and short transfers.
namespace hm {

// Reads until n bytes or end of file, from the file position or, when given, from offset;
// -1 on error (errno tells which).
qint64 readFully(int fd, char* buffer, qint64 n, off_t offset = -1);

// Writes all n bytes at the file position or, when given, at offset; false on error.
bool writeFully(int fd, const char* data, qint64 n, off_t offset = -1);

} // namespace hm
