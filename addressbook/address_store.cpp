#include "addressbook/address_store.h"

#include "common/ansi_codec.h"
#include "store/record_file.h"

namespace hm::addressbook {
namespace {

// Name, CR LF, Live, Address: each field starts where the one before it ends.
constexpr int kNameOffset = 0;
constexpr int kLineEndOffset = kNameOffset + kNameWidth;
constexpr int kLiveOffset = kLineEndOffset + 2;
constexpr int kAddressOffset = kLiveOffset + 2;
static_assert(kAddressOffset + kAddressWidth == kRecordSize);

QString g_lastError;

records::Format formatOf(const QString& relativePath)
{
    return {relativePath, addressTempPath(), kRecordSize, kLiveOffset};
}

records::Format bookFormat()
{
    return formatOf(addressBookPath());
}

bool remember(bool ok, const QString& error)
{
    if (!ok)
        g_lastError = error;
    return ok;
}

} // namespace

QString addressBookPath()
{
    return QStringLiteral("\\★MAilData\\Hymdata20.data");
}

QString addressTempPath()
{
    return QStringLiteral("\\★MAilData\\HYMDATA20.TMP");
}

QString masterListPath()
{
    return QStringLiteral("\\★MAilData\\HYMASTER20.INI");
}

QString lastError()
{
    return g_lastError;
}

qint16 NextAddressNumber()
{
    return NextAddressNumberIn(addressBookPath());
}

qint16 NextAddressNumberIn(const QString& relativePath)
{
    return records::nextNumber(formatOf(relativePath));
}

bool WriteAddress(qint16 number, const QString& name, const QString& address, qint16* writtenAs)
{
    QByteArray record(kRecordSize, Qt::Uninitialized);
    char* p = record.data();
    hm::ansi::writeField(p + kNameOffset, name, kNameWidth);
    p[kLineEndOffset] = '\r';
    p[kLineEndOffset + 1] = '\n';
    p[kLiveOffset] = 1;
    p[kLiveOffset + 1] = 0;
    hm::ansi::writeField(p + kAddressOffset, address, kAddressWidth);
    QString error;
    return remember(records::writeRecord(bookFormat(), number, record, true, true, writtenAs, &error), error);
}

bool ReadAddressIn(const QString& relativePath, qint16 number, QString& name, QString& address)
{
    QString error;
    QByteArray record;
    if (!records::readRecord(formatOf(relativePath), number, &record, &error))
        return remember(false, error);
    name = hm::ansi::decode(record.constData() + kNameOffset, kNameWidth);
    address = hm::ansi::decode(record.constData() + kAddressOffset, kAddressWidth);
    return true;
}

bool ReadAddress(qint16 number, QString& name, QString& address)
{
    return ReadAddressIn(addressBookPath(), number, name, address);
}

bool ReadAllAddressesIn(const QString& relativePath, const AddressVisitor& visitor)
{
    QString error;
    const bool ok = records::forEachRecord(
        formatOf(relativePath),
        [&](qint16 number, const char* record, bool) {
            if (visitor)
                visitor(number, hm::ansi::decode(record + kNameOffset, kNameWidth),
                        hm::ansi::decode(record + kAddressOffset, kAddressWidth));
        },
        &error);
    return remember(ok, error);
}

bool ReadAllAddresses(const AddressVisitor& visitor)
{
    return ReadAllAddressesIn(addressBookPath(), visitor);
}

bool CompactAddressBook()
{
    QString error;
    return remember(records::compact(bookFormat(), 0, false, nullptr, &error), error);
}

bool DeleteAddress(qint16 number)
{
    QString error;
    return remember(records::compact(bookFormat(), number, false, nullptr, &error), error);
}

bool DeleteAllAddresses()
{
    QString error;
    return remember(records::compact(bookFormat(), 0, true, nullptr, &error), error);
}

} // namespace hm::addressbook
