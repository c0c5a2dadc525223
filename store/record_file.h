#pragma once
#include <QByteArray>
#include <QString>
#include <functional>

// Fixed-length record files (the mail stores and the address book). Every call opens the file,
// does its work with large sequential reads and writes, and closes it again. Rewrites go to the
// temporary file, which is flushed to disk and renamed over the store, so a crash at any moment
// leaves either the old or the new content whole.
namespace hm::records {

struct Format {
    QString path;      // relative data path of the store ("\\★MAilData\\hymdata2.data")
    QString tempPath;  // relative data path of its temporary file
    int recordSize;    // bytes per record
    int liveOffset;    // offset of the 16-bit little-endian Live field
};

// Record numbers are 16-bit: this is the last one a file can hold.
constexpr qint16 kLastRecordNumber = 32767;

// The file length divided by the record size, plus 1, rounded to the nearest integer (a half
// to the even neighbour), as every writer of these files computes it. 0 when the file already
// holds kLastRecordNumber whole records; a failure to look at the file counts as an empty file.
qint16 nextNumber(const Format& f);
qint16 nextNumberForLength(qint64 length, int recordSize);

// Writes one record of exactly recordSize bytes. A number past the whole records appends
// behind them (a partial tail is cut off first, so it never turns into a record); a number
// inside them overwrites that record only when overwrite is set. writtenAs receives the number
// actually used. With durable the data reaches the disk before the call returns. beforeWrite,
// when given, learns that number just before the record is written.
bool writeRecord(const Format& f, qint16 number, const QByteArray& record, bool overwrite,
                 bool durable, qint16* writtenAs, QString* error,
                 const std::function<void(qint16 number)>& beforeWrite = {});

// From keepOpenForAppends until endKeepingOpen, writeRecord keeps the file of f open between
// writes instead of finding and opening it for each; a file renamed over it in between is
// noticed and opened anew. One file at a time.
void keepOpenForAppends(const Format& f);
void endKeepingOpen();

// Makes every write so far reach the disk.
bool flush(const Format& f, QString* error);

// Reads record number into record (recordSize bytes). False when it does not exist.
bool readRecord(const Format& f, qint16 number, QByteArray* record, QString* error);

// Calls visit for every whole record in order (last is set for the final one); a partial tail
// is not visited. A missing store is created empty, as every open of these files does. With
// headBytes, only the first headBytes bytes and the Live field of every record but the last
// are read (the rest of what visit sees is unspecified); the last is read whole.
bool forEachRecord(const Format& f,
                   const std::function<void(qint16 number, const char* record, bool last)>& visit,
                   QString* error, int headBytes = 0);

// Length of a fixed field without its trailing spaces and NULs.
qsizetype trimmedLength(const char* field, qsizetype width);

// Rewrites the store without the records whose Live field is 0 and without record skip
// (0: none), renumbering the rest without gaps; with dropAll it ends empty. The old store stays
// whole until its replacement is on disk. removed receives how many records went.
bool compact(const Format& f, qint16 skip, bool dropAll, int* removed, QString* error);

// Whole records in the store (a missing store holds none).
qint64 recordCount(const Format& f);

} // namespace hm::records
