#pragma once
#include <QString>

class QTextDocument;
class QWidget;

// Printing lives in a module of its own, hayatemail-print.so, loaded at the first print, so
// that the launch maps no Qt PrintSupport.
namespace hm::ui {

// Prints the document: into the PDF file pdfPath when one is given, else on the printer the
// print dialog chooses; false when the dialog is cancelled.
using PrintDocument = bool (*)(QWidget* parent, QTextDocument* document, const QString& pdfPath);
// The module's one export: the printing function, or null when the version is not its own.
using PrintModuleEntry = PrintDocument (*)(int version);
inline constexpr char kPrintModuleEntry[] = "hm_print_module";
inline constexpr int kPrintModuleVersion = 1;

// The module to load instead of the one beside the program (tests).
void setPrintModulePath(const QString& path);

} // namespace hm::ui
