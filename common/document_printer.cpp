// The print module: what the UI services need of Qt PrintSupport.
#include "common/document_printer.h"

#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace {

bool printDocument(QWidget* parent, QTextDocument* document, const QString& pdfPath)
{
    if (!pdfPath.isEmpty()) {
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdfPath);
        document->print(&printer);
        return true;
    }
    QPrinter printer;
    QPrintDialog dialog(&printer, parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    document->print(&printer);
    return true;
}

} // namespace

extern "C" __attribute__((visibility("default"))) hm::ui::PrintDocument hm_print_module(int version)
{
    return version == hm::ui::kPrintModuleVersion ? printDocument : nullptr;
}
