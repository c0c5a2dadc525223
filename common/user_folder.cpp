#include "common/user_folder.h"

#include "common/program_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace hm {
namespace {

const QString kDataFolder = QStringLiteral("★MAilData");

bool holdsProgramFolders(const QString& folder)
{
    const QStringList entries = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        if (entry.compare(kDataFolder, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool writable(const QString& folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

constexpr QFile::Permissions kOwnerFile = QFile::ReadOwner | QFile::WriteOwner;
constexpr QFile::Permissions kOwnerFolder = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Copies what `from` holds into `to` where `to` lacks it; files and folders made owner-only.
bool copyMissing(const QString& from, const QString& to, const QString& skipName)
{
    bool ok = true;
    QDirIterator it(from, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    while (it.hasNext()) {
        const QString source = it.next();
        const QFileInfo info = it.fileInfo();
        const QString target = to + QLatin1Char('/') + info.fileName();
        if (info.isDir()) {
            if (!QFileInfo::exists(target)) {
                ok = QDir().mkdir(target) && QFile::setPermissions(target, kOwnerFolder) && ok;
            }
            ok = copyMissing(source, target, QString()) && ok;
        } else if (info.fileName() != skipName && !QFileInfo::exists(target)) {
            ok = QFile::copy(source, target) && QFile::setPermissions(target, kOwnerFile) && ok;
        }
    }
    return ok;
}

QString defaultPerUserFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/HayateMail");
}

} // namespace

QString installedTemplateFolder(const QString& executableFolder)
{
    const QString shared = QDir::cleanPath(executableFolder + QStringLiteral("/../share/hayatemail"));
    if (holdsProgramFolders(shared))
        return shared;
    return executableFolder;
}

QString settleProgramFolder(const QString& executableFolder, const QString& perUserFolder)
{
    // Root may write anywhere, so writability alone would put root's mail into /usr/bin:
    // the executable's folder must also be a program folder.
    if (holdsProgramFolders(executableFolder) && writable(executableFolder)) {
        setProgramFolder(executableFolder);
        return {};
    }
    const QString folder = QDir::cleanPath(perUserFolder);
    const bool made = QDir().mkpath(folder) && QFile::setPermissions(folder, kOwnerFolder);
    const QString exeName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (!made || !copyMissing(installedTemplateFolder(executableFolder), folder, exeName)) {
        return QStringLiteral("データを置くフォルダ「%1」を用意できませんでした。\n"
                              "フォルダに書き込めるか確認してください。")
            .arg(QDir::toNativeSeparators(folder));
    }
    setProgramFolder(folder);
    return {};
}

QString settleProgramFolder()
{
    return settleProgramFolder(QCoreApplication::applicationDirPath(), defaultPerUserFolder());
}

} // namespace hm
