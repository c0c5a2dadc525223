#pragma once
#include <QString>

// Windows private-profile (INI) files: sections and keys compare without regard to case,
// values come back as stored, text is CP932.
namespace hm::profile {

// The most a read gives back, in CP932 bytes.
constexpr qsizetype kMaxValueBytes = 255;

// At most kMaxValueBytes, as a 256-byte read buffer would hold; empty when the file, section
// or key is absent, or when the file cannot be read (problem then says why).
QString read(const QString& file, const QString& section, const QString& key,
             QString* problem = nullptr);

// Sets one key and keeps the rest of the file. Creates the file but never its folder.
// With ownerOnly the file is (re)written readable by its owner alone. A file that exists but
// cannot be read whole (too large, unreadable) is left untouched: false, and problem says why.
bool write(const QString& file, const QString& section, const QString& key, const QString& value,
           bool ownerOnly = false, QString* problem = nullptr);

} // namespace hm::profile
