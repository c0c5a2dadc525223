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

// The sent record, durable before the message goes out.
bool recordSent(WriteForm& form, const QString& body)
{
    using hm::store::Store;
    const qint16 r = hm::store::NextRecordNumber(Store::Sent);
    // A full store gives 0; AppendRecord refuses it and says why.
    if (hm::store::AppendRecord(Store::Sent, r, Trim(form.SubjectText->text()), Trim(form.ToText->text()),
                                sentDate(), Trim(body)) &&
        hm::store::FlushStore(Store::Sent))
        return true;
    QString reason = hm::store::lastError();
    hm::ui::message(&form,
                    QStringLiteral("送信済みメールを保存できないため、送信を中止しました。") +
                        (reason.isEmpty() ? QString() : QStringLiteral("\n") + reason),
                    QStringLiteral("送信エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
    return false;
}

} // namespace

void RunSendProcedure(WriteForm& form)
{
    // A second press queued while the send blocks must not start another send.
    form.Command1->setEnabled(false);
    form.Command9->setEnabled(false);
    form.List2->hide();
    form.AttachCommand->setEnabled(true);
    showStatus(form, kSendingText);

    const bool bulk = form.Option2->isChecked();
    const int passes = bulk ? qMin(form.List1->count(), 32767) : 1;

    // The address book is read once for all passes; pass i goes to record i.
    QStringList addresses;
    if (bulk && passes > 0) {
        QString error;
        if (!ReadBookAddresses(addresses, error)) {
            hm::ui::message(&form,
                            QStringLiteral("アドレス帳を読めないため、一括送信を中止しました。\n") + error,
                            QStringLiteral("送信エラー"), hm::ui::Buttons::Ok, hm::ui::Icon::Critical);
            form.Label7->setText(QStringLiteral("送信を中止しました。"));
            form.Command1->setEnabled(true);
            return;
        }
    }

    SendSession session;
    // A bulk send that stopped part-way goes on after the passes that went out.
    const int first = bulk ? qBound(1, form.bulkPassesDone + 1, passes + 1) : 1;
    for (int i = first; i <= passes; ++i) {
        QString to;
        if (bulk) {
            if (i > addresses.size())
                continue;
            to = trimRight(addresses.at(i - 1));
            form.Label7->setText(kSendingText + QStringLiteral("　%1 / %2").arg(i).arg(passes));
            session.serveEvents();
        } else {
            showStatus(form, kSendingText);
        }
        const QString body = withCrLf(form.BodyText->toPlainText());
        if (!recordSent(form, body)) {
            // Nothing of this message is lost: the window keeps it for another try, which
            // sends only to those it has not reached.
            if (bulk && i > 1) {
                form.bulkPassesDone = i - 1;
                form.Label7->setText(QStringLiteral("送信を中止しました（%1 / %2 件送信済み）。「送信」で続きを送ります。")
                                         .arg(i - 1)
                                         .arg(passes));
            } else {
                form.Label7->setText(QStringLiteral("送信を中止しました。"));
            }
            form.Command1->setEnabled(true);
            return;
        }
        if (form.Check1->isChecked())
            form.BodyText->setPlainText(WithFortune(body, DrawFortuneNumber()));
        const int result = session.send(bulk ? to : form.ToText->text(), form.SubjectText->text(),
                                        withCrLf(form.BodyText->toPlainText()), form.AttachmentList());
        if (result < 0)
            ReportSendError(&form);
    }
    form.bulkPassesDone = 0;

    const int skipped = bulk ? qMax(0, passes - int(addresses.size())) : 0;
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
