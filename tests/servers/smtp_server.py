"""SMTP server for the tests and the demo: aiosmtpd delivering every message into one Maildir.

Run with /usr/bin/python3 (Debian's aiosmtpd lives there). Offers STARTTLS on the plain port,
implicit TLS on the second port, and AUTH PLAIN/LOGIN without requiring it; a client that
authenticates with wrong credentials is refused, so a client's use of AUTH can be observed.
With --auth-url it also offers XOAUTH2 and OAUTHBEARER (RFC 7628), asking the test
authorization server (auth_server.py) whether the bearer token is active and whose it is.
A sender or recipient at the domain refused.invalid is refused, as Postfix here refuses it.
"""
import argparse
import os
import signal
import ssl
import sys
import threading
import time
import json
import urllib.parse
import urllib.request
from base64 import b64decode

from aiosmtpd.controller import Controller
from aiosmtpd.smtp import AuthResult, LoginPassword, auth_mechanism

REFUSED_DOMAIN = "@refused.invalid"


class MaildirDelivery:
    def __init__(self, maildir, uid, gid, log, bearer=None):
        self.bearer = bearer
        self.maildir = maildir
        self.uid = uid
        self.gid = gid
        self.log = log
        self.counter = 0
        self.lock = threading.Lock()

    @auth_mechanism("XOAUTH2")
    async def auth_XOAUTH2(self, server, args):
        if self.bearer is None:
            return AuthResult(success=False, handled=False)
        return await self.bearer.check(server, args, "XOAUTH2")

    @auth_mechanism("OAUTHBEARER")
    async def auth_OAUTHBEARER(self, server, args):
        if self.bearer is None:
            return AuthResult(success=False, handled=False)
        return await self.bearer.check(server, args, "OAUTHBEARER")

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        # One line per EHLO (twice on a connection that turns to TLS), naming the client's port.
        session.host_name = hostname
        self.log.write("ehlo peer=%s:%d\n" % (session.peer[0], session.peer[1]))
        self.log.flush()
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if address.lower().endswith(REFUSED_DOMAIN):
            return "550 5.7.1 <%s>: Sender address rejected" % address
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address.lower().endswith(REFUSED_DOMAIN):
            return "550 5.1.1 <%s>: Recipient address rejected" % address
        envelope.rcpt_tos.append(address)
        envelope.rcpt_options.extend(rcpt_options)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.counter += 1
            name = "%d.M%dP%d.hmsmtp" % (int(time.time()), self.counter, os.getpid())
        data = envelope.original_content or envelope.content
        if isinstance(data, str):
            data = data.encode("utf-8", "surrogateescape")
        # A Return-Path line, as a delivering MTA would add; the rest is kept byte for byte.
        head = b"Return-Path: <" + envelope.mail_from.encode("utf-8", "replace") + b">\r\n"
        tmp = os.path.join(self.maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(head + data)
            f.flush()
            os.fsync(f.fileno())
        if self.uid is not None:
            os.chown(tmp, self.uid, self.gid)
        os.rename(tmp, os.path.join(self.maildir, "new", name))
        self.log.write("delivered %s from=%s to=%s bytes=%d\n" % (
            name, envelope.mail_from, ",".join(envelope.rcpt_tos), len(data)))
        self.log.flush()
        return "250 Message accepted for delivery"


class BearerAuth:
    """XOAUTH2 and OAUTHBEARER, with or without the initial response (RFC 4954)."""

    def __init__(self, auth_url, log):
        self.auth_url = auth_url
        self.log = log

    def token_user(self, token):
        data = urllib.parse.urlencode({"token": token}).encode()
        with urllib.request.urlopen(self.auth_url + "/introspect", data, timeout=5) as r:
            answer = json.load(r)
        return answer.get("username") if answer.get("active") else None

    async def check(self, server, args, mechanism):
        if len(args) < 2:
            raw = await server.challenge_auth("")
            if not isinstance(raw, bytes):
                return AuthResult(success=False, handled=True)
        else:
            try:
                raw = b64decode(args[1], validate=True)
            except Exception:
                return AuthResult(success=False, handled=False)
        blob = raw.decode("utf-8", "replace")
        fields = [f for f in blob.split("\x01") if f]
        user = token = None
        for field in fields:
            if field.startswith("user="):
                user = field[5:]
            elif field.startswith("n,"):  # OAUTHBEARER's GS2 header: n,a=user,
                for part in field.split(","):
                    if part.startswith("a="):
                        user = part[2:]
            elif field.startswith("auth=Bearer "):
                token = field[len("auth=Bearer "):]
        owner = self.token_user(token) if token else None
        ok = owner is not None and owner == user
        self.log.write("auth %s %s\n" % (mechanism, "ok" if ok else "refused"))
        self.log.flush()
        return AuthResult(success=ok, handled=False)


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode()
        self.password = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        if isinstance(auth_data, LoginPassword):
            ok = auth_data.login == self.user and auth_data.password == self.password
            return AuthResult(success=ok, handled=False)
        return AuthResult(success=False, handled=False)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--tls-port", type=int, required=True)
    p.add_argument("--maildir", required=True)
    p.add_argument("--cert", required=True)
    p.add_argument("--key", required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--password", required=True)
    p.add_argument("--uid", type=int)
    p.add_argument("--gid", type=int)
    p.add_argument("--log", required=True)
    p.add_argument("--pidfile", required=True)
    p.add_argument("--listen", default="127.0.0.1", help="'*' for every address")
    p.add_argument("--tls", default="yes", help="'no' for neither STARTTLS nor the TLS port")
    p.add_argument("--auth-url", help="the test authorization server, for XOAUTH2 and OAUTHBEARER")
    p.add_argument("--idle-timeout", type=float, default=300, help="seconds before an idle client is dropped")
    a = p.parse_args()

    log = open(a.log, "a", buffering=1)
    ctx = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    ctx.load_cert_chain(a.cert, a.key)
    bearer = BearerAuth(a.auth_url, log) if a.auth_url else None
    handler = MaildirDelivery(a.maildir, a.uid, a.gid, log, bearer)
    common = dict(auth_required=False, auth_require_tls=False,
                  authenticator=Authenticator(a.user, a.password),
                  ident="HayateMail test SMTP", data_size_limit=128 * 1024 * 1024,
                  timeout=a.idle_timeout,
                  auth_exclude_mechanism=[] if bearer else ["XOAUTH2", "OAUTHBEARER"])
    host = "0.0.0.0" if a.listen == "*" else a.listen
    tls = a.tls != "no"
    plain = Controller(handler, hostname=host, port=a.port,
                       tls_context=ctx if tls else None, require_starttls=False, **common)
    servers = [plain]
    if tls:
        servers.append(Controller(handler, hostname=host, port=a.tls_port, ssl_context=ctx, **common))
    for server in servers:
        server.start()
    with open(a.pidfile, "w") as f:
        f.write("%d\n" % os.getpid())
    log.write("listening on %d (STARTTLS) and %d (TLS)\n" % (a.port, a.tls_port))

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(1):
        pass
    for server in servers:
        server.stop()
    log.write("stopped\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
