// Sending from the compose and the reply window against the loopback SMTP server; what arrives
// is read back from the server's Maildir with GMime.
// GMime first: glib names struct fields after words Qt defines as macros.
#include <gmime/gmime.h>

#include "addressbook/address_store.h"
#include "common/clock_text.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "compose/fortune.h"
#include "compose/send_procedure.h"
#include "compose/write_form.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "settings/account_settings.h"
#include "store/mail_store.h"
#include "store/whole_copy.h"
#include "tests/servers/mail_server_env.h"
#include "tests/support/store_records.h"
#include "tests/support/click.h"
#include "tests/support/test_folder.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QTextEdit>
#include <QUuid>

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>

using hm::store::Store;

namespace {
const QString kClock = QStringLiteral("2026/12/07  10:30:00");
const QString kMaster = hm::addressbook::masterListPath();
const QString kBook = hm::addressbook::addressBookPath();
const QString kSending = hm::compose::kSendingText;

struct Arrived {
    QString subject;
    QStringList to;
    QString body; // line breaks as LF
    QMap<QString, QByteArray> attachments;
};

// Scripted boxes that also note what the status label said when each box came up, and
// where a log is given, each box's title in it.
class WatchingServices : public hm::ui::ScriptedServices {
public:
    QPointer<QLabel> status;
    QStringList statusAtBox;
    QStringList* log = nullptr;
    hm::ui::Answer message(QWidget* parent, const QString& text, const QString& title,
                           hm::ui::Buttons buttons, hm::ui::Icon icon) override
    {
        statusAtBox << (status ? status->text() : QString());
        if (log)
            *log << QStringLiteral("box ") + title;
        return ScriptedServices::message(parent, text, title, buttons, icon);
    }
};

// Every call the send procedure makes to its window, in order.
class RecordingFeedback : public hm::compose::SendFeedback {
public:
    explicit RecordingFeedback(QStringList& log) : log_(log) {}
    QList<int> kept;
    QWidget* BoxParent() override { return nullptr; }
    void SendStarted() override { log_ << QStringLiteral("started"); }
    void ShowStatus(const QString& text) override { log_ << QStringLiteral("status ") + text; }
    void ShowProgress(int pass, int passes, int missed) override
    {
        log_ << QStringLiteral("progress %1 / %2, missed %3").arg(pass).arg(passes).arg(missed);
    }
    void AskForRecipient() override { log_ << QStringLiteral("ask for recipient"); }
    void KeepDraft(const QList<int>& passesLeft) override
    {
        kept = passesLeft;
        QStringList passes;
        for (int pass : passesLeft)
            passes << QString::number(pass);
        log_ << QStringLiteral("keep draft, left ") + passes.join(QLatin1Char(' '));
    }
    void AllSent() override { log_ << QStringLiteral("all sent"); }

private:
    QStringList& log_;
};

QByteArray partContent(GMimePart* part)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    GMimeStream* mem = g_mime_stream_mem_new();
    g_mime_data_wrapper_write_to_stream(wrapper, mem);
    GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(mem));
    QByteArray result(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    g_object_unref(mem);
    return result;
}

void collectPart(GMimeObject*, GMimeObject* part, gpointer data)
{
    auto* arrived = static_cast<Arrived*>(data);
    if (!GMIME_IS_PART(part))
        return;
    const char* filename = g_mime_part_get_filename(GMIME_PART(part));
    if (filename) {
        arrived->attachments.insert(QString::fromUtf8(filename), partContent(GMIME_PART(part)));
    } else if (GMIME_IS_TEXT_PART(part)) {
        char* text = g_mime_text_part_get_text(GMIME_TEXT_PART(part));
        arrived->body = QString::fromUtf8(text).replace(QLatin1String("\r\n"), QLatin1String("\n"));
        g_free(text);
    }
}

Arrived parse(const QString& path)
{
    Arrived a;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return a;
    const QByteArray raw = f.readAll();
    GMimeStream* stream = g_mime_stream_mem_new_with_buffer(raw.constData(), size_t(raw.size()));
    GMimeParser* parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage* message = g_mime_parser_construct_message(parser, nullptr);
    if (message) {
        a.subject = QString::fromUtf8(g_mime_message_get_subject(message));
        InternetAddressList* to = g_mime_message_get_to(message);
        for (int i = 0; to && i < internet_address_list_length(to); ++i) {
            InternetAddress* address = internet_address_list_get_address(to, i);
            if (INTERNET_ADDRESS_IS_MAILBOX(address))
                a.to << QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
        }
        g_mime_message_foreach(message, collectPart, &a);
        g_object_unref(message);
    }
    g_object_unref(parser);
    g_object_unref(stream);
    return a;
}

bool hasJapanese(const QString& text)
{
    static const QRegularExpression japanese(QStringLiteral("[\\x{3040}-\\x{30ff}\\x{4e00}-\\x{9fff}]"));
    return text.contains(japanese);
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}
} // namespace

class TestSending : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void normalSendArrivesWithItsAttachments();
    void fortuneGoesOutButStaysOutOfTheStore();
    void textTheRecordCannotHoldIsKeptAsSent();
    void failingServerKeepsTheWindowAndMarksTheRecord();
    void emptyRecipientIsRefusedBeforeAnythingIsWritten();
    void emptyClockTextStillDatesTheRecord();
    void bulkSendingGoesToEveryAddressBookEntry();
    void bulkProcedureWithoutAWindowReportsEachPass();
    void bulkPassWithoutAnAddressIsSkipped();
    void bulkWithAnEmptyListSendsNothing();
    void unwritableSentStoreSendsNothingAndKeepsTheMessage();
    void bulkSendStoppedPartWayGoesOnWithoutDuplicates();
    void killedBulkSendShowsWhoGotTheMessage();
    void unreadableAddressBookStopsBulkSending();
    void replyIsSentWithoutARecord();
    void failingReplyClosesAndKeepsNoRecord();

private:
    // A fresh compose window, shown, with every status change and box watched.
    WriteForm* openForm();
    // The messages that arrived since init() whose subject carries this test's token.
    QList<Arrived> arrived() const;

    hm::test::MailServerEnv env_;
    std::unique_ptr<hm::test::TestFolder> folder_;
    WatchingServices ui_;
    QSet<QString> before_;
    QString token_;
};

void TestSending::initTestCase()
{
    g_mime_init();
    env_ = hm::test::MailServerEnv::load();
    QVERIFY2(env_.valid, "the mail_servers fixture is not running");
    hm::setClockTextSource([] { return kClock; });
}

void TestSending::init()
{
    folder_ = std::make_unique<hm::test::TestFolder>();
    ui_ = WatchingServices();
    hm::ui::setServices(&ui_);
    hm::settings::AccountSettings& account = hm::settings::account();
    account.SmtpServer = env_.smtpServer();
    account.MailAddress = QStringLiteral("hayate@example.jp");
    const QStringList files = env_.messageFiles();
    before_ = QSet<QString>(files.begin(), files.end());
    token_ = QUuid::createUuid().toString(QUuid::Id128).left(12);
}

void TestSending::cleanup()
{
    if (WriteForm* f = hm::loadedWindow<WriteForm>())
        f->close();
    if (BackForm* f = hm::loadedWindow<BackForm>())
        f->close();
    settle();
    hm::test::checkScriptUsed(ui_);
    folder_.reset();
}

WriteForm* TestSending::openForm()
{
    WriteForm* form = hm::window<WriteForm>();
    form->show();
    ui_.status = form->Label7;
    return form;
}

QList<Arrived> TestSending::arrived() const
{
    QList<Arrived> result;
    for (const QString& file : env_.messageFiles()) {
        if (before_.contains(file))
            continue;
        Arrived a = parse(file);
        if (a.subject.contains(token_))
            result << a;
    }
    return result;
}

void TestSending::normalSendArrivesWithItsAttachments()
{
    // A comma in a name, as mail received from others often has.
    const QString first = folder_->path() + QStringLiteral("/報告書, 最終.txt");
    const QString second = folder_->path() + QStringLiteral("/data.bin");
    QByteArray binary;
    for (int i = 0; i < 3000; ++i)
        binary.append(char(i * 7));
    hm::test::writeFile(first, "estimate\r\n");
    hm::test::writeFile(second, binary);

    QPointer<WriteForm> form = openForm();
    form->ToText->setText(QStringLiteral(" user@localhost "));
    form->SubjectText->setText(QStringLiteral("  ご挨拶 ") + token_ + QStringLiteral("  "));
    form->BodyText->setPlainText(QStringLiteral("  山田様\nいつもお世話になっております。①㈱  "));
    ui_.fileNames << first << second;
    hm::test::click(form->AttachCommand);
    hm::test::click(form->Command9);
    QCOMPARE(form->AttachText->text(), first + QLatin1Char(',') + second);

    hm::test::click(form->Command1);
    QVERIFY2(ui_.shown.isEmpty(), qPrintable(ui_.texts().join(QLatin1Char('|'))));
    QVERIFY(form);
    QCOMPARE(form->Label7->text(), QStringLiteral("送信完了です。"));
    QVERIFY(form->ToText->text().isEmpty());
    QVERIFY(form->BodyText->toPlainText().isEmpty());
    QVERIFY(form->AttachText->text().isEmpty());
    QVERIFY(!form->isVisible());
    settle();
    QVERIFY(form.isNull());

    const QList<Arrived> got = arrived();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].subject.trimmed(), QStringLiteral("ご挨拶 ") + token_);
    QCOMPARE(got[0].to, QStringList{QStringLiteral("user@localhost")});
    QVERIFY2(got[0].body.contains(QStringLiteral("山田様\nいつもお世話になっております。①㈱")), qPrintable(got[0].body));
    QCOMPARE(got[0].attachments.size(), 2);
    QCOMPARE(got[0].attachments.value(QStringLiteral("報告書, 最終.txt")), QByteArray("estimate\r\n"));
    QCOMPARE(got[0].attachments.value(QStringLiteral("data.bin")), binary);

    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].subject, QStringLiteral("ご挨拶 ") + token_);
    QCOMPARE(records[0].from, QStringLiteral("user@localhost"));
    QCOMPARE(records[0].date, kClock);
    QCOMPARE(records[0].body, QStringLiteral("山田様\r\nいつもお世話になっております。①㈱"));
    QCOMPARE(hm::store::CurrentRecordNumber(), qint16(1));
}

void TestSending::fortuneGoesOutButStaysOutOfTheStore()
{
    WriteForm* form = openForm();
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(QStringLiteral("占い ") + token_);
    form->BodyText->setPlainText(QStringLiteral("こんにちは。"));
    form->Check1->setChecked(true);
    hm::test::click(form->Command1);
    QVERIFY(ui_.shown.isEmpty());

    const QList<Arrived> got = arrived();
    QCOMPARE(got.size(), 1);
    const QString prefix = QStringLiteral("こんにちは。\n\n") + hm::compose::FortuneHeading() + QStringLiteral("\n\n");
    QVERIFY2(got[0].body.startsWith(prefix), qPrintable(got[0].body));
    const QString fortune = got[0].body.mid(prefix.size()).chopped(got[0].body.endsWith(QLatin1Char('\n')) ? 1 : 0);
    bool known = false;
    for (int k = 1; k <= hm::compose::kFortuneCount; ++k)
        known = known || fortune == hm::compose::Fortune(k);
    QVERIFY2(known, qPrintable(fortune));

    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].body, QStringLiteral("こんにちは。"));
}

// The message goes out whole; the record keeps what CP932 holds and names a copy of the message
// as it went out, from which the sent history shows it whole.
void TestSending::textTheRecordCannotHoldIsKeptAsSent()
{
    const QString wide = QStringLiteral("こんにちは 😀 ♥ ① 髙橋 𠮷野家");
    // Short enough for one encoded word: GMime's reader (parse) drops a word that starts with 𠮷.
    const QString subject = QStringLiteral("𠮷野家😀 ") + token_;
    WriteForm* form = openForm();
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(subject);
    form->BodyText->setPlainText(wide);
    hm::test::click(form->Command1);
    QVERIFY2(ui_.shown.isEmpty(), qPrintable(ui_.texts().join(QLatin1Char('|'))));

    const QList<Arrived> got = arrived();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].subject, subject);
    QVERIFY2(got[0].body.startsWith(wide), qPrintable(got[0].body));
    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].subject, QStringLiteral("?野家? ") + token_);
    QVERIFY2(records[0].body.startsWith(QStringLiteral("こんにちは ? ? ① 髙橋 ?野家\r\n\r\n【")), qPrintable(records[0].body));
    const QFileInfo copy(hm::store::wholeCopyPathIn(records[0].body));
    QVERIFY(copy.isFile());
    QCOMPARE(int(copy.permissions() & (QFile::ReadGroup | QFile::ReadOther)), 0);
    QCOMPARE(parse(copy.filePath()).body, got[0].body);

    TyakuForm* history = hm::history::OpenHistory(hm::history::HistoryMode::Sent);
    history->MailListView->setCurrentItem(history->MailListView->topLevelItem(0));
    QCOMPARE(history->Text7->text(), subject);
    QCOMPARE(history->Text8->text(), QStringLiteral("user@localhost"));
    QVERIFY(history->EditorText().startsWith(wide));
    history->close();
}

void TestSending::failingServerKeepsTheWindowAndMarksTheRecord()
{
    hm::settings::account().SmtpServer = QStringLiteral("127.0.0.1:%1").arg(hm::test::unusedLoopbackPort());
    const QString attachment = folder_->path() + QStringLiteral("/資料.txt");
    hm::test::writeFile(attachment, "x");
    QPointer<WriteForm> form = openForm();
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(QStringLiteral("届かない ") + token_);
    form->BodyText->setPlainText(QStringLiteral("本文"));
    form->Check1->setChecked(true);
    ui_.fileNames << attachment;
    hm::test::click(form->AttachCommand);
    hm::test::click(form->Command1);

    QCOMPARE(ui_.shown.size(), 1);
    QCOMPARE(ui_.shown[0].title, QStringLiteral("送信エラー"));
    QCOMPARE(ui_.shown[0].icon, hm::ui::Icon::None);
    QCOMPARE(ui_.shown[0].buttons, hm::ui::Buttons::Ok);
    QVERIFY2(hasJapanese(ui_.shown[0].text), qPrintable(ui_.shown[0].text));
    // The box comes up while the window still says it is sending.
    QCOMPARE(ui_.statusAtBox, QStringList{kSending});
    settle();
    // Everything the user entered is still there, without a fortune, ready for another try.
    QVERIFY(form && form->isVisible());
    QVERIFY2(form->Label7->text().contains(QStringLiteral("送信できませんでした")), qPrintable(form->Label7->text()));
    QCOMPARE(form->ToText->text(), QStringLiteral("user@localhost"));
    QCOMPARE(form->SubjectText->text(), QStringLiteral("届かない ") + token_);
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("本文"));
    QCOMPARE(form->AttachText->text(), attachment);
    QVERIFY(form->Command9->isEnabled()); // "追加" goes on from there
    QVERIFY(!form->AttachCommand->isEnabled());
    QVERIFY(form->Check1->isChecked());
    QVERIFY(form->Command1->isEnabled());
    // The sent history keeps the message, marked as not sent.
    QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records[0].subject, QStringLiteral("届かない ") + token_);
    QCOMPARE(records[0].date, kClock + QStringLiteral("  ※未送信"));
    QVERIFY(arrived().isEmpty());

    // The server back: the same window sends it, with its attachment and one fortune.
    hm::settings::account().SmtpServer = env_.smtpServer();
    hm::test::click(form->Command1);
    QCOMPARE(ui_.shown.size(), 1);
    settle();
    QVERIFY(form.isNull());
    const QList<Arrived> got = arrived();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].body.count(hm::compose::FortuneHeading()), 1);
    QCOMPARE(got[0].attachments.value(QStringLiteral("資料.txt")), QByteArray("x"));
    records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[1].date, kClock);
}

void TestSending::emptyRecipientIsRefusedBeforeAnythingIsWritten()
{
    QPointer<WriteForm> form = openForm();
    form->ToText->setText(QStringLiteral(" 　"));
    form->SubjectText->setText(QStringLiteral("宛先なし ") + token_);
    form->BodyText->setPlainText(QStringLiteral("本文"));
    hm::test::click(form->Command1);
    QCOMPARE(ui_.shown.size(), 1);
    QCOMPARE(ui_.shown[0].title, QStringLiteral("送信エラー"));
    QVERIFY2(hasJapanese(ui_.shown[0].text) && ui_.shown[0].text.contains(QStringLiteral("宛先")),
             qPrintable(ui_.shown[0].text));
    QVERIFY(hm::test::storedRecords(Store::Sent).isEmpty());
    QVERIFY(arrived().isEmpty());
    settle();
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("本文"));
    QVERIFY(form->Command1->isEnabled());
}

void TestSending::emptyClockTextStillDatesTheRecord()
{
    // Right after a mail check the clock box may not have been refilled yet.
    hm::setClockTextSource([] { return QString(); });
    const auto restore = qScopeGuard([] { hm::setClockTextSource([] { return kClock; }); });
    WriteForm* form = openForm();
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(QStringLiteral("日付 ") + token_);
    hm::test::click(form->Command1);
    QVERIFY(ui_.shown.isEmpty());
    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 1);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}/\\d{2}/\\d{2}  \\d{1,2}:\\d{2}:\\d{2}$")).match(records[0].date).hasMatch(),
             qPrintable(records[0].date));
}

void TestSending::bulkSendingGoesToEveryAddressBookEntry()
{
    // The second entry's address is refused: that pass fails, the run goes on.
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@localhost")));
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two at localhost")));
    QVERIFY(hm::addressbook::WriteAddress(3, QStringLiteral("三"), QStringLiteral("three@localhost")));
    QPointer<WriteForm> form = openForm();
    hm::test::click(form->Command4);
    QCOMPARE(form->List1->count(), 3);
    hm::test::click(form->Option2);
    form->ToText->setText(QStringLiteral(" 皆様 "));
    form->SubjectText->setText(QStringLiteral("一括 ") + token_);
    form->BodyText->setPlainText(QStringLiteral("お知らせです。"));
    form->Check1->setChecked(true);
    hm::test::click(form->Command1);

    // One box at the end names the one who did not get it; the window waits for another try.
    QCOMPARE(ui_.shown.size(), 1);
    QCOMPARE(ui_.shown[0].title, QStringLiteral("送信エラー"));
    QVERIFY2(ui_.shown[0].text.contains(QStringLiteral("\ntwo at localhost\n")), qPrintable(ui_.shown[0].text));
    QVERIFY(!ui_.shown[0].text.contains(QStringLiteral("one@localhost")));
    settle();
    QVERIFY(form && form->isVisible());
    QVERIFY(form->Option2->isChecked());
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("お知らせです。"));
    QVERIFY(form->Command1->isEnabled());
    // Each record names the address its pass went to; the failed one is marked.
    QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 3);
    const QStringList firstRun = {QStringLiteral("one@localhost"), QStringLiteral("two at localhost"),
                                  QStringLiteral("three@localhost")};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(records[i].from, firstRun[i]);
        QCOMPARE(records[i].body, QStringLiteral("お知らせです。"));
        QCOMPARE(records[i].date, i == 1 ? kClock + QStringLiteral("  ※未送信") : kClock);
    }

    // Mended in the book, "送信" goes to that one only, and the window closes.
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two@localhost")));
    hm::test::click(form->Command1);
    QCOMPARE(ui_.shown.size(), 1);
    settle();
    QVERIFY(form.isNull());
    QStringList recipients;
    for (const Arrived& a : arrived()) {
        recipients << a.to;
        QVERIFY(a.body.startsWith(QStringLiteral("お知らせです。")));
        QCOMPARE(a.body.count(hm::compose::FortuneHeading()), 1);
    }
    recipients.sort();
    QCOMPARE(recipients, (QStringList{QStringLiteral("one@localhost"), QStringLiteral("three@localhost"),
                                      QStringLiteral("two@localhost")}));
    records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 4);
    QCOMPARE(records[3].from, QStringLiteral("two@localhost"));
    QCOMPARE(records[3].date, kClock);
    QCOMPARE(hm::store::CurrentRecordNumber(), qint16(4));
}

void TestSending::bulkProcedureWithoutAWindowReportsEachPass()
{
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@localhost")));
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two at localhost")));
    QVERIFY(hm::addressbook::WriteAddress(3, QStringLiteral("三"), QStringLiteral("three@localhost")));
    hm::compose::Draft draft;
    draft.subject = QStringLiteral("進行 ") + token_;
    draft.body = QStringLiteral("お知らせです。\n以上");
    draft.bulk = true;
    draft.bulkRows = 3;
    QStringList log;
    ui_.log = &log;
    const auto unlog = qScopeGuard([this] { ui_.log = nullptr; });
    RecordingFeedback feedback(log);

    // The refused address shows as missed from the next pass on; the draft is kept for it.
    hm::compose::RunSendProcedure(draft, feedback);
    QCOMPARE(log, (QStringList{QStringLiteral("started"), QStringLiteral("status ") + kSending,
                               QStringLiteral("progress 1 / 3, missed 0"), QStringLiteral("progress 2 / 3, missed 0"),
                               QStringLiteral("progress 3 / 3, missed 1"),
                               QStringLiteral("status 1件のあて先に送信できませんでした。「送信」で送り直します。"),
                               QStringLiteral("box 送信エラー"), QStringLiteral("keep draft, left 2")}));

    // Mended, the same draft with the pass left goes to that one only, and is done with.
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two@localhost")));
    draft.passesLeft = feedback.kept;
    log.clear();
    hm::compose::RunSendProcedure(draft, feedback);
    QCOMPARE(log, (QStringList{QStringLiteral("started"), QStringLiteral("status ") + kSending,
                               QStringLiteral("progress 2 / 3, missed 0"),
                               QStringLiteral("status 送信完了です。"), QStringLiteral("all sent")}));

    QStringList recipients;
    for (const Arrived& a : arrived()) {
        recipients << a.to;
        QVERIFY2(a.body.startsWith(QStringLiteral("お知らせです。\n以上")), qPrintable(a.body));
    }
    recipients.sort();
    QCOMPARE(recipients, (QStringList{QStringLiteral("one@localhost"), QStringLiteral("three@localhost"),
                                      QStringLiteral("two@localhost")}));
    QCOMPARE(hm::test::storedCount(Store::Sent), 4);
}

void TestSending::bulkPassWithoutAnAddressIsSkipped()
{
    // The list comes from the master file (three rows); the address book holds two entries.
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@localhost")));
    QVERIFY(hm::addressbook::WriteAddress(2, QStringLiteral("二"), QStringLiteral("two@localhost")));
    QVERIFY(hm::addressbook::WriteAddress(3, QStringLiteral("三"), QStringLiteral("three@localhost")));
    QFile::remove(folder_->file(kMaster));
    QVERIFY(QFile::copy(folder_->file(kBook), folder_->file(kMaster)));
    QVERIFY(hm::addressbook::DeleteAddress(3));

    QPointer<WriteForm> form = openForm();
    QCOMPARE(form->List1->count(), 3);
    hm::test::click(form->Option2);
    form->SubjectText->setText(QStringLiteral("一部 ") + token_);
    form->BodyText->setPlainText(QStringLiteral("本文"));
    hm::test::click(form->Command1);

    QCOMPARE(arrived().size(), 2);
    QCOMPARE(hm::test::storedRecords(Store::Sent).size(), 2);
    QCOMPARE(ui_.shown.size(), 1);
    QVERIFY(ui_.shown[0].text.contains(QLatin1Char('1')));
    QVERIFY(form);
    QVERIFY(form->Label7->text().startsWith(QStringLiteral("送信完了です。")));
    QVERIFY(form->Label7->text().contains(QStringLiteral("1件")));
    QVERIFY(!form->isVisible());
}

void TestSending::bulkWithAnEmptyListSendsNothing()
{
    QPointer<WriteForm> form = openForm();
    QCOMPARE(form->List1->count(), 0);
    hm::test::click(form->Option2);
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(QStringLiteral("空 ") + token_);
    hm::test::click(form->Command1);
    QVERIFY(ui_.shown.isEmpty());
    QVERIFY(hm::test::storedRecords(Store::Sent).isEmpty());
    QVERIFY(arrived().isEmpty());
    QVERIFY(form);
    QCOMPARE(form->Label7->text(), QStringLiteral("送信完了です。"));
    QVERIFY(!form->isVisible());
}

void TestSending::unwritableSentStoreSendsNothingAndKeepsTheMessage()
{
    // A folder where the sent store should be: no write can succeed, even as root.
    const QString store = folder_->file(hm::store::storePath(Store::Sent));
    QFile::remove(store);
    QVERIFY(QDir().mkpath(store));

    QPointer<WriteForm> form = openForm();
    form->ToText->setText(QStringLiteral("user@localhost"));
    form->SubjectText->setText(QStringLiteral("保存不可 ") + token_);
    form->BodyText->setPlainText(QStringLiteral("大事な本文"));
    form->Check1->setChecked(true);
    hm::test::click(form->Command1);

    QCOMPARE(ui_.shown.size(), 1);
    QVERIFY2(hasJapanese(ui_.shown[0].text), qPrintable(ui_.shown[0].text));
    QVERIFY(arrived().isEmpty());
    settle();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QCOMPARE(form->ToText->text(), QStringLiteral("user@localhost"));
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("大事な本文")); // no fortune added
    QVERIFY(form->Check1->isChecked());
    QVERIFY(form->Label7->text() != QStringLiteral("送信完了です。"));
    QVERIFY(form->Command1->isEnabled()); // the user may try again
}

void TestSending::bulkSendStoppedPartWayGoesOnWithoutDuplicates()
{
    const QStringList book = {QStringLiteral("one@localhost"), QStringLiteral("two@localhost"),
                              QStringLiteral("three@localhost"), QStringLiteral("four@localhost")};
    for (int i = 0; i < book.size(); ++i)
        QVERIFY(hm::addressbook::WriteAddress(qint16(i + 1), QString::number(i + 1), book[i]));
    // A sent store with room for two more records (sparse: it takes no disk).
    QFile store(folder_->file(hm::store::storePath(Store::Sent)));
    QVERIFY(store.open(QIODevice::WriteOnly));
    QVERIFY(store.resize(qint64(32765) * hm::store::kRecordSize));
    store.close();

    QPointer<WriteForm> form = openForm();
    hm::test::click(form->Command4);
    hm::test::click(form->Option2);
    form->SubjectText->setText(QStringLiteral("途中まで ") + token_);
    form->BodyText->setPlainText(QStringLiteral("お知らせです。"));
    form->Check1->setChecked(true);
    // Timers run while the send does: this one sees the progress of the first pass, and
    // "送信" still disabled.
    QString statusDuringSend;
    bool sendEnabledDuringSend = true;
    QTimer::singleShot(0, form, [&] {
        statusDuringSend = form->Label7->text();
        sendEnabledDuringSend = form->Command1->isEnabled();
    });
    hm::test::click(form->Command1);

    QCOMPARE(statusDuringSend, kSending + QStringLiteral("　1 / 4"));
    QVERIFY(!sendEnabledDuringSend);
    QCOMPARE(ui_.shown.size(), 1); // the full store
    QCOMPARE(ui_.statusAtBox, QStringList{kSending + QStringLiteral("　3 / 4")});
    settle();
    QVERIFY(form && form->isVisible());
    QVERIFY2(form->Label7->text().contains(QStringLiteral("2 / 4 件送信済み")), qPrintable(form->Label7->text()));
    QVERIFY(form->Command1->isEnabled());
    QCOMPARE(arrived().size(), 2);

    // Room again: the second press sends to the two not reached, each once.
    QVERIFY(QFile::remove(store.fileName()));
    hm::test::click(form->Command1);
    QCOMPARE(ui_.shown.size(), 1);
    QMap<QString, int> fortunesSentTo;
    for (const Arrived& a : arrived()) {
        QCOMPARE(a.to.size(), 1);
        QVERIFY2(!fortunesSentTo.contains(a.to[0]), qPrintable(a.to[0]));
        fortunesSentTo[a.to[0]] = int(a.body.count(hm::compose::FortuneHeading()));
    }
    // Every message carries one fortune, whichever run sent it.
    QCOMPARE(fortunesSentTo.size(), 4);
    for (int i = 0; i < book.size(); ++i)
        QCOMPARE(fortunesSentTo.value(book[i]), 1);
    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records[0].from, book[2]);
    QCOMPARE(records[1].from, book[3]);
    QVERIFY(!form->isVisible());
}

void TestSending::killedBulkSendShowsWhoGotTheMessage()
{
    // Enough recipients that the kill comes part-way.
    constexpr int kEntries = 200;
    const auto address = [](int i) { return QStringLiteral("p%1@localhost").arg(i); };
    for (int i = 1; i <= kEntries; ++i)
        QVERIFY(hm::addressbook::WriteAddress(qint16(i), QString::number(i), address(i)));
    QProcess child;
    child.start(QStringLiteral(HM_BULK_SEND_CHILD), {folder_->path(), env_.smtpServer(), QStringLiteral("中断 ") + token_});
    QVERIFY(child.waitForStarted());
    while (env_.messageFiles().size() - before_.size() < 3 && child.state() == QProcess::Running)
        QTest::qWait(2);
    QVERIFY2(child.state() == QProcess::Running, "the bulk send ended before it could be killed");
    ::kill(pid_t(child.processId()), SIGKILL);
    QVERIFY(child.waitForFinished());

    // The records name the first passes in order; every one but the last went out, and nothing
    // went out without its record.
    QStringList delivered;
    for (const Arrived& a : arrived())
        delivered << a.to;
    const QList<hm::test::StoredRecord> records = hm::test::storedRecords(Store::Sent);
    QVERIFY(records.size() >= 3 && records.size() < kEntries);
    QStringList recorded;
    for (int i = 0; i < records.size(); ++i) {
        QCOMPARE(records[i].from, address(i + 1));
        recorded << records[i].from;
        if (i + 1 < records.size())
            QVERIFY2(delivered.contains(records[i].from), qPrintable(records[i].from));
    }
    for (const QString& to : delivered)
        QVERIFY2(recorded.contains(to), qPrintable(to));
    QCOMPARE(QSet<QString>(delivered.begin(), delivered.end()).size(), delivered.size());
}

void TestSending::unreadableAddressBookStopsBulkSending()
{
    QVERIFY(hm::addressbook::WriteAddress(1, QStringLiteral("一"), QStringLiteral("one@localhost")));
    QPointer<WriteForm> form = openForm();
    hm::test::click(form->Command4);
    QCOMPARE(form->List1->count(), 1);
    QVERIFY(QFile::remove(folder_->file(kBook)));
    QVERIFY(QDir().mkpath(folder_->file(kBook)));
    hm::test::click(form->Option2);
    form->SubjectText->setText(QStringLiteral("読めない ") + token_);
    form->BodyText->setPlainText(QStringLiteral("本文"));
    hm::test::click(form->Command1);

    QCOMPARE(ui_.shown.size(), 1);
    QVERIFY2(ui_.shown[0].text.contains(QStringLiteral("アドレス帳")), qPrintable(ui_.shown[0].text));
    QVERIFY(hm::test::storedRecords(Store::Sent).isEmpty());
    QVERIFY(arrived().isEmpty());
    settle();
    QVERIFY(form);
    QVERIFY(form->isVisible());
    QVERIFY(form->Option2->isChecked());
    QCOMPARE(form->BodyText->toPlainText(), QStringLiteral("本文"));
}

void TestSending::replyIsSentWithoutARecord()
{
    // A display name with an escaped quote and a comma inside stays one recipient.
    const QString sender = QStringLiteral(R"( "Support\" <attacker@evil.invalid>, x" <user@localhost> )");
    BackForm* form = hm::compose::OpenReply(QStringLiteral(" 会議 ") + token_, sender, QStringLiteral("元の本文"));
    QPointer<BackForm> guard = form;
    form->BodyText->setPlainText(QStringLiteral("承知しました。\n\n元の本文"));
    hm::test::click(form->Command2);
    QVERIFY2(ui_.shown.isEmpty(), qPrintable(ui_.texts().join(QLatin1Char('|'))));
    settle();
    QVERIFY(guard.isNull());

    const QList<Arrived> got = arrived();
    QCOMPARE(got.size(), 1);
    QCOMPARE(got[0].subject, QStringLiteral("Re:  会議 ") + token_);
    QCOMPARE(got[0].to, QStringList{QStringLiteral("user@localhost")});
    QCOMPARE(env_.lastRecipients(), QStringList{QStringLiteral("user@localhost")});
    QVERIFY(got[0].body.startsWith(QStringLiteral("承知しました。\n\n元の本文")));
    QVERIFY(hm::test::storedRecords(Store::Sent).isEmpty());
}

void TestSending::failingReplyClosesAndKeepsNoRecord()
{
    hm::settings::account().SmtpServer = QStringLiteral("127.0.0.1:%1").arg(hm::test::unusedLoopbackPort());
    BackForm* form = hm::compose::OpenReply(QStringLiteral("件名 ") + token_, QStringLiteral("user@localhost"),
                                            QStringLiteral("本文"));
    QPointer<BackForm> guard = form;
    hm::test::click(form->Command2);
    QCOMPARE(ui_.shown.size(), 1);
    QCOMPARE(ui_.shown[0].title, QStringLiteral("送信エラー"));
    QVERIFY(hasJapanese(ui_.shown[0].text));
    settle();
    QVERIFY(guard.isNull());
    QVERIFY(hm::test::storedRecords(Store::Sent).isEmpty());
    QVERIFY(arrived().isEmpty());
}

QTEST_MAIN(TestSending)
#include "test_sending.moc"
