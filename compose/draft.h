#pragma once
#include <QList>
#include <QString>

namespace hm::compose {

// A message as a window hands it to sending: what the user entered, read once when "送信" is
// pressed. Sending never reads the window again, so the window stays as it was for another try.
struct Draft {
    QString to;          // as typed; a bulk send takes its recipients from the address book
    QString subject;     // as typed; the sent record keeps it trimmed
    QString body;        // the editor's text, line breaks as LF
    QString attachments; // the list to send (AttachmentCommands::ListForSending)
    bool fortune = false;
    // Bulk: one pass per row of the address list, pass i to the i-th address-book entry.
    bool bulk = false;
    int bulkRows = 0;
    // The passes (from 1) an earlier bulk send did not get out; empty: every row.
    QList<int> passesLeft;
};

} // namespace hm::compose
