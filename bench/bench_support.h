#pragma once
// Small helpers shared by the benchmarks.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <algorithm>

namespace hm::bench {

// The middle value; the mean of the two middle ones for an even count.
inline double median(QList<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The machine's load average over 1, 5 and 15 minutes, as /proc/loadavg gives it, so that a
// figure can be read beside how busy its neighbours kept the machine.
inline QString loadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() < 3 ? QStringLiteral("unknown")
                             : QString::fromLatin1(fields[0] + ' ' + fields[1] + ' ' + fields[2]);
}

// With a relay (bench/delay_relay.py) listening on the port the variable names, the server port
// of the mail_servers env becomes the relay's, so that the same run goes over a slower link.
// Says so for the figures (the round trip from BENCH_RTT_MS), or returns an empty text.
inline QString throughRelay(const char* variable, int* port)
{
    const int relay = qEnvironmentVariableIntValue(variable);
    if (relay <= 0)
        return {};
    *port = relay;
    return QStringLiteral(", through a relay adding a %1 ms round trip").arg(qEnvironmentVariableIntValue("BENCH_RTT_MS"));
}

// Copies a folder with everything under it (a fresh program folder for a run).
inline void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (fi.isDir())
            copyTree(fi.filePath(), to + QLatin1Char('/') + fi.fileName());
        else
            QFile::copy(fi.filePath(), to + QLatin1Char('/') + fi.fileName());
    }
}

} // namespace hm::bench
