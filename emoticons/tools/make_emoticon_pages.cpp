// Turns the emoticon pages, kept as UTF-8 sources, into the CP932 files the program reads:
//   make_emoticon_pages <source folder> <output folder> <page>...
// reads <source folder>/<page>.utf8 and writes <output folder>/<page> with CR LF line ends.
// Fails when a character would not come back from CP932 unchanged.
#include "common/ansi_codec.h"

#include <QDir>
#include <QFile>

#include <cstdio>

namespace {
// Describes the first character that CP932 loses or changes, or returns an empty text.
QString firstLoss(const QString& text)
{
    int line = 1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const qsizetype n = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString one = text.mid(i, n);
        if (hm::ansi::decode(hm::ansi::encode(one)) != one)
            return QStringLiteral("line %1: U+%2 %3").arg(line).arg(one.toUcs4().value(0), 4, 16, QLatin1Char('0')).arg(one);
        if (text[i] == QLatin1Char('\n'))
            ++line;
        i += n - 1;
    }
    return {};
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: make_emoticon_pages <source folder> <output folder> <page>...\n");
        return 2;
    }
    const QDir source(QString::fromLocal8Bit(argv[1]));
    const QDir output(QString::fromLocal8Bit(argv[2]));
    output.mkpath(QStringLiteral("."));
    for (int a = 3; a < argc; ++a) {
        const QString page = QString::fromLocal8Bit(argv[a]);
        QFile in(source.filePath(page + QStringLiteral(".utf8")));
        if (!in.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "make_emoticon_pages: cannot read %s\n", qPrintable(in.fileName()));
            return 1;
        }
        QString text = QString::fromUtf8(in.readAll());
        text.remove(QLatin1Char('\r'));
        const QString loss = firstLoss(text);
        if (!loss.isEmpty()) {
            std::fprintf(stderr, "%s: %s does not survive CP932\n", qPrintable(in.fileName()), qPrintable(loss));
            return 1;
        }
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        QFile out(output.filePath(page));
        if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(hm::ansi::encode(text)) < 0) {
            std::fprintf(stderr, "make_emoticon_pages: cannot write %s\n", qPrintable(out.fileName()));
            return 1;
        }
    }
    return 0;
}
