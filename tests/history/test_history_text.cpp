#include "history/editor_text.h"
#include "history/quick_save.h"
#include "common/ansi_codec.h"
#include "common/line_ends.h"

#include <QTemporaryDir>
#include <QFile>
#include <QTest>

using namespace hm::history;

class TestHistoryText : public QObject {
    Q_OBJECT
private slots:
    // Long texts are looked at a block at a time: a line end or mark counts at every place, a CR
    // LF split across two blocks included, also where no other line end follows.
    void lineEndsAndMarksAreFoundWhereverTheyStand()
    {
        const auto crLf = [](QString t) {
            return t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')).replace(QLatin1String("\n"), QLatin1String("\r\n"));
        };
        const QString withLineEnds = QString(40, QChar(0x3042)) + QStringLiteral("\r\n") + QString(60, QLatin1Char('x'))
                                     + QStringLiteral("\r\n") + QString(30, QChar(0x6F22));
        const QString without = QString(50, QChar(0x3042)) + QString(40, QLatin1Char('x'));
        const QStringList pieces{QStringLiteral("\n"), QStringLiteral("\r"), QStringLiteral("\r\n"), QString(QChar::Nbsp),
                                 QString(QChar::ParagraphSeparator), QString(QChar(0xFDD1))};
        for (const QString& base : {withLineEnds, without}) {
            for (const QString& piece : pieces) {
                for (int at = 0; at <= base.size(); ++at) {
                    if (at > 0 && base[at - 1] == u'\r')
                        continue; // inside a pair: the two ways of counting differ there
                    const QString text = QString(base).insert(at, piece);
                    QString editor = text;
                    editor.replace(QChar::ParagraphSeparator, QLatin1Char('\n')).replace(QChar(0xFDD1), QLatin1Char('\n')).replace(QChar::Nbsp, QLatin1Char(' '));
                    QCOMPARE(hm::toCrLf(text), crLf(text));
                    QCOMPARE(EditorPlainText(text), crLf(editor));
                }
            }
        }
    }
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
