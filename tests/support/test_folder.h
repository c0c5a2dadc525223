#pragma once
#include <QString>
#include <QTemporaryDir>

#include "common/ui_services.h"

namespace hm::test {

// A fresh copy of the built program folder for one test; the program resolves every data
// path under it while it lives, and message boxes are answered by `ui`. When it goes, a box
// that needed an answer the script lacked, or a queued answer, file name or input nobody
// asked for, fails the running test.
class TestFolder {
public:
    TestFolder();
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    QString path() const { return dir_.path(); }
    // Real path of a relative data path ("\\★MAilData\\x").
    QString file(const QString& relative) const;
    void write(const QString& relative, const QByteArray& bytes) const;
    QByteArray read(const QString& relative) const;

    hm::ui::ScriptedServices ui;

private:
    QTemporaryDir dir_;
};

// Fails the running test when the script held too little (a box that needed an answer got
// none) or too much (answers, file names or inputs nobody asked for); TestFolder does this
// for its own `ui` when it goes.
void checkScriptUsed(const hm::ui::ScriptedServices& ui);

// Writes a whole file (replacing it); a file that cannot be written fails the running test.
void writeFile(const QString& path, const QByteArray& bytes);
// Every file below root, hidden ones included, sorted.
QStringList filesUnder(const QString& root);

// The built program folder (HM_TEST_PROGRAM_DIR) and the source tree (HM_SOURCE_DIR).
QString builtProgramFolder();
QString sourceDir();
// A module the build made (hayatemail-mail.so, hayatemail-sound.so; in the built program
// folder), for tests whose executable sits elsewhere.
QString builtModule(const QString& file);
// A copy of that module in folder cut to its first bytes, or short of its last -bytes when
// negative (a damaged install); its path.
QString cutModule(const QString& file, qint64 bytes, const QString& folder);

} // namespace hm::test
