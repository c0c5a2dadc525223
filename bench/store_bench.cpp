// Drives the mail store operations for timing from outside:
//   store_bench FOLDER make N | list | list-headers | delete-one K | delete-all | append N
// FOLDER is a program folder holding "★MAilData". Prints what it did on one line.
#include "common/program_folder.h"
#include "store/mail_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cstdio>

using namespace hm::store;

namespace {

// A message of the kind a Japanese user keeps: a subject, a sender and a body of a few
// kilobytes, varying from record to record.
void appendSample(int i)
{
    const QString subject = QStringLiteral("【お知らせ】第%1回 打ち合わせの日程について").arg(i);
    const QString from = QStringLiteral("sender%1@example.co.jp").arg(i % 97);
    const QString date = QStringLiteral("Mon, 7 Dec 2026 10:%1:00 +0900").arg(i % 60, 2, 10, QLatin1Char('0'));
    QString body;
    const int lines = 20 + i % 40;
    for (int l = 0; l < lines; ++l)
        body += QStringLiteral("いつもお世話になっております。%1行目の本文です。Meeting notes line %2.\r\n").arg(l).arg(i);
    if (!AppendRecord(Store::Received, NextRecordNumber(Store::Received), subject, from, date, body)) {
        std::fprintf(stderr, "append failed: %s\n", qPrintable(lastError()));
        std::exit(1);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3) {
        std::fprintf(stderr, "usage: store_bench FOLDER make N|list|list-headers|delete-one K|delete-all|append N\n");
        return 2;
    }
    hm::setProgramFolder(QString::fromLocal8Bit(argv[1]));
    const QByteArray what = argv[2];
    const int n = argc > 3 ? QByteArray(argv[3]).toInt() : 0;
    QElapsedTimer timer;
    timer.start();
    qint64 count = 0;
    bool ok = true;
    if (what == "make" || what == "append") {
        for (int i = 1; i <= n; ++i)
            appendSample(i);
        ok = FlushStore(Store::Received);
        count = n;
    } else if (what == "list" || what == "list-headers") {
        qint64 chars = 0;
        ok = ReadAllRecords(
            Store::Received,
            [&](qint16, const MailRecordFields& f) {
                ++count;
                chars += f.Subject.size() + f.From.size() + f.Date.size() + f.Body.size();
            },
            what == "list" ? Fields::All : Fields::Headers);
        std::printf("chars %lld\n", static_cast<long long>(chars));
    } else if (what == "delete-one") {
        ok = DeleteRecord(Store::Received, static_cast<qint16>(n));
        count = 1;
    } else if (what == "delete-all") {
        ok = DeleteAllRecords(Store::Received);
    } else {
        return 2;
    }
    if (!ok) {
        std::fprintf(stderr, "%s failed: %s\n", what.constData(), qPrintable(lastError()));
        return 1;
    }
    std::printf("%s: %lld records in %lld ms\n", what.constData(), static_cast<long long>(count),
                static_cast<long long>(timer.elapsed()));
    return 0;
}
