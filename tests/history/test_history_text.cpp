#include "history/editor_text.h"
#include "history/quick_save.h"
#include "common/ansi_codec.h"

#include <QTemporaryDir>
#include <QFile>
#include <QTest>

using namespace hm::history;

class TestHistoryText : public QObject {
    Q_OBJECT
private slots:
    void quickSaveNamesKeepUsualSubjects()
    {
        QCOMPARE(QuickSaveFileName(QStringLiteral("abc")), QStringLiteral("abc.txt"));
        QCOMPARE(QuickSaveFileName(QStringLiteral(" 件名 Re: 1.5")), QStringLiteral(" 件名 Re： 1.5.txt"));
    }
    void quickSaveNamesNeverLeaveTheFolder()
    {
        const QStringList hostile{QStringLiteral("../../x"), QStringLiteral("a/b"), QStringLiteral("..\\..\\x"),
                                  QStringLiteral(".."), QStringLiteral("/etc/passwd"), QString::fromUtf16(u"a\0b", 3)};
        for (const QString& s : hostile) {
            const QString name = QuickSaveFileName(s);
            QVERIFY2(!name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')), qPrintable(name));
            QVERIFY2(!name.contains(QLatin1String("..")) || name.endsWith(QLatin1String("..txt")), qPrintable(name));
            QVERIFY(!name.contains(QChar(0)));
            QVERIFY(name.endsWith(QLatin1String(".txt")));
        }
        QCOMPARE(QuickSaveFileName(QStringLiteral("../../x")), QStringLiteral("．．／．．／x.txt"));
        QCOMPARE(QuickSaveFileName(QString()), QStringLiteral("無題.txt"));
        QCOMPARE(QuickSaveFileName(QStringLiteral("a\tb")), QStringLiteral("a_b.txt"));
    }
    void quickSaveNamesFitTheNameLimit()
    {
        const QString latin(300, QLatin1Char('s'));
        QVERIFY(QuickSaveFileName(latin).toUtf8().size() <= 255);
        QVERIFY(QuickSaveFileName(latin).startsWith(QString(200, QLatin1Char('s'))));
        // Four-byte characters are cut whole, never split into a lone surrogate.
        QString emoji;
        for (int i = 0; i < 100; ++i)
            emoji += QString::fromUcs4(U"\U0001F600");
        const QString name = QuickSaveFileName(emoji);
        QVERIFY(name.toUtf8().size() <= 255);
        QCOMPARE(QString::fromUtf8(name.toUtf8()), name);
        QVERIFY(name.chopped(4).size() % 2 == 0);
    }
    void quickSaveTextJoinsFourLines()
    {
        QCOMPARE(QuickSaveText(QStringLiteral("s"), QStringLiteral("f"), QStringLiteral("d"), QStringLiteral("b\r\nc")),
                 QStringLiteral("Subject:  s\r\nFrom:  f\r\nDate:  d\r\nBody:  b\r\nc"));
    }
    void folderOfCutsBehindTheLastSeparator()
    {
        QCOMPARE(FolderOf(QStringLiteral("C:\\mail\\a.txt")), QStringLiteral("C:\\mail\\"));
        QCOMPARE(FolderOf(QStringLiteral("/tmp/x/a.txt")), QStringLiteral("/tmp/x/"));
        QCOMPARE(FolderOf(QStringLiteral("a.txt")), QStringLiteral("a.txt"));
        QCOMPARE(FolderOf(QString()), QString());
    }
    void textFilesAreCp932WithCrLf()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("t.txt"));
        QVERIFY(SaveEditorText(path, QStringLiteral("一行\n二行")));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), hm::ansi::encode(QStringLiteral("一行\r\n二行\r\n")));
        f.close();
        bool ok = false;
        QCOMPARE(ReadTextLines(path, &ok), QStringLiteral("一行\n二行\n"));
        QVERIFY(ok);
        QVERIFY(!SaveEditorText(dir.filePath(QStringLiteral("no/such/folder.txt")), QStringLiteral("x")));
        ReadTextLines(dir.filePath(QStringLiteral("missing.txt")), &ok);
        QVERIFY(!ok);
        QCOMPARE(withLf(QStringLiteral("a\r\nb\rc\nd")), QStringLiteral("a\nb\nc\nd"));
    }
};

QTEST_MAIN(TestHistoryText)
#include "test_history_text.moc"
