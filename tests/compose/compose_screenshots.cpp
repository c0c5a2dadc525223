// Renders the compose and the reply window offscreen for the README:
//   QT_QPA_PLATFORM=offscreen compose_screenshots <output folder>
#include "addressbook/address_store.h"
#include "common/japanese_font.h"
#include "common/program_folder.h"
#include "common/window_registry.h"
#include "compose/back_form.h"
#include "compose/write_form.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextEdit>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        qWarning("usage: compose_screenshots <output folder>");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    hm::installJapaneseFonts();
    QTemporaryDir folder;
    QDir(folder.path()).mkpath(QStringLiteral("★MAilData"));
    hm::setProgramFolder(folder.path());
    hm::addressbook::WriteAddress(1, QStringLiteral("山田 太郎"), QStringLiteral("taro@example.jp"));
    hm::addressbook::WriteAddress(2, QStringLiteral("佐藤 花子"), QStringLiteral("hanako@example.jp"));
    hm::addressbook::WriteAddress(3, QStringLiteral("疾風商事 営業部"), QStringLiteral("sales@example.co.jp"));

    WriteForm* write = hm::window<WriteForm>();
    write->show();
    write->Command4_Click();
    write->ToText->setText(QStringLiteral("taro@example.jp"));
    write->SubjectText->setText(QStringLiteral("来週の打ち合わせについて"));
    write->Combo1->setEditText(QStringLiteral("いつもお世話になっております。"));
    write->BodyText->setPlainText(QStringLiteral("いつもお世話になっております。\n\n来週の打ち合わせは火曜日の午後でいかがでしょうか。\n資料を添付いたします。\n\nよろしくお願いいたします。"));
    write->AttachText->setText(QStringLiteral("/home/hayate/資料.pdf"));
    write->Check1->setChecked(true);
    write->List1->setCurrentRow(0);
    const bool wroteForm = write->grab().save(out + QStringLiteral("/writeform.png"));

    BackForm* back = hm::compose::OpenReply(QStringLiteral("会議資料の件"), QStringLiteral("hanako@example.jp"),
                                            QStringLiteral("資料をお送りします。\nご確認ください。"));
    back->BodyText->setPlainText(QStringLiteral("拝見しました。ありがとうございます。\n\n\n\n資料をお送りします。\nご確認ください。"));
    const bool wroteBack = back->grab().save(out + QStringLiteral("/backform.png"));
    return wroteForm && wroteBack ? 0 : 1;
}
