#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <memory>

namespace hm::mail {

// What the status call reports of a message: decoded subject and sender, the Date header's
// text, and the header block (CR LF line ends, no closing blank line).
struct HeaderSummary {
    QString subject;
    QString date;
    QString from;
    QString header;
};

// A message as GMime parsed it, held with its bytes so that extracting its attachments need not
// parse it again.
class ParsedMessage;

// How much of the raw MIME body a message that is not one text part gives as its download body.
constexpr qsizetype kRawBodyShown = 1024 * 1024;

// The summary and the download body (decoded text for a single-part text message, the raw
// MIME body for anything else, its first kRawBodyShown bytes cut at a line end) from one parse.
struct Downloaded {
    HeaderSummary summary;
    QString body;
    // One text part: the body above is all there is, nothing to extract.
    bool singleText = false;
    // The body is still HTML: it was read where Qt's HTML reader may not run (htmlToText).
    bool bodyIsHtml = false;
    // The parse, for the attachment call; only for a message that is not one text part.
    std::shared_ptr<const ParsedMessage> message;
};
enum class HtmlBody { AsText, AsHtml };
Downloaded readDownloaded(const QByteArray& raw, HtmlBody html = HtmlBody::AsText);
// The same for a message downloaded to a file (a big one): parsed from there, its parts left
// there until they are written out; its header and texts are read as far as kRawBodyShown
// bytes each, which is more than the store and the history window hold.
class SpoolFile;
Downloaded readDownloaded(std::shared_ptr<const SpoolFile> file, HtmlBody html = HtmlBody::AsText);

struct Extraction {
    int result = 0;       // 1 saved attachments, 0 none, -5 a file failed to open, -6 parts missing
    bool bodyFound = false;
    QString body;         // the message's readable text, when bodyFound
    QStringList saved;    // full paths of the files written; none when one failed
    // The message nests deeper than it is taken apart: what lies below is in no file and no
    // body, only in the message itself.
    bool stoppedInside = false;
};

// Parses a whole message, saves every attachment into folder under a safe, unused name (all
// of them or, when one cannot be written, none), and finds its readable text. A fragment of a split message (message/partial) is kept under the
// folder until every fragment has arrived; then the reassembled message is extracted.
Extraction extractAttachments(const QByteArray& raw, const QString& folder);
Extraction extractAttachments(const ParsedMessage& message, const QString& folder);

// A whole message as a reader sees it: the summary and its readable text, as the attachment
// call finds it; nothing is written.
struct ReadableMessage {
    HeaderSummary summary;
    QString to; // decoded, as the To header gives it
    QString body;
};
ReadableMessage readableMessage(const QByteArray& raw);

// True when the message is one text part, whose body the download call already decoded.
bool isSingleTextPart(const QByteArray& raw);

// A name that stays inside the folder it is written to, on Linux and on Windows alike.
QString safeFileName(const QString& suggested);

// Readable text of an HTML body.
QString htmlToText(const QString& html);


// GMime set up once for the whole program.
void ensureMimeReady();

} // namespace hm::mail
