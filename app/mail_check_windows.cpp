// The program's own windows behind the mail check's interfaces.
#include "app/check_mail.h"
#include "app/main_form.h"
#include "common/window_registry.h"
#include "history/history_mode.h"
#include "settings/id_pass_form.h"

namespace {
class AccountWindow final : public AccountPrompt {
public:
    void holdAccount(const QString& id, const QString& password) override
    {
        hm::window<IdPassForm>()->HoldAccount(id, password);
    }
    void askForAccount() override { hm::window<IdPassForm>()->show(); }
};
} // namespace

void CheckMail(MainForm& main)
{
    AccountWindow account;
    CheckMail(MailCheckWindows{main, account, hm::history::StagingWindow()});
}
