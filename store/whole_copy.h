#pragma once
#include <QString>

// A record whose message the store cannot hold as it came (too long, characters CP932 lacks,
// nested too deep) ends with a note naming the whole copy kept in the attachment folder; the
// history window shows the message from that copy.
namespace hm::store {

// The attachment folder, as the program folder names it.
QString attachmentFolder();

// The note that ends such a record's body: why, and the copy's file name.
QString wholeCopyNote(const QString& why, const QString& fileName);

// The file name a record's body names as its whole copy; empty when it names none.
QString wholeCopyNamedIn(const QString& body);

} // namespace hm::store
