#include "mail/mime.h"

#include "common/atomic_file.h"
#include "common/line_ends.h"

#include "mail/charset.h"
#include "mail/spool_file.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTextDocumentFragment>

#include <gmime/gmime.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>

namespace hm::mail {
namespace {

constexpr int kMaxPartialFragments = 100;
constexpr int kMaxDepth = 32;

template <typename T>
struct GUnref {
    void operator()(T* p) const { if (p) g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, GUnref<T>>;

GMimeParserOptions* parserOptions()
{
    static GMimeParserOptions* options = [] {
        GMimeParserOptions* o = g_mime_parser_options_new();
        static const char* fallback[] = {"UTF-8", "CP932", "EUC-JP", nullptr};
        g_mime_parser_options_set_fallback_charsets(o, fallback);
        g_mime_parser_options_set_rfc2047_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_parameter_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        g_mime_parser_options_set_address_compliance_mode(o, GMIME_RFC_COMPLIANCE_LOOSE);
        return o;
    }();
    return options;
}

// A message as its top part, which carries every header of the message. GMime's message
// object would parse and decode its addresses, date and subject as it is built, which the
// summary decodes again anyway: the parse took half as long again.
GMimeObject* constructTop(GMimeParser* parser)
{
    g_mime_parser_set_format(parser, GMIME_FORMAT_MESSAGE);
    return g_mime_parser_construct_part(parser, parserOptions());
}

// A message parsed in place: GMime reads the caller's bytes, which must outlive it, without a
// copy, and the parts' contents stay references into them until they are decoded.
class Parsed {
public:
    explicit Parsed(const QByteArray& raw)
    {
        ensureMimeReady();
        // The memory stream reads through a GByteArray; this one borrows the bytes. The stream
        // is not its owner, so it never grows or frees them.
        borrowed_ = g_byte_array_new();
        borrowed_->data = reinterpret_cast<guint8*>(const_cast<char*>(raw.constData()));
        borrowed_->len = guint(raw.size());
        GPtr<GMimeStream> stream(g_mime_stream_mem_new_with_byte_array(borrowed_));
        g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        top_.reset(constructTop(parser.get()));
    }
    ~Parsed()
    {
        top_.reset();
        borrowed_->data = nullptr;
        borrowed_->len = 0;
        g_byte_array_free(borrowed_, TRUE);
    }
    Parsed(const Parsed&) = delete;
    Parsed& operator=(const Parsed&) = delete;
    GMimeObject* get() const { return top_.get(); }
    explicit operator bool() const { return bool(top_); }

private:
    GByteArray* borrowed_;
    GPtr<GMimeObject> top_;
};

} // namespace

// The bytes are held here, so the parse that borrows them can outlive the caller's copy. A
// message in a file is parsed from there and its parts stay there: GMime keeps where each one
// lies (a persistent stream) and reads it when it is written out.
class ParsedMessage {
public:
    explicit ParsedMessage(const QByteArray& raw) : raw_(raw), parsed_(std::make_unique<const Parsed>(raw_)) {}
    explicit ParsedMessage(std::shared_ptr<const SpoolFile> file) : file_(std::move(file))
    {
        ensureMimeReady();
        GPtr<GMimeStream> stream(g_mime_stream_fs_new_with_bounds(file_->fd(), 0, file_->size()));
        g_mime_stream_fs_set_owner(GMIME_STREAM_FS(stream.get()), FALSE);
        GPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
        g_mime_parser_set_persist_stream(parser.get(), TRUE);
        fromFile_.reset(constructTop(parser.get()));
    }
    GMimeObject* get() const { return parsed_ ? parsed_->get() : fromFile_.get(); }
    // The most bytes of one text part that are decoded, -1 for all: a message too big for
    // memory gives no more text than the store and the history window can use.
    qint64 textCap() const { return file_ ? kRawBodyShown : -1; }

private:
    const QByteArray raw_;
    const std::unique_ptr<const Parsed> parsed_;
    const std::shared_ptr<const SpoolFile> file_;
    GPtr<GMimeObject> fromFile_;
};

namespace {

// Offset of the first body byte and length of the header block.
void splitHeader(const QByteArray& raw, qsizetype& headerLength, qsizetype& bodyStart)
{
    if (raw.startsWith("\r\n")) { headerLength = 0; bodyStart = 2; return; }
    if (raw.startsWith("\n")) { headerLength = 0; bodyStart = 1; return; }
    // The first blank line, CR LF CR LF or LF LF, in one pass over the line ends: a body need
    // not be searched twice for a pattern it does not hold.
    const char* const d = raw.constData();
    const qsizetype n = raw.size();
    for (auto p = static_cast<const char*>(std::memchr(d, '\n', size_t(n))); p != nullptr;
         p = static_cast<const char*>(std::memchr(p + 1, '\n', size_t(d + n - p - 1)))) {
        const qsizetype i = p - d;
        if (i + 1 < n && d[i + 1] == '\n') { headerLength = i; bodyStart = i + 2; return; }
        if (i >= 1 && i + 2 < n && d[i - 1] == '\r' && d[i + 1] == '\r' && d[i + 2] == '\n') {
            headerLength = i - 1;
            bodyStart = i + 3;
            return;
        }
    }
    headerLength = raw.size();
    bodyStart = raw.size();
}

QByteArray rawHeaderValue(GMimeObject* object, const char* name)
{
    GMimeHeaderList* list = g_mime_object_get_header_list(object);
    if (!list)
        return {};
    GMimeHeader* header = g_mime_header_list_get_header(list, name);
    if (!header)
        return {};
    const char* raw = g_mime_header_get_raw_value(header);
    return raw ? QByteArray(raw) : QByteArray();
}

// At most cap bytes (-1: all) of what in gives, written to out; -1 when a stream failed.
ssize_t copyUpTo(GMimeStream* in, GMimeStream* out, qint64 cap)
{
    char buffer[16384];
    ssize_t total = 0;
    // A file's stream says -1 when read at its end: its end is asked first.
    while (total < cap && !g_mime_stream_eos(in)) {
        const ssize_t got = g_mime_stream_read(in, buffer, size_t(std::min<qint64>(sizeof buffer, cap - total)));
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        if (g_mime_stream_write(out, buffer, size_t(got)) != got)
            return -1;
        total += got;
    }
    return total;
}

// A part's content, decoded, written to out: all of it, or at least cap bytes when there are
// that many (cap -1: all); -1 when a stream failed. GMime's base64 decoder
// drops the last group of a body that lacks its final padding (an attachment of 1,000 bytes
// comes out as 999), so base64 is decoded here, a piece at a time: a group cut short by the
// end or by padding still gives the bytes its bits hold.
ssize_t writeContent(GMimeDataWrapper* wrapper, GMimeStream* out, qint64 cap = -1)
{
    const GMimeContentEncoding encoding = g_mime_data_wrapper_get_encoding(wrapper);
    if (encoding != GMIME_CONTENT_ENCODING_BASE64 && cap < 0)
        return g_mime_data_wrapper_write_to_stream(wrapper, out);
    GMimeStream* in = g_mime_data_wrapper_get_stream(wrapper);
    if (!in || g_mime_stream_reset(in) != 0)
        return -1;
    if (encoding != GMIME_CONTENT_ENCODING_BASE64) {
        // As GMime decodes it whole, but only as far as wanted.
        GPtr<GMimeStream> decoded(g_mime_stream_filter_new(in));
        if (encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE || encoding == GMIME_CONTENT_ENCODING_UUENCODE) {
            GMimeFilter* filter = g_mime_filter_basic_new(encoding, FALSE);
            g_mime_stream_filter_add(GMIME_STREAM_FILTER(decoded.get()), filter);
            g_object_unref(filter);
        }
        return copyUpTo(decoded.get(), out, cap);
    }
    static const auto rank = [] {
        std::array<qint8, 256> r;
        r.fill(-1);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; i < 64; ++i)
            r[static_cast<unsigned char>(alphabet[i])] = qint8(i);
        return r;
    }();
    char encoded[16384];
    unsigned char decoded[sizeof encoded / 4 * 3 + 3];
    quint32 bits = 0;
    int count = 0;
    ssize_t total = 0;
    const auto endGroup = [&](unsigned char*& d) {
        if (count >= 2)
            *d++ = static_cast<unsigned char>(bits >> (count == 2 ? 4 : 10));
        if (count == 3)
            *d++ = static_cast<unsigned char>(bits >> 2);
        bits = 0;
        count = 0;
    };
    const auto write = [&](const unsigned char* d, ssize_t n) {
        if (n == 0)
            return true;
        if (g_mime_stream_write(out, reinterpret_cast<const char*>(d), size_t(n)) != n)
            return false;
        total += n;
        return true;
    };
    while (!g_mime_stream_eos(in)) {
        const ssize_t got = g_mime_stream_read(in, encoded, sizeof encoded);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        unsigned char* d = decoded;
        for (ssize_t i = 0; i < got; ++i) {
            const unsigned char c = static_cast<unsigned char>(encoded[i]);
            if (c == '=') {
                endGroup(d);
                continue;
            }
            const int v = rank[c];
            if (v < 0)
                continue;
            bits = (bits << 6) | quint32(v);
            if (++count == 4) {
                *d++ = static_cast<unsigned char>(bits >> 16);
                *d++ = static_cast<unsigned char>(bits >> 8);
                *d++ = static_cast<unsigned char>(bits);
                bits = 0;
                count = 0;
            }
        }
        if (!write(decoded, d - decoded))
            return -1;
        if (cap >= 0 && total >= cap)
            return total;
    }
    unsigned char tail[3];
    unsigned char* d = tail;
    endGroup(d);
    return write(tail, d - tail) ? total : -1;
}

// A content that needs no decoding, where it lies in the message held in memory (the parse's
// streams are windows on it); nothing when it is encoded or read from a file.
std::optional<QByteArrayView> contentInPlace(GMimeDataWrapper* wrapper)
{
    switch (g_mime_data_wrapper_get_encoding(wrapper)) {
    case GMIME_CONTENT_ENCODING_DEFAULT:
    case GMIME_CONTENT_ENCODING_7BIT:
    case GMIME_CONTENT_ENCODING_8BIT:
    case GMIME_CONTENT_ENCODING_BINARY:
        break;
    default:
        return std::nullopt;
    }
    GMimeStream* stream = g_mime_data_wrapper_get_stream(wrapper);
    if (!stream || !GMIME_IS_STREAM_MEM(stream))
        return std::nullopt;
    const GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(stream));
    if (!bytes)
        return std::nullopt;
    const gint64 start = stream->bound_start;
    const gint64 end = stream->bound_end < 0 ? gint64(bytes->len) : stream->bound_end;
    if (start < 0 || end < start || end > gint64(bytes->len))
        return std::nullopt;
    return QByteArrayView(reinterpret_cast<const char*>(bytes->data) + start, qsizetype(end - start));
}

// The decoded content; past cap bytes (cap -1: none) it is cut at the last line end before. A
// content that needs no decoding is not copied: the bytes are the parse's, as long as it lives.
QByteArray decodedContent(GMimePart* part, qint64 cap = -1)
{
    GMimeDataWrapper* wrapper = g_mime_part_get_content(part);
    if (!wrapper)
        return {};
    QByteArray content;
    if (const auto inPlace = contentInPlace(wrapper)) {
        const qsizetype wanted = cap < 0 ? inPlace->size() : qsizetype(std::min<qint64>(inPlace->size(), cap + 1));
        content = QByteArray::fromRawData(inPlace->data(), wanted);
    } else {
        GPtr<GMimeStream> out(g_mime_stream_mem_new());
        writeContent(wrapper, out.get(), cap < 0 ? -1 : cap + 1);
        GByteArray* bytes = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(out.get()));
        content = QByteArray(reinterpret_cast<const char*>(bytes->data), qsizetype(bytes->len));
    }
    if (cap >= 0 && content.size() > cap) {
        const qsizetype lineEnd = content.lastIndexOf('\n', qsizetype(cap) - 1);
        content.truncate(lineEnd > 0 ? lineEnd + 1 : qsizetype(cap));
    }
    return content;
}

QString partText(GMimePart* part, qint64 cap = -1)
{
    const char* charset = g_mime_object_get_content_type_parameter(GMIME_OBJECT(part), "charset");
    return toCrLf(decodeCharset(decodedContent(part, cap), charset ? QByteArray(charset) : QByteArray()));
}

bool hasType(GMimeObject* object, const char* type, const char* subtype)
{
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    return ct && g_mime_content_type_is_type(ct, type, subtype);
}

bool isAttachmentDisposition(GMimeObject* object)
{
    GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
    return d && g_mime_content_disposition_is_attachment(d);
}

// The parameters of a raw Content-Type or Content-Disposition value, names in lower case.
std::vector<std::pair<QByteArray, QByteArray>> rawParameters(const QByteArray& value)
{
    std::vector<std::pair<QByteArray, QByteArray>> out;
    QByteArray flat = value;
    flat.replace("\r", "").replace("\n", "");
    qsizetype i = flat.indexOf(';');
    while (i >= 0 && i < flat.size()) {
        ++i;
        while (i < flat.size() && (flat[i] == ' ' || flat[i] == '\t' || flat[i] == ';'))
            ++i;
        const qsizetype eq = flat.indexOf('=', i);
        if (eq < 0)
            break;
        const QByteArray name = flat.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        while (i < flat.size() && (flat[i] == ' ' || flat[i] == '\t'))
            ++i;
        QByteArray v;
        if (i < flat.size() && flat[i] == '"') {
            for (++i; i < flat.size() && flat[i] != '"'; ++i) {
                if (flat[i] == '\\' && i + 1 < flat.size())
                    ++i;
                v.append(flat[i]);
            }
            i = flat.indexOf(';', i);
        } else {
            const qsizetype end = flat.indexOf(';', i);
            v = flat.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end;
        }
        out.emplace_back(name, v);
    }
    return out;
}

QByteArray percentDecoded(const QByteArray& text)
{
    return QByteArray::fromPercentEncoding(text);
}

// A file name parameter read with this room's own charset tables: RFC 2231 (also split into
// numbered pieces), RFC 2047 inside quotes as many mailers write it, or raw 8-bit bytes.
QString rawParameter(GMimeObject* object, const char* header, const QByteArray& key)
{
    const auto params = rawParameters(rawHeaderValue(object, header));
    auto find = [&](const QByteArray& name) -> const QByteArray* {
        for (const auto& [n, v] : params)
            if (n == name)
                return &v;
        return nullptr;
    };
    auto extended = [](const QByteArray& v) {
        const qsizetype first = v.indexOf('\'');
        const qsizetype second = first < 0 ? -1 : v.indexOf('\'', first + 1);
        if (second < 0)
            return decodeUnlabelled(percentDecoded(v));
        return decodeCharset(percentDecoded(v.mid(second + 1)), v.left(first));
    };
    if (const QByteArray* v = find(key + '*'))
        return extended(*v);
    if (find(key + "*0*") || find(key + "*0")) {
        QByteArray charset, bytes;
        for (int n = 0; n < 100; ++n) {
            const QByteArray base = key + '*' + QByteArray::number(n);
            if (const QByteArray* v = find(base + '*')) {
                QByteArray piece = *v;
                if (n == 0) {
                    const qsizetype first = piece.indexOf('\'');
                    const qsizetype second = first < 0 ? -1 : piece.indexOf('\'', first + 1);
                    if (second >= 0) {
                        charset = piece.left(first);
                        piece = piece.mid(second + 1);
                    }
                }
                bytes += percentDecoded(piece);
            } else if (const QByteArray* plain = find(base)) {
                bytes += *plain;
            } else {
                break;
            }
        }
        return charset.isEmpty() ? decodeUnlabelled(bytes) : decodeCharset(bytes, charset);
    }
    if (const QByteArray* v = find(key))
        return decodeHeaderText(*v);
    return {};
}

QString suggestedName(GMimeObject* object)
{
    if (const QString d = rawParameter(object, "Content-Disposition", "filename"); !d.isEmpty())
        return d;
    if (const QString t = rawParameter(object, "Content-Type", "name"); !t.isEmpty())
        return t;
    const char* name = nullptr;
    if (GMIME_IS_PART(object))
        name = g_mime_part_get_filename(GMIME_PART(object));
    if (!name) {
        GMimeContentDisposition* d = g_mime_object_get_content_disposition(object);
        if (d)
            name = g_mime_content_disposition_get_parameter(d, "filename");
    }
    if (!name)
        name = g_mime_object_get_content_type_parameter(object, "name");
    return name ? decodeHeaderText(QByteArray(name)) : QString();
}

struct Walk {
    qint64 textCap = -1; // see ParsedMessage::textCap
    QStringList plain;
    QStringList html;
    // A part lies deeper than the walk goes.
    bool stoppedInside = false;
    // Written out one by one, straight from the parsed message.
    struct Attachment {
        QString name;
        GMimeObject* object; // a part, or the message inside a message part
    };
    std::vector<Attachment> attachments;
};

QString nameForType(GMimeObject* object)
{
    GMimeContentType* ct = g_mime_object_get_content_type(object);
    QString suffix;
    if (ct) {
        gchar* mime = g_mime_content_type_get_mime_type(ct);
        const QMimeType type = QMimeDatabase().mimeTypeForName(QString::fromUtf8(mime));
        g_free(mime);
        suffix = type.preferredSuffix();
    }
    return suffix.isEmpty() ? QStringLiteral("attachment") : QStringLiteral("attachment.") + suffix;
}

void walk(GMimeObject* object, Walk& w, bool inAlternative, int depth)
{
    if (!object)
        return;
    if (depth > kMaxDepth) {
        w.stoppedInside = true;
        return;
    }
    if (GMIME_IS_MULTIPART(object)) {
        GMimeMultipart* mp = GMIME_MULTIPART(object);
        const bool alternative = hasType(object, "multipart", "alternative");
        const int count = g_mime_multipart_get_count(mp);
        for (int i = 0; i < count; ++i)
            walk(g_mime_multipart_get_part(mp, i), w, alternative || inAlternative, depth + 1);
        return;
    }
    if (GMIME_IS_MESSAGE_PART(object)) {
        GMimeMessage* inner = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
        QString name = suggestedName(object);
        if (inner) {
            if (name.isEmpty()) {
                const QString subject = decodeHeaderText(rawHeaderValue(GMIME_OBJECT(inner), "Subject")).trimmed();
                name = (subject.isEmpty() ? QStringLiteral("message") : subject) + QStringLiteral(".eml");
            }
        }
        if (name.isEmpty())
            name = QStringLiteral("message.eml");
        w.attachments.push_back({name, inner ? GMIME_OBJECT(inner) : nullptr});
        return;
    }
    if (!GMIME_IS_PART(object))
        return;
    GMimePart* part = GMIME_PART(object);
    const QString name = suggestedName(object);
    const bool text = hasType(object, "text", "plain") || hasType(object, "text", "html");
    const bool attached = !name.isEmpty() || isAttachmentDisposition(object);
    // A text file sent alone is also the message's text.
    if (text && (!attached || depth == 0)) {
        if (hasType(object, "text", "html"))
            w.html << partText(part, w.textCap);
        else
            w.plain << partText(part, w.textCap);
    }
    Q_UNUSED(inAlternative);
    if (!text || attached)
        w.attachments.push_back({name.isEmpty() ? nameForType(object) : name, object});
}

QString bodyOf(const Walk& w)
{
    if (!w.plain.isEmpty())
        return w.plain.join(QStringLiteral("\r\n"));
    if (!w.html.isEmpty())
        return toCrLf(htmlToText(w.html.first()));
    return {};
}

// Anything at the name, a link to nowhere included: one lstat.
bool taken(const QString& path)
{
    struct stat st;
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The name itself when free, else "base (n)suffix" with a free n found by doubling and then
// halving: a few dozen look-ups however many copies the folder holds, and never a dead end.
QString freePath(const QString& folder, const QString& name, const QString& base, const QString& suffix)
{
    const auto path = [&](qint64 n) {
        return folder + QLatin1Char('/')
               + (n == 1 ? name : QStringLiteral("%1 (%2)%3").arg(base).arg(n).arg(suffix));
    };
    if (!taken(path(1)))
        return path(1);
    qint64 low = 1, high = 2; // low is taken, high is the candidate
    while (taken(path(high))) {
        low = high;
        high *= 2;
    }
    while (high - low > 1) {
        const qint64 middle = low + (high - low) / 2;
        (taken(path(middle)) ? low : high) = middle;
    }
    return path(high);
}

// What goes into an attachment's file: a part's decoded content, or a whole inner message,
// written as GMime decodes it, a piece at a time.
bool writeAttachment(GMimeObject* object, int fd)
{
    // GMime's file stream syncs the file to disk when flushed, and the caller syncs it once
    // more: the pipe stream writes the same bytes and leaves the one sync to the caller.
    GPtr<GMimeStream> out(g_mime_stream_pipe_new(fd));
    g_mime_stream_pipe_set_owner(GMIME_STREAM_PIPE(out.get()), FALSE);
    ssize_t written = 0;
    if (object && GMIME_IS_PART(object)) {
        if (GMimeDataWrapper* wrapper = g_mime_part_get_content(GMIME_PART(object)))
            written = writeContent(wrapper, out.get());
    } else if (object) {
        written = g_mime_object_write_to_stream(object, nullptr, out.get());
    }
    return written >= 0 && g_mime_stream_flush(out.get()) == 0;
}

// Writes a new file in folder, flushed to disk; an existing file is never replaced.
int saveNew(const QString& folder, const QString& suggested, GMimeObject* content, QString& written)
{
    const QString name = safeFileName(suggested);
    const QFileInfo info(name);
    const QString base = info.completeBaseName().isEmpty() ? name : info.completeBaseName();
    const QString suffix = info.completeBaseName().isEmpty() || info.suffix().isEmpty()
                               ? QString()
                               : QStringLiteral(".") + info.suffix();
    // The name itself is tried first: it is mostly free, and a new-only open says so without a
    // look of its own.
    for (bool first = true;; first = false) {
        const QString path = first ? folder + QLatin1Char('/') + name : freePath(folder, name, base, suffix);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (taken(path))
                continue; // taken already, or meanwhile
            return -5;
        }
        if (!writeAttachment(content, file.handle()) || ::fsync(file.handle()) != 0) {
            file.close();
            file.remove();
            return -5;
        }
        file.close();
        written = path;
        return 1;
    }
}

Extraction extractFrom(GMimeObject* top, const QString& folder, int depth, qint64 textCap = -1);

Extraction extractPartial(GMimeMessagePartial* partial, const QString& folder, int depth)
{
    Extraction e;
    const char* id = g_mime_message_partial_get_id(partial);
    const int number = g_mime_message_partial_get_number(partial);
    const int total = g_mime_message_partial_get_total(partial);
    if (!id || number < 1 || number > kMaxPartialFragments || total > kMaxPartialFragments
        || (total > 0 && number > total)) {
        e.result = -6;
        return e;
    }
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray(id), QCryptographicHash::Sha1).toHex());
    QDir store(folder + QStringLiteral("/.partial/") + key);
    if (!store.mkpath(QStringLiteral("."))) {
        e.result = -5;
        return e;
    }
    {
        // The fragment as a message of its own: its content is what reassembly joins.
        const QByteArray fragment = decodedContent(GMIME_PART(partial));
        // Never written through a link found at the name.
        if (!hm::writeFileAtomically(store.filePath(QString::number(number)), fragment, true)) {
            e.result = -5;
            return e;
        }
    }
    if (total > 0)
        hm::writeFileAtomically(store.filePath(QStringLiteral("total")), QByteArray::number(total), true);
    int known = 0;
    {
        QFile f(store.filePath(QStringLiteral("total")));
        if (f.open(QIODevice::ReadOnly))
            known = f.readAll().trimmed().toInt();
    }
    if (known < 1 || known > kMaxPartialFragments) {
        e.result = -6;
        return e;
    }
    QByteArray whole;
    for (int i = 1; i <= known; ++i) {
        QFile f(store.filePath(QString::number(i)));
        if (!f.open(QIODevice::ReadOnly)) {
            e.result = -6;
            return e;
        }
        whole += f.readAll();
    }
    Parsed rebuilt(whole);
    if (!rebuilt) {
        e.result = -6;
        return e;
    }
    e = extractFrom(rebuilt.get(), folder, depth + 1);
    // The fragments are the only whole copy of a message that was not taken apart to its end.
    if (e.result >= 0 && !e.stoppedInside)
        store.removeRecursively();
    return e;
}

Extraction extractFrom(GMimeObject* top, const QString& folder, int depth, qint64 textCap)
{
    Extraction e;
    if (!top)
        return e;
    if (depth > 4) {
        e.stoppedInside = true;
        return e;
    }
    if (GMIME_IS_MESSAGE_PARTIAL(top))
        return extractPartial(GMIME_MESSAGE_PARTIAL(top), folder, depth);
    Walk w;
    w.textCap = textCap;
    walk(top, w, false, 0);
    e.body = bodyOf(w);
    e.bodyFound = !w.plain.isEmpty() || !w.html.isEmpty();
    e.stoppedInside = w.stoppedInside;
    for (const auto& a : w.attachments) {
        QString written;
        if (saveNew(folder, a.name, a.object, written) < 0) {
            // All of a message's attachments or none: what was written goes again.
            for (const QString& path : std::as_const(e.saved))
                QFile::remove(path);
            e.saved.clear();
            e.result = -5;
            return e;
        }
        e.saved << written;
        e.result = 1;
    }
    return e;
}

} // namespace

void ensureMimeReady()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}


namespace {

HeaderSummary summaryOf(const QByteArray& raw, qsizetype headerLength, GMimeObject* object)
{
    HeaderSummary s;
    s.header = toCrLf(decodeUnlabelled(raw.left(headerLength)));
    if (!object)
        return s;
    s.subject = decodeHeaderText(rawHeaderValue(object, "Subject")).trimmed();
    s.date = decodeUnlabelled(rawHeaderValue(object, "Date")).simplified();
    s.from = decodeHeaderText(rawHeaderValue(object, "From")).trimmed();
    return s;
}

// head: the message's first bytes (all of it when it is in memory); total: its size.
QString bodyOfDownload(const QByteArray& head, qint64 total, qsizetype bodyStart, const ParsedMessage& parsed,
                       HtmlBody html, bool& isHtml)
{
    GMimeObject* top = parsed.get();
    if (top && GMIME_IS_PART(top) && !GMIME_IS_MESSAGE_PARTIAL(top) && hasType(top, "text", "*")) {
        const QString text = partText(GMIME_PART(top), parsed.textCap());
        if (!hasType(top, "text", "html"))
            return text;
        isHtml = html == HtmlBody::AsHtml;
        return isHtml ? text : toCrLf(htmlToText(text));
    }
    // The MIME text stands in only until the attachment call finds the readable text; a big
    // file need not be held as text beside its bytes. Cut at a line end.
    qint64 length = total - bodyStart;
    if (length > kRawBodyShown) {
        const qsizetype lineEnd = head.lastIndexOf('\n', std::min<qsizetype>(head.size(), bodyStart + kRawBodyShown) - 1);
        length = lineEnd > bodyStart ? lineEnd + 1 - bodyStart : kRawBodyShown;
    }
    length = std::min<qint64>(length, head.size() - bodyStart);
    return toCrLf(decodeUnlabelled(QByteArray::fromRawData(head.constData() + bodyStart, qsizetype(length))));
}

bool singleTextPart(GMimeObject* top)
{
    return !top || (GMIME_IS_PART(top) && !GMIME_IS_MESSAGE_PARTIAL(top) && hasType(top, "text", "*")
                    && suggestedName(top).isEmpty() && !isAttachmentDisposition(top));
}

Downloaded downloaded(const QByteArray& head, qint64 total, std::shared_ptr<const ParsedMessage> message, HtmlBody html)
{
    qsizetype headerLength = 0, bodyStart = 0;
    splitHeader(head, headerLength, bodyStart);
    // A header block without end in the first bytes of a message read from a file: as much of
    // it as is shown of a body.
    if (total > head.size() && headerLength > kRawBodyShown)
        headerLength = std::max<qsizetype>(0, head.lastIndexOf('\n', kRawBodyShown - 1));
    Downloaded d;
    d.summary = summaryOf(head, headerLength, message->get());
    d.body = bodyOfDownload(head, total, bodyStart, *message, html, d.bodyIsHtml);
    d.singleText = singleTextPart(message->get());
    if (!d.singleText)
        d.message = std::move(message);
    return d;
}

} // namespace

Downloaded readDownloaded(const QByteArray& raw, HtmlBody html)
{
    return downloaded(raw, raw.size(), std::make_shared<const ParsedMessage>(raw), html);
}

Downloaded readDownloaded(std::shared_ptr<const SpoolFile> file, HtmlBody html)
{
    // The header and the MIME text shown come from the first bytes; the rest stays in the file.
    const QByteArray head = file->read(0, 2 * kRawBodyShown);
    const qint64 total = file->size();
    return downloaded(head, total, std::make_shared<const ParsedMessage>(std::move(file)), html);
}

ReadableMessage readableMessage(const QByteArray& raw)
{
    qsizetype headerLength = 0, bodyStart = 0;
    splitHeader(raw, headerLength, bodyStart);
    const Parsed message(raw);
    ReadableMessage r;
    r.summary = summaryOf(raw, headerLength, message.get());
    if (message.get())
        r.to = decodeHeaderText(rawHeaderValue(GMIME_OBJECT(message.get()), "To")).trimmed();
    Walk w;
    walk(message.get(), w, false, 0);
    r.body = bodyOf(w);
    return r;
}

bool isSingleTextPart(const QByteArray& raw)
{
    const Parsed message(raw);
    return singleTextPart(message.get());
}

Extraction extractAttachments(const QByteArray& raw, const QString& folder)
{
    const Parsed message(raw);
    return extractFrom(message.get(), folder, 0);
}

Extraction extractAttachments(const ParsedMessage& message, const QString& folder)
{
    return extractFrom(message.get(), folder, 0, message.textCap());
}

QString safeFileName(const QString& suggested)
{
    QString name = suggested;
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.size() >= 2 && name[1] == QLatin1Char(':') && name[0].isLetter())
        name = name.mid(2);
    QString clean;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F || (c.unicode() >= 0x80 && c.unicode() < 0xA0))
            continue;
        if (QStringLiteral("<>:\"|?*/").contains(c))
            clean += QLatin1Char('_');
        else
            clean += c;
    }
    // Leading dots would hide the file or climb out of the folder; Windows drops trailing ones.
    while (!clean.isEmpty() && (clean.front() == QLatin1Char('.') || clean.front().isSpace()))
        clean.remove(0, 1);
    while (!clean.isEmpty() && (clean.back() == QLatin1Char('.') || clean.back().isSpace()))
        clean.chop(1);
    if (clean.isEmpty())
        clean = QStringLiteral("attachment");
    static const QRegularExpression reserved(
        QStringLiteral("^(CON|PRN|AUX|NUL|COM[0-9]|LPT[0-9]|CONIN\\$|CONOUT\\$)(\\..*)?$"),
        QRegularExpression::CaseInsensitiveOption);
    if (reserved.match(clean).hasMatch())
        clean.prepend(QLatin1Char('_'));
    // Keep the name within what file systems take, extension included.
    while (clean.toUtf8().size() > 200) {
        const qsizetype dot = clean.lastIndexOf(QLatin1Char('.'));
        const qsizetype cut = dot > 0 && clean.size() - dot <= 16 ? dot - 1 : clean.size() - 1;
        clean.remove(cut, 1);
    }
    return clean;
}

QString htmlToText(const QString& html)
{
    // Qt's own reader: tags, style, script and comments go, entities are decoded, blocks, line
    // breaks, table rows and list items end lines, and a no-break space becomes a space.
    QString text = QTextDocumentFragment::fromHtml(html).toPlainText();
    text.remove(QChar::ObjectReplacementCharacter); // pictures
    static const QRegularExpression blankRun(QStringLiteral("\\n{3,}"));
    text.replace(blankRun, QStringLiteral("\n\n"));
    return text.trimmed();
}

} // namespace hm::mail
