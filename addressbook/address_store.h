#pragma once
#include <QString>
#include <functional>

// The address book store "\\★MAilData\\Hymdata20.data": 184-byte AddressRecords (Name 90,
// CR LF, 16-bit little-endian Live, Address 90) in CP932, padded with spaces. Texts are stored
// as typed and handed back as stored (padding included); callers trim or cut at NUL as they show.
namespace hm::addressbook {

constexpr int kRecordSize = 184;
constexpr int kNameWidth = 90;
constexpr int kAddressWidth = 90;

QString addressBookPath(); // "\\★MAilData\\Hymdata20.data"
QString addressTempPath(); // "\\★MAilData\\HYMDATA20.TMP"
// The compose window's master list, in the same record format.
QString masterListPath(); // "\\★MAilData\\HYMASTER20.INI"

using AddressVisitor = std::function<void(qint16 number, const QString& name, const QString& address)>;

// The store's length / 184 + 1, rounded to the nearest (a half to the even neighbour); 0 when
// the store already holds 32,767 entries.
qint16 NextAddressNumber();
// Writes an entry (Live = 1) as record number, durable when it returns. A number past the
// last whole record appends right behind it (a partial tail is cut off, never left as an
// entry); the number written goes to writtenAs. False on failure, with lastError() set.
bool WriteAddress(qint16 number, const QString& name, const QString& address, qint16* writtenAs = nullptr);
bool ReadAddress(qint16 number, QString& name, QString& address);
bool ReadAllAddresses(const AddressVisitor& visitor);
// Removes the entries marked dead (and a partial tail); the rest keep their order.
bool CompactAddressBook();
// Removes entry number in one rewrite; entries behind it move up by one.
bool DeleteAddress(qint16 number);
bool DeleteAllAddresses();

// The same reads over another file of this format (relative data path).
bool ReadAddressIn(const QString& relativePath, qint16 number, QString& name, QString& address);
bool ReadAllAddressesIn(const QString& relativePath, const AddressVisitor& visitor);
qint16 NextAddressNumberIn(const QString& relativePath);

QString lastError();

} // namespace hm::addressbook
