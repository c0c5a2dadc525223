#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <functional>

// The received and sent mail stores: fixed-length MailRecords of 32,284 bytes (Subject 100,
// Date 90, From 90, Body 32,000, CR LF, 16-bit little-endian Live), CP932 text padded with
// spaces. Each call opens the store, works and closes it again.
namespace hm::store {

enum class Store { Received, Sent }; // "\\★MAilData\\hymdata2.data" / "\\★MAilData\\hymdata5.data"

constexpr int kRecordSize = 32284;
constexpr int kSubjectWidth = 100;
constexpr int kDateWidth = 90;
constexpr int kFromWidth = 90;
constexpr int kBodyWidth = 32000;

// Decoded fields; trailing spaces and NULs are dropped, NULs inside stay (lists cut there).
struct MailRecordFields {
    QString Subject, Date, From, Body;
    qint16 Live = 0;
};

// Relative data paths of a store and of the temporary file its deletions write.
QString storePath(Store s);
QString tempPath(Store s);

// The store's length / 32,284 + 1, rounded to the nearest (a half to the even neighbour).
// 0 when the store already holds 32,767 records: AppendRecord then refuses with a message.
qint16 NextRecordNumber(Store s);

// Appends one record behind the last whole one (a partial tail left by a crash is cut off
// first). Subject, from and body are trimmed of ASCII spaces; so is the date in the received
// store, while the sent store keeps the clock text as given. number is what NextRecordNumber
// gave; a number inside the store is refused rather than overwriting a message. Sets
// CurrentRecordNumber to the number written. False on failure, with lastError() set.
// beforeWrite, when given, learns the number the record is about to get and its checksum (as
// RecordChecksum will give it once written) just before the write.
using BeforeWrite = std::function<void(qint16 number, const QByteArray& checksum)>;
bool AppendRecord(Store s, qint16 number, const QString& subject, const QString& from,
                  const QString& date, const QString& body, const BeforeWrite& beforeWrite = {});
// The same with the body's field given as CP932 already: the trimmed body encoded whole, no
// longer than kBodyWidth bytes (a caller that measured the body has it at hand).
bool AppendRecord(Store s, qint16 number, const QString& subject, const QString& from,
                  const QString& date, const QString& body, const QByteArray& bodyCp932,
                  const BeforeWrite& beforeWrite = {});
// Rewrites the Date field of record number in place and makes it durable; the other bytes are
// written back as they were, so a crash midway loses nothing. The record buffer is not touched.
bool SetRecordDate(Store s, qint16 number, const QString& date);
// While one lives, appends to the store keep its file open between records instead of finding
// and opening it for each: a mail check appends hundreds in a row. One at a time.
class AppendRun {
public:
    explicit AppendRun(Store s);
    ~AppendRun();
    AppendRun(const AppendRun&) = delete;
    AppendRun& operator=(const AppendRun&) = delete;
};

// Makes every append so far durable (flushed to disk).
bool FlushStore(Store s);

// A checksum of record number as the store holds it now (the record buffer is not touched);
// empty when there is no such record.
QByteArray RecordChecksum(Store s, qint16 number);
// The checksum of every whole record, in order (record 1 first), from one sequential read;
// false when the store cannot be read.
bool RecordChecksums(Store s, QList<QByteArray>* checksums);

// Reads one record into the store's record buffer.
bool ReadRecord(Store s, qint16 number);
const MailRecordFields& RecordBuffer(Store s);

// Headers leaves Body empty for every record but the last, which the buffer then holds whole.
enum class Fields { All, Headers };
// Visits every whole record in order with one sequential read of the store; the buffer holds
// the last record afterwards. A trailing partial record is not visited.
bool ReadAllRecords(Store s, const std::function<void(qint16 number, const MailRecordFields&)>& visitor,
                    Fields fields = Fields::All);

// Removes one record (and any marked dead); the rest move up without gaps. The store is
// rewritten through its temporary file, so a crash leaves the old or the new content whole.
bool DeleteRecord(Store s, qint16 number);
// Empties the store (it stays as an empty file).
bool DeleteAllRecords(Store s);

// Program-wide, shared with the address book: the last record appended or marked.
qint16& CurrentRecordNumber();

// Clear Japanese text of the last failure.
QString lastError();

} // namespace hm::store
