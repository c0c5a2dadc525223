#include "app/check_mail.h"

#include "app/main_form.h"
#include "common/ansi_codec.h"
#include "common/program_folder.h"
#include "common/ui_services.h"
#include "common/window_registry.h"
#include "history/editor_text.h"
#include "history/history_mode.h"
#include "history/tyaku_form.h"
#include "mail/nmail.h"
#include "settings/account_settings.h"
#include "settings/id_pass_form.h"
#include "store/mail_store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>

using namespace hm::mail;

namespace {

const QString kMarker = QStringLiteral("attachment");
const QString kNotice =
    QStringLiteral("♪♪♪　添付ファイルがありましので、添付フォルダに展開しました。♪♪♪");
const QString kScratch = QStringLiteral("\\添付フォルダ\\0.txt");
const QString kAttachmentFolder = QStringLiteral("\\添付フォルダ\\");

QString lastLibraryMessage()
{
    QString text;
    int size = 8192;
    NMailGetMessage(0, text, size);
    return CutAtNul(text);
}

// Writes header and body to the scratch file and reads it back as lines, each ended by
// CR LF, with a NUL at the end: the whole message as the attachment call expects it.
QString wholeMessageThroughScratch(const QString& path, const QString& header, const QString& body)
{
    QFile out(path);
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        out.write(hm::ansi::encode(header + QStringLiteral("\r\n") + body + QStringLiteral("\r\n")));
        out.close();
    }
    QFile in(path);
    if (!in.open(QIODevice::ReadOnly))
        return QString(QChar(0));
    const QByteArray bytes = in.readAll();
    QByteArray joined;
    joined.reserve(bytes.size() + 16);
    qsizetype pos = 0;
    while (pos < bytes.size()) {
        qsizetype end = bytes.indexOf('\r', pos);
        if (end < 0)
            end = bytes.size();
        joined.append(bytes.constData() + pos, end - pos);
        joined.append("\r\n");
        pos = end + 1;
        if (pos < bytes.size() && bytes[pos] == '\n')
            ++pos;
    }
    return hm::ansi::decode(joined) + QChar(0);
}

// A name in the attachment folder that is not taken yet.
QString freeEmlPath(int number)
{
    const QString folder = hm::dataPath(kAttachmentFolder);
    const QString stem = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = QStringLiteral("%1-%2.eml").arg(stem).arg(number);
    for (int i = 2; QFile::exists(folder + QLatin1Char('/') + name); ++i)
        name = QStringLiteral("%1-%2-%3.eml").arg(stem).arg(number).arg(i);
    return folder + QLatin1Char('/') + name;
}

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::NewOnly) && f.write(bytes) == bytes.size() && f.flush();
}

// A body the store cannot hold as it is (too long once encoded, or with characters CP932
// lacks) is kept whole beside the attachments, and the stored body says where.
QString bodyThatFitsTheStore(const QString& body, int number, int handle)
{
    const QByteArray encoded = hm::ansi::encode(Trim(body));
    const bool fits = encoded.size() <= hm::store::kBodyWidth;
    const bool lossless = hm::ansi::decode(encoded) == Trim(body);
    if (fits && lossless)
        return body;
    const QString path = freeEmlPath(number);
    QString note;
    if (writeWhole(path, NMailPop3LastRawMessage(handle)))
        note = QStringLiteral("\r\n\r\n【このメールは全文を保存しきれないため、添付フォルダの「%1」に元のまま保存しました。】")
                   .arg(QFileInfo(path).fileName());
    else
        note = QStringLiteral("\r\n\r\n【このメールは全文を保存しきれませんでした。】");
    const int room = hm::store::kBodyWidth - int(hm::ansi::encode(note).size());
    return hm::ansi::decode(hm::ansi::cutBytes(encoded, room)) + note;
}

} // namespace

void CheckMail(MainForm& main)
{
    auto& account = hm::settings::account();
    int handle = -1;
    int count = 0;
    int attachmentFlag = 0;
    int stored = 0;
    int leftOnServer = 0;
    bool connected = false;
    bool clockBoxUsed = false;

    // The run blocks the event loop, so progress is painted by hand, a few times a second.
    QElapsedTimer sinceProgress;
    const auto showProgress = [&](int n) {
        if (sinceProgress.isValid() && sinceProgress.elapsed() < 100 && n != count)
            return;
        sinceProgress.start();
        main.Text1->setText(QStringLiteral("%1 / %2").arg(n).arg(count));
        main.Text1->repaint();
    };

    if (!account.Pop3Server.isEmpty()) {
        handle = NMailPop3Connect(account.Pop3Server);
        main.Label2->setText(QStringLiteral("メールのチェックをしています。"));
        main.Label2->repaint();
        connected = handle != -1;
    }

    if (connected) {
        const QString id = hm::settings::ReadAccountValue(QStringLiteral("NAME"));
        const QString password = hm::settings::ReadAccountValue(QStringLiteral("NAME2"));
        IdPassForm* idPass = hm::window<IdPassForm>();
        idPass->IdText->setText(id);
        idPass->PassText->setText(password);
        account.UserId = id;
        account.UserPassword = password;

        if (id.isEmpty() || password.isEmpty()) {
            idPass->show();
        } else {
            count = NMailPop3Authenticate(handle, id, password, account.ApopFlag != 0 ? -1 : 0);
            if (count < 0)
                hm::ui::message(&main, lastLibraryMessage(), QStringLiteral("エラー"));
        }

        TyakuForm* history = count > 0 ? hm::history::StagingWindow() : nullptr;
        QString subject, date, from, header, body;
        // The history window's boxes are the staging area of each record; only the last
        // message's texts stay visible there, so the widgets are filled once, at the end.
        struct { QString subject, from, date, body; bool any = false; } shown;
        const QString scratch = hm::dataPath(kScratch);
        const QString folder = hm::dataPath(kAttachmentFolder) + QLatin1Char('/');
        for (int n = 1; n <= count; ++n) {
            showProgress(n);
            NMailPop3GetMailStatus(handle, n, subject, date, from, header, 0);
            const int size = NMailPop3GetMailSize(handle, n);
            if (size < 0) {
                // A size the server cannot give (or one beyond the cap) leaves the message there.
                ++leftOnServer;
                continue;
            }
            if (NMailPop3GetMail(handle, n, subject, date, from, header, body, 0, 0) < 0) {
                // A broken download leaves this and every later message on the server.
                leftOnServer += count - n + 1;
                hm::ui::message(&main, lastLibraryMessage(), QStringLiteral("エラー"));
                break;
            }
            subject = CutAtNul(subject);
            date = CutAtNul(date);
            from = CutAtNul(from);
            header = CutAtNul(header);
            body = CutAtNul(body);

            attachmentFlag = body.contains(kMarker) ? 1 : 0;
            clockBoxUsed = true;

            const QString whole = wholeMessageThroughScratch(scratch, header, body);
            const int result = NMailAttachmentFileFirst(0, subject, date, from, header, body, folder,
                                                        scratch, whole, 0);
            NMailAttachmentFileClose(0);
            body = CutAtNul(body);
            if (result == kErrorFileOpen)
                hm::ui::message(&main, QStringLiteral("添付ファイルをオープンできません"),
                                QCoreApplication::applicationName());
            else if (result == kErrorPartsMissing)
                hm::ui::message(&main, QStringLiteral("分割されたメールが全て揃っていません"),
                                QCoreApplication::applicationName());
            QFile::remove(scratch);

            if (attachmentFlag == 1)
                body += QStringLiteral("\r\n") + kNotice;
            shown = {subject, from, date,
                     hm::history::EditorPlainText(bodyThatFitsTheStore(body, n, handle)), true};
            const qint16 number = hm::store::NextRecordNumber(hm::store::Store::Received);
            if (!hm::store::AppendRecord(hm::store::Store::Received, number, shown.subject, shown.from,
                                         shown.date, shown.body)) {
                // Nothing after this message is fetched: what is not stored stays on the server.
                leftOnServer += count - n + 1;
                hm::ui::message(&main,
                                hm::store::lastError() +
                                    QStringLiteral("\n受信を中止しました。保存できなかったメールはサーバーに残してあります。"),
                                QStringLiteral("エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
                break;
            }
            ++stored;
            NMailPop3DeleteMail(handle, n);
        }

        if (shown.any)
            history->StageMessage(shown.subject, shown.from, shown.date, shown.body);
        if (clockBoxUsed)
            main.Text2->clear(); // the clock text box was the marker test's scratch space

        // Deletions happen at QUIT: they may only go ahead once the stored copies are on disk.
        if (stored > 0 && !hm::store::FlushStore(hm::store::Store::Received)) {
            NMailPop3Reset(handle);
            leftOnServer = count;
            hm::ui::message(&main,
                            hm::store::lastError() +
                                QStringLiteral("\n受信したメールを確実に保存できなかったため、サーバーから削除しませんでした。"),
                            QStringLiteral("エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
        }
        NMailPop3Close(handle);
    }

    if (attachmentFlag == 1) {
        main.Text1->setText(QStringLiteral("添付ファイルメール。"));
        main.Command1_Click();
        main.Label13_Click();
    }
    if (count < 1) {
        main.Text1->setText(QStringLiteral("新着メール無し。"));
    } else {
        QString report = QString::number(count) + QStringLiteral("の新着メール有り。");
        if (leftOnServer > 0)
            report += QStringLiteral("（%1通はサーバーに残しました）").arg(leftOnServer);
        main.Text1->setText(report);
        main.Command1_Click();
        main.Label13_Click();
    }
}
