// Makes the program's own new-mail sound (surf on a beach) and its pictures, so the program
// folder needs nothing from outside: make_media <output folder>.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtEndian>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr double kPi = 3.14159265358979323846;
constexpr int kRate = 22050;
constexpr double kSeconds = 5.0;

// Fixed seed: the same sound on every build.
struct Noise {
    quint32 state = 0x9E3779B9u;
    double next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return double(state) / 2147483648.0 - 1.0;
    }
};

// Loudness of the surf over time t (seconds): a wave swells, breaks, and washes out.
double swell(double t)
{
    auto bump = [](double t, double rise, double peak, double fall) {
        if (t < rise || t > fall)
            return 0.0;
        if (t < peak)
            return std::pow(std::sin((t - rise) / (peak - rise) * kPi / 2), 2.0);
        return std::exp(-3.0 * (t - peak) / (fall - peak)) * std::cos((t - peak) / (fall - peak) * kPi / 2);
    };
    const double first = bump(t, 0.0, 1.6, 4.2);
    const double second = 0.55 * bump(t, 2.6, 3.7, 5.0);
    // Starts and ends silent, so a looped sound joins without a click.
    const double edge = std::min({1.0, t / 0.05, (kSeconds - t) / 0.05});
    return std::max(0.0, edge) * (0.08 + 0.92 * std::max(first, second)) * std::min(1.0, std::max(first, second) * 4 + 0.02);
}

QByteArray surf()
{
    const int frames = int(kRate * kSeconds);
    std::vector<double> out(size_t(frames), 0.0);
    Noise noise;
    double low = 0, mid = 0, rumble = 0, peak = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double env = swell(t);
        const double white = noise.next();
        // The breaking wave is brighter than the swell before it.
        const double cutoff = 0.02 + 0.25 * env;
        low += cutoff * (white - low);
        mid += 0.5 * (low - mid);
        rumble += 0.01 * (white - rumble);
        const double hiss = white - mid;
        const double v = env * (1.6 * mid + 3.0 * rumble + 0.12 * env * hiss);
        out[size_t(i)] = v;
        peak = std::max(peak, std::abs(v));
    }
    QByteArray pcm(frames * 2, Qt::Uninitialized);
    const double gain = peak > 0 ? 0.8 * 32767 / peak : 0;
    for (int i = 0; i < frames; ++i)
        qToLittleEndian<qint16>(qint16(std::lround(out[size_t(i)] * gain)), pcm.data() + 2 * i);
    return pcm;
}

QByteArray waveFile(const QByteArray& pcm)
{
    QByteArray w;
    auto u32 = [&w](quint32 v) { char b[4]; qToLittleEndian(v, b); w.append(b, 4); };
    auto u16 = [&w](quint16 v) { char b[2]; qToLittleEndian(v, b); w.append(b, 2); };
    w.append("RIFF");
    u32(quint32(36 + pcm.size()));
    w.append("WAVEfmt ");
    u32(16);
    u16(1);         // PCM
    u16(1);         // mono
    u32(kRate);
    u32(kRate * 2); // bytes per second
    u16(2);         // bytes per frame
    u16(16);        // bits
    w.append("data");
    u32(quint32(pcm.size()));
    w.append(pcm);
    return w;
}

void waves(QPainter& p, const QColor& colour, double baseY, double amplitude, double length,
           double phase, int count, double spacing)
{
    for (int k = 0; k < count; ++k) {
        QPainterPath path;
        const double y0 = baseY + k * spacing;
        path.moveTo(0, 320);
        for (int x = 0; x <= 200; x += 4)
            path.lineTo(x, y0 + amplitude * std::sin(x / length * 2 * kPi + phase + k * 1.3));
        path.lineTo(200, 320);
        path.closeSubpath();
        QColor c = colour;
        c.setAlpha(90 + 40 * k / std::max(1, count - 1));
        p.fillPath(path, c.lighter(100 + 12 * k));
    }
}

// Streamlines of wind sweeping across the picture.
void wind(QPainter& p, const QColor& colour, double y, int lines, double curl)
{
    for (int k = 0; k < lines; ++k) {
        QPainterPath path;
        const double y0 = y + 14 * k;
        path.moveTo(-10, y0);
        path.cubicTo(60, y0 - curl, 110, y0 + curl, 170 - 12 * k, y0 - 4);
        // the curl at the end of each gust
        path.arcTo(QRectF(150 - 12 * k, y0 - 22, 28, 24), -90, 270);
        QPen pen(colour, 2.2 - 0.3 * k, Qt::SolidLine, Qt::RoundCap);
        p.strokePath(path, pen);
    }
}

QImage canvas(const QColor& top, const QColor& bottom)
{
    QImage img(200, 320, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient g(0, 0, 0, 320);
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.fillRect(img.rect(), g);
    return img;
}

QImage effectPicture(int n)
{
    struct Palette { QColor top, bottom, sea, windColour, sun; double sunY; };
    const Palette palettes[3] = {
        {QColor(255, 170, 120), QColor(120, 60, 140), QColor(60, 80, 170), QColor(255, 245, 230), QColor(255, 220, 120), 150},
        {QColor(90, 170, 240), QColor(220, 240, 255), QColor(20, 110, 170), QColor(255, 255, 255), QColor(255, 255, 210), 60},
        {QColor(10, 20, 60), QColor(40, 60, 120), QColor(15, 40, 90), QColor(170, 200, 255), QColor(240, 240, 220), 70},
    };
    const Palette& pal = palettes[n];
    QImage img = canvas(pal.top, pal.bottom);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient glow(QPointF(140 - 40 * n, pal.sunY), 40);
    glow.setColorAt(0, pal.sun);
    glow.setColorAt(0.45, pal.sun);
    glow.setColorAt(1, QColor(pal.sun.red(), pal.sun.green(), pal.sun.blue(), 0));
    p.fillRect(img.rect(), glow);
    wind(p, pal.windColour, 70 + 30 * n, 4, 18 + 8 * n);
    waves(p, pal.sea, 200 + 10 * n, 7 + 2 * n, 90 - 15 * n, n * 0.8, 5, 22);
    return img;
}

QImage newMailPicture()
{
    QImage img = canvas(QColor(0, 40, 90), QColor(0, 150, 190));
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    wind(p, QColor(200, 240, 255), 40, 3, 20);
    waves(p, QColor(0, 90, 160), 230, 9, 80, 0.4, 4, 20);
    // a letter riding the wave
    QRectF letter(35, 120, 130, 86);
    p.setPen(QPen(QColor(20, 40, 80), 2));
    p.setBrush(QColor(255, 252, 240));
    p.drawRect(letter);
    QPainterPath flap;
    flap.moveTo(letter.topLeft());
    flap.lineTo(letter.center().x(), letter.top() + 50);
    flap.lineTo(letter.topRight());
    p.strokePath(flap, QPen(QColor(20, 40, 80), 2));
    p.setBrush(QColor(230, 40, 60));
    p.drawEllipse(QPointF(letter.center().x(), letter.top() + 50), 9, 9);
    QFont font(QStringLiteral("IPAPGothic"));
    font.setPixelSize(22);
    font.setBold(true);
    p.setFont(font);
    p.setPen(QColor(255, 255, 255));
    p.drawText(QRectF(0, 60, 200, 40), Qt::AlignCenter, QStringLiteral("新着メール"));
    return img;
}

bool save(const QImage& img, const QString& path)
{
    return img.save(path, "JPG", 90);
}
} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_media <output folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    for (const char* folder : {"Sound", "新着画像", "疾風データ"})
        out.mkpath(QString::fromUtf8(folder));

    bool ok = true;
    QFile wav(out.filePath(QStringLiteral("Sound/1.wav")));
    ok = ok && wav.open(QIODevice::WriteOnly | QIODevice::Truncate) && wav.write(waveFile(surf())) > 0;
    wav.close();
    ok = ok && save(newMailPicture(), out.filePath(QStringLiteral("新着画像/1.jpg")));
    for (int n = 0; n < 3; ++n)
        ok = ok && save(effectPicture(n), out.filePath(QStringLiteral("疾風データ/%1.jpg").arg(n + 1)));
    if (!ok) {
        std::fprintf(stderr, "make_media: could not write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
