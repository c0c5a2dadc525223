"""OAuth 2.0 authorization server for the tests and the demo (RFC 6749, PKCE S256 of RFC 7636).

/authorize approves at once, as a user who has signed in would, and redirects to the loopback
redirect URI with a code; /token exchanges a code (checking the PKCE verifier and the redirect
URI) or a refresh token for an access token; /introspect answers Dovecot's oauth2 passdb and
the SMTP server (RFC 7662). /control lets a test expire every access token, revoke every refresh
token, set how long the next access tokens live, or be issued a token pair straight away. No token is ever written to the log.
"""
import argparse
import base64
import hashlib
import json
import os
import secrets
import signal
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


class Tokens:
    def __init__(self, user, lifetime):
        self.user = user
        self.lifetime = lifetime
        self.lock = threading.Lock()
        self.codes = {}    # code -> (client_id, redirect_uri, challenge)
        self.access = {}   # token -> (user, expires_at)
        self.refresh = {}  # token -> user; revoked ones are dropped

    def issue(self, user, refresh_token=None):
        access = secrets.token_urlsafe(24)
        self.access[access] = (user, time.time() + self.lifetime)
        if refresh_token is None:
            refresh_token = secrets.token_urlsafe(24)
            self.refresh[refresh_token] = user
        return {"access_token": access, "token_type": "Bearer", "expires_in": self.lifetime,
                "refresh_token": refresh_token}


class Handler(BaseHTTPRequestHandler):
    server_version = "HayateMailTestAuth/1"

    def log_message(self, fmt, *args):
        # The request line carries codes, never tokens; the path alone is enough.
        self.server.log.write("%s %s\n" % (self.command, self.path.split("?")[0]))
        self.server.log.flush()

    def reply(self, status, body, headers=()):
        data = json.dumps(body).encode() if body is not None else b""
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        if body is not None:
            self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def form(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length).decode()
        return {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path != "/authorize":
            return self.reply(404, {"error": "not_found"})
        q = {k: v[0] for k, v in urllib.parse.parse_qs(url.query).items()}
        redirect = q.get("redirect_uri", "")
        if not redirect.startswith("http://127.0.0.1:") or q.get("response_type") != "code":
            return self.reply(400, {"error": "invalid_request"})
        if q.get("code_challenge_method") != "S256" or not q.get("code_challenge"):
            return self.reply(400, {"error": "invalid_request", "error_description": "PKCE S256 required"})
        code = secrets.token_urlsafe(16)
        t = self.server.tokens
        with t.lock:
            t.codes[code] = (q.get("client_id", ""), redirect, q["code_challenge"])
        params = {"code": code}
        if "state" in q:
            params["state"] = q["state"]
        sep = "&" if "?" in redirect else "?"
        self.reply(302, None, [("Location", redirect + sep + urllib.parse.urlencode(params))])

    def do_POST(self):
        path = urllib.parse.urlsplit(self.path).path
        f = self.form()
        t = self.server.tokens
        with t.lock:
            if path == "/token":
                return self.token(t, f)
            if path == "/introspect":
                entry = t.access.get(f.get("token", ""))
                if entry and entry[1] > time.time():
                    return self.reply(200, {"active": True, "username": entry[0], "token_type": "Bearer"})
                return self.reply(200, {"active": False})
            if path == "/control":
                action = f.get("action")
                if action == "expire":
                    for k, (user, _) in list(t.access.items()):
                        t.access[k] = (user, 0)
                elif action == "revoke":
                    t.refresh.clear()
                elif action == "lifetime":
                    t.lifetime = int(f.get("seconds", "3600"))
                elif action == "issue":
                    return self.reply(200, t.issue(f.get("user", t.user)))
                else:
                    return self.reply(400, {"error": "unknown action"})
                return self.reply(200, {"done": action})
        self.reply(404, {"error": "not_found"})

    def token(self, t, f):
        grant = f.get("grant_type")
        if grant == "authorization_code":
            entry = t.codes.pop(f.get("code", ""), None)
            if not entry:
                return self.reply(400, {"error": "invalid_grant"})
            client_id, redirect, challenge = entry
            verifier = f.get("code_verifier", "")
            computed = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
            if computed != challenge or f.get("redirect_uri") != redirect or f.get("client_id", client_id) != client_id:
                return self.reply(400, {"error": "invalid_grant"})
            return self.reply(200, t.issue(t.user))
        if grant == "refresh_token":
            user = t.refresh.get(f.get("refresh_token", ""))
            if user is None:
                return self.reply(400, {"error": "invalid_grant", "error_description": "refresh token revoked"})
            return self.reply(200, t.issue(user, f["refresh_token"]))
        return self.reply(400, {"error": "unsupported_grant_type"})


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--user", required=True)
    p.add_argument("--lifetime", type=int, default=3600, help="seconds an access token lives")
    p.add_argument("--log", required=True)
    p.add_argument("--pidfile", required=True)
    a = p.parse_args()
    server = ThreadingHTTPServer(("127.0.0.1", a.port), Handler)
    server.daemon_threads = True
    server.tokens = Tokens(a.user, a.lifetime)
    server.log = open(a.log, "a", buffering=1)
    with open(a.pidfile, "w") as f:
        f.write("%d\n" % os.getpid())
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
