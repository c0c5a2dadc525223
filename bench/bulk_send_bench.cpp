// A bulk send ("一括送信") to N address-book entries through the real compose window against the
// fixture's Postfix (which offers PIPELINING), beside curl sending the same N messages over one
// connection, and beside the mail room sending them with a connection each (as every send once did).
#include "addressbook/address_store.h"
#include "bench/bench_support.h"
#include "compose/write_form.h"
#include "common/window_registry.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "store/mail_store.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/test_folder.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <functional>
#include <sys/resource.h>

namespace {

struct Figure {
    qint64 wallMs = 0;
    qint64 cpuMs = 0; // this process and its children
};

qint64 cpuMsNow()
{
    qint64 total = 0;
    for (const int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage r{};
        getrusage(who, &r);
        total += (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1000;
    }
    return total;
}

Figure measure(const std::function<void()>& run)
{
    const qint64 cpu = cpuMsNow();
    QElapsedTimer t;
    t.start();
    run();
    return {t.elapsed(), cpuMsNow() - cpu};
}

QString address(int i)
{
    return QStringLiteral("bulk%1@localhost").arg(i);
}

void report(const char* what, const Figure& f, int sent, int count)
{
    std::printf("  %-48s %6lld ms wall, %6lld ms cpu%s\n", what, static_cast<long long>(f.wallMs),
                static_cast<long long>(f.cpuMs), sent == count ? "" : "  (not all delivered!)");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::atoi(argv[1]) : 300;
    hm::test::MailServerEnv env = hm::test::MailServerEnv::load();
    if (!env.valid) {
        std::fprintf(stderr, "no mail servers running\n");
        return 1;
    }
    if (env.postfixPort == 0) {
        std::fprintf(stderr, "no Postfix running (the fixture starts it only as root)\n");
        return 1;
    }
    // SEND_BENCH_RELAY_PORT: both senders go through the delay relay listening there.
    const QString link = hm::bench::throughRelay("SEND_BENCH_RELAY_PORT", &env.postfixPort);
    // Postfix delivers a moment after it has answered: the count is taken once it has.
    auto delivered = [&] {
        QElapsedTimer t;
        t.start();
        while (env.messageFiles().size() < count && t.elapsed() < 30000)
            QThread::msleep(50);
        return int(env.messageFiles().size());
    };
    // A connection per message costs many round trips: SEND_BENCH_EACH=0 leaves it out.
    const bool eachAloneToo = qEnvironmentVariable("SEND_BENCH_EACH") != QLatin1String("0");
    const QString loadBefore = hm::bench::loadAverage();
    hm::mail::NMailInitializeWinSock();
    hm::test::TestFolder folder;
    hm::settings::account().SmtpServer = env.postfixServer();
    hm::settings::account().MailAddress = QStringLiteral("bench@localhost");
    for (int i = 1; i <= count; ++i)
        hm::addressbook::WriteAddress(qint16(i), QStringLiteral("宛先%1").arg(i), address(i));
    const QString body = QStringLiteral("一括送信の性能試験です。\r\nよろしくお願いします。\r\n");

    std::printf("bulk send of %d messages over STARTTLS to the loopback Postfix (PIPELINING)%s\n", count, qPrintable(link));
    env.clearMailbox();
    const Figure window = measure([&] {
        WriteForm* form = hm::window<WriteForm>();
        form->show();
        form->Command4->click();
        form->Option2->click();
        form->SubjectText->setText(QStringLiteral("一括 bench"));
        form->BodyText->setPlainText(body);
        form->Command1->click();
    });
    report("HayateMail, compose window (一括送信):", window, delivered(), count);
    const int records = hm::store::NextRecordNumber(hm::store::Store::Sent) - 1;
    if (records != count || !folder.ui.shown.isEmpty())
        std::fprintf(stderr, "sent records: %d; boxes shown: %lld\n", records,
                     static_cast<long long>(folder.ui.shown.size()));

    // curl: the same messages, one connection, STARTTLS as above.
    QTemporaryDir work;
    const QString message = work.filePath(QStringLiteral("message.eml"));
    {
        QFile f(message);
        f.open(QIODevice::WriteOnly);
        f.write("From: bench@localhost\r\nSubject: bulk bench\r\nMIME-Version: 1.0\r\n"
                "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                + body.toUtf8().toBase64() + "\r\n");
    }
    QByteArray config;
    for (int i = 1; i <= count; ++i) {
        if (i > 1)
            config += "next\n";
        config += "url = \"smtp://" + env.host.toUtf8() + ':' + QByteArray::number(env.postfixPort) + "\"\n"
                  "ssl\ncacert = \"" + env.caFile.toUtf8() + "\"\nmail-from = \"bench@localhost\"\n"
                  "mail-rcpt = \"" + address(i).toUtf8() + "\"\nupload-file = \"" + message.toUtf8() + "\"\nsilent\n";
    }
    const QString configFile = work.filePath(QStringLiteral("curlrc"));
    {
        QFile f(configFile);
        f.open(QIODevice::WriteOnly);
        f.write(config);
    }
    env.clearMailbox();
    const Figure curl = measure([&] {
        QProcess p;
        p.start(QStringLiteral("curl"), {QStringLiteral("-q"), QStringLiteral("-K"), configFile});
        p.waitForFinished(600000);
        if (p.exitCode() != 0)
            std::fprintf(stderr, "curl: %s\n", p.readAllStandardError().constData());
    });
    report("curl, one connection:", curl, delivered(), count);

    if (eachAloneToo) {
        env.clearMailbox();
        const Figure eachAlone = measure([&] {
            for (int i = 1; i <= count; ++i)
                hm::mail::NMailSmtpSendMail(env.postfixServer(), address(i), QString(), QString(),
                                            QStringLiteral("bench@localhost"), QStringLiteral("bulk bench"), body,
                                            QString(), QString(), 0);
        });
        report("mail room, a connection per message:", eachAlone, delivered(), count);
    }

    std::printf("  ratio compose window / curl: %.2f wall, %.2f cpu\n",
                curl.wallMs > 0 ? double(window.wallMs) / double(curl.wallMs) : 0.0,
                curl.cpuMs > 0 ? double(window.cpuMs) / double(curl.cpuMs) : 0.0);
    std::printf("  load average %s before, %s after\n", qPrintable(loadBefore),
                qPrintable(hm::bench::loadAverage()));
    env.clearMailbox();
    return 0;
}
