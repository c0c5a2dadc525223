// The mail check killed at random moments, round after round, against the real POP3 server:
// every message must end up exactly once in the received store, or still on the server and in
// the store at most once.
#include "store/mail_store.h"
#include "tests/app/mail_check_fixture.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <csignal>

namespace {

QByteArray numbered(int id)
{
    QByteArray body;
    while (body.size() < 2000 + (id * 131) % 6000)
        body += "message " + QByteArray::number(id) + " of the kill test\r\n";
    return "From: sender@localhost\r\nTo: test@localhost\r\nSubject: kill " + QByteArray::number(id)
           + "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=US-ASCII\r\n\r\n" + body;
}

} // namespace

class TestCheckMailKill : public QObject, hm::test::MailCheckFixture {
    Q_OBJECT
private slots:
    void initTestCase() { loadServers(); }
    void killedChecksNeitherLoseNorDuplicate_data();
    void killedChecksNeitherLoseNorDuplicate();

private:
    // How often each id is in the store and on the server.
    QHash<int, int> inStore() const
    {
        QHash<int, int> count;
        hm::store::ReadAllRecords(
            hm::store::Store::Received,
            [&](qint16, const hm::store::MailRecordFields& f) { ++count[f.Subject.mid(5).toInt()]; },
            hm::store::Fields::Headers);
        return count;
    }
    QSet<int> onServer() const
    {
        static const QRegularExpression subject(QStringLiteral("^Subject: kill (\\d+)"),
                                                QRegularExpression::MultilineOption);
        // A session the kill cut short may still be moving files from new/ to cur/ (or renaming
        // them for their flags): a file gone between the listing and its read means the listing
        // is stale, so the whole pass is made again.
        for (int pass = 0;; ++pass) {
            QSet<int> ids;
            bool stale = false;
            for (const QString& path : env.messageFiles()) {
                QFile f(path);
                if (!f.open(QIODevice::ReadOnly)) {
                    stale = true;
                    break;
                }
                if (const auto m = subject.match(QString::fromLatin1(f.read(4096))); m.hasMatch())
                    ids << m.captured(1).toInt();
            }
            if (!stale || pass == 50)
                return ids;
            QTest::qWait(20);
        }
    }
    // With a day, the check runs by a clock set to that many days after the first round.
    QProcess* startCheck(int day = -1)
    {
        auto* child = new QProcess(this);
        QStringList arguments = {folder->path(), env.pop3Server()};
        if (day >= 0)
            arguments << QDateTime(QDate(2026, 12, 1), QTime(9, 0), Qt::UTC).addDays(day).toString(Qt::ISODate);
        child->start(QStringLiteral(HM_CHECK_CHILD), arguments);
        return child;
    }
};

void TestCheckMailKill::killedChecksNeitherLoseNorDuplicate_data()
{
    QTest::addColumn<bool>("keep");
    QTest::addColumn<int>("seconds");
    QTest::newRow("deleted once stored") << false << 60;
    // A day passes each round, and mail goes two days after it was stored.
    QTest::newRow("kept on the server for two days") << true << 40;
}

void TestCheckMailKill::killedChecksNeitherLoseNorDuplicate()
{
    QFETCH(bool, keep);
    QFETCH(int, seconds);
    env.clearMailbox();
    folder.reset(); // the last row's goes first: it puts the program folder back as it goes
    folder = std::make_unique<hm::test::TestFolder>();
    saveAccount(env.user, env.password);
    if (keep)
        QVERIFY(hm::settings::WriteKeepOnServer({true, 2}));
    const auto day = [keep](int round) { return keep ? round : -1; };

    QRandomGenerator random(20261212);
    int dropped = 0, rounds = 0, kills = 0, lost = 0, duplicated = 0;
    // Messages a killed check had stored but not yet deleted: without the ledger, duplicates.
    int storedNotDeleted = 0;
    QElapsedTimer budget;
    budget.start();
    // A fast check would otherwise fill the store (32,767 records) before the minute is over.
    for (; budget.elapsed() < seconds * 1000 && dropped < 20000; ++rounds) {
        if (onServer().size() < 100)
            for (int i = 0; i < 300; ++i)
                env.drop(numbered(++dropped));
        QProcess* child = startCheck(day(rounds));
        QVERIFY(child->waitForStarted());
        if (!child->waitForFinished(int(random.bounded(30, 800)))) {
            ::kill(pid_t(child->processId()), SIGKILL);
            QVERIFY(child->waitForFinished());
            ++kills;
        }
        delete child;

        const QHash<int, int> stored = inStore();
        const QSet<int> server = onServer();
        for (int id = 1; id <= dropped; ++id) {
            lost += stored.value(id) == 0 && !server.contains(id) ? 1 : 0;
            duplicated += qMax(0, stored.value(id) - 1);
            storedNotDeleted += stored.value(id) > 0 && server.contains(id) ? 1 : 0;
        }
        QVERIFY2(lost == 0 && duplicated == 0,
                 qPrintable(QStringLiteral("round %1: %2 lost, %3 duplicated").arg(rounds).arg(lost).arg(duplicated)));
    }

    const int deletedInRounds = dropped - int(onServer().size());

    // A check left to finish takes the rest: every message is in the store exactly once. The
    // server may still hold the mailbox for a session it has not yet seen die, so the user's
    // next press of "受信" is allowed a few tries, as a user would. Kept mail goes once its days
    // are up: each try comes ten days after the one before, so what one stores the next deletes.
    QByteArray status;
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (attempt > 0)
            QTest::qWait(2000);
        QProcess* last = startCheck(day(rounds + 10 * (attempt + 1)));
        QVERIFY(last->waitForFinished(120000));
        status = last->readAllStandardOutput() + last->readAllStandardError();
        delete last;
        if (onServer().isEmpty())
            break;
    }
    QVERIFY2(!status.contains("サーバーに残しました"), status.constData());
    const QHash<int, int> stored = inStore();
    QCOMPARE(stored.size(), dropped);
    for (int id = 1; id <= dropped; ++id)
        QCOMPARE(stored.value(id), 1);
    QVERIFY(onServer().isEmpty());
    qInfo("%d rounds, %d kills, %d messages, %d found stored but still on the server after a round, %d deleted "
          "during the rounds: 0 lost, 0 duplicated",
          rounds, kills, dropped, storedNotDeleted, deletedInRounds);
    // How many rounds end in a kill depends on the machine's speed; what matters is that some
    // kills came while stored messages were still on the server, and with mail kept, that the
    // rounds deleted old mail too.
    QVERIFY2(kills > 0 && storedNotDeleted > 0, "no kill came while messages were being stored");
    QVERIFY2(!keep || deletedInRounds > 0, "no kept mail was deleted during the rounds");
}

QTEST_MAIN(TestCheckMailKill)
#include "test_check_mail_kill.moc"
