#pragma once
// The main window's controls that it keeps to itself, found by their names.
#include "app/command_label.h"
#include "app/main_form.h"

#include <QLabel>
#include <QLineEdit>

namespace hm::test {

template <typename T>
T* controlNamed(const QWidget& window, const char* name)
{
    T* control = window.findChild<T*>(QLatin1String(name));
    if (!control)
        qFatal("%s has no control named %s", qPrintable(window.objectName()), name);
    return control;
}

inline QLineEdit* statusLine(const MainForm& form)
{
    return controlNamed<QLineEdit>(form, "Text1");
}

inline QLabel* helpLine(const MainForm& form)
{
    return controlNamed<QLabel>(form, "Label2");
}

inline CommandLabel* receiveCommand(const MainForm& form)
{
    return controlNamed<CommandLabel>(form, "Label8");
}

} // namespace hm::test
