#pragma once
#include <QByteArray>
#include <QString>

namespace hm {

// The program's own small files (the server file, the account file, lists) are read whole,
// but never beyond this size: a huge file is refused instead of freezing the program.
inline constexpr qint64 kSmallFileLimit = 1024 * 1024;

enum class SmallFile { Read, Missing, TooLarge, Unreadable };

// Reads the whole file into bytes when it exists and is at most limit bytes.
SmallFile readSmallFile(const QString& path, QByteArray* bytes, qint64 limit = kSmallFileLimit);

// The message that tells the user why the file was not read and that it was left as it is;
// empty for Read and Missing.
QString smallFileProblem(const QString& path, SmallFile result, qint64 limit = kSmallFileLimit);

} // namespace hm
