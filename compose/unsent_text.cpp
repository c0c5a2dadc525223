#include "compose/unsent_text.h"

#include "common/ui_services.h"

namespace hm::compose {
bool MayDiscardUnsentText(QWidget* parent)
{
    return hm::ui::message(parent, QStringLiteral("送信していないメールがあります。\n破棄して終了しますか？"),
                           QStringLiteral("確認"), hm::ui::Buttons::YesNo, hm::ui::Icon::Question)
           == hm::ui::Answer::Yes;
}
} // namespace hm::compose
