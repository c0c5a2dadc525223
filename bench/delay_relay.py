#!/usr/bin/python3
"""A loopback TCP relay that holds every chunk for a fixed time in each direction: a slow
network for the benchmarks (10 ms each way is a round trip of 20 ms).

    delay_relay.py <target port> <one-way delay in ms>

Prints the port it listens on (127.0.0.1, chosen free) and relays until it is ended. Each chunk leaves when its own delay is over, in the order it came, while the next
ones are already read: the bytes keep their order and a client that sends several commands
at once gains what it would gain on a real link. An end of stream is passed on after the same
delay.
"""
import asyncio
import socket
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def read():
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data))
            if not data:
                return

    async def write():
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

    try:
        await asyncio.gather(read(), write())
    except (ConnectionError, OSError):
        writer.close()


async def main():
    target = int(sys.argv[1])
    delay = float(sys.argv[2]) / 1000.0

    async def serve(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
        except OSError:
            client_writer.close()
            return
        for w in (client_writer, server_writer):
            w.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        await asyncio.gather(pump(client_reader, server_writer, delay), pump(server_reader, client_writer, delay))
        client_writer.close()
        server_writer.close()

    server = await asyncio.start_server(serve, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
