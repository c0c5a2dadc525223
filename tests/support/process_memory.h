#pragma once
// The process's own memory as Linux counts it, for the tests and benchmarks that bound it.
#include <QByteArray>
#include <QFile>

namespace hm::test {

// A line of /proc/self/status in kB ("VmRSS:", "VmHWM:"); -1 when it is missing.
inline long statusKilobytes(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qstrlen(key)).trimmed().split(' ').value(0).toLong();
    return -1;
}

// From here on VmHWM is the high-water mark of what follows alone.
inline void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace hm::test
