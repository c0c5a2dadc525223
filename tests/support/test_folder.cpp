#include "tests/support/test_folder.h"

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
}

TestFolder::~TestFolder()
{
    hm::ui::setServices(nullptr);
    hm::setProgramFolder(QString());
}

QString TestFolder::file(const QString& relative) const
{
    return hm::dataPath(relative);
}

void TestFolder::write(const QString& relative, const QByteArray& bytes) const
{
    QFile f(file(relative));
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(f.fileName()));
    f.write(bytes);
}

QByteArray TestFolder::read(const QString& relative) const
{
    QFile f(file(relative));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
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
