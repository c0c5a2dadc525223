#include "common/program_module.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace hm {
namespace {

// Whether [offset, offset + length) lies within a file of size bytes.
bool within(quint64 offset, quint64 length, quint64 size)
{
    return length <= size && offset <= size - length;
}

bool readAt(int fd, void* into, size_t length, off_t offset)
{
    return ::pread(fd, into, length, offset) == ssize_t(length);
}

// A module cut short (a broken copy, a full disk) would have pages mapped past its end, and
// the first touch of one kills the program inside dlopen. So the file must hold everything its
// ELF headers place in it: the program headers, every segment's bytes, the section headers.
// False, with the reason, when it does not; a missing or empty file is left to dlopen, which
// says so.
bool wholeModule(const QString& path, QString* reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat st;
    ElfW(Ehdr) header;
    bool whole = ::fstat(fd, &st) == 0;
    const quint64 size = quint64(st.st_size);
    if (whole && size > 0) {
        whole = readAt(fd, &header, sizeof header, 0) && std::equal(header.e_ident, header.e_ident + SELFMAG, ELFMAG)
                && header.e_phentsize == sizeof(ElfW(Phdr))
                && within(header.e_phoff, quint64(header.e_phnum) * sizeof(ElfW(Phdr)), size)
                && (header.e_shnum == 0 || within(header.e_shoff, quint64(header.e_shnum) * header.e_shentsize, size));
        std::vector<ElfW(Phdr)> segments(whole ? header.e_phnum : 0);
        whole = whole && readAt(fd, segments.data(), segments.size() * sizeof(ElfW(Phdr)), off_t(header.e_phoff));
        for (const ElfW(Phdr)& segment : segments)
            whole = whole && within(segment.p_offset, segment.p_filesz, size);
    }
    ::close(fd);
    if (!whole && reason)
        *reason = QStringLiteral("ファイルが壊れているか、途中で切れています。");
    return whole;
}

} // namespace

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
    if (!wholeModule(path, reason))
        return nullptr;
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
