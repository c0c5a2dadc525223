#include "compose/send_procedure.h"

#include "common/ansi_codec.h"
#include "common/clock_text.h"
#include "common/ui_services.h"
#include "compose/address_source.h"
#include "compose/fortune.h"
#include "common/line_ends.h"
#include "compose/send_mail.h"
#include "compose/write_form.h"
#include "store/mail_store.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>

namespace hm::compose {
namespace {

using hm::store::Store;

const QString kErrorTitle = QStringLiteral("送信エラー");

void showStatus(WriteForm& form, const QString& text)
{
    form.Label7->setText(text);
    // The send blocks the window; paint the text before it starts.
    form.Label7->repaint();
}

QString trimRight(const QString& text)
{
    qsizetype n = text.size();
    while (n > 0 && text.at(n - 1) == QLatin1Char(' '))
        --n;
    return text.left(n);
}

// The clock text, or the current time in its format while the clock box is empty: every
// sent record carries its date.
QString sentDate()
{
    const QString clock = hm::clockText();
    return clock.trimmed().isEmpty() ? hm::formatClockText() : clock;
}

// The sent record, durable before the message goes out: its number and date, or 0 after a box
// saying why it could not be written.
qint16 recordSent(WriteForm& form, const QString& to, const QString& body, QString& date)
{
    const qint16 r = hm::store::NextRecordNumber(Store::Sent);
    date = sentDate();
    // A full store gives 0; AppendRecord refuses it and says why.
    if (hm::store::AppendRecord(Store::Sent, r, Trim(form.SubjectText->text()), Trim(to), date, Trim(body)) &&
        hm::store::FlushStore(Store::Sent))
        return hm::store::CurrentRecordNumber();
    QString reason = hm::store::lastError();
    hm::ui::message(&form,
                    QStringLiteral("送信済みメールを保存できないため、送信を中止しました。") +
                        (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason),
                    kErrorTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
    return 0;
}

// A message that did not go out keeps its record, with the mark after its date, so the sent
// history does not show it as sent. Empty, or why the mark could not be set.
QString markNotSent(qint16 number, const QString& date)
{
    if (hm::store::SetRecordDate(Store::Sent, number, date + kNotSentMark))
        return {};
    return QStringLiteral("\n\n送信履歴に「未送信」の印を付けられませんでした。\n") + hm::store::lastError();
}

// The attachment buttons as the user left them, given back when the message stays in the
// window, so that adding or dropping attachments goes on from there.
struct AttachmentButtons {
    explicit AttachmentButtons(const WriteForm& form)
        : add(form.Command9->isEnabled()), listShown(form.List2->isVisible()),
          first(form.AttachCommand->isEnabled())
    {
    }
    bool add, listShown, first;
};

// The message stays in the window for another try.
void keepForAnotherTry(WriteForm& form, const AttachmentButtons& buttons)
{
    form.Command9->setEnabled(buttons.add);
    form.List2->setVisible(buttons.listShown);
    form.AttachCommand->setEnabled(buttons.first);
    form.Command1->setEnabled(true);
}

struct Missed {
    int pass;
    QString address;
    QString reason;
    bool marked;
};

QString missedText(const QList<Missed>& missed, int skipped)
{
    QStringList addresses, reasons;
    bool allMarked = true;
    for (const Missed& m : missed) {
        addresses << m.address;
        if (!reasons.contains(m.reason))
            reasons << m.reason;
        allMarked = allMarked && m.marked;
    }
    QString text = QStringLiteral("次の%1件のあて先には送信できませんでした%2。\n"
                                  "「送信」を押すと、このあて先だけに送り直します。\n\n")
                       .arg(missed.size())
                       .arg(allMarked ? QStringLiteral("（送信履歴には「未送信」と記録しました）") : QString()) +
                   addresses.join(QLatin1Char('\n')) + QStringLiteral("\n\n理由：\n") +
                   reasons.join(QLatin1Char('\n'));
    if (skipped > 0)
        text += QStringLiteral("\n\nアドレス帳にない%1件のあて先には送信していません。").arg(skipped);
    return text;
}

} // namespace

void RunSendProcedure(WriteForm& form)
{
    const bool bulk = form.Option2->isChecked();
    // A message without a recipient goes nowhere: nothing is recorded, nothing changes.
    if (!bulk && form.ToText->text().trimmed().isEmpty()) {
        hm::ui::message(&form, QStringLiteral("宛先が入力されていません。宛先を入力してから送信して下さい。"),
                        kErrorTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Warning);
        form.ToText->setFocus();
        return;
    }

    const AttachmentButtons buttons(form);
    // A second press queued while the send blocks must not start another send.
    form.Command1->setEnabled(false);
    form.Command9->setEnabled(false);
    form.List2->hide();
    form.AttachCommand->setEnabled(true);
    showStatus(form, kSendingText);

    const int passes = bulk ? qMin(form.List1->count(), 32767) : 1;

    // The address book is read once for all passes; pass i goes to record i.
    QStringList addresses;
    if (bulk && passes > 0) {
        QString error;
        if (!ReadBookAddresses(addresses, error)) {
            hm::ui::message(&form,
                            QStringLiteral("アドレス帳を読めないため、一括送信を中止しました。\n") + error,
                            kErrorTitle, hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
            form.Label7->setText(QStringLiteral("送信を中止しました。"));
            keepForAnotherTry(form, buttons);
            return;
        }
    }

    // A bulk send that did not reach everyone goes only to those it missed.
    QList<int> todo;
    if (bulk)
        todo = form.bulkPassesLeft;
    todo.removeIf([&](int i) { return i < 1 || i > passes; });
    if (todo.isEmpty())
        for (int i = 1; i <= passes; ++i)
            todo << i;

    // The window is not changed by sending: a message that did not go out is still there.
    const QString body = withCrLf(form.BodyText->toPlainText());
    const QString attachments = form.AttachmentList();
    const bool fortune = form.Check1->isChecked();

    SendSession session;
    QList<Missed> missed;
    int skipped = 0;
    for (qsizetype k = 0; k < todo.size(); ++k) {
        const int i = todo.at(k);
        QString to = form.ToText->text();
        if (bulk) {
            to = i <= addresses.size() ? trimRight(addresses.at(i - 1)) : QString();
            if (to.trimmed().isEmpty()) {
                ++skipped;
                continue;
            }
            QString status = kSendingText + QStringLiteral("　%1 / %2").arg(i).arg(passes);
            if (!missed.isEmpty())
                status += QStringLiteral("（未送信 %1件）").arg(missed.size());
            form.Label7->setText(status);
            session.serveEvents();
        } else {
            showStatus(form, kSendingText);
        }
        QString date;
        const qint16 r = recordSent(form, to, body, date);
        if (r == 0) {
            // Nothing of this message is lost: the window keeps it for another try, which
            // sends only to those it has not reached.
            if (bulk) {
                form.bulkPassesLeft.clear();
                for (const Missed& m : missed)
                    form.bulkPassesLeft << m.pass;
                form.bulkPassesLeft += todo.mid(k);
                form.Label7->setText(QStringLiteral("送信を中止しました（%1 / %2 件送信済み）。「送信」で残りを送ります。")
                                         .arg(passes - form.bulkPassesLeft.size())
                                         .arg(passes));
            } else {
                form.Label7->setText(QStringLiteral("送信を中止しました。"));
            }
            keepForAnotherTry(form, buttons);
            return;
        }
        // Each message carries one fortune of its own; the window's body stays without.
        const QString sent = fortune ? WithFortune(body, DrawFortuneNumber()) : body;
        if (session.send(to, form.SubjectText->text(), sent, attachments) >= 0)
            continue;
        const QString reason = LastSendError();
        const QString markProblem = markNotSent(r, date);
        if (!bulk) {
            hm::ui::message(&form, reason + markProblem, kErrorTitle, hm::ui::Buttons::Ok, hm::ui::Icon::None);
            form.Label7->setText(QStringLiteral("送信できませんでした。入力した内容はそのまま残っています。"));
            keepForAnotherTry(form, buttons);
            return;
        }
        missed.append({i, to, reason + markProblem, markProblem.isEmpty()});
    }

    form.bulkPassesLeft.clear();
    if (!missed.isEmpty()) {
        for (const Missed& m : missed)
            form.bulkPassesLeft << m.pass;
        form.Label7->setText(QStringLiteral("%1件のあて先に送信できませんでした。「送信」で送り直します。")
                                 .arg(missed.size()));
        hm::ui::message(&form, missedText(missed, skipped), kErrorTitle, hm::ui::Buttons::Ok,
                        hm::ui::Icon::Warning);
        keepForAnotherTry(form, buttons);
        return;
    }

    if (skipped > 0) {
        showStatus(form, kSentText + QStringLiteral("（アドレス帳にない%1件は送信していません）").arg(skipped));
        // The window closes next, so the label alone would go unseen.
        hm::ui::message(&form,
                        QStringLiteral("アドレス帳にない%1件のあて先には送信していません。").arg(skipped),
                        QStringLiteral("一括送信"), hm::ui::Buttons::Ok, hm::ui::Icon::Information);
    } else {
        form.Label7->setText(kSentText);
    }
    form.ToText->clear();
    form.SubjectText->clear();
    form.BodyText->clear();
    form.Check1->setChecked(false);
    form.AttachText->clear();
    form.Option2->setChecked(false);
    form.Command2->hide();
    form.SetList1Colour(QColor(0, 128, 0));
    form.close();
}

} // namespace hm::compose
