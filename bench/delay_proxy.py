#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A TCP proxy that holds every chunk for a while in each direction, so that a
server on 127.0.0.1 answers as if it were far away. Only the connection made
through it is delayed: an FTP client that opens its data connections to the
address of the control connection reaches the server's passive ports directly.

usage: delay_proxy.py TARGET_PORT DELAY_MS   (prints its own port, then serves)
"""
import asyncio
import sys
import time


async def pipe(reader, writer, delay):
    queue = asyncio.Queue()

    async def send():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            writer.write(data)
            await writer.drain()
        writer.close()

    sender = asyncio.ensure_future(send())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            queue.put_nowait((time.monotonic() + delay, data))
    except ConnectionError:
        pass
    queue.put_nowait((time.monotonic() + delay, None))
    await sender


async def main():
    target = int(sys.argv[1])
    delay = float(sys.argv[2]) / 1000.0

    async def handle(reader, writer):
        try:
            up_reader, up_writer = await asyncio.open_connection('127.0.0.1', target)
        except OSError:
            writer.close()
            return
        await asyncio.gather(pipe(reader, up_writer, delay), pipe(up_reader, writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, '127.0.0.1', 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


asyncio.run(main())
