// A mail check of N messages of 10 KB from a loopback Dovecot (fetch, store, delete), beside
// mpop fetching and deleting the same N into a Maildir, in the same run.
#include "app/check_mail.h"
#include "app/main_form.h"
#include "common/program_folder.h"
#include "common/ui_services.h"
#include "settings/account_settings.h"
#include "store/mail_store.h"
#include "tests/servers/mail_server_env.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

QByteArray tenKilobyteMessage(int i)
{
    QByteArray body;
    const QByteArray line = QString(QStringLiteral("疾風メールの性能試験です。%1 番目のメッセージの本文。\r\n"))
                                .arg(i)
                                .toUtf8();
    while (body.size() < 10 * 1024)
        body += line;
    return "From: bench@localhost\r\nTo: test@localhost\r\nSubject: bench " + QByteArray::number(i) +
           "\r\nDate: Mon, 07 Dec 2026 09:00:00 +0900\r\nMIME-Version: 1.0\r\n"
           "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\n" + body;
}

void fill(const hm::test::MailServerEnv& env, int count)
{
    env.clearMailbox();
    for (int i = 1; i <= count; ++i)
        env.drop(tenKilobyteMessage(i));
}

void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    for (const QFileInfo& fi : QDir(from).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (fi.isDir())
            copyTree(fi.filePath(), to + QLatin1Char('/') + fi.fileName());
        else
            QFile::copy(fi.filePath(), to + QLatin1Char('/') + fi.fileName());
    }
}

qint64 runCheck(const hm::test::MailServerEnv& env, const QString& programFolder, int count)
{
    fill(env, count);
    QDir(programFolder).removeRecursively();
    copyTree(qEnvironmentVariable("HM_PROGRAM_DIR"), programFolder);
    hm::setProgramFolder(programFolder);
    hm::settings::account() = {};
    hm::settings::account().Pop3Server = env.pop3Server();
    hm::settings::WriteAccountValue(QStringLiteral("NAME"), env.user);
    hm::settings::WriteAccountValue(QStringLiteral("NAME2"), env.password);
    MainForm form;
    form.endProcess = [] {};
    QElapsedTimer t;
    rusage before {}, after {};
    getrusage(RUSAGE_SELF, &before);
    t.start();
    CheckMail(form);
    const qint64 ms = t.elapsed();
    getrusage(RUSAGE_SELF, &after);
    const auto cpuMs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    };
    const auto userMs = [](const rusage& r) { return r.ru_utime.tv_sec * 1000 + r.ru_utime.tv_usec / 1000; };
    std::printf("  check: %lld ms wall, %lld ms cpu in this process (%lld user)\n", static_cast<long long>(ms),
                static_cast<long long>(cpuMs(after) - cpuMs(before)),
                static_cast<long long>(userMs(after) - userMs(before)));
    qint16 stored = hm::store::NextRecordNumber(hm::store::Store::Received) - 1;
    if (stored != count || !env.messageFiles().isEmpty())
        std::fprintf(stderr, "check: stored %d of %d, %lld left on the server\n", int(stored), count,
                     static_cast<long long>(env.messageFiles().size()));
    return ms;
}

qint64 runMpop(const hm::test::MailServerEnv& env, const QString& work, int count)
{
    fill(env, count);
    const QString maildir = work + QStringLiteral("/mpop-maildir");
    QDir(maildir).removeRecursively();
    for (const char* sub : {"new", "cur", "tmp"})
        QDir().mkpath(maildir + QLatin1Char('/') + QLatin1String(sub));
    const QString config = work + QStringLiteral("/mpoprc");
    QFile f(config);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(QStringLiteral("account bench\nhost %1\nport %2\nuser %3\npassword %4\ntls off\nauth user\n"
                           "delivery maildir %5\nkeep off\nonly_new off\n")
                .arg(env.host)
                .arg(env.pop3Port)
                .arg(env.user, env.password, maildir)
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    QProcess mpop;
    QElapsedTimer t;
    t.start();
    mpop.start(QStringLiteral("mpop"), {QStringLiteral("-q"), QStringLiteral("-C"), config, QStringLiteral("bench")});
    mpop.waitForFinished(600000);
    const qint64 ms = t.elapsed();
    if (mpop.exitCode() != 0)
        std::fprintf(stderr, "mpop: %s\n", mpop.readAllStandardError().constData());
    const qsizetype got = QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files).size();
    if (got != count || !env.messageFiles().isEmpty())
        std::fprintf(stderr, "mpop: fetched %lld of %d\n", static_cast<long long>(got), count);
    return ms;
}

qint64 median(QList<qint64> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    hm::ui::ScriptedServices quiet; // no message box may stop the clock
    hm::ui::setServices(&quiet);
    const hm::test::MailServerEnv env = hm::test::MailServerEnv::load();
    if (!env.valid) {
        std::fprintf(stderr, "no mail servers running\n");
        return 1;
    }
    QTemporaryDir work;
    QList<qint64> check, mpop;
    for (int r = 0; r < rounds; ++r) {
        check << runCheck(env, work.path() + QStringLiteral("/prog"), count);
        mpop << runMpop(env, work.path(), count);
    }
    const qint64 c = median(check), m = median(mpop);
    std::printf("check of %d messages of 10 KB (fetch, store, delete): median %lld ms over %d rounds\n", count,
                static_cast<long long>(c), rounds);
    std::printf("mpop fetching and deleting the same into a Maildir:    median %lld ms\n",
                static_cast<long long>(m));
    std::printf("ratio check / mpop: %.2f\n", m > 0 ? double(c) / double(m) : 0.0);
    for (const auto& s : quiet.shown)
        std::fprintf(stderr, "message shown: %s\n", qPrintable(s.text));
    return 0;
}
