#pragma once
#include <QByteArray>
#include <QString>

namespace hm {

enum class Protocol { Pop3, Smtp };

// Where and how to connect, from what the user typed: "host", "host:port",
// "pop3s://host[:port]", "smtp://host:587", "[::1]:110".
struct ServerAddress {
    QString host;
    int port = 0;
    bool implicitTls = false;
    bool explicitPlain = false; // "pop3://", "smtp://": the user allows plain text
    Protocol protocol = Protocol::Pop3;
    QByteArray url() const; // scheme://host:port
};

bool parseServer(const QString& text, Protocol protocol, ServerAddress& out);
// The message for a text parseServer refuses, the same wherever the server is typed or used.
QString serverProblem(const QString& text, Protocol protocol);

} // namespace hm
