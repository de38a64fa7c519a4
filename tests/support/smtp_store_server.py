#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""SMTP server for the tests: listens on 127.0.0.1 (port chosen by the system, printed
on the first line of standard output) and stores every message it accepts in the
directory given as the first argument, byte for byte as received after dot-unstuffing:

  NNNNNN.env  the envelope: "MAIL FROM:<address>", one "RCPT TO:<address>" per line,
              "TLS:yes" or "TLS:no" (was the session encrypted when the message came),
              "AUTH:<login>" when the client had logged in, and "CONN:<n>", the
              number of the connection it came over (1 for the first)
  NNNNNN.eml  the message data

The .env file is written first and each file appears complete (written, then renamed),
so a reader that waits for NNNNNN.eml sees both files whole.

Options: --cert FILE --key FILE (the server's certificate chain and key), --tls
(encrypted from the first byte) or --starttls (offers STARTTLS), --require-starttls,
--user NAME --password WORD (AUTH PLAIN and LOGIN accept only these), --auth-required,
--auth-plaintext (allow AUTH without encryption), --refuse ADDRESS[=CODE] (refused at
RCPT TO with 550, or with CODE; may be repeated), --size-limit BYTES (announced with
SIZE; larger messages are refused), --pipelining (PIPELINING is announced; the
commands are read in order either way), --drop-connection N (the Nth connection is cut
off at its first RCPT TO, unanswered), --drop-at-mail N (the Nth connection is cut off
at its first MAIL FROM; may be repeated). Connections are numbered in the order of
their first MAIL FROM.

Bearer-token logins: --oauth-tokens FILE offers XOAUTH2 and OAUTHBEARER (only under TLS
unless --auth-plaintext); a token is accepted while it is a line of FILE (read at each
AUTH), and the login name must be --user when that is given. --oauth-only withdraws
PLAIN and LOGIN, --no-oauthbearer withdraws OAUTHBEARER. A refused token gets the
mechanism's error challenge (334 and a JSON status in base64); the client's answer to
it must be an empty response for XOAUTH2 and ^A for OAUTHBEARER: then 535 follows,
otherwise 501. Every attempt adds a line to auth.log in the directory: the mechanism,
then "user=", "host=", "port=" as the client sent them (OAUTHBEARER),
"token=valid|invalid|malformed" and, after a refusal, "answer=ok|wrong|cancelled"
(never the token itself).
"""
import argparse
import asyncio
import base64
import binascii
import json
import os
import re
import ssl

from aiosmtpd.smtp import MISSING, SMTP, AuthResult, LoginPassword


def write_whole(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Store:
    def __init__(self, directory, refused=(), drop_connection=0, drop_at_mail=(),
                 pipelining=False):
        self.directory = directory
        self.count = 0
        # address -> the reply code that refuses it
        self.refused = dict((a.split("=", 1) + ["550"])[:2] for a in refused)
        self.drop_connection = drop_connection
        self.drop_at_mail = set(drop_at_mail)
        self.pipelining = pipelining
        # Each connection's session, kept so that its id is never reused.
        self.sessions = {}

    def connection_number(self, session):
        return self.sessions.setdefault(id(session), (len(self.sessions) + 1, session))[0]

    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        if self.pipelining:
            responses.insert(len(responses) - 1, "250-PIPELINING")
        return responses

    async def handle_MAIL(self, server, session, envelope, address, mail_options):
        if self.connection_number(session) in self.drop_at_mail:
            server.transport.abort()
            return "421 4.3.0 cut off"
        envelope.mail_from = address
        envelope.mail_options.extend(mail_options)
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if self.connection_number(session) == self.drop_connection:
            server.transport.abort()
            return "421 4.3.0 cut off"
        code = self.refused.get(address)
        if code:
            return "%s %s.1.1 <%s>: Recipient address rejected" % (code, code[0], address)
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "%06d" % self.count)
        env = "MAIL FROM:%s\n" % envelope.mail_from
        env += "".join("RCPT TO:%s\n" % r for r in envelope.rcpt_tos)
        encrypted = server.transport.get_extra_info("ssl_object") is not None
        env += "TLS:%s\n" % ("yes" if encrypted else "no")
        if session.authenticated and isinstance(session.auth_data, LoginPassword):
            env += "AUTH:%s\n" % session.auth_data.login.decode("utf-8", "surrogateescape")
        env += "CONN:%d\n" % self.connection_number(session)
        write_whole(base + ".env", env.encode("utf-8", "surrogateescape"))
        write_whole(base + ".eml", envelope.original_content)
        return "250 OK stored as %06d" % self.count


class Authenticator:
    def __init__(self, user, password):
        self.user = user.encode("utf-8", "surrogateescape")
        self.password = password.encode("utf-8", "surrogateescape")

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword) and auth_data.login == self.user
              and auth_data.password == self.password)
        return AuthResult(success=ok, handled=False, auth_data=auth_data if ok else None)


def parse_xoauth2(data):
    """user=USER ^A auth=Bearer TOKEN ^A ^A -> (fields, None) or (None, why)."""
    if not data.endswith(b"\x01\x01"):
        return None, "no closing ^A^A"
    parts = data[:-2].split(b"\x01")
    if len(parts) != 2 or not parts[0].startswith(b"user=") \
            or not parts[1].startswith(b"auth=Bearer "):
        return None, "fields"
    return dict(user=parts[0][5:], token=parts[1][12:]), None


def parse_oauthbearer(data):
    """RFC 7628: gs2-header ^A *(key=value ^A) ^A -> (fields, None) or (None, why)."""
    if not data.endswith(b"\x01\x01"):
        return None, "no closing ^A^A"
    parts = data[:-2].split(b"\x01")
    header = re.fullmatch(rb"n,(?:a=((?:[^,=]|=2C|=3D)*))?,", parts[0])
    if not header:
        return None, "gs2 header"
    user = (header.group(1) or b"").replace(b"=2C", b",").replace(b"=3D", b"=")
    fields = dict(user=user)
    for pair in parts[1:]:
        key, sep, value = pair.partition(b"=")
        if not sep or not re.fullmatch(rb"[A-Za-z]+", key):
            return None, "pair"
        fields[key.decode()] = value
    if not fields.get("auth", b"").startswith(b"Bearer "):
        return None, "auth"
    fields["token"] = fields.pop("auth")[7:]
    return fields, None


class OAuthStore(Store):
    """Store that also offers the bearer-token mechanisms."""

    def __init__(self, directory, refused, tokens_file, user):
        super().__init__(directory, refused)
        self.tokens_file = tokens_file
        self.user = user.encode("utf-8", "surrogateescape") if user is not None else None

    def log(self, words):
        with open(os.path.join(self.directory, "auth.log"), "ab") as f:
            f.write(b" ".join(words) + b"\n")

    def valid_tokens(self):
        with open(self.tokens_file, "rb") as f:
            return {line.strip() for line in f if line.strip()}

    async def bearer_login(self, server, args, mechanism, parse, error_status,
                           expected_answer):
        if len(args) == 2:
            try:
                data = base64.b64decode(args[1], validate=True)
            except binascii.Error:
                await server.push("501 5.5.2 Can't decode base64")
                return AuthResult(success=False, handled=True)
        else:
            data = await server.challenge_auth("")
            if data is MISSING:
                return AuthResult(success=False, handled=True)
        fields, why = parse(data)
        words = [mechanism.encode()]
        if fields is None:
            self.log(words + [b"token=malformed", why.encode()])
            return AuthResult(success=False, handled=False,
                              message="501 5.5.2 Malformed " + mechanism)
        words += [b"user=" + fields["user"]]
        words += [k.encode() + b"=" + fields[k] for k in ("host", "port") if k in fields]
        ok = fields["token"] in self.valid_tokens() and \
            (self.user is None or fields["user"] == self.user)
        if ok:
            self.log(words + [b"token=valid"])
            return AuthResult(success=True, auth_data=LoginPassword(fields["user"], b""))
        answer = await server.challenge_auth(json.dumps(error_status))
        if answer is MISSING:
            self.log(words + [b"token=invalid", b"answer=cancelled"])
            return AuthResult(success=False, handled=True)
        right = answer == expected_answer
        self.log(words + [b"token=invalid", b"answer=" + (b"ok" if right else b"wrong")])
        return AuthResult(success=False, handled=False, message=(
            "535 5.7.8 Authentication credentials invalid" if right
            else "501 5.5.2 Unexpected answer to the error challenge"))

    async def auth_XOAUTH2(self, server, args):
        return await self.bearer_login(server, args, "XOAUTH2", parse_xoauth2, {
            "status": "401", "schemes": "bearer", "scope": "smtp"}, b"")

    async def auth_OAUTHBEARER(self, server, args):
        return await self.bearer_login(server, args, "OAUTHBEARER", parse_oauthbearer, {
            "status": "invalid_token", "scope": "smtp"}, b"\x01")


async def main(args):
    context = None
    if args.cert:
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
    options = dict(hostname="store.test")
    if args.size_limit:
        options.update(data_size_limit=args.size_limit)
    if args.starttls:
        options.update(tls_context=context, require_starttls=args.require_starttls)
    if args.user is not None or args.oauth_tokens:
        options.update(auth_required=args.auth_required,
                       # An implicitly encrypted session is already protected.
                       auth_require_tls=not (args.auth_plaintext or args.tls))
    if args.user is not None:
        options.update(authenticator=Authenticator(args.user, args.password or ""))
    if args.oauth_tokens:
        handler = OAuthStore(args.directory, args.refuse, args.oauth_tokens, args.user)
        excluded = (["PLAIN", "LOGIN"] if args.oauth_only else []) + \
            (["OAUTHBEARER"] if args.no_oauthbearer else [])
        options.update(auth_exclude_mechanism=excluded)
    else:
        handler = Store(args.directory, args.refuse, args.drop_connection, args.drop_at_mail,
                        args.pipelining)
    loop = asyncio.get_running_loop()
    server = await loop.create_server(
        lambda: SMTP(handler, **options), host="127.0.0.1", port=0,
        ssl=context if args.tls else None)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("directory")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    mode = parser.add_mutually_exclusive_group()
    mode.add_argument("--tls", action="store_true")
    mode.add_argument("--starttls", action="store_true")
    parser.add_argument("--require-starttls", action="store_true")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--auth-required", action="store_true")
    parser.add_argument("--auth-plaintext", action="store_true")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--size-limit", type=int, default=0)
    parser.add_argument("--drop-connection", type=int, default=0)
    parser.add_argument("--drop-at-mail", type=int, action="append", default=[])
    parser.add_argument("--pipelining", action="store_true")
    parser.add_argument("--oauth-tokens")
    parser.add_argument("--oauth-only", action="store_true")
    parser.add_argument("--no-oauthbearer", action="store_true")
    asyncio.run(main(parser.parse_args()))
