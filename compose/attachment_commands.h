#pragma once
#include <QPointer>

class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

namespace hm::compose {

// The attachment buttons shared by the compose and the reply window: the path text handed to
// sending ("a,b,c"), the list that shows one path a row, and the three commands.
class AttachmentCommands {
public:
    AttachmentCommands(QWidget* window, QLineEdit* attachText, QListWidget* list2,
                       QPushButton* attachCommand, QPushButton* command9, QPushButton* command10);

    // "添付File": the first path replaces the text; the button stays disabled until dropped.
    void First();
    // "追加": shows the list; asks for one more path only when there is a first one.
    void Add();
    // "取り消し": back to no attachments; "追加" and "取り消し" stay disabled.
    void Drop();
    // The attachment list for sending: the paths as the dialog gave them while the text still
    // shows just those (a comma in a name stays in it), otherwise the text as typed.
    QString ListForSending() const;

private:
    QString askForFile() const;

    QPointer<QWidget> window_;
    QLineEdit* attachText_;
    QListWidget* list2_;
    QPushButton* attachCommand_;
    QPushButton* command9_;
    QPushButton* command10_;
};

} // namespace hm::compose
