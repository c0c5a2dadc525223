// The main window's picture panel: the effect buttons, the two picture buffers and the
// transitions between them.
#include "app/main_form.h"

#include "common/program_folder.h"
#include "common/form_geometry.h"
#include "effects/transition_painter.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

namespace fx = hm::effects;

namespace {
// Frames drawn back to back would pass faster than a screen shows them.
constexpr int kFrameMilliseconds = 30;

QImage imageOf(const QLabel* label)
{
    return label->pixmap().toImage().convertToFormat(QImage::Format_RGB32);
}

QString effectPicturePath(int number)
{
    return hm::dataPath(QStringLiteral("\\疾風データ\\%1.jpg").arg(number));
}

// A picture as read and as staged on the panel; a missing or unreadable one leaves the panel
// in the background colour.
std::pair<QImage, QImage> readEffectPicture(const QString& path, QColor background)
{
    QImage picture = QImageReader(path).read();
    QImage staged = fx::StagePicture(picture, background);
    return {std::move(picture), std::move(staged)};
}
} // namespace

void MainForm::startFirstEffectPicture()
{
    firstEffectPicture_ = std::async(std::launch::async, readEffectPicture, effectPicturePath(1),
                                     palette().color(QPalette::Window));
}

void MainForm::createEffectButtons()
{
    const QString captions[] = {QStringLiteral("疾風（１）"), QStringLiteral("疾風（２）"),
                                QStringLiteral("疾風（３）")};
    for (int index = fx::kSqueezeStrips; index <= fx::kQuadrantFold; ++index) {
        auto* b = hm::button(this, QStringLiteral("Cmd_Effect%1").arg(index), captions[index - fx::kSqueezeStrips], 120,
                             3600 + 480 * (index - fx::kSqueezeStrips), 1380, 375);
        connect(b, &QPushButton::clicked, this, [this, index] { Cmd_Effect_Click(index); });
        Cmd_Effect[index] = b;
    }
}

void MainForm::prepareEffects()
{
    effectBackground = palette().color(QPalette::Window);
    for (QLabel* w : {Display, Master[0], Master[1], Pic_D, Pic_DD}) {
        w->setAutoFillBackground(true);
        QPalette pal = w->palette();
        pal.setColor(QPalette::Window, effectBackground);
        w->setPalette(pal);
        w->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    for (QLabel* w : {Display, Master[0], Master[1], Pic_DD})
        w->resize(fx::kPanelWidth, fx::kPanelHeight);
    effectPictures.clear();
    for (int i = 1; i <= 3; ++i)
        effectPictures << effectPicturePath(i);
    effectCounter = 1;
    // Picture 2 goes into element 1 with the rest of start-up, once the window shows.
    if (firstEffectPicture_.valid())
        showEffectBuffer(0, firstEffectPicture_.get());
    else
        loadEffectBuffer(0, effectPictures[0]);
    Display->setPixmap(Master[0]->pixmap());
    bufferIndex = 0;
    effectDone = false;
}

void MainForm::loadEffectBuffer(int element, const QString& picture)
{
    showEffectBuffer(element, readEffectPicture(picture, effectBackground));
}

void MainForm::showEffectBuffer(int element, const std::pair<QImage, QImage>& picture)
{
    Pic_D->setPixmap(QPixmap::fromImage(picture.first));
    Pic_D->resize(Pic_D->pixmap().size());
    Pic_DD->setPixmap(QPixmap::fromImage(picture.second));
    Master[element]->setPixmap(Pic_DD->pixmap());
}

void MainForm::Cmd_Effect_Click(int index)
{
    finishStartUp();
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    // The new-mail picture covers the panel after a check; a press brings the panel back, or
    // its transition would run unseen.
    Image3->hide();
    Display->show();
    effectDone = false;
    bufferIndex = 1 - bufferIndex;
    if (++effectCounter > effectPictures.size())
        effectCounter = 1;
    loadEffectBuffer(bufferIndex, effectPictures.value(effectCounter - 1));
    RunTransition(index);
    QGuiApplication::restoreOverrideCursor();
}

void MainForm::RunTransition(int kind)
{
    const QImage newBuffer = imageOf(Master[bufferIndex]);
    const QImage oldBuffer = imageOf(Master[1 - bufferIndex]);
    QImage panel = imageOf(Display);
    const QPointer<MainForm> alive(this);
    for (int frame = 0; frame < fx::FrameCount(kind); ++frame) {
        const fx::Frame f = fx::TransitionFrame(kind, frame);
        fx::PaintFrame(panel, f, oldBuffer, newBuffer, effectBackground);
        if (f.finalCopy)
            effectDone = true;
        Display->setPixmap(QPixmap::fromImage(panel));
        Display->repaint();
        // Another press may start, and finish, a transition of its own while this one waits.
        QEventLoop wait;
        QTimer::singleShot(kFrameMilliseconds, &wait, &QEventLoop::quit);
        wait.exec();
        if (!alive || effectDone)
            return;
    }
}
