#!/usr/bin/python3
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
--auth-plaintext (allow AUTH without encryption), --refuse ADDRESS (550 at RCPT TO; may
be repeated), --size-limit BYTES (announced with SIZE; larger messages are refused).
"""
import argparse
import asyncio
import os
import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def write_whole(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Store:
    def __init__(self, directory, refused=()):
        self.directory = directory
        self.count = 0
        self.refused = set(refused)
        # Each connection's session, kept so that its id is never reused.
        self.sessions = {}

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return "550 5.1.1 <%s>: Recipient address rejected" % address
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
        number = self.sessions.setdefault(id(session), (len(self.sessions) + 1, session))[0]
        env += "CONN:%d\n" % number
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
    if args.user is not None:
        options.update(authenticator=Authenticator(args.user, args.password or ""),
                       auth_required=args.auth_required,
                       # An implicitly encrypted session is already protected.
                       auth_require_tls=not (args.auth_plaintext or args.tls))
    handler = Store(args.directory, args.refuse)
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
    asyncio.run(main(parser.parse_args()))
