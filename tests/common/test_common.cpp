#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/japanese_translations.h"
#include "common/private_profile.h"
#include "common/program_folder.h"
#include "common/text_search.h"
#include "common/twips.h"
#include "common/ui_services.h"
#include "tests/support/test_folder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <iconv.h>
#include <sys/stat.h>

using namespace hm;

class TestCommon : public QObject {
    Q_OBJECT
private slots:
    void resolverMeetsBothSpellingsOfTheDataFolder();
    void resolverUsesTheGivenSpellingWhereNothingExists();
    void resolverStaysInsideTheProgramFolder();
    void codecRoundTripsWindowsCharacters();
    void codecReplacesWhatItCannotHold();
    void codecAgreesWithTheSystemConverterOnEveryCode();
    void fieldIsCutOnACharacterBoundaryAndPadded();
    void trimTouchesAsciiSpacesOnly();
    void profileReadsWithoutRegardToCase();
    void profileWriteKeepsTheRestOfTheFile();
    void profileReadIsCutTo255Bytes();
    void profileWriteNeverCreatesTheFolder();
    void profileWriteOwnerOnly();
    void profileSurvivesGarbage();
    void rewriteKeepsTheModeAndRefusesAReadOnlyFile_data();
    void rewriteKeepsTheModeAndRefusesAReadOnlyFile();
    void twipsRound();
    void textSearchAgreesWithQtAtEveryPlace();
    void qtDialogTextsComeInJapanese_data();
    void qtDialogTextsComeInJapanese();
    void scriptedBoxesNeverAnswerForTheTest_data();
    void scriptedBoxesNeverAnswerForTheTest();
};

void TestCommon::resolverMeetsBothSpellingsOfTheDataFolder()
{
    test::TestFolder folder;
    // The installed folder is spelt "★MAilData"; the account file path spells it "★MailData".
    QVERIFY(QDir(folder.path() + QStringLiteral("/★MAilData")).exists());
    QCOMPARE(dataPath(QStringLiteral("\\★MailData\\iniIdPass.ini")),
             folder.path() + QStringLiteral("/★MAilData/iniIdPass.ini"));
    QFile f(folder.path() + QStringLiteral("/★MAilData/Text1.txt"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    QCOMPARE(dataPath(QStringLiteral("\\★mailDATA\\text1.TXT")),
             folder.path() + QStringLiteral("/★MAilData/Text1.txt"));
}

void TestCommon::resolverUsesTheGivenSpellingWhereNothingExists()
{
    test::TestFolder folder;
    QCOMPARE(dataPath(QStringLiteral("\\★MailData\\New.File")),
             folder.path() + QStringLiteral("/★MAilData/New.File"));
    QCOMPARE(dataPath(QStringLiteral("\\添付フォルダ\\")), folder.path() + QStringLiteral("/添付フォルダ"));
}

void TestCommon::resolverStaysInsideTheProgramFolder()
{
    test::TestFolder folder;
    QCOMPARE(dataPath(QStringLiteral("\\..\\..\\etc\\passwd")),
             folder.path() + QStringLiteral("/etc/passwd"));
}

void TestCommon::codecRoundTripsWindowsCharacters()
{
    // NEC and IBM extensions, a half-width katakana and a wave dash that CP932 maps to U+FF5E.
    const QString text = QStringLiteral("①㈱Ⅰ髙﨑ｱ～疾風メール");
    const QByteArray bytes = ansi::encode(text);
    QCOMPARE(bytes.left(2), QByteArray("\x87\x40"));
    QCOMPARE(ansi::decode(bytes), text);
    // Behind and between ASCII runs of every length about the blocks, as in most mail.
    for (const int ascii : {1, 7, 8, 9, 15, 16, 17, 37}) {
        const QString longer = QString(ascii, QLatin1Char('a')) + text + QString(ascii, QLatin1Char('b')) + text;
        const QByteArray longerBytes = QByteArray(ascii, 'a') + bytes + QByteArray(ascii, 'b') + bytes;
        QCOMPARE(ansi::encode(longer), longerBytes);
        QCOMPARE(ansi::decode(longerBytes), longer);
    }
}

void TestCommon::codecReplacesWhatItCannotHold()
{
    QCOMPARE(ansi::encode(QStringLiteral("a😀b")), QByteArray("a?b"));
    const QString decoded = ansi::decode(QByteArray("a\x81\x00z", 4));
    QVERIFY(decoded.startsWith(QLatin1Char('a')));
    QVERIFY(decoded.endsWith(QLatin1Char('z')));
    QVERIFY(decoded.contains(QChar(0xFFFD)));
}

// The tables fill as texts need them; every code must come out as iconv gives it.
void TestCommon::codecAgreesWithTheSystemConverterOnEveryCode()
{
    iconv_t toCp932 = iconv_open("CP932", "UTF-16LE");
    iconv_t fromCp932 = iconv_open("UTF-16LE", "CP932");
    QVERIFY(toCp932 != reinterpret_cast<iconv_t>(-1) && fromCp932 != reinterpret_cast<iconv_t>(-1));
    const auto convert = [](iconv_t cd, const char* bytes, size_t n) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char out[8];
        char *in = const_cast<char*>(bytes), *o = out;
        size_t inLeft = n, outLeft = sizeof out;
        return iconv(cd, &in, &inLeft, &o, &outLeft) == size_t(-1) ? QByteArray() : QByteArray(out, o - out);
    };
    for (char16_t c = 0x80; c < 0xFFFF; ++c) {
        if (QChar::isSurrogate(c))
            continue;
        const QByteArray want = convert(toCp932, reinterpret_cast<const char*>(&c), 2);
        QCOMPARE(ansi::encode(QString(QChar(c))), want.isEmpty() ? QByteArray("?") : want);
    }
    for (int lead = 0x81; lead <= 0xFC; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            const char pair[2] = {char(lead), char(trail)};
            const QByteArray want = convert(fromCp932, pair, 2);
            if (want.size() == 2)
                QCOMPARE(ansi::decode(QByteArray(pair, 2)), QString(QChar(char16_t(uchar(want[0]) | uchar(want[1]) << 8))));
        }
    }
    iconv_close(toCp932);
    iconv_close(fromCp932);
}

void TestCommon::fieldIsCutOnACharacterBoundaryAndPadded()
{
    // 60 double-byte characters in a 100-byte field: 50 fit.
    const QString sixty(60, QChar(0x3042));
    const QByteArray field = ansi::fixedField(sixty, 100);
    QCOMPARE(field.size(), 100);
    QCOMPARE(ansi::readField(field.constData(), 100, true), QString(50, QChar(0x3042)));
    // "a" then double-byte characters: the 100th byte would split one, so it becomes a space.
    const QByteArray odd = ansi::fixedField(QLatin1Char('a') + sixty, 100);
    QCOMPARE(odd.size(), 100);
    QCOMPARE(odd.at(99), ' ');
    QCOMPARE(ansi::readField(odd.constData(), 100, true), QLatin1Char('a') + QString(49, QChar(0x3042)));
    QCOMPARE(ansi::fixedField(QStringLiteral("ab"), 5), QByteArray("ab   "));
    // A field holds at most width characters even when they are single bytes.
    QCOMPARE(ansi::fixedField(QStringLiteral("abcdefg"), 5), QByteArray("abcde"));
    QCOMPARE(ansi::readField("ab  ", 4, false), QStringLiteral("ab  "));
}

void TestCommon::trimTouchesAsciiSpacesOnly()
{
    QCOMPARE(Trim(QStringLiteral("  　件名　 ")), QStringLiteral("　件名　"));
    QCOMPARE(Trim(QStringLiteral("\tx ")), QStringLiteral("\tx"));
    QCOMPARE(CutAtNul(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd")), QStringLiteral("ab"));
    QCOMPARE(CutAtNul(QStringLiteral("abc")), QStringLiteral("abc"));
}

void TestCommon::profileReadsWithoutRegardToCase()
{
    test::TestFolder folder;
    folder.write(QStringLiteral("\\a.ini"), "[other]\r\nNAME=x\r\n[exeini]\r\nname = \x88\xa4\r\n");
    const QString file = folder.file(QStringLiteral("\\a.ini"));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME")), QStringLiteral("愛"));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2")), QString());
    QCOMPARE(profile::read(folder.file(QStringLiteral("\\none.ini")), QStringLiteral("EXEINI"),
                           QStringLiteral("NAME")),
             QString());
}

void TestCommon::profileWriteKeepsTheRestOfTheFile()
{
    test::TestFolder folder;
    folder.write(QStringLiteral("\\a.ini"), "; note\r\n[EXEINI]\r\nNAME=old\r\nNAME3=1\r\n[Z]\r\nk=v\r\n");
    const QString file = folder.file(QStringLiteral("\\a.ini"));
    QVERIFY(profile::write(file, QStringLiteral("exeini"), QStringLiteral("name"), QStringLiteral("new")));
    QVERIFY(profile::write(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QStringLiteral("p\r\nNAME=evil")));
    QVERIFY(profile::write(file, QStringLiteral("Y"), QStringLiteral("K"), QStringLiteral("1")));
    QCOMPARE(folder.read(QStringLiteral("\\a.ini")),
             QByteArray("; note\r\n[EXEINI]\r\nname=new\r\nNAME3=1\r\nNAME2=pNAME=evil\r\n[Z]\r\nk=v\r\n[Y]\r\nK=1\r\n"));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME")), QStringLiteral("new"));
}

void TestCommon::profileReadIsCutTo255Bytes()
{
    test::TestFolder folder;
    const QString file = folder.file(QStringLiteral("\\a.ini"));
    QVERIFY(profile::write(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QString(300, QLatin1Char('p'))));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2")), QString(255, QLatin1Char('p')));
    QVERIFY(profile::write(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2"), QString(200, QChar(0x3042))));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2")), QString(127, QChar(0x3042)));
}

void TestCommon::profileWriteNeverCreatesTheFolder()
{
    test::TestFolder folder;
    const QString file = folder.file(QStringLiteral("\\NoSuchFolder\\a.ini"));
    QVERIFY(!profile::write(file, QStringLiteral("EXEINI"), QStringLiteral("NAME"), QStringLiteral("x")));
    QVERIFY(!QFile::exists(QFileInfo(file).absolutePath()));
}

void TestCommon::profileWriteOwnerOnly()
{
    test::TestFolder folder;
    const QString file = folder.file(QStringLiteral("\\a.ini"));
    QVERIFY(profile::write(file, QStringLiteral("EXEINI"), QStringLiteral("NAME"), QStringLiteral("x"), true));
    struct stat st {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u);
}

void TestCommon::rewriteKeepsTheModeAndRefusesAReadOnlyFile_data()
{
    QTest::addColumn<uint>("mode");
    QTest::addColumn<bool>("written");
    QTest::newRow("readable by all") << 0644u << true;
    QTest::newRow("owner only") << 0600u << true;
    QTest::newRow("read-only") << 0444u << false;
}

void TestCommon::rewriteKeepsTheModeAndRefusesAReadOnlyFile()
{
    QFETCH(uint, mode);
    QFETCH(bool, written);
    test::TestFolder folder;
    const QString file = folder.file(QStringLiteral("\\hymail.ini"));
    folder.write(QStringLiteral("\\hymail.ini"), "old");
    const QByteArray name = QFile::encodeName(file);
    QCOMPARE(::chmod(name.constData(), mode), 0);
    const QStringList before = QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden);

    QCOMPARE(writeFileAtomically(file, "new"), written);
    QCOMPARE(folder.read(QStringLiteral("\\hymail.ini")), written ? QByteArray("new") : QByteArray("old"));
    struct stat st {};
    QCOMPARE(::stat(name.constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, mode);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden), before); // no temporary left
}

void TestCommon::profileSurvivesGarbage()
{
    test::TestFolder folder;
    QByteArray junk("[EXEINI]\r\nNAME=a\0b\r\n", 20);
    junk += QByteArray(100000, '\xff') + "\r\n[EXEINI\r\n=\r\n==\r\nNAME2=\x81";
    folder.write(QStringLiteral("\\a.ini"), junk);
    const QString file = folder.file(QStringLiteral("\\a.ini"));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME")), QStringLiteral("a"));
    QCOMPARE(profile::read(file, QStringLiteral("EXEINI"), QStringLiteral("NAME2")).size(), 1);
}

void TestCommon::twipsRound()
{
    QCOMPARE(twips(15), 1);
    QCOMPARE(twips(9700), 647);
    QCOMPARE(twips(-1000), -67);
}

// Texts of every length up to three blocks, from an alphabet that puts first and last characters
// everywhere, with the word whole, cut short or with its middle changed at every place.
void TestCommon::textSearchAgreesWithQtAtEveryPlace()
{
    const QString alphabet = QStringLiteral("atn日x");
    for (const QString& word : {QStringLiteral("a"), QStringLiteral("at"), QStringLiteral("attachment"), QStringLiteral("日本t")}) {
        for (int length = 0; length <= 26; ++length) {
            QString text;
            for (int k = 0; k < length; ++k)
                text += alphabet[(k * 7 + length * 3) % alphabet.size()];
            QStringList texts{text};
            for (int at = 0; at + word.size() <= length; ++at) {
                QString planted = text;
                texts << planted.replace(at, word.size(), word) << text.left(at) + word.chopped(1);
                if (word.size() > 2)
                    texts << planted.replace(at + 1, 1, u'z');
            }
            for (const QString& t : texts)
                QVERIFY2(holdsText(t, word) == t.contains(word), qPrintable(QStringLiteral("「%1」 in 「%2」").arg(word, t)));
        }
    }
}

void TestCommon::scriptedBoxesNeverAnswerForTheTest_data()
{
    using hm::ui::Answer;
    using hm::ui::Buttons;
    QTest::addColumn<Buttons>("buttons");
    QTest::addColumn<QList<Answer>>("queued");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("unanswered");
    QTest::addColumn<int>("left");
    QTest::newRow("notice needs nothing") << Buttons::Ok << QList<Answer>{} << Answer::Ok << false << 0;
    QTest::newRow("notice leaves the queue") << Buttons::Ok << QList<Answer>{Answer::Yes} << Answer::Ok << false << 1;
    QTest::newRow("question takes its answer") << Buttons::YesNo << QList<Answer>{Answer::Yes, Answer::No} << Answer::Yes
                                               << false << 1;
    QTest::newRow("unscripted question gets No") << Buttons::YesNo << QList<Answer>{} << Answer::No << true << 0;
    QTest::newRow("unscripted three-way gets Cancel") << Buttons::YesNoCancel << QList<Answer>{} << Answer::Cancel << true
                                                     << 0;
    QTest::newRow("unscripted retry gets Cancel") << Buttons::RetryCancel << QList<Answer>{} << Answer::Cancel << true << 0;
    QTest::newRow("answer the box lacks") << Buttons::OkCancel << QList<Answer>{Answer::Yes} << Answer::Cancel << true << 0;
}

void TestCommon::scriptedBoxesNeverAnswerForTheTest()
{
    QFETCH(hm::ui::Buttons, buttons);
    QFETCH(QList<hm::ui::Answer>, queued);
    QFETCH(hm::ui::Answer, answer);
    QFETCH(bool, unanswered);
    QFETCH(int, left);
    hm::ui::ScriptedServices ui;
    for (hm::ui::Answer a : queued)
        ui.answers.enqueue(a);
    QCOMPARE(ui.message(nullptr, QStringLiteral("削除しますか?"), QString(), buttons, hm::ui::Icon::Question), answer);
    QCOMPARE(ui.texts(), QStringList{QStringLiteral("削除しますか?")});
    QCOMPARE(!ui.unanswered.isEmpty(), unanswered);
    QCOMPARE(ui.leftovers().size(), left);
}

void TestCommon::qtDialogTextsComeInJapanese_data()
{
    QTest::addColumn<QByteArray>("context");
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QString>("shown");
    // From Qt's catalogue, and the texts it lacks.
    QTest::newRow("Cancel") << QByteArray("QPlatformTheme") << QByteArray("Cancel") << QStringLiteral("キャンセル");
    QTest::newRow("folder type") << QByteArray("QAbstractFileIconProvider") << QByteArray("Folder")
                                 << QStringLiteral("フォルダ");
    QTest::newRow("page list") << QByteArray("QPrintSettingsOutput") << QByteArray("Pages")
                               << QStringLiteral("ページ指定");
}

void TestCommon::qtDialogTextsComeInJapanese()
{
    QFETCH(QByteArray, context);
    QFETCH(QByteArray, source);
    QFETCH(QString, shown);
    QVERIFY(hm::installJapaneseTranslations());
    QCOMPARE(QCoreApplication::translate(context.constData(), source.constData()), shown);
}

QTEST_GUILESS_MAIN(TestCommon)
#include "test_common.moc"
