// The mail check seen from outside: the real main window's "受信" is clicked and the clock runs
// until the received store holds every message and the server's mailbox is empty.
//
//   check_mail_bench mix <count> <rounds>   the check beside mpop on the same mailbox, rounds
//                                           interleaved, medians of wall and CPU time
//   check_mail_bench big <megabytes>        peak memory of a check of one message of that size, and
//                                           whether its attachment arrived byte for byte
//   check_mail_bench check <count>          the check alone, once (for a profiler; see profiler())
//
// Messages: 60 % plain ASCII, 25 % Japanese (ISO-2022-JP subject, sender and body), 15 %
// multipart with a binary attachment of 1.5 to 3 KB; about 10 KB each. Before every timed run
// one untimed login lets Dovecot index the new mail, so both clients meet an indexed mailbox.
// Prints figures; it does not judge them.
#include "app/command_label.h"
#include "bench/bench_support.h"
#include "app/main_form.h"
#include "common/program_folder.h"
#include "common/ui_services.h"
#include "settings/account_settings.h"
#include "sound/module1.h"
#include "sound/sound_device.h"
#include "store/mail_store.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/main_form_controls.h"
#include "tests/support/process_memory.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iconv.h>
#include <netdb.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

using hm::test::receiveCommand;

extern char** environ;

namespace {

class SilentSound : public hm::sound::SoundDevice {
public:
    bool start(const hm::sound::WaveData&, bool) override { return true; }
    void waitUntilFinished() override {}
    void stop() override {}
    bool isPlaying() const override { return false; }
};

// ---- the mailbox

QByteArray toIso2022Jp(const QString& text)
{
    const QByteArray in = text.toUtf8();
    iconv_t cd = iconv_open("ISO-2022-JP", "UTF-8");
    QByteArray out(in.size() * 4 + 16, '\0');
    char* src = const_cast<char*>(in.constData());
    size_t srcLeft = size_t(in.size());
    char* dst = out.data();
    size_t dstLeft = size_t(out.size());
    iconv(cd, &src, &srcLeft, &dst, &dstLeft);
    iconv(cd, nullptr, nullptr, &dst, &dstLeft); // back to ASCII at the end
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(dstLeft));
    return out;
}

QByteArray encodedWord(const QString& text)
{
    return "=?ISO-2022-JP?B?" + toIso2022Jp(text).toBase64() + "?=";
}

constexpr qsizetype kMessageBytes = 10 * 1024;

QByteArray asciiLines(int i, qsizetype bytes)
{
    QByteArray body;
    for (int line = 1; body.size() < bytes; ++line)
        body += "Line " + QByteArray::number(line) + " of message " + QByteArray::number(i)
                + ": the quick brown fox jumps over the lazy dog, 0123456789.\r\n";
    return body;
}

QByteArray commonHeaders(int i, const QByteArray& from, const QByteArray& subject)
{
    return "Return-Path: <sender" + QByteArray::number(i) + "@example.com>\r\n"
           "Received: from mx.example.com (mx.example.com [192.0.2.1])\r\n\tby localhost with ESMTP id "
           + QByteArray::number(100000 + i) + "\r\n\tfor <hayate@localhost>; Mon, 7 Dec 2026 09:00:00 +0900\r\n"
           "From: " + from + "\r\nTo: hayate@localhost\r\nSubject: " + subject
           + "\r\nDate: Mon, 7 Dec 2026 09:00:00 +0900\r\nMessage-ID: <" + QByteArray::number(i)
           + ".bench@example.com>\r\nMIME-Version: 1.0\r\n";
}

QByteArray asciiMessage(int i)
{
    QByteArray m = commonHeaders(i, "Bench Sender <sender" + QByteArray::number(i) + "@example.com>",
                                 "Weekly report number " + QByteArray::number(i))
                   + "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    return m + asciiLines(i, kMessageBytes - m.size());
}

QByteArray japaneseMessage(int i)
{
    QByteArray m = commonHeaders(i, encodedWord(QStringLiteral("疾風 太郎")) + " <taro" + QByteArray::number(i)
                                        + "@example.jp>",
                                 encodedWord(QStringLiteral("会議の議事録について（第%1回）").arg(i)))
                   + "Content-Type: text/plain; charset=ISO-2022-JP\r\nContent-Transfer-Encoding: 7bit\r\n\r\n";
    for (int line = 1; m.size() < kMessageBytes; ++line)
        m += toIso2022Jp(QStringLiteral("%1行目：本日の会議では、来期の予算と新しい製品の開発日程について話し合いました。")
                             .arg(line))
             + "\r\n";
    return m;
}

QByteArray binary(int i, int bytes)
{
    QByteArray b(bytes, Qt::Uninitialized);
    quint32 x = 2463534242u + quint32(i);
    for (char& c : b) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return b;
}

QByteArray base64Lines(const QByteArray& data)
{
    const QByteArray b = data.toBase64();
    QByteArray out;
    for (qsizetype p = 0; p < b.size(); p += 76)
        out += b.mid(p, 76) + "\r\n";
    return out;
}

QByteArray multipartMessage(int i)
{
    const QByteArray name = "data" + QByteArray::number(i) + ".bin";
    const QByteArray attachment =
        "--=_bench_boundary\r\nContent-Type: application/octet-stream; name=\"" + name
        + "\"\r\nContent-Disposition: attachment; filename=\"" + name
        + "\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64Lines(binary(i, 1536 + (i * 37) % 1537))
        + "--=_bench_boundary--\r\n";
    const QByteArray head =
        commonHeaders(i, "Bench Sender <files" + QByteArray::number(i) + "@example.com>",
                      "Files for you " + QByteArray::number(i))
        + "Content-Type: multipart/mixed; boundary=\"=_bench_boundary\"\r\n\r\n"
          "This is a multi-part message in MIME format.\r\n\r\n"
          "--=_bench_boundary\r\nContent-Type: text/plain; charset=us-ascii\r\n"
          "Content-Transfer-Encoding: 7bit\r\n\r\n";
    return head + asciiLines(i, kMessageBytes - head.size() - attachment.size() - 2) + "\r\n" + attachment;
}

// 60 % ASCII, 25 % Japanese, 15 % multipart, spread through the mailbox.
QByteArray mixMessage(int i)
{
    const int k = i % 20;
    return k < 12 ? asciiMessage(i) : k < 17 ? japaneseMessage(i) : multipartMessage(i);
}

void fill(const hm::test::MailServerEnv& env, const QList<QByteArray>& messages)
{
    env.clearMailbox();
    for (const QByteArray& m : messages)
        env.drop(m);
}

// One message of about `bytes` bytes, written in pieces so that the bench itself never holds it.
// Returns the SHA-256 of its attachment, big.bin.
QByteArray dropBig(const hm::test::MailServerEnv& env, qint64 bytes)
{
    QCryptographicHash attachment(QCryptographicHash::Sha256);
    env.clearMailbox();
    const QString tmp = env.maildir + QStringLiteral("/tmp/big.hmbench");
    QFile f(tmp);
    f.open(QIODevice::WriteOnly);
    f.write(commonHeaders(1, "Bench Sender <big@example.com>", "One big file")
            + "Content-Type: multipart/mixed; boundary=\"=_bench_boundary\"\r\n\r\n"
              "--=_bench_boundary\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n"
              "The file you asked for is attached.\r\n\r\n"
              "--=_bench_boundary\r\nContent-Type: application/octet-stream; name=\"big.bin\"\r\n"
              "Content-Disposition: attachment; filename=\"big.bin\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n");
    for (int chunk = 0; f.size() < bytes - 64 * 1024; ++chunk) {
        const QByteArray piece = binary(chunk, 57 * 1024);
        attachment.addData(piece);
        f.write(base64Lines(piece));
    }
    f.write("--=_bench_boundary--\r\n");
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther
                     | QFile::WriteGroup | QFile::WriteOther);
    QFile::rename(tmp, env.maildir + QStringLiteral("/new/") + QFileInfo(tmp).fileName());
    return attachment.result();
}

qint64 mailboxBytes(const hm::test::MailServerEnv& env)
{
    qint64 n = 0;
    for (const QString& f : env.messageFiles())
        n += QFileInfo(f).size();
    return n;
}

bool mailboxEmpty(const hm::test::MailServerEnv& env)
{
    for (const char* sub : {"new", "cur"})
        if (!QDir(env.maildir + QLatin1Char('/') + QLatin1String(sub)).isEmpty(QDir::Files))
            return false;
    return true;
}

// ---- a plain POP3 login, so that Dovecot indexes new mail before the clock starts

bool sendLine(int fd, const QByteArray& line)
{
    const QByteArray l = line + "\r\n";
    return ::write(fd, l.constData(), size_t(l.size())) == l.size();
}

QByteArray readLine(int fd)
{
    QByteArray line;
    char c;
    while (::read(fd, &c, 1) == 1) {
        line += c;
        if (c == '\n')
            break;
    }
    return line;
}

void indexMailbox(const hm::test::MailServerEnv& env)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(env.host.toUtf8().constData(), QByteArray::number(env.pop3Port).constData(), &hints, &res) != 0)
        return;
    const int fd = ::socket(res->ai_family, res->ai_socktype, res->ai_protocol);
    if (fd >= 0 && ::connect(fd, res->ai_addr, res->ai_addrlen) == 0) {
        readLine(fd);
        for (const QByteArray& cmd : {"USER " + env.user.toUtf8(), "PASS " + env.password.toUtf8(),
                                      QByteArray("STAT"), QByteArray("QUIT")}) {
            sendLine(fd, cmd);
            readLine(fd);
        }
    }
    if (fd >= 0)
        ::close(fd);
    freeaddrinfo(res);
    QThread::msleep(300); // the session's process ends and is counted before the clock starts
}

// ---- times

// CPU the POP3 server has spent so far: Dovecot's master and the session processes it has
// reaped (each session runs in a process of its own that ends with the session).
double serverCpuMs()
{
    QFile base(qEnvironmentVariable("HM_BINARY_DIR") + QStringLiteral("/mail-servers/basedir"));
    if (!base.open(QIODevice::ReadOnly))
        return 0;
    QFile pidFile(QString::fromLocal8Bit(base.readAll().trimmed()) + QStringLiteral("/master.pid"));
    if (!pidFile.open(QIODevice::ReadOnly))
        return 0;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(QString::fromLatin1(pidFile.readAll().trimmed())));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray line = stat.readAll();
    // The fields after the command name, which is in parentheses: utime is the 12th of them.
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 15)
        return 0;
    const double ticks = f[11].toDouble() + f[12].toDouble() + f[13].toDouble() + f[14].toDouble();
    return ticks * 1000.0 / double(sysconf(_SC_CLK_TCK));
}

struct Times {
    double wallMs = 0, userMs = 0, sysMs = 0, serverMs = 0;
    double cpuMs() const { return userMs + sysMs; }
};

double ms(const timeval& t)
{
    return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}

Times medianOf(const QList<Times>& runs)
{
    QList<double> w, u, s, server;
    for (const Times& t : runs) {
        w << t.wallMs;
        u << t.userMs;
        s << t.sysMs;
        server << t.serverMs;
    }
    return {hm::bench::median(w), hm::bench::median(u), hm::bench::median(s), hm::bench::median(server)};
}

// ---- the two clients

void closeSecondaryWindows()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!qobject_cast<MainForm*>(w))
            w->close();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// With CHECK_BENCH_PERF_CTL naming the control FIFO of `perf record --control=fifo:<path> -D -1`,
// the profiler records the check alone.
void profiler(const char* command)
{
    const QString fifo = qEnvironmentVariable("CHECK_BENCH_PERF_CTL");
    if (fifo.isEmpty())
        return;
    QFile ctl(fifo);
    if (ctl.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        ctl.write(QByteArray(command) + '\n');
}

// A fresh program folder, the main window started as the program starts it, a click on "受信",
// and the clock until every message is stored and the server holds none. `expected` messages.
bool runCheck(const hm::test::MailServerEnv& env, const QString& programFolder, int expected, Times* times,
              const std::function<void()>& beforeClick = {})
{
    QDir(programFolder).removeRecursively();
    hm::bench::copyTree(qEnvironmentVariable("HM_PROGRAM_DIR"), programFolder);
    hm::setProgramFolder(programFolder);
    {
        QFile ini(programFolder + QStringLiteral("/hymail.ini"));
        ini.open(QIODevice::WriteOnly);
        ini.write("POP3=" + env.pop3Server().toUtf8() + "\r\n");
    }
    hm::settings::account() = {};
    hm::settings::WriteAccountValue(QStringLiteral("NAME"), env.user);
    hm::settings::WriteAccountValue(QStringLiteral("NAME2"), env.password);
    const QString store = hm::dataPath(hm::store::storePath(hm::store::Store::Received));

    bool done = false;
    {
        MainForm form;
        form.endProcess = [] {};
        if (!form.Form_Load()) {
            std::fprintf(stderr, "check: the main window did not load\n");
            return false;
        }
        form.show();
        if (!QTest::qWaitForWindowExposed(&form))
            std::fprintf(stderr, "check: the main window was not shown\n");
        // The rest of the start-up (pictures, the hidden compose window) runs right after the
        // first paint, long before a user could click; it is not the check's.
        QTest::qWait(50);
        indexMailbox(env);
        if (beforeClick)
            beforeClick();

        rusage before{}, after{};
        QElapsedTimer wall;
        profiler("enable");
        getrusage(RUSAGE_SELF, &before);
        const double serverBefore = serverCpuMs();
        wall.start();
        QTest::mouseClick(receiveCommand(form), Qt::LeftButton);
        // Whether the click returns at once or after the run, the clock stops when the
        // results are there; a run that stops making progress for 10 s is given up.
        QElapsedTimer stalled;
        stalled.start();
        qint64 lastSize = -1;
        for (;;) {
            const qint64 size = QFileInfo(store).size();
            if (size / hm::store::kRecordSize >= expected && mailboxEmpty(env)) {
                done = true;
                break;
            }
            if (size != lastSize) {
                lastSize = size;
                stalled.restart();
            } else if (stalled.elapsed() > 10000) {
                break;
            }
            // Serve the window while waiting, without spinning: a run on another thread
            // must not be charged for the bench's own polling.
            QEventLoop pause;
            QTimer::singleShot(2, &pause, &QEventLoop::quit);
            pause.exec();
        }
        times->wallMs = wall.nsecsElapsed() / 1e6;
        getrusage(RUSAGE_SELF, &after);
        profiler("disable");
        // The session process is reaped a moment after QUIT.
        QThread::msleep(200);
        times->serverMs = serverCpuMs() - serverBefore;
        times->userMs = ms(after.ru_utime) - ms(before.ru_utime);
        times->sysMs = ms(after.ru_stime) - ms(before.ru_stime);
        closeSecondaryWindows();
    }
    const qint64 stored = QFileInfo(store).size() / hm::store::kRecordSize;
    if (!done)
        std::fprintf(stderr, "check: stored %lld of %d, %lld left on the server\n",
                     static_cast<long long>(stored), expected,
                     static_cast<long long>(env.messageFiles().size()));
    return done;
}

// Runs another client to its end: its wall and CPU time, and the server's CPU meanwhile.
// The exit status, or -1 when it could not be started.
int runClient(const char* const argv[], Times* times)
{
    const double serverBefore = serverCpuMs();
    QElapsedTimer wall;
    wall.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0) {
        std::fprintf(stderr, "%s could not be started (scripts/install-deps installs it)\n", argv[0]);
        return -1;
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    times->wallMs = wall.nsecsElapsed() / 1e6;
    times->userMs = ms(usage.ru_utime);
    times->sysMs = ms(usage.ru_stime);
    // The session process is reaped a moment after QUIT.
    QThread::msleep(200);
    times->serverMs = serverCpuMs() - serverBefore;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool runMpop(const hm::test::MailServerEnv& env, const QString& work, int expected, Times* times)
{
    const QString maildir = work + QStringLiteral("/mpop-maildir");
    QDir(maildir).removeRecursively();
    for (const char* sub : {"new", "cur", "tmp"})
        QDir().mkpath(maildir + QLatin1Char('/') + QLatin1String(sub));
    const QString config = work + QStringLiteral("/mpoprc");
    QFile f(config);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    // The same wire as the check: STARTTLS on the plain port, which the check takes whenever
    // the server offers it.
    f.write(QStringLiteral("account bench\nhost %1\nport %2\nuser %3\npassword %4\nauth user\n"
                           "tls on\ntls_starttls on\ntls_trust_file %5\n"
                           "delivery maildir %6\nkeep off\nonly_new off\nuidls_file %7\n")
                .arg(env.host)
                .arg(env.pop3Port)
                .arg(env.user, env.password, env.caFile, maildir, work + QStringLiteral("/mpop-uidls"))
                .toUtf8());
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    indexMailbox(env);

    const QByteArray configPath = config.toLocal8Bit();
    const char* const argv[] = {"mpop", "-q", "-C", configPath.constData(), "bench", nullptr};
    const int status = runClient(argv, times);
    const qsizetype got = QDir(maildir + QStringLiteral("/new")).entryList(QDir::Files).size();
    if (status != 0 || got != expected || !mailboxEmpty(env)) {
        std::fprintf(stderr, "mpop: exit %d, fetched %lld of %d\n", status, static_cast<long long>(got), expected);
        return false;
    }
    return true;
}

// curl itself, RETR and DELE for every message over one STARTTLS connection, each command
// waiting for the one before and the bodies thrown away: the check's commands through libcurl
// with none of its work.
bool runCurl(const hm::test::MailServerEnv& env, const QString& work, int expected, Times* times)
{
    const QString config = work + QStringLiteral("/curlrc");
    QFile f(config);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    const QByteArray url = "pop3://" + env.host.toUtf8() + ':' + QByteArray::number(env.pop3Port) + '/';
    QByteArray text;
    const QByteArray common = "silent\nshow-error\nssl-reqd\ncacert = \"" + env.caFile.toUtf8() + "\"\nuser = \""
                              + env.user.toUtf8() + ':' + env.password.toUtf8() + "\"\n";
    for (int n = 1; n <= expected; ++n) {
        const QByteArray u = url + QByteArray::number(n);
        text += common + "url = \"" + u + "\"\noutput = \"/dev/null\"\nnext\n";
        text += common + "url = \"" + u + "\"\nrequest = \"DELE\"\nhead\n";
        if (n < expected)
            text += "next\n";
    }
    f.write(text);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    indexMailbox(env);

    const QByteArray configPath = config.toLocal8Bit();
    const char* const argv[] = {"curl", "-K", configPath.constData(), nullptr};
    const int status = runClient(argv, times);
    if (status != 0 || !mailboxEmpty(env)) {
        std::fprintf(stderr, "curl: exit %d, %lld left on the server\n", status,
                     static_cast<long long>(env.messageFiles().size()));
        return false;
    }
    return true;
}

void printRow(const char* who, const Times& t, int count)
{
    std::printf("  %-12s wall %7.0f ms   CPU %7.0f ms (user %6.0f, sys %6.0f)   %.3f ms CPU per message;"
                " Dovecot CPU %5.0f ms\n",
                who, t.wallMs, t.cpuMs(), t.userMs, t.sysMs, t.cpuMs() / count, t.serverMs);
}

int mix(const hm::test::MailServerEnv& env, const QString& work, int count, int rounds, const QString& link)
{
    const QString loadBefore = hm::bench::loadAverage();
    QList<QByteArray> messages;
    qint64 bytes = 0;
    for (int i = 1; i <= count; ++i) {
        messages << mixMessage(i);
        bytes += messages.last().size();
    }
    QList<Times> ours, theirs, curls;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        // Which one goes first changes every round, so a drift of the machine hits all alike.
        for (int turn = 0; turn < 3 && ok; ++turn) {
            Times t;
            fill(env, messages);
            switch ((r + turn) % 3) {
            case 0:
                ok = runCheck(env, work + QStringLiteral("/prog"), count, &t);
                ours << t;
                break;
            case 1:
                ok = runMpop(env, work, count, &t);
                theirs << t;
                break;
            default:
                ok = runCurl(env, work, count, &t);
                curls << t;
            }
        }
    }
    if (!ok)
        return 1;
    const Times o = medianOf(ours), m = medianOf(theirs), c = medianOf(curls);
    // Where the program folders and mpop's Maildir are decides much: mpop syncs every message.
    std::printf("mail check of %d messages (%.1f MB: 60%% ASCII, 25%% ISO-2022-JP, 15%% with an attachment), "
                "folders on %s, median of %d interleaved rounds%s; load average %s before, %s after:\n",
                count, bytes / 1e6, QStorageInfo(work).fileSystemType().constData(), rounds, qPrintable(link),
                qPrintable(loadBefore),
                qPrintable(hm::bench::loadAverage()));
    printRow("HayateMail", o, count);
    printRow("mpop", m, count);
    printRow("curl", c, count);
    std::printf("  ratio HayateMail / mpop: wall %.2f, CPU %.2f\n", o.wallMs / m.wallMs, o.cpuMs() / m.cpuMs());
    std::printf("  ratio HayateMail / curl (RETR + DELE per message, one connection): wall %.2f, CPU %.2f\n",
                o.wallMs / c.wallMs, o.cpuMs() / c.cpuMs());
    return 0;
}

int checkOnce(const hm::test::MailServerEnv& env, const QString& work, int count)
{
    QList<QByteArray> messages;
    for (int i = 1; i <= count; ++i)
        messages << mixMessage(i);
    fill(env, messages);
    Times t;
    if (!runCheck(env, work + QStringLiteral("/prog"), count, &t))
        return 1;
    printRow("HayateMail", t, count);
    return 0;
}

int big(const hm::test::MailServerEnv& env, const QString& work, int megabytes)
{
    const QByteArray sent = dropBig(env, qint64(megabytes) * 1024 * 1024);
    const qint64 size = mailboxBytes(env);
    long baseline = 0;
    Times t;
    const bool ok = runCheck(env, work + QStringLiteral("/prog"), 1, &t, [&] {
        // From here on the high-water mark is that of the check alone.
        hm::test::resetPeakMemory();
        baseline = hm::test::statusKilobytes("VmRSS:");
    });
    const long peak = hm::test::statusKilobytes("VmHWM:");
    const long after = hm::test::statusKilobytes("VmRSS:");
    if (!ok)
        return 1;
    QFile extracted(work + QStringLiteral("/prog/添付フォルダ/big.bin"));
    QCryptographicHash received(QCryptographicHash::Sha256);
    const bool whole = extracted.open(QIODevice::ReadOnly) && received.addData(&extracted) && received.result() == sent;
    const double mb = size / 1048576.0;
    std::printf("peak memory of a check of one message of %.1f MB (an attachment): VmHWM %.1f MB, %.1f MB of it "
                "above the %.1f MB the open main window held; %.0f ms wall\n",
                mb, peak / 1024.0, (peak - baseline) / 1024.0, baseline / 1024.0, t.wallMs);
    std::printf("  ratio VmHWM / message size: %.2f (above the idle window: %.2f); VmRSS after the check %.1f MB; "
                "attachment %s\n",
                peak / 1024.0 / mb, (peak - baseline) / 1024.0 / mb, after / 1024.0,
                whole ? "byte-identical" : "NOT the one sent");
    if (!whole)
        return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("mix");
    hm::ui::ScriptedServices quiet; // no message box may stop the clock
    hm::ui::setServices(&quiet);
    SilentSound silence;
    hm::sound::setSoundDevice(&silence);
    hm::test::MailServerEnv env = hm::test::MailServerEnv::load();
    if (!env.valid) {
        std::fprintf(stderr, "no mail servers running\n");
        return 1;
    }
    // CHECK_BENCH_RELAY_PORT: every client goes through the delay relay listening there.
    const QString link = hm::bench::throughRelay("CHECK_BENCH_RELAY_PORT", &env.pop3Port);
    QTemporaryDir work;
    int rc;
    if (mode == QLatin1String("big"))
        rc = big(env, work.path(), argc > 2 ? std::atoi(argv[2]) : 50);
    else if (mode == QLatin1String("check"))
        rc = checkOnce(env, work.path(), argc > 2 ? std::atoi(argv[2]) : 1000);
    else
        rc = mix(env, work.path(), argc > 2 ? std::atoi(argv[2]) : 1000, argc > 3 ? std::atoi(argv[3]) : 5, link);
    for (const auto& s : quiet.shown)
        std::fprintf(stderr, "message shown: %s\n", qPrintable(s.text));
    std::fflush(stdout);
    return rc;
}
