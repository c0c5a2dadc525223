// libFuzzer target: arbitrary bytes through everything the mail room does with a received
// message — header summary, download body, attachment extraction into a scratch folder.
#include "mail/charset.h"
#include "mail/mime.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Qt's HTML reader wants an application object, as the program has.
    static int argc = 1;
    static char name[] = "fuzz_mime";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static QTemporaryDir scratch;
    const QByteArray raw(reinterpret_cast<const char*>(data), qsizetype(size));
    hm::mail::readDownloaded(raw);
    hm::mail::isSingleTextPart(raw);
    hm::mail::decodeHeaderText(raw.left(4096));
    const QString folder = scratch.path() + QStringLiteral("/f");
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const hm::mail::Extraction e = hm::mail::extractAttachments(raw, folder);
    for (const QString& path : e.saved) {
        // Every file written must be directly inside the folder.
        if (QFileInfo(path).absolutePath() != QFileInfo(folder).absoluteFilePath())
            __builtin_trap();
    }
    return 0;
}
