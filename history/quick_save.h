#pragma once
#include <QString>

// "TextQuickSave": a message saved as a four-line text file named after its subject.
namespace hm::history {

// A file name (ending ".txt") for the subject that always stays inside the quick-save
// folder: a usual subject is kept as it is; separators and characters a file name cannot
// hold become their full-width forms, control characters "_", a run of dots full-width dots;
// an empty subject gives "無題.txt"; a long one is cut to fit the file system's name limit.
QString QuickSaveFileName(const QString& subject);

// The quick-save folder, "\■TextQuickSave\" under the program folder.
QString QuickSaveFolder();
// The full path of the subject's quick-save file; empty if it would leave the folder.
QString QuickSavePath(const QString& subject);

// "Subject:", "From:", "Date:", "Body:" with two spaces before each text, joined by CR LF.
QString QuickSaveText(const QString& subject, const QString& from, const QString& date,
                      const QString& body);

} // namespace hm::history
