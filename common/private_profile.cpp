#include "common/private_profile.h"

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/small_file.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace hm::profile {
namespace {

// The lines of the file; false when it exists but could not be read whole.
bool readLines(const QString& path, QStringList* lines, QString* problem)
{
    lines->clear();
    QByteArray bytes;
    const SmallFile result = readSmallFile(path, &bytes);
    if (result == SmallFile::TooLarge || result == SmallFile::Unreadable) {
        if (problem)
            *problem = smallFileProblem(path, result);
        return false;
    }
    QString text = ansi::decode(bytes);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    *lines = text.split(QLatin1Char('\n'));
    if (!lines->isEmpty() && lines->last().isEmpty())
        lines->removeLast();
    return true;
}

QString sectionName(const QString& line)
{
    const QString t = line.trimmed();
    if (t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']')))
        return t.mid(1, t.size() - 2).trimmed();
    return {};
}

bool isSection(const QString& line)
{
    const QString t = line.trimmed();
    return t.startsWith(QLatin1Char('[')) && t.endsWith(QLatin1Char(']'));
}

bool keyMatches(const QString& line, const QString& key, QString* value)
{
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq < 0)
        return false;
    if (line.left(eq).trimmed().compare(key.trimmed(), Qt::CaseInsensitive) != 0)
        return false;
    if (value) {
        QString v = line.mid(eq + 1).trimmed();
        if (v.size() >= 2 && v.startsWith(QLatin1Char('"')) && v.endsWith(QLatin1Char('"')))
            v = v.mid(1, v.size() - 2);
        *value = v;
    }
    return true;
}

} // namespace

QString read(const QString& file, const QString& section, const QString& key, QString* problem)
{
    QStringList lines;
    if (!readLines(file, &lines, problem))
        return {};
    bool inSection = false;
    for (const QString& line : std::as_const(lines)) {
        if (isSection(line)) {
            inSection = sectionName(line).compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        QString value;
        if (inSection && keyMatches(line, key, &value))
            return ansi::decode(ansi::cutBytes(ansi::encode(CutAtNul(value)), kMaxValueBytes));
    }
    return {};
}

bool write(const QString& file, const QString& section, const QString& key, const QString& value,
           bool ownerOnly, QString* problem)
{
    if (!QFileInfo(QFileInfo(file).absolutePath()).isDir())
        return false;
    // A line break in a value would smuggle a new key into the file.
    QString clean = value;
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    const QString entry = key + QLatin1Char('=') + clean;

    // A file that could not be read whole is left alone rather than rewritten with one key.
    QStringList lines;
    if (!readLines(file, &lines, problem))
        return false;
    qsizetype sectionAt = -1;
    qsizetype insertAt = -1;
    bool done = false;
    for (qsizetype i = 0; i < lines.size() && !done; ++i) {
        if (isSection(lines[i])) {
            if (sectionAt >= 0)
                break; // end of our section
            if (sectionName(lines[i]).compare(section, Qt::CaseInsensitive) == 0) {
                sectionAt = i;
                insertAt = i + 1;
            }
            continue;
        }
        if (sectionAt >= 0) {
            if (keyMatches(lines[i], key, nullptr)) {
                lines[i] = entry;
                done = true;
            } else if (!lines[i].trimmed().isEmpty()) {
                insertAt = i + 1;
            }
        }
    }
    if (!done) {
        if (sectionAt >= 0) {
            lines.insert(insertAt, entry);
        } else {
            lines << QLatin1Char('[') + section + QLatin1Char(']') << entry;
        }
    }
    QByteArray data;
    for (const QString& line : lines)
        data += ansi::encode(line) + "\r\n";
    return writeFileAtomically(file, data, ownerOnly);
}

} // namespace hm::profile
