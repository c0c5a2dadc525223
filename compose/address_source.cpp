#include "compose/address_source.h"

#include "addressbook/address_store.h"
#include "common/ansi_codec.h"

namespace hm::compose {

void ReadAddressNames(const QString& relativePath,
                      const std::function<void(qint16, const QString&)>& visit)
{
    // The store room creates a missing file, and never through a link.
    hm::addressbook::ReadAllAddressesIn(relativePath, [&](qint16 number, const QString& name, const QString&) {
        visit(number, CutAtNul(name));
    });
}

bool ReadAddressOf(qint16 number, QString& address)
{
    QString name;
    if (number < 1 || !hm::addressbook::ReadAddress(number, name, address))
        return false;
    address = CutAtNul(address);
    return true;
}

bool ReadBookAddresses(QStringList& addresses, QString& error)
{
    addresses.clear();
    const bool ok = hm::addressbook::ReadAllAddresses(
        [&](qint16, const QString&, const QString& address) { addresses.append(CutAtNul(address)); });
    if (!ok)
        error = hm::addressbook::lastError();
    return ok;
}

} // namespace hm::compose
