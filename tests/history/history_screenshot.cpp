// Renders the history window with a few messages to the PNG named on the command line.
#include "common/japanese_font.h"
#include "common/program_folder.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "store/mail_store.h"
#include "store/whole_copy.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidget>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    hm::installJapaneseFonts();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("tyakuform.png");

    QTemporaryDir dir;
    QDir(dir.path()).mkpath(QStringLiteral("★MAilData"));
    hm::setProgramFolder(dir.path());
    using hm::store::Store;
    const struct {
        const char16_t* subject;
        const char16_t* from;
        const char16_t* date;
        const char16_t* body;
    } mails[] = {
        {u"忘年会のお知らせ", u"kanji@example.jp", u"Mon, 30 Nov 2026 18:02:11 +0900",
         u"皆さま\r\n\r\n今年も忘年会を開きます。\r\n日時：12月18日（金）19時から\r\n場所：駅前の居酒屋\r\n\r\n出欠を今週中にお知らせください。"},
        {u"Re: 見積もりの件", u"sales@example.co.jp", u"Wed, 2 Dec 2026 10:15:40 +0900",
         u"お世話になっております。\r\nお見積もりを添付いたしました。\r\nご確認のほどよろしくお願いいたします。"},
        {u"写真送ります", u"tomo@example.ne.jp", u"Sat, 5 Dec 2026 21:47:03 +0900",
         u"この前の旅行の写真です (^_^)\r\n添付フォルダに入っています。"},
        {u"週報 第49週", u"report@example.jp", u"Mon, 7 Dec 2026 08:30:00 +0900",
         u"今週の予定\r\n・月曜　定例会議\r\n・水曜　リリース作業\r\n・金曜　振り返り"},
    };
    for (const auto& m : mails)
        hm::store::AppendRecord(Store::Received, hm::store::NextRecordNumber(Store::Received),
                                QString::fromUtf16(m.subject), QString::fromUtf16(m.from), QString::fromUtf16(m.date),
                                QString::fromUtf16(m.body));

    // A message with characters CP932 lacks: the record keeps what CP932 holds and names the
    // whole copy, which the window shows.
    const QString subject = QStringLiteral("誕生日おめでとう🎂🎉");
    const QString from = QStringLiteral("김민지 (Minji) 🌸 <minji@example.kr>");
    const QString body = QStringLiteral("お誕生日おめでとう！🥳\r\n𠮷野家で乾杯しましょう🍻\r\n생일 축하해요 ❤️");
    const QString copy = QStringLiteral("20261207-093000-5.eml");
    QDir(dir.path()).mkpath(QStringLiteral("添付フォルダ"));
    QFile eml(QDir(dir.path()).filePath(QStringLiteral("添付フォルダ/") + copy));
    if (!eml.open(QIODevice::WriteOnly))
        return 1;
    eml.write("From: =?UTF-8?B?" + from.left(from.indexOf(QLatin1Char('<')) - 1).toUtf8().toBase64()
              + "?= <minji@example.kr>\r\nSubject: =?UTF-8?B?" + subject.toUtf8().toBase64()
              + "?=\r\nDate: Mon, 7 Dec 2026 09:30:00 +0900\r\nMIME-Version: 1.0\r\n"
                "Content-Type: text/plain; charset=UTF-8\r\n\r\n" + body.toUtf8() + "\r\n");
    eml.close();
    hm::store::AppendRecord(Store::Received, hm::store::NextRecordNumber(Store::Received), subject, from,
                            QStringLiteral("Mon, 7 Dec 2026 09:30:00 +0900"),
                            body + hm::store::wholeCopyNote(QStringLiteral("全文を保存しきれない"), copy));

    TyakuForm* form = hm::history::OpenHistory(hm::history::HistoryMode::Received);
    // The size it opens at, on the offscreen platform's 800 x 600 screen.
    QApplication::processEvents();
    form->MailListView->topLevelItem(4)->setSelected(true);
    form->MailListView_Click();
    QApplication::processEvents();
    return form->grab().save(out) ? 0 : 1;
}
