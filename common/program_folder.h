#pragma once
#include <QString>

namespace hm {

// The folder of the executable, without a trailing separator. Every data file lives under it.
QString programFolder();
// Tests and the demo point the program at a copy of the installed folder.
void setProgramFolder(const QString& folder);

// Turns a relative path written with backslashes ("\\★MAilData\\hymdata2.data") into a real
// path under the program folder. Each component is matched against what exists without
// regard to case, so "★MAilData" and "★MailData" meet on a case-sensitive file system;
// where nothing exists yet the spelling given is used. A trailing backslash is dropped.
QString dataPath(const QString& relative);

} // namespace hm
