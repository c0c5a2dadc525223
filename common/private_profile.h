#pragma once
#include <QString>

// Windows private-profile (INI) files: sections and keys compare without regard to case,
// values come back as stored, text is CP932.
namespace hm::profile {

// At most 255 bytes, as a 256-byte read buffer would hold; empty when the file, section
// or key is absent.
QString read(const QString& file, const QString& section, const QString& key);

// Sets one key and keeps the rest of the file. Creates the file but never its folder.
// With ownerOnly the file is (re)written readable by its owner alone.
bool write(const QString& file, const QString& section, const QString& key, const QString& value,
           bool ownerOnly = false);

} // namespace hm::profile
