#include "tests/support/click.h"

#include <QTest>
#include <QWidget>

namespace hm::test {

bool click(QWidget* control, const std::source_location& at)
{
    QString problem;
    const QString name = !control ? QString()
                         : control->objectName().isEmpty() ? QLatin1String(control->metaObject()->className())
                                                           : control->objectName();
    if (!control)
        problem = QStringLiteral("no control to click");
    else if (!control->isVisible())
        problem = QStringLiteral("%1 is not visible").arg(name);
    else if (!control->isEnabled())
        problem = QStringLiteral("%1 is not enabled").arg(name);
    if (!problem.isEmpty()) {
        QTest::qFail(qPrintable(problem), at.file_name(), int(at.line()));
        return false;
    }
    QTest::mouseClick(control, Qt::LeftButton);
    return true;
}

} // namespace hm::test
