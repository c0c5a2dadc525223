#include "app/single_instance.h"
#include "tests/support/test_folder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

// Launches the real executable from a copy of the program folder. One data folder has one
// running instance, whatever the environment of each launch.
class TestLaunch : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void secondLaunchEndsSilently_data();
    void secondLaunchEndsSilently();
    void aStarterBetweenAnExitAndTheNextLaunchStillExcludesIt();
    void secondLaunchBringsTheRunningOneForward();

private:
    // Starts the copy with XDG_RUNTIME_DIR set to runtime (unset when empty).
    void start(QProcess& p, const QString& runtime);
    // Whether someone holds the claim: another opening of the lock file cannot take it.
    bool claimHeld() const;
    std::unique_ptr<hm::test::TestFolder> folder_;
    QString copy_, lock_;
};

void TestLaunch::init()
{
    folder_ = std::make_unique<hm::test::TestFolder>();
    folder_->write(QStringLiteral("\\hymail.ini"), "POP3=127.0.0.1\r\n");
    // The program folder is that of the executable, so run a real copy inside the test folder.
    copy_ = folder_->path() + QStringLiteral("/hayatemail-copy");
    QVERIFY(QFile::copy(hm::test::builtProgramFolder() + QStringLiteral("/hayatemail"), copy_));
    lock_ = folder_->file(QStringLiteral("\\★MAilData\\hayatemail.lock"));
}

void TestLaunch::cleanup()
{
    folder_.reset();
}

void TestLaunch::start(QProcess& p, const QString& runtime)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (runtime.isEmpty())
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    else
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(copy_, {});
    QVERIFY(p.waitForStarted());
}

bool TestLaunch::claimHeld() const
{
    const int fd = ::open(QFile::encodeName(lock_).constData(), O_RDONLY | O_CLOEXEC);
    const bool held = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (fd >= 0)
        ::close(fd);
    return held;
}

void TestLaunch::secondLaunchEndsSilently_data()
{
    QTest::addColumn<bool>("sameRuntime");
    QTest::addColumn<bool>("secondHasRuntime");
    QTest::newRow("same runtime folder") << true << true;
    QTest::newRow("another runtime folder") << false << true;
    QTest::newRow("no runtime folder") << false << false;
}

void TestLaunch::secondLaunchEndsSilently()
{
    QFETCH(bool, sameRuntime);
    QFETCH(bool, secondHasRuntime);
    QTemporaryDir runtime1, runtime2;

    QProcess first;
    start(first, runtime1.path());
    QTRY_VERIFY_WITH_TIMEOUT(claimHeld(), 20000);

    QProcess second;
    start(second, !secondHasRuntime ? QString() : sameRuntime ? runtime1.path() : runtime2.path());
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(first.state(), QProcess::Running);

    first.terminate();
    QVERIFY(first.waitForFinished(20000));
    QVERIFY(!claimHeld());
}

// A launch that opened the lock file just before the running instance ended takes the claim
// on that same file, so a launch after the end must find it taken.
void TestLaunch::aStarterBetweenAnExitAndTheNextLaunchStillExcludesIt()
{
    QTemporaryDir runtime;
    QProcess first;
    start(first, runtime.path());
    QTRY_VERIFY_WITH_TIMEOUT(claimHeld(), 20000);
    const int starter = ::open(QFile::encodeName(lock_).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(starter >= 0);

    first.terminate();
    QVERIFY(first.waitForFinished(20000));
    QCOMPARE(::flock(starter, LOCK_EX | LOCK_NB), 0);

    // The starter is now the running instance: the next launch asks it to come forward.
    hm::listenForRaiseRequests();
    QProcess next;
    start(next, runtime.path());
    QTRY_VERIFY_WITH_TIMEOUT(next.state() == QProcess::NotRunning, 20000);
    QCOMPARE(next.exitCode(), 0);
    hm::releaseSingleInstance();

    // Once that starter is gone too, a launch runs normally.
    ::close(starter);
    QProcess last;
    start(last, runtime.path());
    QTRY_VERIFY_WITH_TIMEOUT(claimHeld(), 20000);
    QCOMPARE(last.state(), QProcess::Running);
    last.kill();
    last.waitForFinished();
}

// The test holds the claim as the running instance would and hears the later launch's request.
void TestLaunch::secondLaunchBringsTheRunningOneForward()
{
    QTemporaryDir runtime;
    int raised = 0;
    hm::setRaiseHandler([&] { ++raised; });
    QVERIFY(hm::claimSingleInstance());
    QVERIFY(claimHeld());
    QProcess second;
    start(second, runtime.path());
    // The answer comes from this process's event loop, served while waiting.
    QTRY_VERIFY_WITH_TIMEOUT(second.state() == QProcess::NotRunning, 20000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(raised, 1);

    hm::releaseSingleInstance();
    hm::setRaiseHandler({});
    QVERIFY(!claimHeld());
    QVERIFY(!QFileInfo::exists(hm::instanceSocketPath()));
    QCOMPARE(QDir(runtime.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_GUILESS_MAIN(TestLaunch)
#include "test_launch.moc"
