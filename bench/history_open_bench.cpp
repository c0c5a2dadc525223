// Opening the history window on a full received store (32,767 records, about 1 GB), beside
// reading the same file with cat. Each open builds the window afresh, as the first open after
// the program starts does. Prints figures; it does not judge them.
#include "bench/bench_support.h"
#include "common/program_folder.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "store/mail_store.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

double catMilliseconds(const QString& path)
{
    QElapsedTimer t;
    t.start();
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    cat.start(QStringLiteral("cat"), {path});
    cat.waitForFinished(-1);
    return t.nsecsElapsed() / 1e6;
}

// The offscreen platform cannot raise a window and says so at every open.
void quietAboutRaise(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (!text.contains(QLatin1String("does not support raise")))
        QTextStream(stderr) << (type == QtWarningMsg ? "warning: " : "") << text << "\n";
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quietAboutRaise);
    const int records = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 32767;
    const int runs = 5;

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("★MAilData"));
    hm::setProgramFolder(dir.path());
    using hm::store::Store;
    // A few hundred distinct records written by the store itself, repeated to the full length.
    const QString body = QStringLiteral("本文の行です。This is a line of the body.\r\n").repeated(40);
    const int distinct = std::min(records, 256);
    for (int i = 1; i <= distinct; ++i) {
        if (!hm::store::AppendRecord(Store::Received, static_cast<qint16>(i), QStringLiteral("件名 %1").arg(i),
                                     QStringLiteral("sender%1@example.jp").arg(i),
                                     QStringLiteral("Mon, 7 Dec 2026 09:00:00 +0900"), body.repeated(1 + i % 16))) {
            QTextStream(stderr) << "append failed: " << hm::store::lastError() << "\n";
            return 1;
        }
    }
    const QString file = hm::dataPath(hm::store::storePath(Store::Received));
    {
        QFile f(file);
        f.open(QIODevice::ReadWrite);
        const QByteArray some = f.readAll();
        for (int i = distinct; i < records; i += distinct)
            f.write(some.constData(), qint64(std::min(distinct, records - i)) * hm::store::kRecordSize);
    }
    const qint64 bytes = QFileInfo(file).size();

    QList<double> cat, open;
    catMilliseconds(file); // warm the page cache for both
    for (int r = 0; r < runs; ++r) {
        cat << catMilliseconds(file);
        QElapsedTimer t;
        t.start();
        TyakuForm* form = hm::history::OpenHistory(hm::history::HistoryMode::Received);
        QApplication::processEvents(); // the first paint belongs to what the user waits for
        open << t.nsecsElapsed() / 1e6;
        if (form->Text2->text() != QString::number(records)) {
            QTextStream(stderr) << "wrong row count " << form->Text2->text() << "\n";
            return 1;
        }
        form->close();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    const double c = hm::bench::median(cat);
    const double o = hm::bench::median(open);
    QTextStream out(stdout);
    out << "history window opened on a store of " << records << " records (" << bytes / (1024 * 1024)
        << " MiB), each open a new window, median of " << runs << ":\n";
    out << "  open to the first paint  " << QString::number(o, 'f', 1) << " ms\n";
    out << "  cat of the store         " << QString::number(c, 'f', 1) << " ms\n";
    out << "  ratio open/cat: " << QString::number(o / c, 'f', 2) << "\n";
    return 0;
}
