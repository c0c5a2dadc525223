#include "store/mail_store.h"
#include "tests/store/store_test_util.h"
#include "tests/support/test_folder.h"

#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <csignal>

using namespace hm;
using namespace hm::store;

namespace {
const QString kReceived = hm::store::storePath(hm::store::Store::Received);

// Each record's body is derived from its subject, so a torn or shifted record shows.
QByteArray bodyFor(int id)
{
    QByteArray body;
    const QByteArray unit = "record " + QByteArray::number(id) + " line\r\n";
    while (body.size() < 200 + (id * 97) % 20000)
        body += unit;
    return body;
}
} // namespace

class TestStoreCrash : public QObject {
    Q_OBJECT
private slots:
    void killedCompactionsLoseNothingButTheDeletedRecord();
};

void TestStoreCrash::killedCompactionsLoseNothingButTheDeletedRecord()
{
    test::TestFolder folder;
    const int initial = 300;
    QByteArray file;
    QList<int> expected;
    for (int id = 1; id <= initial; ++id) {
        file += test::mailRecord("R" + QByteArray::number(id), "date", "from", bodyFor(id));
        expected << id;
    }
    folder.write(kReceived, file);

    QRandomGenerator random(20261207);
    int interrupted = 0;
    int rounds = 0;
    for (; rounds < 60 && expected.size() > 30; ++rounds) {
        QProcess child;
        child.start(QStringLiteral(HM_COMPACTION_CHILD),
                    {folder.path(), QString::number(random.generate())});
        QVERIFY(child.waitForStarted());
        QTest::qSleep(static_cast<int>(random.bounded(5, 250)));
        ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished());

        QList<int> announced;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            if (line.startsWith("D R"))
                announced << line.mid(3).toInt();
        }
        // Every deletion but the last announced one returned before the next began.
        QList<int> done = expected;
        for (int i = 0; i + 1 < announced.size(); ++i)
            QVERIFY(done.removeOne(announced[i]));
        QList<int> withoutLast = done;
        if (!announced.isEmpty())
            QVERIFY(withoutLast.removeOne(announced.last()));

        QVERIFY2(QFileInfo(folder.file(kReceived)).size() % 32284 == 0, "a compaction left a torn store");
        QList<int> found;
        bool intact = true;
        QVERIFY(ReadAllRecords(Store::Received, [&](qint16, const MailRecordFields& f) {
            const int id = f.Subject.mid(1).toInt();
            found << id;
            if (f.Body.toLatin1() != bodyFor(id) || f.Live != 1)
                intact = false;
        }));
        QVERIFY2(intact, "a record came back damaged");
        if (found == withoutLast && !announced.isEmpty()) {
            expected = withoutLast;
        } else {
            QCOMPARE(found, done);
            expected = done;
            if (!announced.isEmpty())
                ++interrupted;
        }
    }
    qInfo("%d rounds, %d killed in the middle of a deletion", rounds, interrupted);
    QVERIFY2(interrupted > 0, "no kill landed inside a deletion");
}

QTEST_GUILESS_MAIN(TestStoreCrash)
#include "test_store_crash.moc"
