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

namespace {
class HistoryWindowStaging final : public MessageStaging {
public:
    void StageMessage(const QString& subject, const QString& from, const QString& date,
                      const QString& body) override
    {
        hm::window<TyakuForm>()->StageMessage(subject, from, date, body);
    }
};
} // namespace

MessageStaging& StagingWindow()
{
    static HistoryWindowStaging staging;
    return staging;
}

} // namespace hm::history
