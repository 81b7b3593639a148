"""A TCP proxy on 127.0.0.1 that makes a local server look far away: every chunk is delivered half
a round trip after it was read, in each direction, and chunks in flight overlap as they do on a
link (each direction is a queue ordered by delivery time, not a sleep per chunk). A new connection
costs one round trip before the client's first bytes arrive, as the TCP handshake does.

It also counts the round trips a client waited for: one per connection (the handshake) and one per
turn, a turn being the client sending after it last received (or first sending). Sequential
connections add up; connections open side by side would be counted as if one after the other.
"""
import asyncio
import threading
import time


class Counter:
    """Connections and turns seen since the last reset, safe to read from another thread."""

    def __init__(self):
        self.lock = threading.Lock()
        self.connections = 0
        self.turns = 0

    def add(self, connections=0, turns=0):
        with self.lock:
            self.connections += connections
            self.turns += turns

    def take(self):
        """Returns (connections, turns) and starts counting afresh."""
        with self.lock:
            seen = (self.connections, self.turns)
            self.connections = self.turns = 0
            return seen


class Link:
    """One direction of one connection: chunks wait in a queue until their delivery time."""

    def __init__(self, writer, delay):
        self.writer = writer
        self.delay = delay
        self.queue = asyncio.Queue()

    def send(self, data, not_before=0.0):
        """Queues `data` (b'' for the end of the stream) for delivery `delay` after now, or after
        `not_before` when the link is not up yet."""
        self.queue.put_nowait((max(time.monotonic(), not_before) + self.delay, data))

    async def deliver(self):
        try:
            while True:
                due, data = await self.queue.get()
                wait = due - time.monotonic()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    if self.writer.can_write_eof():
                        self.writer.write_eof()
                    return
                self.writer.write(data)
                await self.writer.drain()
        except (ConnectionError, OSError):
            pass


class LatencyProxy:
    """Listens on a free port of 127.0.0.1 and forwards to `target_port` with `rtt_ms` added."""

    CHUNK = 65536

    def __init__(self, loop, target_port, rtt_ms, counter):
        self.loop = loop
        self.target_port = target_port
        self.one_way = rtt_ms / 2000.0
        self.counter = counter
        self.server = None
        self.port = None
        self.pumps = set()  # the running halves of every open connection
        self.connections = set()

    async def start(self):
        self.server = await asyncio.start_server(self.serve, '127.0.0.1', 0)
        self.port = self.server.sockets[0].getsockname()[1]

    async def serve(self, client_reader, client_writer):
        # The handshake: the client's first bytes cannot leave before a round trip has passed.
        up_at = time.monotonic() + 2 * self.one_way
        self.counter.add(connections=1)
        self.connections.add(asyncio.current_task())
        try:
            server_reader, server_writer = await asyncio.open_connection('127.0.0.1', self.target_port)
        except OSError:
            self.connections.discard(asyncio.current_task())
            client_writer.close()
            return
        upstream, downstream = Link(server_writer, self.one_way), Link(client_writer, self.one_way)
        # Whether the server spoke since the client last did: the client's next bytes start a turn.
        state = {'answered': True}

        async def pump(reader, link, from_client):
            try:
                while True:
                    data = await reader.read(self.CHUNK)
                    if from_client and data and state['answered']:
                        state['answered'] = False
                        self.counter.add(turns=1)
                    elif not from_client and data:
                        state['answered'] = True
                    link.send(data, up_at if from_client else 0.0)
                    if not data:
                        return
            except (ConnectionError, OSError):
                link.send(b'')

        tasks = [asyncio.ensure_future(coroutine) for coroutine in (
            pump(client_reader, upstream, True), pump(server_reader, downstream, False),
            upstream.deliver(), downstream.deliver())]
        self.pumps.update(tasks)
        await asyncio.gather(*tasks, return_exceptions=True)
        self.pumps.difference_update(tasks)
        self.connections.discard(asyncio.current_task())
        for writer in (client_writer, server_writer):
            writer.close()

    async def close(self):
        """Stops listening and ends the connections a client left open."""
        self.server.close()
        for task in list(self.pumps):
            task.cancel()
        await asyncio.gather(*self.connections, return_exceptions=True)
        await self.server.wait_closed()


class ProxySet:
    """Proxies for several local servers on one event loop in a background thread."""

    def __init__(self, rtt_ms):
        self.rtt_ms = rtt_ms
        self.counter = Counter()
        self.loop = asyncio.new_event_loop()
        self.thread = threading.Thread(target=self.loop.run_forever, daemon=True)
        self.thread.start()
        self.proxies = []

    def add(self, target_port):
        """Starts a proxy in front of 127.0.0.1:`target_port` and returns its own port."""
        proxy = LatencyProxy(self.loop, target_port, self.rtt_ms, self.counter)
        asyncio.run_coroutine_threadsafe(proxy.start(), self.loop).result(timeout=10)
        self.proxies.append(proxy)
        return proxy.port

    def stop(self):
        async def close_all():
            await asyncio.gather(*(proxy.close() for proxy in self.proxies))

        asyncio.run_coroutine_threadsafe(close_all(), self.loop).result(timeout=10)
        self.loop.call_soon_threadsafe(self.loop.stop)
        self.thread.join(timeout=10)
        self.loop.close()
