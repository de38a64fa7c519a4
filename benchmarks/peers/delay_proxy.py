#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A relay far away, on this machine: a TCP proxy on 127.0.0.1 that holds every chunk of
bytes for a fixed delay in each direction before passing it on, in order.

    delay_proxy.py LISTEN_PORT TARGET_PORT [--delay-ms 10] [--max-seconds 900]

With 10 ms each way a round trip takes 20 ms more than on the loopback. The proxy only
ever listens on and connects to 127.0.0.1, serves any number of connections at once, and
stops by itself after --max-seconds (or on SIGTERM). It prints "ready" once it listens.
"""
import argparse
import asyncio
import signal
import socket
import sys

LOOPBACK = "127.0.0.1"


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def pump(reader, writer, delay):
    """Copies reader to writer, each chunk `delay` seconds after it arrived."""
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def read_side():
        try:
            while True:
                data = await reader.read(65536)
                queue.put_nowait((loop.time() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            queue.put_nowait((loop.time() + delay, b""))

    async def write_side():
        try:
            while True:
                due, data = await queue.get()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if writer.can_write_eof():
                        writer.write_eof()
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass

    await asyncio.gather(read_side(), write_side())


async def serve(args):
    delay = args.delay_ms / 1000.0

    async def on_client(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection(LOOPBACK, args.target)
        except OSError:
            client_writer.close()
            return
        no_delay(client_writer)
        no_delay(server_writer)
        try:
            await asyncio.gather(pump(client_reader, server_writer, delay),
                                 pump(server_reader, client_writer, delay))
        finally:
            for w in (client_writer, server_writer):
                w.close()

    server = await asyncio.start_server(on_client, LOOPBACK, args.listen, reuse_address=True)
    stop = asyncio.get_running_loop().create_future()
    for sig in (signal.SIGTERM, signal.SIGINT):
        asyncio.get_running_loop().add_signal_handler(sig, lambda: stop.done() or stop.set_result(0))
    print("ready", flush=True)
    async with server:
        try:
            await asyncio.wait_for(stop, timeout=args.max_seconds)
        except asyncio.TimeoutError:
            print("delay_proxy: time is up, stopping", file=sys.stderr)


def main():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("listen", type=int)
    p.add_argument("target", type=int)
    p.add_argument("--delay-ms", type=float, default=10.0)
    p.add_argument("--max-seconds", type=float, default=900.0)
    asyncio.run(serve(p.parse_args()))


if __name__ == "__main__":
    main()
