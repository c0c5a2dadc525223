#include "store/mail_store.h"

#include "common/ansi_codec.h"
#include "store/record_file.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace hm::store {
namespace {

constexpr int kSubjectOffset = 0;
constexpr int kDateOffset = 100;
constexpr int kFromOffset = 190;
constexpr int kBodyOffset = 280;
constexpr int kLineEndOffset = 32280;
constexpr int kLiveOffset = 32282;

QString g_lastError;

records::Format formatOf(Store s)
{
    return {storePath(s), tempPath(s), kRecordSize, kLiveOffset};
}

MailRecordFields& buffer(Store s)
{
    static MailRecordFields received;
    static MailRecordFields sent;
    return s == Store::Received ? received : sent;
}

QString field(const char* record, int offset, int width)
{
    return hm::ansi::decode(record + offset, hm::records::trimmedLength(record + offset, width));
}

void decodeInto(const char* record, MailRecordFields& out, bool withBody)
{
    out.Subject = field(record, kSubjectOffset, kSubjectWidth);
    out.Date = field(record, kDateOffset, kDateWidth);
    out.From = field(record, kFromOffset, kFromWidth);
    if (withBody)
        out.Body = field(record, kBodyOffset, kBodyWidth);
    else
        out.Body.clear();
    out.Live = static_cast<qint16>(static_cast<quint16>(static_cast<unsigned char>(record[kLiveOffset])
                                                        | (static_cast<unsigned char>(record[kLiveOffset + 1]) << 8)));
}

// The CRC-32 of a record. When its body field ends in spaces from bodyEnd on, as an append
// knows, the spaces are not read but taken from a table: a record is mostly padding.
QByteArray checksumOf(const QByteArray& record, int bodyEnd = kLineEndOffset)
{
    // libdeflate's CRC-32 is zlib's, computed with the processor's carry-less multiply: a
    // tenth of zlib's time for the text; zlib joins in the padding's share.
    const char* bytes = record.constData();
    uLong crc = libdeflate_crc32(0, bytes, size_t(bodyEnd));
    if (const int padding = kLineEndOffset - bodyEnd; padding > 0) {
        static const std::vector<quint32> spaces = [] {
            // spaces[k]: the CRC-32 of k spaces.
            std::vector<quint32> t(kBodyWidth + 1);
            const z_crc_t* table = get_crc_table();
            quint32 c = 0xFFFFFFFF;
            for (int k = 1; k <= kBodyWidth; ++k) {
                c = table[(c ^ ' ') & 0xFF] ^ (c >> 8);
                t[size_t(k)] = c ^ 0xFFFFFFFF;
            }
            return t;
        }();
        crc = crc32_combine(crc, spaces[size_t(padding)], padding);
    }
    crc = libdeflate_crc32(quint32(crc), bytes + kLineEndOffset, size_t(kRecordSize - kLineEndOffset));
    return QByteArray::number(quint32(crc), 16).rightJustified(8, '0');
}

bool remember(bool ok, const QString& error)
{
    if (!ok)
        g_lastError = error;
    return ok;
}

} // namespace

QString storePath(Store s)
{
    return s == Store::Received ? QStringLiteral("\\★MAilData\\hymdata2.data")
                                : QStringLiteral("\\★MAilData\\hymdata5.data");
}

QString tempPath(Store s)
{
    return s == Store::Received ? QStringLiteral("\\★MAilData\\HYMDATA2.TMP")
                                : QStringLiteral("\\★MAilData\\HYMDATA5.TMP");
}

qint16& CurrentRecordNumber()
{
    static qint16 number = 0;
    return number;
}

QString lastError()
{
    return g_lastError;
}

qint16 NextRecordNumber(Store s)
{
    return records::nextNumber(formatOf(s));
}

static bool appendRecord(Store s, qint16 number, const QString& subject, const QString& from,
                  const QString& date, const QString& body, const QByteArray* bodyCp932,
                  const BeforeWrite& beforeWrite)
{
    MailRecordFields& buf = buffer(s);
    buf.Subject = Trim(subject).left(kSubjectWidth);
    buf.Date = (s == Store::Received ? Trim(date) : date).left(kDateWidth);
    buf.From = Trim(from).left(kFromWidth);
    buf.Body = Trim(body).left(kBodyWidth);
    buf.Live = 1;

    // One buffer for every append: a 32 KB block freed per record made malloc sort its bins
    // again each time.
    static thread_local QByteArray record(kRecordSize, Qt::Uninitialized);
    char* p = record.data();
    hm::ansi::writeField(p + kSubjectOffset, buf.Subject, kSubjectWidth);
    hm::ansi::writeField(p + kDateOffset, buf.Date, kDateWidth);
    hm::ansi::writeField(p + kFromOffset, buf.From, kFromWidth);
    int bodyEnd = kLineEndOffset;
    if (bodyCp932 && bodyCp932->size() <= kBodyWidth) {
        memcpy(p + kBodyOffset, bodyCp932->constData(), size_t(bodyCp932->size()));
        memset(p + kBodyOffset + bodyCp932->size(), ' ', size_t(kBodyWidth - bodyCp932->size()));
        bodyEnd = kBodyOffset + int(bodyCp932->size());
    } else {
        hm::ansi::writeField(p + kBodyOffset, buf.Body, kBodyWidth);
    }
    p[kLineEndOffset] = '\r';
    p[kLineEndOffset + 1] = '\n';
    p[kLiveOffset] = 1;
    p[kLiveOffset + 1] = 0;

    QString error;
    qint16 written = 0;
    const auto noteFirst = [&](qint16 at) { beforeWrite(at, checksumOf(record, bodyEnd)); };
    if (!records::writeRecord(formatOf(s), number, record, false, false, &written, &error,
                              beforeWrite ? std::function<void(qint16)>(noteFirst) : std::function<void(qint16)>()))
        return remember(false, error);
    CurrentRecordNumber() = written;
    return true;
}

bool AppendRecord(Store s, qint16 number, const QString& subject, const QString& from,
                  const QString& date, const QString& body, const BeforeWrite& beforeWrite)
{
    return appendRecord(s, number, subject, from, date, body, nullptr, beforeWrite);
}

bool AppendRecord(Store s, qint16 number, const QString& subject, const QString& from,
                  const QString& date, const QString& body, const QByteArray& bodyCp932,
                  const BeforeWrite& beforeWrite)
{
    return appendRecord(s, number, subject, from, date, body, &bodyCp932, beforeWrite);
}

bool SetRecordDate(Store s, qint16 number, const QString& date)
{
    QString error;
    QByteArray record;
    if (!records::readRecord(formatOf(s), number, &record, &error))
        return remember(false, error);
    hm::ansi::writeField(record.data() + kDateOffset,
                         (s == Store::Received ? Trim(date) : date).left(kDateWidth), kDateWidth);
    return remember(records::writeRecord(formatOf(s), number, record, true, true, nullptr, &error), error);
}

AppendRun::AppendRun(Store s)
{
    records::keepOpenForAppends(formatOf(s));
}

AppendRun::~AppendRun()
{
    records::endKeepingOpen();
}

bool FlushStore(Store s)
{
    QString error;
    return remember(records::flush(formatOf(s), &error), error);
}

QByteArray RecordChecksum(Store s, qint16 number)
{
    QByteArray record;
    if (!records::readRecord(formatOf(s), number, &record, nullptr))
        return {};
    return checksumOf(record);
}

bool RecordChecksums(Store s, QList<QByteArray>* checksums)
{
    checksums->clear();
    QString error;
    const bool ok = records::forEachRecord(
        formatOf(s), [&](qint16, const char* record, bool) { checksums->append(checksumOf(QByteArray::fromRawData(record, kRecordSize))); },
        &error);
    return remember(ok, error);
}

bool ReadRecord(Store s, qint16 number)
{
    QString error;
    QByteArray record;
    if (!records::readRecord(formatOf(s), number, &record, &error))
        return remember(false, error);
    decodeInto(record.constData(), buffer(s), true);
    return true;
}

const MailRecordFields& RecordBuffer(Store s)
{
    return buffer(s);
}

bool ReadAllRecords(Store s, const std::function<void(qint16, const MailRecordFields&)>& visitor, Fields fields)
{
    MailRecordFields& buf = buffer(s);
    const bool withBody = fields == Fields::All;
    QString error;
    const bool ok = records::forEachRecord(
        formatOf(s),
        [&](qint16 number, const char* record, bool last) {
            decodeInto(record, buf, withBody || last);
            if (visitor)
                visitor(number, buf);
        },
        &error, withBody ? 0 : kBodyOffset);
    return remember(ok, error);
}

bool DeleteRecord(Store s, qint16 number)
{
    QString error;
    if (!records::compact(formatOf(s), number, false, nullptr, &error))
        return remember(false, error);
    CurrentRecordNumber() = number;
    return true;
}

bool DeleteAllRecords(Store s)
{
    const qint16 marked = static_cast<qint16>(std::min<qint64>(records::recordCount(formatOf(s)),
                                                               records::kLastRecordNumber));
    QString error;
    if (!records::compact(formatOf(s), 0, true, nullptr, &error))
        return remember(false, error);
    if (marked > 0)
        CurrentRecordNumber() = marked;
    return true;
}

} // namespace hm::store
