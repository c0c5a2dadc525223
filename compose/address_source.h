#pragma once
#include <QString>
#include <QStringList>
#include <functional>

// What the compose window reads of address records: the names for its list, one address for
// a picked row, and every address for bulk sending.
namespace hm::compose {

// Visits record number and name of every record of a file of address records (the address
// book or its master list, as hm::addressbook names them), record 1 first; a missing file is
// created empty.
void ReadAddressNames(const QString& relativePath,
                      const std::function<void(qint16, const QString&)>& visit);
// The Address field of one record of the address book store; false when there is none.
bool ReadAddressOf(qint16 number, QString& address);
// The Address field of every record of the address book store, record 1 first.
bool ReadBookAddresses(QStringList& addresses, QString& error);

} // namespace hm::compose
