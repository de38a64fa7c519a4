#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""An OAuth 2.0 identity provider for the tests: listens on 127.0.0.1 (port chosen by the
system, printed on the first line of standard output) and keeps its state in the
directory given as the first argument.

  GET  /authorize  checks client_id, response_type=code, a loopback http redirect_uri,
                   state and an S256 code_challenge, then redirects (302) back to
                   redirect_uri with code and state; with --deny, with error=access_denied.
  POST /token      grant_type=authorization_code: the code must be unused, for the same
                   client_id and redirect_uri, and BASE64URL(SHA256(code_verifier)) must
                   equal the challenge; grant_type=refresh_token: a refresh token it issued
                   (with --rotate, each one works once). Answers access_token,
                   refresh_token, token_type Bearer and expires_in (--expires-in SECONDS,
                   default 3600) or a 400 with an "error" of RFC 6749; with
                   --refuse-tokens, always a 400 invalid_request.

Files in the directory, each replaced whole:
  stats.json    counts: "authorize", "code_grants", "refresh_grants", "refused" and the
                last refusal's reason as "last_error"
  tokens.txt    the access tokens that are valid now, one a line (--expires-in makes
                them invalid in time; the SMTP server reads this file)
  revoke        when a test creates this file, every refresh token stops working

Options: --client-id ID (default "tandrel-test"), --client-secret SECRET (then required),
--expires-in SECONDS, --rotate, --deny, --refuse-tokens, --error-description TEXT (the
error_description of --deny and --refuse-tokens, which may hold any character).
"""
import argparse
import base64
import hashlib
import http.server
import json
import os
import secrets
import threading
import time
import urllib.parse


def write_whole(path, text):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.rename(tmp, path)


class State:
    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.codes = {}           # code -> (client_id, redirect_uri, challenge)
        self.refresh_tokens = set()
        self.access_tokens = {}   # token -> expiry time
        self.stats = dict(authorize=0, code_grants=0, refresh_grants=0, refused=0,
                          last_error="")
        self.save()

    def path(self, name):
        return os.path.join(self.args.directory, name)

    def save(self):
        now = time.time()
        valid = [t for t, expiry in self.access_tokens.items() if expiry > now]
        write_whole(self.path("tokens.txt"), "".join(t + "\n" for t in valid))
        write_whole(self.path("stats.json"), json.dumps(self.stats))

    def issue(self):
        access = "at-" + secrets.token_urlsafe(24)
        refresh = "rt-" + secrets.token_urlsafe(24)
        self.access_tokens[access] = time.time() + self.args.expires_in
        self.refresh_tokens.add(refresh)
        return dict(access_token=access, refresh_token=refresh, token_type="Bearer",
                    expires_in=self.args.expires_in)


def is_loopback_redirect(uri):
    parts = urllib.parse.urlsplit(uri)
    return parts.scheme == "http" and parts.hostname == "127.0.0.1" and parts.port


class Handler(http.server.BaseHTTPRequestHandler):
    state = None

    def log_message(self, *args):
        pass

    def refuse(self, status, error, reason):
        s = self.state
        s.stats["refused"] += 1
        s.stats["last_error"] = reason
        s.save()
        body = json.dumps(dict(error=error, error_description=reason)).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        if url.path != "/authorize":
            return self.refuse(404, "not_found", "unknown path " + url.path)
        q = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        s = self.state
        with s.lock:
            s.stats["authorize"] += 1
            if q.get("client_id") != s.args.client_id:
                return self.refuse(400, "unauthorized_client", "unknown client_id")
            if q.get("response_type") != "code":
                return self.refuse(400, "unsupported_response_type", "response_type")
            if not is_loopback_redirect(q.get("redirect_uri", "")):
                return self.refuse(400, "invalid_request", "redirect_uri not loopback")
            if q.get("code_challenge_method") != "S256" or not q.get("code_challenge"):
                return self.refuse(400, "invalid_request", "no S256 code_challenge")
            if not q.get("state"):
                return self.refuse(400, "invalid_request", "no state")
            back = {"state": q["state"]}
            if s.args.deny:
                back["error"] = "access_denied"
                back["error_description"] = s.args.error_description or "The user said no"
            else:
                code = "code-" + secrets.token_urlsafe(16)
                s.codes[code] = (q["client_id"], q["redirect_uri"], q["code_challenge"])
                back["code"] = code
            s.save()
        self.send_response(302)
        self.send_header("Location", q["redirect_uri"] + "?" + urllib.parse.urlencode(back))
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_POST(self):
        if urllib.parse.urlsplit(self.path).path != "/token":
            return self.refuse(404, "not_found", "unknown path")
        length = int(self.headers.get("Content-Length", "0"))
        if self.headers.get("Content-Type", "").split(";")[0] != \
                "application/x-www-form-urlencoded":
            return self.refuse(400, "invalid_request", "not a form")
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode(),
                                           keep_blank_values=True))
        s = self.state
        with s.lock:
            if s.args.refuse_tokens:
                return self.refuse(400, "invalid_request", s.args.error_description)
            if form.get("client_id") != s.args.client_id:
                return self.refuse(401, "invalid_client", "unknown client_id")
            if s.args.client_secret and form.get("client_secret") != s.args.client_secret:
                return self.refuse(401, "invalid_client", "wrong client_secret")
            grant = form.get("grant_type")
            if grant == "authorization_code":
                entry = s.codes.pop(form.get("code", ""), None)
                if entry is None:
                    return self.refuse(400, "invalid_grant", "unknown or used code")
                client_id, redirect_uri, challenge = entry
                if form.get("redirect_uri") != redirect_uri:
                    return self.refuse(400, "invalid_grant", "redirect_uri differs")
                digest = hashlib.sha256(form.get("code_verifier", "").encode()).digest()
                computed = base64.urlsafe_b64encode(digest).decode().rstrip("=")
                if computed != challenge:
                    return self.refuse(400, "invalid_grant", "PKCE verifier does not match")
                s.stats["code_grants"] += 1
            elif grant == "refresh_token":
                token = form.get("refresh_token", "")
                if os.path.exists(s.path("revoke")) or token not in s.refresh_tokens:
                    return self.refuse(400, "invalid_grant", "unknown refresh token")
                if s.args.rotate:
                    s.refresh_tokens.discard(token)
                s.stats["refresh_grants"] += 1
            else:
                return self.refuse(400, "unsupported_grant_type", str(grant))
            answer = s.issue()
            if grant == "refresh_token" and not s.args.rotate:
                answer.pop("refresh_token")
            s.save()
        body = json.dumps(answer).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Cache-Control", "no-store")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("directory")
    parser.add_argument("--client-id", default="tandrel-test")
    parser.add_argument("--client-secret", default="")
    parser.add_argument("--expires-in", type=int, default=3600)
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--deny", action="store_true")
    parser.add_argument("--refuse-tokens", action="store_true")
    parser.add_argument("--error-description", default="")
    args = parser.parse_args()
    Handler.state = State(args)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
