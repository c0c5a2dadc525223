#pragma once
#include "common/form_geometry.h"

#include <QPointer>
#include <QWidget>

// Every window but the main one exists at most once. window<W>() hands out the live instance
// or builds a new one (running its load step, then keeping it inside the screen); a closed
// window is deleted and forgotten, so the next call builds it afresh.
namespace hm {

template <class W>
QPointer<W>& windowSlot()
{
    static QPointer<W> slot;
    return slot;
}

// The live instance, or nullptr when the window is not loaded.
template <class W>
W* loadedWindow()
{
    return windowSlot<W>().data();
}

template <class W>
W* window()
{
    QPointer<W>& slot = windowSlot<W>();
    if (!slot) {
        W* w = new W;
        w->setAttribute(Qt::WA_DeleteOnClose);
        slot = w;
        if constexpr (requires { w->Form_Load(); })
            w->Form_Load();
        fitInsideScreen(w);
    }
    return slot.data();
}

} // namespace hm
