#pragma once
#include <QString>

namespace hm {

// Decides, once at start-up and before anything is read, where the program folder is. The
// executable's own folder serves when it is a writable program folder (the build, the demo,
// a copy). An installed program's folder is not: the program folder is then the per-user
// folder (perUserFolder, by default $XDG_DATA_HOME/HayateMail), made readable by its owner
// only and filled from the installed template, never overwriting a file that is there.
// Returns a message for the user when that folder cannot be made; empty on success.
QString settleProgramFolder(const QString& executableFolder, const QString& perUserFolder);
QString settleProgramFolder();

// Where an installed program keeps the folders and files it ships: beside the executable, or
// in share/hayatemail under the same prefix.
QString installedTemplateFolder(const QString& executableFolder);

} // namespace hm
