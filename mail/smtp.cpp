#include "mail/nmail.h"

#include "common/atomic_file.h"

#include "mail/mime.h"
#include "common/line_ends.h"
#include "mail/smtp_session.h"

#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QUrl>

#include <gmime/gmime.h>

#include <functional>
#include <memory>
#include <utility>

namespace hm::mail {
namespace {

QByteArray g_smtpUser;
QByteArray g_smtpPassword;
// Where the next message sent is kept as it goes out (NMailSmtpKeepCopy).
QString g_keepCopyPath;

template <typename T>
struct GUnref {
    void operator()(T* p) const { if (p) g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GUnref<T>>;

struct Mailbox {
    QByteArray name; // UTF-8
    QByteArray address;
};

QString cutAtNul(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    return nul < 0 ? text : text.left(nul);
}

// The paths of an attachment list: each followed by a NUL when the text holds one, otherwise
// separated by "," and trimmed (as typed into a window).
QStringList attachmentPaths(const QString& text)
{
    if (text.contains(QChar(0)))
        return text.split(QChar(0), Qt::SkipEmptyParts);
    QStringList paths;
    for (const QString& piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        if (const QString path = piece.trimmed(); !path.isEmpty())
            paths << path;
    return paths;
}

bool hasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

// Splits at "," and ";" outside quoted strings, comments and angle brackets, honouring
// backslash escapes inside quotes and comments.
QStringList splitAddressList(const QString& text)
{
    QStringList pieces;
    QString current;
    bool quoted = false, escaped = false;
    int comment = 0;
    bool angle = false;
    for (const QChar c : text) {
        if (escaped) {
            escaped = false;
        } else if ((quoted || comment > 0) && c == QLatin1Char('\\')) {
            escaped = true;
        } else if (quoted) {
            quoted = c != QLatin1Char('"');
        } else if (comment > 0) {
            comment += c == QLatin1Char('(') ? 1 : c == QLatin1Char(')') ? -1 : 0;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char('(')) {
            comment = 1;
        } else if (c == QLatin1Char('<')) {
            angle = true;
        } else if (c == QLatin1Char('>')) {
            angle = false;
        } else if (!angle && (c == QLatin1Char(',') || c == QLatin1Char(';'))) {
            pieces << current;
            current.clear();
            continue;
        }
        current += c;
    }
    pieces << current;
    return pieces;
}

// "a@x, Name <b@y>; c@z" → mailboxes, each read by GMime's address parser. False (with the
// offending piece) for anything that is not exactly one plain mailbox.
bool parseRecipients(const QString& text, std::vector<Mailbox>& out, QString& bad)
{
    static const QRegularExpression addrSpec(QStringLiteral("^[^\\s<>()\\[\\],;:\"@]+@[^\\s<>()\\[\\],;:\"@]+$"));
    static GMimeParserOptions* const options = [] {
        ensureMimeReady();
        GMimeParserOptions* o = g_mime_parser_options_new();
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_STRICT);
        return o;
    }();
    for (const QString& piece : splitAddressList(text)) {
        const QString trimmed = piece.trimmed();
        if (trimmed.isEmpty())
            continue;
        bad = trimmed;
        GPtr<InternetAddressList> list(internet_address_list_parse(options, trimmed.toUtf8().constData()));
        if (!list || internet_address_list_length(list.get()) != 1)
            return false;
        InternetAddress* address = internet_address_list_get_address(list.get(), 0);
        if (!INTERNET_ADDRESS_IS_MAILBOX(address))
            return false;
        const QString addr = QString::fromUtf8(internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address)));
        // The parser forgives trailing garbage ("a@b@c" gives a@b); the piece must end in its address.
        if (!addrSpec.match(addr).hasMatch()
            || !(trimmed.endsWith(addr) || trimmed.endsWith(QLatin1Char('<') + addr + QLatin1Char('>'))))
            return false;
        const char* name = internet_address_get_name(address);
        out.push_back({QByteArray(name ? name : ""), addr.toUtf8()});
    }
    bad.clear();
    return true;
}

void addMailboxes(GMimeMessage* message, GMimeAddressType type, const std::vector<Mailbox>& boxes)
{
    for (const Mailbox& m : boxes)
        g_mime_message_add_mailbox(message, type, m.name.isEmpty() ? nullptr : m.name.constData(),
                                   m.address.constData());
}

void setContent(GMimePart* part, const QByteArray& bytes)
{
    GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(bytes.constData(), size_t(bytes.size())));
    GPtr<GMimeDataWrapper> wrapper(g_mime_data_wrapper_new_with_stream(stream.get(), GMIME_CONTENT_ENCODING_DEFAULT));
    g_mime_part_set_content(part, wrapper.get());
}

// One SMTP connection kept across the sends between NMailSmtpBeginSession and
// NMailSmtpEndSession (a bulk send makes hundreds); outside them each send has its own.
struct SmtpSession {
    SmtpConnection connection;
    bool busy = false;
    bool keep = false; // between NMailSmtpBeginSession and NMailSmtpEndSession
    ErrorRecord errors;
};

SmtpSession g_session;

// A send refused before anything went out.
bool refuse(const QString& text)
{
    g_session.errors.report({FailureKind::BadInput, text}, false);
    return false;
}

} // namespace

void NMailSetSmtpWaitCallback(std::function<void()> callback)
{
    g_session.connection.setWait(std::move(callback));
}

void NMailSmtpBeginSession()
{
    g_session.keep = true;
}

void NMailSmtpEndSession()
{
    g_session.keep = false;
    if (!g_session.busy)
        g_session.connection.quit();
}

void NMailSetSmtpCredentials(const QString& user, const QString& password)
{
    g_smtpUser = cutAtNul(user).trimmed().toUtf8();
    g_smtpPassword = cutAtNul(password).toUtf8();
}

void NMailSmtpKeepCopy(const QString& path)
{
    g_keepCopyPath = cutAtNul(path);
}

// Builds the message as the mail room sends it.
QByteArray buildOutgoingMessage(const std::vector<Mailbox>& from, const std::vector<Mailbox>& to,
                                const std::vector<Mailbox>& cc, const QString& subject, const QString& body,
                                const std::vector<std::pair<QString, QByteArray>>& files)
{
    ensureMimeReady();
    GPtr<GMimeMessage> message(g_mime_message_new(TRUE));
    addMailboxes(message.get(), GMIME_ADDRESS_TYPE_FROM, from);
    addMailboxes(message.get(), GMIME_ADDRESS_TYPE_TO, to);
    addMailboxes(message.get(), GMIME_ADDRESS_TYPE_CC, cc);
    g_mime_message_set_subject(message.get(), subject.toUtf8().constData(), "utf-8");
    GDateTime* now = g_date_time_new_now_local();
    g_mime_message_set_date(message.get(), now);
    g_date_time_unref(now);
    const QByteArray domain = from.empty() ? QByteArray("localhost") : from.front().address.mid(from.front().address.indexOf('@') + 1);
    gchar* id = g_mime_utils_generate_message_id(domain.isEmpty() ? "localhost" : domain.constData());
    g_mime_message_set_message_id(message.get(), id);
    g_free(id);

    GPtr<GMimeTextPart> text(g_mime_text_part_new_with_subtype("plain"));
    setContent(GMIME_PART(text.get()), toCrLf(body).toUtf8());
    g_mime_text_part_set_charset(text.get(), "utf-8");
    g_mime_part_set_content_encoding(GMIME_PART(text.get()), GMIME_CONTENT_ENCODING_BASE64);

    if (files.empty()) {
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(text.get()));
    } else {
        GPtr<GMimeMultipart> mixed(g_mime_multipart_new_with_subtype("mixed"));
        g_mime_multipart_add(mixed.get(), GMIME_OBJECT(text.get()));
        QMimeDatabase types;
        for (const auto& [name, bytes] : files) {
            const QByteArray mime = types.mimeTypeForFileNameAndData(name, bytes).name().toLatin1();
            const qsizetype slash = mime.indexOf('/');
            const QByteArray type = slash > 0 ? mime.left(slash) : QByteArray(), sub = slash > 0 ? mime.mid(slash + 1) : QByteArray();
            GPtr<GMimePart> part(g_mime_part_new_with_type(type.isEmpty() ? "application" : type.constData(),
                                                           sub.isEmpty() ? "octet-stream" : sub.constData()));
            setContent(part.get(), bytes);
            g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
            g_mime_part_set_filename(part.get(), name.toUtf8().constData());
            g_mime_multipart_add(mixed.get(), GMIME_OBJECT(part.get()));
        }
        g_mime_message_set_mime_part(message.get(), GMIME_OBJECT(mixed.get()));
    }

    GMimeFormatOptions* format = g_mime_format_options_new();
    g_mime_format_options_set_newline_format(format, GMIME_NEWLINE_FORMAT_DOS);
    g_mime_format_options_set_param_encoding_method(format, GMIME_PARAM_ENCODING_METHOD_RFC2231);
    GPtr<GMimeStream> out(g_mime_stream_mem_new());
    g_mime_object_write_to_stream(GMIME_OBJECT(message.get()), format, out.get());
    g_mime_format_options_free(format);
    GByteArray* b = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
    return QByteArray(reinterpret_cast<const char*>(b->data), qsizetype(b->len));
}

namespace {

// The envelope and the message as they go out.
struct OutgoingMail {
    std::vector<Mailbox> from, to, cc, bcc;
    QByteArray message;
};

bool readAddresses(const QString& toText, const QString& ccText, const QString& bccText, const QString& fromText,
                   OutgoingMail& mail)
{
    const QString to = cutAtNul(toText), cc = cutAtNul(ccText), bcc = cutAtNul(bccText);
    const QString fromValue = cutAtNul(fromText).trimmed();
    if (hasLineBreak(to) || hasLineBreak(cc) || hasLineBreak(bcc))
        return refuse(QStringLiteral("宛先に改行が含まれています。送信しませんでした。"));
    if (hasLineBreak(fromValue))
        return refuse(QStringLiteral("送信者のメールアドレスに改行が含まれています。送信しませんでした。"));
    QString bad;
    if (!parseRecipients(to, mail.to, bad) || !parseRecipients(cc, mail.cc, bad) || !parseRecipients(bcc, mail.bcc, bad))
        return refuse(QStringLiteral("宛先「%1」はメールアドレスとして正しくありません。送信しませんでした。").arg(bad));
    if (mail.to.empty() && mail.cc.empty() && mail.bcc.empty())
        return refuse(QStringLiteral("宛先がありません。送信しませんでした。"));
    if (fromValue.isEmpty())
        return refuse(QStringLiteral("送信者のメールアドレスが設定されていません。送信しませんでした。"));
    if (!parseRecipients(fromValue, mail.from, bad) || mail.from.size() != 1)
        return refuse(QStringLiteral("送信者のメールアドレス「%1」は正しくありません。送信しませんでした。").arg(fromValue));
    return true;
}

// Every attachment is read before anything is sent: a missing file sends nothing.
bool readAttachments(const QString& attachments, std::vector<std::pair<QString, QByteArray>>& files)
{
    qint64 total = 0;
    for (const QString& path : attachmentPaths(attachments)) {
        QFile file(path);
        const QFileInfo info(path);
        if (!info.isFile() || !file.open(QIODevice::ReadOnly))
            return refuse(QStringLiteral("添付ファイル「%1」が見つからないか読めません。送信しませんでした。").arg(path));
        total += info.size();
        if (total > kMaxSendBytes)
            return refuse(QStringLiteral("添付ファイルが大きすぎます（合計 %1 バイト、上限 %2 バイト）。送信しませんでした。")
                              .arg(total)
                              .arg(kMaxSendBytes));
        files.emplace_back(info.fileName(), file.readAll());
    }
    return true;
}

// An address as the envelope carries it: a domain in other scripts in its ASCII form (IDNA),
// as curl sent it.
QByteArray envelopeAddress(const QByteArray& address)
{
    const qsizetype at = address.lastIndexOf('@');
    const QByteArray domain = address.mid(at + 1);
    const QByteArray ace = QUrl::toAce(QString::fromUtf8(domain));
    return ace.isEmpty() || ace.compare(domain, Qt::CaseInsensitive) == 0 ? address : address.left(at + 1) + ace;
}

std::vector<QByteArray> envelopeRecipients(const OutgoingMail& mail)
{
    std::vector<QByteArray> recipients;
    for (const auto* list : {&mail.to, &mail.cc, &mail.bcc})
        for (const Mailbox& m : *list)
            recipients.push_back(envelopeAddress(m.address));
    return recipients;
}

} // namespace

int NMailSmtpSendMail(const QString& server, const QString& toText, const QString& ccText,
                      const QString& bccText, const QString& fromText, const QString& subjectText,
                      const QString& bodyText, const QString&, const QString& attachments, int)
{
    // Asked for this send alone, whatever becomes of it.
    const QString copyPath = std::exchange(g_keepCopyPath, QString());
    ServerAddress address;
    MailError problem;
    if (!acceptServer(server, Protocol::Smtp, address, problem)) {
        g_session.errors.report(std::move(problem), false);
        return kErrorBadInput;
    }
    OutgoingMail mail;
    std::vector<std::pair<QString, QByteArray>> files;
    if (!readAddresses(toText, ccText, bccText, fromText, mail) || !readAttachments(attachments, files))
        return kErrorBadInput;

    QString subject = cutAtNul(subjectText);
    subject.replace(QLatin1String("\r\n"), QLatin1String(" "));
    subject.replace(QLatin1Char('\r'), QLatin1Char(' '));
    subject.replace(QLatin1Char('\n'), QLatin1Char(' '));
    mail.message = buildOutgoingMessage(mail.from, mail.to, mail.cc, subject, cutAtNul(bodyText), files);
    // Kept before it goes out: a copy that cannot be written stops the send, so nobody is
    // told a message was kept that was not.
    if (!copyPath.isEmpty() && !hm::writeFileAtomically(copyPath, mail.message, true)) {
        refuse(QStringLiteral("送信するメールの控え「%1」を書き込めないため、送信を中止しました。").arg(copyPath));
        return kErrorFileOpen;
    }

    SmtpSession& session = g_session;
    if (session.busy) {
        refuse(QStringLiteral("前の送信が終わっていません。"));
        return kErrorBadInput;
    }
    session.busy = true;
    MailError failure = session.connection.send(address, g_smtpUser, g_smtpPassword, envelopeAddress(mail.from.front().address),
                                                envelopeRecipients(mail), mail.message);
    const int result = failure.kind == FailureKind::None ? 0 : resultOf(failure.kind);
    if (result != 0)
        session.errors.report(std::move(failure), false);
    session.busy = false;
    if (!session.keep)
        session.connection.quit();
    return result;
}

} // namespace hm::mail
