#include "common/server_address.h"

#include <QRegularExpression>

namespace hm {

QByteArray ServerAddress::url() const
{
    QString scheme = protocol == Protocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    if (implicitTls)
        scheme += QLatin1Char('s');
    const QString h = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return (scheme + QLatin1String("://") + h + QLatin1Char(':') + QString::number(port)).toUtf8();
}

bool parseServer(const QString& text, Protocol protocol, ServerAddress& out)
{
    QString t = text.trimmed();
    const qsizetype nul = t.indexOf(QChar(0));
    if (nul >= 0)
        t.truncate(nul);
    t = t.trimmed();
    out = ServerAddress{};
    const QString plainScheme = protocol == Protocol::Pop3 ? QStringLiteral("pop3") : QStringLiteral("smtp");
    const QString tlsScheme = plainScheme + QLatin1Char('s');
    const qsizetype sep = t.indexOf(QLatin1String("://"));
    if (sep >= 0) {
        const QString scheme = t.left(sep).toLower();
        if (scheme == tlsScheme)
            out.implicitTls = true;
        else if (scheme == plainScheme)
            out.explicitPlain = true;
        else
            return false;
        t = t.mid(sep + 3);
        if (t.endsWith(QLatin1Char('/')))
            t.chop(1);
    }
    QString host = t;
    QString portText;
    if (t.startsWith(QLatin1Char('['))) {
        const qsizetype close = t.indexOf(QLatin1Char(']'));
        if (close < 0)
            return false;
        host = t.mid(1, close - 1);
        const QString rest = t.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return false;
            portText = rest.mid(1);
        }
    } else if (t.count(QLatin1Char(':')) == 1) {
        host = t.section(QLatin1Char(':'), 0, 0);
        portText = t.section(QLatin1Char(':'), 1);
    }
    static const QRegularExpression hostChars(QStringLiteral("^[A-Za-z0-9._:\\-]+$"));
    if (host.isEmpty() || !hostChars.match(host).hasMatch())
        return false;
    if (host.startsWith(QLatin1Char('-')) || host.startsWith(QLatin1Char('.')))
        return false;
    if (!portText.isNull()) {
        bool ok = false;
        const int port = portText.toInt(&ok);
        if (!ok || port < 1 || port > 65535)
            return false;
        out.port = port;
    } else if (protocol == Protocol::Pop3) {
        out.port = out.implicitTls ? 995 : 110;
    } else {
        out.port = out.implicitTls ? 465 : 25;
    }
    out.host = host;
    out.protocol = protocol;
    return true;
}

QString serverProblem(const QString& text, Protocol protocol)
{
    return QStringLiteral("%1 サーバー名「%2」は正しくありません。半角英数字の名前と、1～65535 のポート番号で書いて下さい。")
        .arg(protocol == Protocol::Pop3 ? QStringLiteral("POP3") : QStringLiteral("SMTP"),
             text.section(QChar(0), 0, 0).trimmed());
}

} // namespace hm
