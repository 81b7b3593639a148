"""Starts one HTTP server per site on 127.0.0.1 and prints the environment that points the
connector at them."""
import argparse
import json
import os
import signal
import socket
import sys
import tempfile
import threading
import traceback
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

from .accounts import Accounts, SettingError
from .clock import SandboxClock
from .exchanges import ALIASES, MODULES, SITES as EXCHANGE_SITES, VERIFIERS, ExchangeSite
from .relay import Relay
from .signing import Request, compact
from .updates import UpdateHost

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLE_ACCOUNTS = os.path.join(os.path.dirname(HERE), 'accounts.sample.json')

# Site name -> the connector's environment variable for its base URL.
SITES = EXCHANGE_SITES + [('relay', 'KORVANE_RELAY_URL'), ('updates', None)]

IDLE_CONNECTION_SECONDS = 30


def load_accounts(path):
    return Accounts.from_file(path)


class RequestLog:
    """One JSON line per request, for tests to read."""

    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()
        open(path, 'a').close()

    def write(self, entry):
        with self.lock, open(self.path, 'a', encoding='utf-8') as handle:
            handle.write(json.dumps(entry) + '\n')


class Sandbox:
    def __init__(self, accounts, log_path, clock_offset_ms=0):
        self.accounts = accounts
        self.clock = SandboxClock(clock_offset_ms)
        self.log = RequestLog(log_path)
        self.relay = Relay(accounts.relay_tokens)
        self.updates = UpdateHost()
        self.exchanges = {name: ExchangeSite(name, MODULES[name], VERIFIERS[name], accounts, self.clock)
                          for name, _ in SITES if name in VERIFIERS}
        self.servers = {}

    def dispatch(self, site, request):
        """Returns (status, body, verdict); a fault anywhere answers 500 and is reported on stderr."""
        try:
            if request.path.startswith('/__sandbox/'):
                return self.control(request) + ('control',)
            if site == 'relay':
                return self.relay.handle(request)
            if site == 'updates':
                return self.updates.handle(request)
            return self.exchanges[site].handle(request)
        except Exception:
            print('sandbox: %s %s %s failed:\n%s' % (site, request.method, request.target, traceback.format_exc()),
                  file=sys.stderr, flush=True)
            return 500, compact({'status': 'error', 'reason': 'internal_error'}), 'error'

    def control(self, request):
        try:
            body = json.loads(request.body or '{}')
        except ValueError:
            return 400, compact({'status': 'error', 'reason': 'invalid_json'})
        if not isinstance(body, dict):
            return 400, compact({'status': 'error', 'reason': 'invalid_json'})
        command = request.path[len('/__sandbox/'):]
        try:
            return self.run_control(command, body)
        except (KeyError, TypeError, ValueError) as problem:
            return 400, compact({'status': 'error', 'reason': 'invalid_request', 'detail': str(problem)})

    def run_control(self, command, body):
        if command == 'relay/token':
            self.relay.issue_token(body['token'])
        elif command == 'relay/sign':
            if not self.relay.sign(body['token'], body['wallet']):
                return 409, compact({'status': 'error', 'reason': 'token_not_claimed'})
        elif command == 'relay/state':
            self.relay.set_state(body['connectorId'], body['state'])
        elif command == 'relay/script':
            self.relay.script(body['path'], int(body.get('status', 200)), body.get('body'))
        elif command == 'order_fault':
            self.exchanges[body['site']].lose_order_reply(body['mode'])
        elif command == 'delay':
            self.exchanges[body['site']].delay = float(body['seconds'])
        elif command == 'updates':
            self.updates.configure(body)
        elif command == 'clock':
            self.clock.set_offset(int(body['offset_ms']))
        elif command == 'account':
            exchange = 'okx' if body['site'].startswith('okx') else body['site']
            try:
                account = self.accounts.change(exchange, body['key'], body.get('set'))
            except SettingError as problem:
                return 400, compact({'status': 'error', 'reason': 'invalid_setting', 'detail': str(problem)})
            settings = {name: account[name] for name in body['set']}
            return 200, compact({'status': 'ok', 'site': body['site'], 'key': body['key'], 'settings': settings})
        elif command == 'reset':
            self.accounts.reset()
            self.clock.reset()
            for site in self.exchanges.values():
                site.order_faults.clear()
        else:
            return 404, compact({'status': 'error', 'reason': 'unknown_control'})
        return 200, compact({'status': 'ok'})

    def start(self, host, first_port):
        for index, (site, _) in enumerate(SITES):
            port = first_port + index if first_port else 0
            server = ThreadingHTTPServer((host, port), make_handler(self, site))
            server.daemon_threads = True
            self.servers[site] = server
            threading.Thread(target=server.serve_forever, kwargs={'poll_interval': 0.1}, daemon=True).start()
        self.updates.base_url = self.url('updates')

    def url(self, site):
        host, port = self.servers[site].server_address[:2]
        return 'http://%s:%d' % (host, port)

    def environment(self):
        lines = [(variable, self.url(site)) for site, variable in SITES if variable]
        lines += [(variable, self.url(site)) for variable, site in ALIASES]
        lines.append(('KORVANE_UPDATE_MANIFEST_URL', self.url('updates') + '/current/manifest.json'))
        lines.append(('KORVANE_SANDBOX_LOG', self.log.path))
        lines.append(('KORVANE_SANDBOX_CONTROL', self.url('relay') + '/__sandbox'))
        return lines

    def stop(self):
        # Each server leaves its loop within its poll interval: ask them all at once, not in turn.
        stopping = [threading.Thread(target=server.shutdown) for server in self.servers.values()]
        for thread in stopping:
            thread.start()
        for thread in stopping:
            thread.join()
        for server in self.servers.values():
            server.server_close()


def make_handler(sandbox, site):
    class Handler(BaseHTTPRequestHandler):
        # Keep-alive: a client keeps one connection per host, as libcurl and the Node clients do.
        protocol_version = 'HTTP/1.1'
        timeout = IDLE_CONNECTION_SECONDS

        def setup(self):
            super().setup()
            # Small replies go out at once instead of waiting for the client's delayed ACK.
            self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

        def read_body(self):
            if 'chunked' in (self.headers.get('Transfer-Encoding') or '').lower():
                chunks = []
                while True:
                    size = int(self.rfile.readline().split(b';')[0].strip() or b'0', 16)
                    if size == 0:
                        while self.rfile.readline() not in (b'\r\n', b'\n', b''):
                            pass
                        return b''.join(chunks)
                    chunks.append(self.rfile.read(size))
                    self.rfile.readline()
            length = int(self.headers.get('Content-Length') or 0)
            return self.rfile.read(length) if length else b''

        def handle_any(self):
            try:
                raw_body = self.read_body()
            except ValueError:
                self.close_connection = True
                self.send_error(400, 'malformed body')
                return
            path, _, query = self.path.partition('?')
            request = Request(self.command, path, query, list(self.headers.items()),
                              raw_body.decode('utf-8', 'surrogateescape'))
            status, body, verdict, *extra = sandbox.dispatch(site, request)
            reply_headers = extra[0] if extra else {}
            payload = body if isinstance(body, bytes) else body.encode('utf-8', 'surrogateescape')
            sandbox.log.write({'site': site, 'method': self.command, 'path': path, 'query': query,
                               'headers': request.headers, 'body': request.body, 'status': status,
                               'verdict': verdict, 'reply': payload.decode('utf-8', 'replace'),
                               'reply_headers': reply_headers})
            self.send_response(status)
            is_json = payload[:1] in (b'{', b'[')
            self.send_header('Content-Type', 'application/json' if is_json else 'application/octet-stream')
            self.send_header('Content-Length', str(len(payload)))
            for name, value in reply_headers.items():
                self.send_header(name, value)
            self.end_headers()
            self.wfile.write(payload)
            self.wfile.flush()

        do_GET = do_POST = do_DELETE = do_PUT = do_PATCH = handle_any

        def log_message(self, *args):
            pass

    return Handler


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--accounts', default=SAMPLE_ACCOUNTS, help='accounts JSON file')
    parser.add_argument('--log', help='request log file (default: a temporary file, removed when the sandbox stops)')
    parser.add_argument('--port', type=int, default=0,
                        help='first port; the sites take consecutive ports (default: free ports)')
    parser.add_argument('--clock-offset-ms', type=int, default=0,
                        help="milliseconds added to the machine's time for every timestamp check and "
                             'server-time reply (default: 0)')
    args = parser.parse_args(argv)

    own_log = args.log is None
    if own_log:
        descriptor, log_path = tempfile.mkstemp(prefix='korvane-sandbox-', suffix='.jsonl')
        os.close(descriptor)
    else:
        log_path = args.log
    sandbox = Sandbox(load_accounts(args.accounts), log_path, args.clock_offset_ms)
    sandbox.start('127.0.0.1', args.port)
    for variable, value in sandbox.environment():
        print('export %s=%s' % (variable, value))
    print('export KORVANE_SANDBOX_READY=1', flush=True)

    stopped = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: stopped.set())
    stopped.wait()
    sandbox.stop()
    # A log nobody asked for is nobody's to clean up: it goes with the sandbox.
    if own_log:
        os.unlink(log_path)
    return 0


if __name__ == '__main__':
    sys.exit(main())
