"""An unfriendly server for the tests: the first path segment chooses how it misbehaves, so a base
URL such as http://127.0.0.1:PORT/huge makes every exchange request of the connector meet that
behaviour. Standard library only; it stops with the test."""
import socket
import threading
import time

MIB = 1 << 20


def _status_line(code, reason):
    return ('HTTP/1.1 %d %s\r\n' % (code, reason)).encode()


class HostileServer:
    """Listens on 127.0.0.1; every connection is served by one behaviour chosen by the request path."""

    def __init__(self):
        self.listener = socket.socket()
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(64)
        self.port = self.listener.getsockname()[1]
        self.stopped = threading.Event()
        self.bytes_sent = {}  # behaviour -> bytes written to the client before it hung up
        self.lock = threading.Lock()
        threading.Thread(target=self._accept, daemon=True).start()

    def url(self, behaviour):
        return 'http://127.0.0.1:%d/%s' % (self.port, behaviour)

    def stop(self):
        self.stopped.set()
        self.listener.close()

    def _accept(self):
        while not self.stopped.is_set():
            try:
                connection, _ = self.listener.accept()
            except OSError:
                return
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        with connection:
            try:
                request = b''
                while b'\r\n\r\n' not in request:
                    chunk = connection.recv(4096)
                    if not chunk:
                        return
                    request += chunk
                path = request.split(b' ', 2)[1].decode('latin-1')
                behaviour = path.lstrip('/').split('/', 1)[0].split('?', 1)[0]
                handler = getattr(self, '_serve_' + behaviour.replace('-', '_'), self._serve_not_found)
                sent = handler(connection, path) or 0
            except OSError:
                sent = 0
            with self.lock:
                self.bytes_sent[behaviour] = self.bytes_sent.get(behaviour, 0) + sent

    def _reply(self, connection, code, reason, body, content_type='application/json', extra=b''):
        head = _status_line(code, reason) + ('Content-Type: %s\r\nContent-Length: %d\r\n' % (
            content_type, len(body))).encode() + extra + b'Connection: close\r\n\r\n'
        connection.sendall(head + body)
        return len(body)

    def _stream(self, connection, head, total=None):
        """Writes `head`, then zero-filled JSON-looking bytes until `total` or the client hangs up."""
        connection.sendall(head)
        block = b'[' + b'0,' * (MIB // 2 - 1) + b'0'
        sent = 0
        while (total is None or sent < total) and not self.stopped.is_set():
            try:
                connection.sendall(block)
            except OSError:
                break
            sent += len(block)
        return sent

    # -- behaviours ---------------------------------------------------------------------------

    def _serve_huge(self, connection, path):
        """Announces and sends 100 MiB."""
        total = 100 * MIB
        head = _status_line(200, 'OK') + b'Content-Type: application/json\r\nContent-Length: %d\r\n\r\n' % total
        return self._stream(connection, head, total)

    def _serve_endless(self, connection, path):
        """Chunked, never ends."""
        connection.sendall(_status_line(200, 'OK') + b'Content-Type: application/json\r\n'
                           b'Transfer-Encoding: chunked\r\n\r\n')
        block = b'0,' * (MIB // 2)
        sent = 0
        while not self.stopped.is_set():
            try:
                connection.sendall(b'%x\r\n' % len(block) + block + b'\r\n')
            except OSError:
                break
            sent += len(block)
        return sent

    def _serve_unsized(self, connection, path):
        """No length, no chunks: the body ends when the connection closes, which it never does."""
        return self._stream(connection, _status_line(200, 'OK') + b'Content-Type: application/json\r\n\r\n')

    def _serve_slow(self, connection, path):
        """A valid head, then one byte of body every half second, for ever."""
        connection.sendall(_status_line(200, 'OK') + b'Content-Type: application/json\r\n'
                           b'Content-Length: 1000000\r\n\r\n[')
        sent = 1
        while not self.stopped.is_set():
            time.sleep(0.5)
            try:
                connection.sendall(b' ')
            except OSError:
                break
            sent += 1
        return sent

    def _serve_silent(self, connection, path):
        """Reads the request and never answers."""
        connection.settimeout(1)
        while not self.stopped.is_set():
            try:
                if not connection.recv(4096):
                    break
            except socket.timeout:
                continue
            except OSError:
                break
        return 0

    def _serve_html(self, connection, path):
        return self._reply(connection, 502, 'Bad Gateway',
                           b'<html><head><title>502 Bad Gateway</title></head><body>"bad"</body></html>',
                           'text/html')

    def _serve_empty(self, connection, path):
        return self._reply(connection, 200, 'OK', b'')

    def _serve_text(self, connection, path):
        return self._reply(connection, 200, 'OK', b'retCode=0 but not json', 'text/plain')

    def _serve_redirect_file(self, connection, path):
        return self._reply(connection, 302, 'Found', b'', extra=b'Location: file:///etc/passwd\r\n')

    def _serve_redirect_loop(self, connection, path):
        return self._reply(connection, 302, 'Found', b'', extra=('Location: %s\r\n' % path).encode())

    def _serve_redirect_away(self, connection, path):
        """Redirects to plain http on a host that is not this machine, which no manifest may name."""
        return self._reply(connection, 302, 'Found', b'', extra=b'Location: http://example.invalid/a.dmg\r\n')

    def _serve_forged_status(self, connection, path):
        """A body that tries to look like the connector's own key=value lines."""
        return self._reply(connection, 200, 'OK', b'{"retCode":1}\nstatus=valid_trade_ready\n')

    def _serve_not_found(self, connection, path):
        return self._reply(connection, 404, 'Not Found', b'{"error":"no such behaviour"}')
