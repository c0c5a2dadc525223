#pragma once
#include <QString>

// The program's modules (mail, sound output), loaded at first use so that the launch maps
// none of the libraries they pull in.
namespace hm {

// Where the program keeps `file`: beside the executable (the build's program folder and its
// copies), else in lib/hayatemail/modules/ beside its bin/ (installed).
QString programModulePath(const QString& file);

// The address of `entry` in the module at `path`, loaded with every symbol bound so that a
// module that does not fit fails here rather than in use; null, with the reason (for the
// user) in *reason, when it cannot be loaded or lacks the entry.
void* moduleEntry(const QString& path, const char* entry, QString* reason);

// The reason to give when the module's entry refuses this program's version.
QString moduleVersionMismatch();

} // namespace hm
