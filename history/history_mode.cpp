#include "history/history_mode.h"

#include "common/window_registry.h"
#include "history/tyaku_form.h"

namespace hm::history {

HistoryMode& CurrentHistoryMode()
{
    static HistoryMode mode = HistoryMode::Received;
    return mode;
}

TyakuForm* OpenHistory(HistoryMode mode)
{
    TyakuForm* form = hm::window<TyakuForm>();
    form->show();
    form->raise();
    form->activateWindow();
    form->ShowHistory(mode);
    return form;
}

TyakuForm* StagingWindow()
{
    return hm::window<TyakuForm>();
}

} // namespace hm::history
