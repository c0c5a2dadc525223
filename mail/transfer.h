#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

#include "common/server_address.h"
#include "mail/mail_error.h"

#include <curl/curl.h>

namespace hm::mail {

using hm::parseServer;
using hm::Protocol;
using hm::ServerAddress;

// parseServer for what the user typed: a text that cannot name a server gives the problem
// saying so, the same for POP3 and SMTP.
bool acceptServer(const QString& text, Protocol protocol, ServerAddress& out, MailError& problem);

// Settings shared by the POP3 and SMTP transfers.
struct TransferSettings {
    int connectTimeout;
    int idleTimeout;
    int slowRate; // bytes a second
    int slowTime; // seconds
};
TransferSettings& settings();

// A curl handle set up with timeouts, TLS verification (the system store, or SSL_CERT_FILE as
// OpenSSL tools read it) and a log of the server's replies, for error texts.
struct ReplyLog {
    QByteArray greeting;   // first line the server sent
    QByteArray lastReply;  // last line the server sent
    QByteArray lastError;  // last line that was an error reply
    bool offersUidl = false;       // a POP3 capability line "UIDL"
    bool offersPipelining = false; // a POP3 capability line "PIPELINING" (RFC 2449)
    // The first words of the SMTP "250" lines since the last 220 (the EHLO after STARTTLS names
    // the extensions anew), upper-case: "PIPELINING", "SIZE", …
    QList<QByteArray> smtpExtensions;
    CURL* curl = nullptr;
    // The OpenSSL session curl's login ran over (an SSL*), null without TLS: curl tells it only
    // while a transfer runs, and the wire that takes the connection over reads ahead on it.
    void* openSsl = nullptr;
};
// Every option but the TLS use is set; that one assumes the password goes out (useTls).
void configureHandle(CURL* curl, const ServerAddress& address, Protocol protocol, ReplyLog* log);

// How TLS is used: implicit TLS for "pop3s://", "smtps://"; otherwise STARTTLS where offered,
// but a password that would cross the network readable (plain login, SMTP AUTH) goes to a
// server on another machine only over TLS, unless the user wrote the plain scheme.
void useTls(CURL* curl, const ServerAddress& address, bool passwordInClear);
bool isLoopback(const QString& host);

// The access token set by NMailSetAccessToken; empty when logins use the password.
const QByteArray& accessToken();
// curl's connect phase logs in as user with the access token: OAUTHBEARER or XOAUTH2, whichever
// the server offers, never a plain login. The token crosses the network as a password does.
void useAccessToken(CURL* curl, const ServerAddress& address, const QByteArray& user);

} // namespace hm::mail
