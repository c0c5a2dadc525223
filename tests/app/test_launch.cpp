#include "tests/support/test_folder.h"

#include <QFile>
#include <QProcess>
#include <QTest>

// Launches the real executable from a copy of the program folder.
class TestLaunch : public QObject {
    Q_OBJECT
private slots:
    void secondLaunchEndsSilently();
};

void TestLaunch::secondLaunchEndsSilently()
{
    hm::test::TestFolder folder;
    folder.write(QStringLiteral("\\hymail.ini"), "POP3=127.0.0.1\r\n");
    const QString exe = hm::test::builtProgramFolder() + QStringLiteral("/hayatemail");
    // The program folder is that of the executable, so run a real copy inside the test folder.
    const QString copy = folder.path() + QStringLiteral("/hayatemail-copy");
    QVERIFY(QFile::copy(exe, copy));

    QProcess first;
    first.setProcessChannelMode(QProcess::MergedChannels);
    first.start(copy, {});
    QVERIFY(first.waitForStarted());
    // The first instance holds its claim once it is serving events; give it time to get there.
    QTest::qWait(1500);
    QCOMPARE(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessChannelMode(QProcess::MergedChannels);
    second.start(copy, {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(10000));

    // Once the first has gone, a new launch runs normally.
    QProcess third;
    third.start(copy, {});
    QVERIFY(third.waitForStarted());
    QTest::qWait(1500);
    QCOMPARE(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished();
}

QTEST_GUILESS_MAIN(TestLaunch)
#include "test_launch.moc"
