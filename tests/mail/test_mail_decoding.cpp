#include "common/ansi_codec.h"
#include "mail/charset.h"
#include "mail/mime.h"
#include "mail/nmail.h"
#include "mail/transfer.h"
#include "tests/support/mail_error.h"
#include "tests/support/test_folder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <iconv.h>

#include <map>

using namespace hm::mail;

namespace {

QString bodyOf(const QByteArray& raw)
{
    return readDownloaded(raw).body;
}

QByteArray sjis(const char* utf8)
{
    // The test's own CP932 bytes for text, via iconv as a Windows mailer would write them.
    QByteArray in(utf8);
    QByteArray out(in.size() * 2 + 8, 0);
    iconv_t cd = iconv_open("CP932", "UTF-8");
    char* ip = in.data();
    char* op = out.data();
    size_t il = size_t(in.size()), ol = size_t(out.size());
    iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    out.truncate(out.size() - qsizetype(ol));
    return out;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QByteArray partial(const QByteArray& id, int number, int total, const QByteArray& fragment)
{
    QByteArray m = "From: x@localhost\r\nSubject: split\r\nMIME-Version: 1.0\r\n"
                   "Content-Type: message/partial; id=\"" + id + "\"; number=" + QByteArray::number(number);
    if (total > 0)
        m += "; total=" + QByteArray::number(total);
    return m + "\r\n\r\n" + fragment;
}

} // namespace

class TestMailDecoding : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void subjectsInTheCharsetsJapaneseMailUses_data();
    void subjectsInTheCharsetsJapaneseMailUses();
    void everyCharsetLabelReachesItsDecoder();
    void everyJisPairReadsAsItsCp932Bytes();
    void senderKeepsNameAndAddress();
    void headerEndsAtTheFirstBlankLine_data();
    void headerEndsAtTheFirstBlankLine();
    void bodyOfASinglePartIsDecoded_data();
    void bodyOfASinglePartIsDecoded();
    void attachmentsKeepEveryByte_data();
    void attachmentsKeepEveryByte();
    void messageNestedBeyondTheWalkSaysSo_data();
    void messageNestedBeyondTheWalkSaysSo();
    void bodyOfAMultipartStaysRawWithTheMarker();
    void damagedMessagesDoNotBreakTheParser();
    void attachmentNamesStayInsideTheFolder();
    void japaneseAttachmentNamesAsWindowsMailersWriteThem();
    void sameNamesAreAllKept();
    void htmlOnlyMessageBecomesReadableText();
    void splitMessageWaitsForEveryPart();
    void attachmentCallFallsBackToTheGivenText();
    void serverTextsSayHowToConnect();
};

void TestMailDecoding::subjectsInTheCharsetsJapaneseMailUses_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("expected");
    // Two base64 words where the first ends in padding: the second must not be lost.
    QTest::newRow("adjacent-padded") << QByteArray("=?UTF-8?B?YWI=?= =?UTF-8?B?Y2Q=?=") << QStringLiteral("abcd");
    // A character split across two words of one charset.
    QTest::newRow("split-char") << QByteArray("=?UTF-8?B?5pel?= =?UTF-8?B?5pys?=") << QStringLiteral("日本");
    QTest::newRow("iso-2022-jp-nec") << QByteArray("=?ISO-2022-JP?B?GyRCLSEtahsoQg==?=") << QStringLiteral("①㈱");
    QTest::newRow("iso-2022-jp-kana") << QByteArray("=?iso-2022-jp?B?GyhJNjZGGyhC?=") << QStringLiteral("ｶｶﾆ");
    QTest::newRow("iso-2022-jp-shift-out-kana") << QByteArray("=?iso-2022-jp?B?DjYPYQ==?=") << QStringLiteral("ｶa");
    QTest::newRow("iso-2022-jp-unknown-set") << "=?iso-2022-jp?B?" + QByteArray("\x1b$(G0!\x1b(Bx").toBase64() + "?="
                                             << QStringLiteral("〓x");
    // JIS X 0212 and both planes of JIS X 0213 are read as themselves, whether CP932 holds the
    // character (鄧, 﨑, ①) or not (丂, 𠂉: the store then keeps the message whole).
    QTest::newRow("iso-2022-jp-2-jis-x-0212") << "=?ISO-2022-JP-2?B?" + QByteArray("\x1b$(DbG0!\x1b(B").toBase64() + "?="
                                              << QStringLiteral("鄧丂");
    QTest::newRow("iso-2022-jp-3-plane-1") << "=?ISO-2022-JP-3?B?" + QByteArray("\x1b$(OOr-!\x1b(B").toBase64() + "?="
                                           << QStringLiteral("﨑①");
    QTest::newRow("iso-2022-jp-2004-both-planes")
        << "=?ISO-2022-JP-2004?B?" + QByteArray("\x1b$(QOr\x1b$(P!!\x1b(B").toBase64() + "?=" << QStringLiteral("﨑𠂉");
    QTest::newRow("iso-2022-jp-2-sets-in-turn")
        << "=?ISO-2022-JP-2?B?" + QByteArray("\x1b$BF|\x1b$(DbG\x1b$BK\\\x1b(Ba\x1b$A::\x1b$(CGQ\x1b(B").toBase64() + "?="
        << QStringLiteral("日鄧本a汉한");
    QTest::newRow("raw-jis-x-0213") << QByteArray("\x1b$(QOr\x1b(B memo") << QStringLiteral("﨑 memo");
    QTest::newRow("shift_jis-label") << "=?Shift_JIS?B?" + sjis("①髙橋ﾃｽﾄ").toBase64() + "?="
                                     << QStringLiteral("①髙橋ﾃｽﾄ");
    QTest::newRow("windows-31j-label") << "=?windows-31j?B?" + sjis("㈱テスト").toBase64() + "?="
                                       << QStringLiteral("㈱テスト");
    QTest::newRow("euc-jp") << QByteArray("=?EUC-JP?B?xvzL3A==?=") << QStringLiteral("日本");
    QTest::newRow("latin1-q") << QByteArray("=?ISO-8859-1?Q?caf=E9_au_lait?=") << QStringLiteral("café au lait");
    QTest::newRow("latin1-windows-quotes") << QByteArray("=?ISO-8859-1?Q?=93Hi=94=2C_=80_5?=") << QStringLiteral("“Hi”, € 5");
    // C1 bytes are no Latin-1 text: what Japanese mailers send so is CP932 (or UTF-8).
    QTest::newRow("latin1-label-on-cp932") << "=?ISO-8859-1?B?" + sjis("お世話になります").toBase64() + "?="
                                           << QStringLiteral("お世話になります");
    QTest::newRow("latin1-label-on-utf8") << "=?ISO-8859-1?B?" + QByteArray("日本").toBase64() + "?=" << QStringLiteral("日本");
    QTest::newRow("raw-utf8") << QByteArray("日本語の件名") << QStringLiteral("日本語の件名");
    QTest::newRow("raw-cp932") << sjis("社内連絡①") << QStringLiteral("社内連絡①");
    QTest::newRow("raw-iso-2022-jp") << QByteArray("\x1b$BF|K\\\x1b(B memo") << QStringLiteral("日本 memo");
    QTest::newRow("unknown-charset") << QByteArray("=?x-unheard-of?B?5pel5pys?=") << QStringLiteral("日本");
    QTest::newRow("text-around-words") << QByteArray("Re: =?UTF-8?B?5pel?= memo") << QStringLiteral("Re: 日 memo");
    QTest::newRow("folded") << QByteArray("=?UTF-8?B?5pel?=\r\n =?UTF-8?B?5pys?=") << QStringLiteral("日本");
    QTest::newRow("broken-base64") << QByteArray("=?UTF-8?B?5p!!el?=") << QStringLiteral("日");
}

void TestMailDecoding::subjectsInTheCharsetsJapaneseMailUses()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, expected);
    const HeaderSummary s = readDownloaded("Subject: " + raw + "\r\nFrom: a@b\r\n\r\nbody\r\n").summary;
    QCOMPARE(s.subject, expected);
}

// Each label of the table, written in capitals, reads text in the charset it names.
void TestMailDecoding::everyCharsetLabelReachesItsDecoder()
{
    struct Sample {
        QByteArray bytes;
        QString text;
    };
    const std::map<CharsetDecoder, Sample> samples = {
        {CharsetDecoder::Unlabelled, {QByteArray("日本"), QStringLiteral("日本")}},
        {CharsetDecoder::Utf8, {QByteArray("日本"), QStringLiteral("日本")}},
        {CharsetDecoder::Cp932, {sjis("①髙ｶﾅ"), QStringLiteral("①髙ｶﾅ")}},
        {CharsetDecoder::Iso2022jp, {QByteArray("\x1b$B-!F|\x1b(B"), QStringLiteral("①日")}},
        {CharsetDecoder::EucJp, {QByteArray("\xc6\xfc\xcb\xdc"), QStringLiteral("日本")}},
        {CharsetDecoder::Latin1, {QByteArray("caf\xe9"), QStringLiteral("café")}},
    };
    QVERIFY(!charsetLabels().empty());
    for (const CharsetLabel& label : charsetLabels()) {
        const QByteArray name = QByteArray(label.name).toUpper() + (label.prefix ? "-2" : "");
        const auto sample = samples.find(label.decoder);
        QVERIFY2(sample != samples.end(), label.name);
        QCOMPARE(decodeCharset(sample->second.bytes, name), sample->second.text);
    }
}

// A JIS X 0208 pair goes straight to its character; it must be the character its CP932 bytes
// (by the JIS arithmetic) decode to, with the ASCII around it kept, for all 94 x 94 pairs.
void TestMailDecoding::everyJisPairReadsAsItsCp932Bytes()
{
    int differing = 0;
    for (int j1 = 0x21; j1 <= 0x7E; ++j1) {
        for (int j2 = 0x21; j2 <= 0x7E; ++j2) {
            const char lead = char(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
            const char trail = char(j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E));
            const QByteArray jis = QByteArray("1\x1b$B") + char(j1) + char(j2) + char(j1) + char(j2) + "\x1b(B\r\n";
            const QString expected = QStringLiteral("1") + hm::ansi::decode(QByteArray() + lead + trail + lead + trail)
                                     + QStringLiteral("\r\n");
            if (hm::mail::decodeCharset(jis, "ISO-2022-JP") != expected && ++differing < 5)
                qWarning("pair %02X %02X", j1, j2);
        }
    }
    QCOMPARE(differing, 0);
}

void TestMailDecoding::headerEndsAtTheFirstBlankLine_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("header");
    QTest::newRow("crlf") << QByteArray("Subject: a\r\nX: b\r\n\r\nbody\n\nmore") << QStringLiteral("Subject: a\r\nX: b");
    QTest::newRow("lf") << QByteArray("Subject: a\nX: b\n\nbody\r\n\r\n") << QStringLiteral("Subject: a\r\nX: b");
    QTest::newRow("lf-lf-first") << QByteArray("Subject: a\n\nX: b\r\n\r\nbody") << QStringLiteral("Subject: a");
    QTest::newRow("cr-lf-lf") << QByteArray("Subject: a\r\n\nbody") << QStringLiteral("Subject: a\r\n");
    QTest::newRow("lf-cr-lf-is-no-blank-line") << QByteArray("Subject: a\n\r\nX: b\r\n\r\nbody")
                                             << QStringLiteral("Subject: a\r\n\r\nX: b");
    QTest::newRow("no-blank-line") << QByteArray("Subject: a\r\nX: b") << QStringLiteral("Subject: a\r\nX: b");
    QTest::newRow("blank-first") << QByteArray("\r\nSubject: a\r\n\r\n") << QString();
}

void TestMailDecoding::headerEndsAtTheFirstBlankLine()
{
    QFETCH(QByteArray, raw);
    QFETCH(QString, header);
    QCOMPARE(readDownloaded(raw).summary.header, header);
}

void TestMailDecoding::senderKeepsNameAndAddress()
{
    const HeaderSummary s = readDownloaded(
        "From: =?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>\r\nDate: Tue, 8 Dec 2026\r\n 09:00:00 +0900\r\n"
        "Subject: x\r\n\r\n").summary;
    QCOMPARE(s.from, QStringLiteral("山田 <yamada@example.jp>"));
    QCOMPARE(s.date, QStringLiteral("Tue, 8 Dec 2026 09:00:00 +0900"));
    QVERIFY(s.header.startsWith(QLatin1String("From: ")));
    QVERIFY(!s.header.endsWith(QLatin1String("\r\n\r\n")));
}

void TestMailDecoding::bodyOfASinglePartIsDecoded_data()
{
    QTest::addColumn<QByteArray>("headers");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("base64") << QByteArray("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n")
                            << QStringLiteral("一行目\n二行目\n").toUtf8().toBase64() + "\r\n"
                            << QStringLiteral("一行目\r\n二行目\r\n");
    // Without its final padding the last group still holds one or two bytes.
    QTest::newRow("base64-unpadded") << QByteArray("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n")
                                     << QByteArray("5pel5pysYQ\r\n") << QStringLiteral("日本a");
    QTest::newRow("base64-unpadded-two") << QByteArray("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n")
                                         << QByteArray("5pel5pysYWI\r\n") << QStringLiteral("日本ab");
    QTest::newRow("quoted-printable") << QByteArray("Content-Type: text/plain; charset=iso-2022-jp\r\n"
                                                    "Content-Transfer-Encoding: quoted-printable\r\n")
                                      << QByteArray("=1B$B-!=1B(B=20end\r\n") << QStringLiteral("① end\r\n");
    QTest::newRow("iso-2022-jp-2") << QByteArray("Content-Type: text/plain; charset=ISO-2022-JP-2\r\n")
                                   << QByteArray("\x1b$(DbG\x1b(B\x1b$BK\\\x1b(B\r\n") << QStringLiteral("鄧本\r\n");
    // Japanese mailers label 8-bit CP932 as Latin-1; Japanese clients read it as CP932.
    QTest::newRow("latin1-label-on-cp932") << QByteArray("Content-Type: text/plain; charset=iso-8859-1\r\n")
                                           << sjis("お世話になります。\r\n①の件\r\n")
                                           << QStringLiteral("お世話になります。\r\n①の件\r\n");
    QTest::newRow("latin1") << QByteArray("Content-Type: text/plain; charset=iso-8859-1\r\n")
                            << QByteArray("caf\xe9 cr\xe8me\r\n") << QStringLiteral("café crème\r\n");
    // No Content-Type at all: plain text in whatever the bytes are.
    QTest::newRow("unlabelled") << QByteArray() << sjis("本文です") << QStringLiteral("本文です");
}

void TestMailDecoding::bodyOfASinglePartIsDecoded()
{
    QFETCH(QByteArray, headers);
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QByteArray mime = headers.isEmpty() ? QByteArray() : "MIME-Version: 1.0\r\n" + headers;
    QCOMPARE(bodyOf("Subject: x\r\n" + mime + "\r\n" + content), expected);
}

void TestMailDecoding::attachmentsKeepEveryByte_data()
{
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QByteArray>("bytes");
    QByteArray thousand(1000, Qt::Uninitialized);
    for (int i = 0; i < thousand.size(); ++i)
        thousand[i] = char(i * 7 + 3);
    const QByteArray more = thousand + 'z';
    const auto unpadded = [](const QByteArray& b) { return b.toBase64(QByteArray::OmitTrailingEquals); };
    const auto folded = [](QByteArray b) {
        for (qsizetype at = 76; at < b.size(); at += 78)
            b.insert(at, "\r\n");
        return b;
    };
    QTest::newRow("padded") << folded(thousand.toBase64()) << thousand;
    QTest::newRow("unpadded-one-over") << unpadded(thousand) << thousand;
    QTest::newRow("unpadded-two-over") << unpadded(more) << more;
    QTest::newRow("unpadded-folded") << folded(unpadded(thousand)) << thousand;
    QTest::newRow("padded-pieces-joined") << QByteArray("QQ==\r\nQkM=") << QByteArray("ABC");
}

void TestMailDecoding::attachmentsKeepEveryByte()
{
    QFETCH(QByteArray, encoded);
    QFETCH(QByteArray, bytes);
    const QByteArray m = "Content-Type: multipart/mixed; boundary=\"B\"\r\n\r\n--B\r\n"
                         "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\n" + encoded + "\r\n--B--\r\n";
    QTemporaryDir dir;
    QCOMPARE(extractAttachments(m, dir.path()).result, 1);
    QFile f(dir.filePath(QStringLiteral("a.bin")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), bytes);
}

void TestMailDecoding::messageNestedBeyondTheWalkSaysSo_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<bool>("stoppedInside");
    QTest::newRow("nested-as-mail-is") << 6 << false;
    QTest::newRow("nested-beyond-the-walk") << 40 << true;
}

void TestMailDecoding::messageNestedBeyondTheWalkSaysSo()
{
    QFETCH(int, depth);
    QFETCH(bool, stoppedInside);
    // Text at the top, a file at the bottom of depth nested multiparts.
    QByteArray body = "--b0\r\nContent-Type: text/plain\r\n\r\ntop text\r\n";
    for (int level = 1; level <= depth; ++level)
        body += "--b" + QByteArray::number(level - 1) + "\r\nContent-Type: multipart/mixed; boundary=\"b"
                + QByteArray::number(level) + "\"\r\n\r\n";
    body += "--b" + QByteArray::number(depth) + "\r\nContent-Type: application/octet-stream\r\n"
            "Content-Disposition: attachment; filename=\"deep.bin\"\r\n\r\nbottom\r\n";
    for (int level = depth; level >= 0; --level)
        body += "--b" + QByteArray::number(level) + "--\r\n";
    const QByteArray header = "Content-Type: multipart/mixed; boundary=\"b0\"";
    QTemporaryDir dir;
    const Extraction e = extractAttachments(header + "\r\n\r\n" + body, dir.path());
    QCOMPARE(e.stoppedInside, stoppedInside);
    QCOMPARE(e.body, QStringLiteral("top text"));
    QCOMPARE(QFileInfo::exists(dir.filePath(QStringLiteral("deep.bin"))), !stoppedInside);
    // The attachment call tells the mail check, which then keeps the message whole.
    NMailInitializeWinSock();
    QTemporaryDir other;
    QString s, d, f, h = QString::fromLatin1(header), b = QString::fromLatin1(body);
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, h, b, other.path(), QString(), h + QStringLiteral("\r\n\r\n") + b, 0),
             stoppedInside ? kAttachmentsIncomplete : 1);
}

void TestMailDecoding::bodyOfAMultipartStaysRawWithTheMarker()
{
    const QByteArray m = "Subject: x\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"B\"\r\n\r\n"
                         "--B\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\nhello\r\n"
                         "--B\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"a.bin\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n\r\nAAEC\r\n--B--\r\n";
    const QString body = bodyOf(m);
    QVERIFY(body.contains(QLatin1String("attachment")));
    QVERIFY(body.startsWith(QLatin1String("--B")));
    QTemporaryDir dir;
    const Extraction e = extractAttachments(m, dir.path());
    QCOMPARE(e.result, 1);
    QCOMPARE(e.body, QStringLiteral("hello"));
    QFile f(dir.filePath(QStringLiteral("a.bin")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("\x00\x01\x02", 3));
}

void TestMailDecoding::damagedMessagesDoNotBreakTheParser()
{
    QTemporaryDir dir;
    // A boundary that never ends, broken base64 and a header only.
    const QByteArray unterminated = "Content-Type: multipart/mixed; boundary=Z\r\n\r\n--Z\r\n"
                                    "Content-Type: text/plain\r\n\r\nstill here\r\n--Z\r\n"
                                    "Content-Disposition: attachment; filename=b.bin\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                                    "QUJD!!!RE*VG\r\n";
    const Extraction e = extractAttachments(unterminated, dir.path());
    QCOMPARE(e.result, 1);
    QVERIFY(e.body.contains(QLatin1String("still here")));
    QVERIFY(filesIn(dir.path()).contains(QStringLiteral("b.bin")));
    for (const QByteArray& raw : {QByteArray(), QByteArray("\r\n"), QByteArray("Subject: only"),
                                  QByteArray("Content-Type: multipart/mixed\r\n\r\nno boundary"),
                                  QByteArray("\xff\xfe\x00garbage", 10)}) {
        readDownloaded(raw);
        QVERIFY(extractAttachments(raw, dir.path()).result >= 0);
    }
}

void TestMailDecoding::attachmentNamesStayInsideTheFolder()
{
    QTemporaryDir outer;
    const QString folder = outer.filePath(QStringLiteral("添付フォルダ"));
    QVERIFY(QDir().mkpath(folder));
    const QList<QByteArray> names = {"../../escape.txt", "/etc/passwd", "C:\\\\Windows\\\\evil.exe", "D:drive.txt", "a\x01\x1f" "b.txt",
                                     "CON", "nul.txt", "..", "", "=?UTF-8?B?5YaZ55yfLmpwZw==?="};
    QByteArray m = "Content-Type: multipart/mixed; boundary=\"X\"\r\n\r\n";
    for (const QByteArray& n : names)
        m += "--X\r\nContent-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=\"" + n
             + "\"\r\n\r\ndata\r\n";
    m += "--X--\r\n";
    const Extraction e = extractAttachments(m, folder);
    QCOMPARE(e.result, 1);
    QCOMPARE(e.saved.size(), names.size());
    for (const QString& path : e.saved)
        QCOMPARE(QFileInfo(path).absolutePath(), QFileInfo(folder).absoluteFilePath());
    const QStringList files = filesIn(folder);
    QVERIFY(files.contains(QStringLiteral("escape.txt")));
    QVERIFY(files.contains(QStringLiteral("passwd")));
    QVERIFY2(files.contains(QStringLiteral("evil.exe")), qPrintable(files.join(QLatin1Char('|'))));
    QVERIFY(files.contains(QStringLiteral("drive.txt")));
    QVERIFY(files.contains(QStringLiteral("ab.txt")));
    QVERIFY(files.contains(QStringLiteral("_CON")));
    QVERIFY(files.contains(QStringLiteral("_nul.txt")));
    QVERIFY(files.contains(QStringLiteral("写真.jpg")));
    QCOMPARE(filesIn(outer.path()), QStringList());
    QCOMPARE(safeFileName(QStringLiteral("lpt1.log")), QStringLiteral("_lpt1.log"));
    QCOMPARE(safeFileName(QStringLiteral("a<b>c?.txt. ")), QStringLiteral("a_b_c_.txt"));
    QVERIFY(safeFileName(QString(300, QChar(0x3042)) + QStringLiteral(".pdf")).endsWith(QLatin1String(".pdf")));
    QVERIFY(safeFileName(QString(300, QChar(0x3042)) + QStringLiteral(".pdf")).toUtf8().size() <= 200);
}

void TestMailDecoding::japaneseAttachmentNamesAsWindowsMailersWriteThem()
{
    const QByteArray sjisName = sjis("①資料.txt");
    QByteArray m = "Content-Type: multipart/mixed; boundary=\"X\"\r\n\r\n";
    const QList<QByteArray> dispositions = {
        "attachment; filename*=shift_jis''" + sjisName.toPercentEncoding(),
        "attachment; filename=\"=?Shift_JIS?B?" + sjis("②メモ.txt").toBase64() + "?=\"",
        "attachment;\r\n filename*0*=utf-8''%E2%91%A2%E9%95%B7%E3%81%84;\r\n filename*1=\"-name.txt\"",
        "attachment; filename=\"" + sjis("④生の名前.txt") + "\"",
        "attachment; filename=\"=?ISO-2022-JP?B?GyRCLSQbKEI=?=.txt\"",
    };
    for (const QByteArray& d : dispositions)
        m += "--X\r\nContent-Type: text/plain\r\nContent-Disposition: " + d + "\r\n\r\nx\r\n";
    m += "--X--\r\n";
    QTemporaryDir dir;
    QCOMPARE(extractAttachments(m, dir.path()).result, 1);
    QCOMPARE(filesIn(dir.path()),
             (QStringList{QStringLiteral("①資料.txt"), QStringLiteral("②メモ.txt"), QStringLiteral("③長い-name.txt"),
                          QStringLiteral("④.txt"), QStringLiteral("④生の名前.txt")}));
}

void TestMailDecoding::sameNamesAreAllKept()
{
    QTemporaryDir dir;
    hm::test::writeFile(dir.filePath(QStringLiteral("report.txt")), "from an earlier message");
    QByteArray m = "Content-Type: multipart/mixed; boundary=\"X\"\r\n\r\n";
    for (const char* body : {"first", "second"})
        m += QByteArray("--X\r\nContent-Type: text/plain\r\nContent-Disposition: attachment; filename=report.txt\r\n\r\n")
             + body + "\r\n";
    m += "--X--\r\n";
    const Extraction e = extractAttachments(m, dir.path());
    QCOMPARE(e.result, 1);
    QCOMPARE(filesIn(dir.path()),
             (QStringList{QStringLiteral("report (2).txt"), QStringLiteral("report (3).txt"), QStringLiteral("report.txt")}));
    QFile old(dir.filePath(QStringLiteral("report.txt")));
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("from an earlier message"));
    QFile second(dir.filePath(QStringLiteral("report (3).txt")));
    QVERIFY(second.open(QIODevice::ReadOnly));
    QCOMPARE(second.readAll().trimmed(), QByteArray("second"));

    // A link to nowhere holds its name too: it is neither written through nor a failure.
    QTemporaryDir linked;
    QVERIFY(QFile::link(linked.filePath(QStringLiteral("outside")), linked.filePath(QStringLiteral("report.txt"))));
    QCOMPARE(extractAttachments(m, linked.path()).result, 1);
    QCOMPARE(filesIn(linked.path()), (QStringList{QStringLiteral("report (2).txt"), QStringLiteral("report (3).txt")}));
    QVERIFY(QFileInfo(linked.filePath(QStringLiteral("report.txt"))).isSymLink());
    QVERIFY(!QFileInfo::exists(linked.filePath(QStringLiteral("outside"))));
}

void TestMailDecoding::htmlOnlyMessageBecomesReadableText()
{
    const QByteArray html = "Content-Type: text/html; charset=UTF-8\r\n\r\n"
                            "<html><head><style>p{color:red}</style></head><body><p>こんにちは&amp;さようなら</p>"
                            "<p>二段落目<br>改行 &lt;tag&gt; &#x2460;</p><script>alert(1)</script></body></html>";
    QTemporaryDir dir;
    const Extraction e = extractAttachments(html, dir.path());
    QCOMPARE(e.result, 0);
    QCOMPARE(e.body, QStringLiteral("こんにちは&さようなら\r\n二段落目\r\n改行 <tag> ①"));
    // With a plain alternative, the plain text is the body.
    const QByteArray alt = "Content-Type: multipart/alternative; boundary=A\r\n\r\n--A\r\n"
                           "Content-Type: text/plain; charset=UTF-8\r\n\r\nplain\r\n--A\r\n"
                           "Content-Type: text/html\r\n\r\n<b>html</b>\r\n--A--\r\n";
    const Extraction a = extractAttachments(alt, dir.path());
    QCOMPARE(a.body, QStringLiteral("plain"));
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestMailDecoding::splitMessageWaitsForEveryPart()
{
    const QByteArray inner = "Subject: whole\r\nContent-Type: multipart/mixed; boundary=S\r\n\r\n--S\r\n"
                             "Content-Type: text/plain\r\n\r\nreassembled text\r\n--S\r\n"
                             "Content-Type: application/octet-stream\r\nContent-Disposition: attachment; filename=big.dat\r\n"
                             "Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8gV29ybGQ=\r\n--S--\r\n";
    const qsizetype third = inner.size() / 3;
    const QByteArray p1 = inner.left(third), p2 = inner.mid(third, third), p3 = inner.mid(2 * third);
    QTemporaryDir dir;
    QCOMPARE(extractAttachments(partial("id-1@x", 1, 0, p1), dir.path()).result, -6);
    QCOMPARE(extractAttachments(partial("id-1@x", 3, 3, p3), dir.path()).result, -6);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("big.dat"))));
    // A fragment of another split message does not complete this one.
    QCOMPARE(extractAttachments(partial("id-2@x", 2, 3, p2), dir.path()).result, -6);
    const Extraction e = extractAttachments(partial("id-1@x", 2, 0, p2), dir.path());
    QCOMPARE(e.result, 1);
    QCOMPARE(e.body, QStringLiteral("reassembled text"));
    QFile f(dir.filePath(QStringLiteral("big.dat")));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("Hello World"));
    // Hostile numbering is refused, not stored.
    QCOMPARE(extractAttachments(partial("id-3@x", 100000, 0, "x"), dir.path()).result, -6);
    QCOMPARE(extractAttachments(partial("id-3@x", 5, 2, "x"), dir.path()).result, -6);
}

void TestMailDecoding::attachmentCallFallsBackToTheGivenText()
{
    NMailInitializeWinSock();
    QTemporaryDir dir;
    QString s, d, f;
    // A single-part base64 message whose body was already decoded by the download: untouched.
    QString header = QStringLiteral("Subject: x\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64");
    QString body = QStringLiteral("デコード済みの本文");
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, header, body, dir.path(), QString(),
                                      header + QStringLiteral("\r\n") + body, 0),
             0);
    QCOMPARE(body, QStringLiteral("デコード済みの本文"));
    // A multipart message given whole: extracted, body rewritten.
    header = QStringLiteral("Content-Type: multipart/mixed; boundary=\"q\"");
    body = QStringLiteral("--q\r\nContent-Type: text/plain; charset=UTF-8\r\n\r\n本文\r\n--q\r\n"
                          "Content-Disposition: attachment; filename=\"メモ.txt\"\r\n\r\nmemo\r\n--q--\r\n");
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, header, body, dir.path() + QLatin1Char('/'), QString(),
                                      header + QStringLiteral("\r\n\r\n") + body, 0),
             1);
    QCOMPARE(body, QStringLiteral("本文"));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("メモ.txt"))));
    // A text part sent as a file is saved and keeps its text; a multipart of files alone
    // keeps no raw MIME as its body.
    header = QStringLiteral("Content-Type: text/plain; charset=UTF-8\r\nContent-Disposition: attachment; filename=note.txt");
    body = QStringLiteral("note text");
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, header, body, dir.path(), QString(),
                                      header + QStringLiteral("\r\n\r\n") + body, 0),
             1);
    QCOMPARE(body, QStringLiteral("note text"));
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("note.txt"))));
    header = QStringLiteral("Content-Type: multipart/mixed; boundary=\"q\"");
    body = QStringLiteral("--q\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\niVBORw0KGgo=\r\n--q--\r\n");
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, header, body, dir.path(), QString(),
                                      header + QStringLiteral("\r\n\r\n") + body, 0),
             1);
    QCOMPARE(body, QString());
    QVERIFY(QFileInfo::exists(dir.filePath(QStringLiteral("attachment.png"))));
    // A folder that is not there: -5 and a message, nothing written elsewhere.
    QCOMPARE(NMailAttachmentFileFirst(0, s, d, f, header, body, dir.filePath(QStringLiteral("missing")), QString(),
                                      header + QStringLiteral("\r\n\r\n") + body, 0),
             -5);
    const QString text = hm::test::takeMailError();
    QVERIFY2(text.contains(QStringLiteral("添付フォルダ")), qPrintable(text));
}

void TestMailDecoding::serverTextsSayHowToConnect()
{
    ServerAddress a;
    QVERIFY(parseServer(QStringLiteral(" mail.example.jp "), Protocol::Pop3, a));
    QCOMPARE(a.url(), QByteArray("pop3://mail.example.jp:110"));
    QVERIFY(parseServer(QStringLiteral("mail.example.jp:1110"), Protocol::Pop3, a));
    QCOMPARE(a.url(), QByteArray("pop3://mail.example.jp:1110"));
    QVERIFY(parseServer(QStringLiteral("pop3s://mail.example.jp"), Protocol::Pop3, a));
    QCOMPARE(a.url(), QByteArray("pop3s://mail.example.jp:995"));
    QVERIFY(parseServer(QStringLiteral("smtp://smtp.example.jp:587"), Protocol::Smtp, a));
    QCOMPARE(a.url(), QByteArray("smtp://smtp.example.jp:587"));
    QVERIFY(parseServer(QStringLiteral("SMTPS://smtp.example.jp"), Protocol::Smtp, a));
    QCOMPARE(a.url(), QByteArray("smtps://smtp.example.jp:465"));
    QVERIFY(parseServer(QStringLiteral("[::1]:2525"), Protocol::Smtp, a));
    QCOMPARE(a.url(), QByteArray("smtp://[::1]:2525"));
    for (const char* bad : {"", "smtp://x", "host:0", "host:70000", "a b", "user@host", "-oProxy", "host/path", "http://x"})
        QVERIFY2(!parseServer(QString::fromUtf8(bad), Protocol::Pop3, a), bad);
}

QTEST_GUILESS_MAIN(TestMailDecoding)
#include "test_mail_decoding.moc"
