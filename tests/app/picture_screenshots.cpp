// Renders the emoticon palette, the sign-in window with the Microsoft preset, and the main window in the middle of each picture transition
// for the README:
//   QT_QPA_PLATFORM=offscreen picture_screenshots <program folder> <output folder>
#include "app/main_form.h"
#include "common/japanese_font.h"
#include "common/program_folder.h"
#include "common/window_registry.h"
#include "effects/transition_painter.h"
#include "emoticons/kao_form.h"
#include "settings/sign_in_form.h"

#include <QApplication>
#include <QComboBox>
#include <QRadioButton>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc < 3) {
        qWarning("usage: picture_screenshots <program folder> <output folder>");
        return 2;
    }
    hm::installJapaneseFonts();
    hm::setProgramFolder(QString::fromLocal8Bit(argv[1]));
    const QString out = QString::fromLocal8Bit(argv[2]);
    bool ok = true;

    MainForm form;
    form.Form_Load();
    form.show();
    // Picture 2 reaches its buffer once the window has painted.
    if (!QTest::qWaitForWindowExposed(&form))
        qWarning("main window was not exposed");
    QCoreApplication::processEvents();
    const QImage oldBuffer = form.Master[0]->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    const QImage newBuffer = form.Master[1]->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
    // A frame from the middle of each transition.
    for (auto [kind, frame] : {std::pair{4, 3}, std::pair{5, 3}, std::pair{6, 8}}) {
        QImage panel = oldBuffer.copy();
        for (int f = 0; f <= frame; ++f)
            hm::effects::PaintFrame(panel, hm::effects::TransitionFrame(kind, f), oldBuffer, newBuffer,
                                    form.effectBackground);
        form.Display->setPixmap(QPixmap::fromImage(panel));
        ok = form.grab().save(out + QStringLiteral("/effect%1.png").arg(kind - 3)) && ok;
    }

    KaoForm* kao = hm::window<KaoForm>();
    kao->show();
    kao->SSTab1->setCurrentIndex(9);
    QTextCursor c = kao->Pages[9]->textCursor();
    c.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 1);
    c.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor, 5);
    kao->Pages[9]->setTextCursor(c);
    ok = kao->grab().save(out + QStringLiteral("/kaoform.png")) && ok;

    SignInForm* signIn = hm::window<SignInForm>();
    signIn->show();
    signIn->BrowserOption->setChecked(true);
    signIn->ProviderCombo->setCurrentIndex(0);
    emit signIn->ProviderCombo->activated(0);
    ok = signIn->grab().save(out + QStringLiteral("/signinform.png")) && ok;
    return ok ? 0 : 1;
}
