#pragma once
#include <QString>

// A record whose message the store cannot hold as it came (too long, characters CP932 lacks,
// nested too deep) ends with a note naming the whole copy kept beside it: a received message's
// in the attachment folder, a sent one's in the sent-copy folder. The history window shows the
// message from that copy.
namespace hm::store {

// The attachment folder, as the program folder names it.
QString attachmentFolder();

// Where a sent message is kept as it went out when the store cannot hold it.
QString sentCopyFolder();

// The note that ends a received record's body: why, and the copy's file name.
QString wholeCopyNote(const QString& why, const QString& fileName);
// The note that ends a sent record's body.
QString sentCopyNote(const QString& fileName);

// text with note at its end, text cut (in CP932) so that both fit a record's body.
QString endingWithNote(const QString& text, const QString& note);

// The path of the whole copy a record's body names; empty when it names none. Only the two
// folders above are ever named.
QString wholeCopyPathIn(const QString& body);

} // namespace hm::store
