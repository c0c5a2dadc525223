#include "tests/support/test_folder.h"

#include "common/document_printer.h"
#include "common/private_files.h"
#include "common/program_folder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

namespace hm::test {
namespace {
void copyTree(const QString& from, const QString& to)
{
    QDir().mkpath(to);
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    while (it.hasNext()) {
        const QString src = it.next();
        const QString dst = to + QLatin1Char('/') + it.fileName();
        if (it.fileInfo().isDir())
            copyTree(src, dst);
        else if (it.fileInfo().isExecutable() && it.fileName() == QLatin1String("hayatemail"))
            QFile::link(src, dst); // the executable itself need not be copied
        else
            QFile::copy(src, dst);
    }
}
} // namespace

TestFolder::TestFolder()
{
    copyTree(builtProgramFolder(), dir_.path());
    hm::setProgramFolder(dir_.path());
    hm::keepMailPrivate(); // as start-up does
    hm::ui::setServices(&ui);
    hm::ui::setPrintModulePath(builtModule(QStringLiteral("hayatemail-print.so")));
}

TestFolder::~TestFolder()
{
    hm::ui::setServices(nullptr);
    checkScriptUsed(ui);
    hm::setProgramFolder(QString());
}

QString TestFolder::file(const QString& relative) const
{
    return hm::dataPath(relative);
}

void TestFolder::write(const QString& relative, const QByteArray& bytes) const
{
    writeFile(file(relative), bytes);
}

QByteArray TestFolder::read(const QString& relative) const
{
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QVERIFY2(f.write(bytes) == bytes.size(), qPrintable(path));
}

QStringList filesUnder(const QString& root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

void checkScriptUsed(const hm::ui::ScriptedServices& ui)
{
    QStringList problems;
    for (const QString& text : ui.unanswered)
        problems << QStringLiteral("box without a scripted answer: ") + text;
    for (const QString& left : ui.leftovers())
        problems << QStringLiteral("scripted but never asked for: ") + left;
    if (problems.isEmpty())
        return;
    const QByteArray what = problems.join(QLatin1Char('\n')).toUtf8();
    if (!QTest::currentTestFunction())
        qFatal("%s", what.constData());
    if (QTest::currentTestFailed())
        qWarning("%s", what.constData()); // the first failure is the one to read
    else
        QTest::qFail(what.constData(), __FILE__, __LINE__);
}

QString builtProgramFolder()
{
    return qEnvironmentVariable("HM_TEST_PROGRAM_DIR");
}

QString sourceDir()
{
    return qEnvironmentVariable("HM_SOURCE_DIR");
}

QString builtModule(const QString& file)
{
    return builtProgramFolder() + QLatin1Char('/') + file;
}

QString cutModule(const QString& file, qint64 bytes, const QString& folder)
{
    QFile whole(builtModule(file));
    const QString path = folder + QLatin1Char('/') + file;
    QFile cut(path);
    if (!whole.open(QIODevice::ReadOnly) || !cut.open(QIODevice::WriteOnly))
        return {};
    cut.write(whole.read(bytes < 0 ? whole.size() + bytes : bytes));
    return path;
}

} // namespace hm::test
