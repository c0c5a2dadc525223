#include "common/program_module.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>

namespace hm {

QString programModulePath(const QString& file)
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString beside = folder + QLatin1Char('/') + file;
    if (QFileInfo::exists(beside))
        return beside;
    return folder + QStringLiteral("/../" HM_MODULE_SUBDIR "/") + file;
}

void* moduleEntry(const QString& path, const char* entry, QString* reason)
{
    void* module = ::dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
    void* found = module ? ::dlsym(module, entry) : nullptr;
    if (!found && reason)
        *reason = QString::fromLocal8Bit(::dlerror());
    return found;
}

QString moduleVersionMismatch()
{
    return QStringLiteral("この版のプログラムに合いません");
}

} // namespace hm
