#include "compose/attachment_commands.h"

#include "common/ui_services.h"
#include "mail/nmail.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

namespace hm::compose {

AttachmentCommands::AttachmentCommands(QWidget* window, QLineEdit* attachText, QListWidget* list2,
                                       QPushButton* attachCommand, QPushButton* command9,
                                       QPushButton* command10)
    : window_(window), attachText_(attachText), list2_(list2), attachCommand_(attachCommand),
      command9_(command9), command10_(command10)
{
}

QString AttachmentCommands::askForFile() const
{
    return hm::ui::services().openFileName(window_, QStringLiteral("開く"), QString(), QString());
}

void AttachmentCommands::First()
{
    command9_->setEnabled(true);
    const QString path = askForFile();
    if (!path.isEmpty()) {
        attachText_->setText(path);
        list2_->addItem(path);
    }
    attachCommand_->setEnabled(false);
}

void AttachmentCommands::Add()
{
    list2_->show();
    list2_->raise();
    if (attachText_->text().isEmpty())
        return;
    const QString path = askForFile();
    if (!path.isEmpty()) {
        attachText_->setText(attachText_->text() + QLatin1Char(',') + path);
        list2_->addItem(path);
    }
}

void AttachmentCommands::Drop()
{
    attachText_->clear();
    list2_->clear();
    list2_->hide();
    command9_->setEnabled(false);
    command10_->setEnabled(false);
    attachCommand_->setEnabled(true);
}

QString AttachmentCommands::ListForSending() const
{
    QStringList chosen;
    for (int i = 0; i < list2_->count(); ++i)
        chosen << list2_->item(i)->text();
    const QString text = attachText_->text();
    if (chosen.isEmpty() || text != chosen.join(QLatin1Char(',')))
        return text;
    return hm::mail::NMailAttachmentList(chosen);
}

} // namespace hm::compose
