#include "app/program_icon.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>

#include <future>

namespace hm {
namespace {

constexpr int kSizes[] = {16, 24, 32, 48, 64, 128, 256};

QString picturePath(int size)
{
    return QStringLiteral(":/icons/%1x%1/hayatemail.png").arg(size);
}

// X11 takes every size when the main window is created: there they are decoded on another
// thread while the launch goes on.
std::future<QList<QImage>>& decodedAhead()
{
    static std::future<QList<QImage>> pictures;
    return pictures;
}

// The pictures are read only when something asks for one: a platform that takes no window
// icon (Wayland here, the offscreen one) decodes none at start-up.
class ProgramIconEngine : public QIconEngine {
public:
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        loaded().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().pixmap(size, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return loaded().actualSize(size, mode, state);
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        if (mode != QIcon::Normal || state != QIcon::Off)
            return {};
        QList<QSize> sizes;
        for (int size : kSizes)
            sizes << QSize(size, size);
        return sizes;
    }
    QString key() const override { return QStringLiteral("hayatemail"); }
    QIconEngine* clone() const override { return new ProgramIconEngine; }

private:
    static QIcon& loaded()
    {
        static QIcon icon = [] {
            QIcon i;
            if (decodedAhead().valid()) {
                for (const QImage& picture : decodedAhead().get())
                    i.addPixmap(QPixmap::fromImage(picture));
            } else {
                for (int size : kSizes)
                    i.addFile(picturePath(size), QSize(size, size));
            }
            return i;
        }();
        return icon;
    }
};

} // namespace

QIcon programIcon()
{
    static const bool decoding = QGuiApplication::platformName() == QLatin1String("xcb") && [] {
        decodedAhead() = std::async(std::launch::async, [] {
            QList<QImage> pictures;
            for (int size : kSizes)
                pictures << QImage(picturePath(size));
            return pictures;
        });
        return true;
    }();
    Q_UNUSED(decoding);
    return QIcon(new ProgramIconEngine);
}

} // namespace hm
