#pragma once
#include <QDateTime>
#include <QString>

#include <functional>

class MainForm;
class QWidget;

namespace hm::history {
class MessageStaging;
}

// The main window as the mail check uses it; the window keeps its controls to itself.
class MailCheckDisplay {
public:
    virtual ~MailCheckDisplay() = default;
    // The window the check's boxes belong to.
    virtual QWidget* boxParent() = 0;
    // The help line, painted at once: the check holds the window's thread.
    virtual void showHelp(const QString& text) = 0;
    // The status line while the check runs.
    virtual void showStatus(const QString& text) = 0;
    // The status line at the end: read from its beginning, and whole as its tip.
    virtual void showResult(const QString& text) = 0;
    // The receive command.
    virtual bool receiveEnabled() const = 0;
    virtual void setReceiveEnabled(bool enabled) = 0;
    virtual void showNewMailPicture() = 0;
    // Plays the new-mail sound; a problem comes back as text the first time it happens.
    virtual QString playNewMailSound() = 0;
};

// The account window, for a check that finds no saved ID or password.
class AccountPrompt {
public:
    virtual ~AccountPrompt() = default;
    // Puts the saved ID and password in the window, loading it hidden if need be.
    virtual void holdAccount(const QString& id, const QString& password) = 0;
    virtual void askForAccount() = 0;
};

// Everything the check shows goes through these.
struct MailCheckWindows {
    MailCheckDisplay& main;
    AccountPrompt& account;
    hm::history::MessageStaging& history;
};

// Downloads every waiting message: each is stored in the received store and only then
// marked for deletion on the server; the result is reported in the main window. With mail kept
// on the server (the account file's KeepOnServer), only messages never stored before are
// downloaded, and only those stored more than DeleteAfterDays ago are deleted. Does nothing
// while a check is running already.
void CheckMail(const MailCheckWindows& windows);
// The same over the program's own windows.
void CheckMail(MainForm& main);
bool MailCheckRunning();
// The time by which the check dates mail it keeps on the server and ages it; the system clock
// unless a test sets its own (an empty function puts the system clock back).
void SetMailCheckClock(std::function<QDateTime()> clock);
