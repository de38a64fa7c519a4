#!/usr/bin/python3
"""SMTP server for the tests: listens on 127.0.0.1 (port chosen by the system, printed
on the first line of standard output) and stores every message it accepts in the
directory given as the only argument, byte for byte as received after dot-unstuffing:

  NNNNNN.env  the envelope: "MAIL FROM:<address>" and one "RCPT TO:<address>" per line
  NNNNNN.eml  the message data

The .env file is written first and each file appears complete (written, then renamed),
so a reader that waits for NNNNNN.eml sees both files whole.
"""
import asyncio
import os
import sys

from aiosmtpd.smtp import SMTP


def write_whole(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.rename(tmp, path)


class Store:
    def __init__(self, directory):
        self.directory = directory
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.directory, "%06d" % self.count)
        env = "MAIL FROM:%s\n" % envelope.mail_from
        env += "".join("RCPT TO:%s\n" % r for r in envelope.rcpt_tos)
        write_whole(base + ".env", env.encode("utf-8", "surrogateescape"))
        write_whole(base + ".eml", envelope.original_content)
        return "250 OK stored as %06d" % self.count


async def main(directory):
    loop = asyncio.get_running_loop()
    handler = Store(directory)
    server = await loop.create_server(
        lambda: SMTP(handler, hostname="store.test"), host="127.0.0.1", port=0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main(sys.argv[1]))
