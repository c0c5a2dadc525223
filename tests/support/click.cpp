#include "tests/support/click.h"

#include <QAction>
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

bool trigger(QAction* command, const std::source_location& at)
{
    QString problem;
    if (!command)
        problem = QStringLiteral("no command to trigger");
    else if (!command->isVisible())
        problem = QStringLiteral("%1 is not visible").arg(command->text());
    else if (!command->isEnabled())
        problem = QStringLiteral("%1 is not enabled").arg(command->text());
    if (!problem.isEmpty()) {
        QTest::qFail(qPrintable(problem), at.file_name(), int(at.line()));
        return false;
    }
    command->trigger();
    return true;
}

} // namespace hm::test
