"""The sandbox as a server: keep-alive connections, authentication before routing on every private path,
faults answered with 500, public server time and the sandbox clock."""
import contextlib
import json
import http.client
import io
import os
import socket
import subprocess
import sys
import time
import unittest
import urllib.parse

from korvane_sandbox.server import make_handler

from tests.client import SITE_VARIABLE
from tests.sandbox_case import SandboxCase

SANDBOX_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# site -> (server-time path, how to read milliseconds from the reply)
SERVER_TIME = {
    'bybit': ('/v5/market/time', lambda r: int(r['result']['timeNano']) // 1000000),
    'okx': ('/api/v5/public/time', lambda r: int(r['data'][0]['ts'])),
    'okx_eea': ('/api/v5/public/time', lambda r: int(r['data'][0]['ts'])),
    'okx_us': ('/api/v5/public/time', lambda r: int(r['data'][0]['ts'])),
    'gate': ('/api/v4/spot/time', lambda r: r['server_time']),
    'bingx': ('/openApi/swap/v2/server/time', lambda r: r['data']['serverTime']),
    'kucoin': ('/api/v1/timestamp', lambda r: r['data']),
    'bitget': ('/api/v2/public/time', lambda r: int(r['data']['serverTime'])),
}
# site -> (status, member, code) of an unsigned request, and of a signed one to an unknown path.
UNSIGNED = {'bybit': (401, 'retCode', 10003), 'okx': (401, 'code', '50103'),
            'gate': (401, 'label', 'MISSING_REQUIRED_HEADER'), 'bingx': (200, 'code', 100413),
            'kucoin': (401, 'code', '400001'), 'bitget': (400, 'code', '40001')}
NOT_FOUND = {'bybit': (404, 'retCode', 10001), 'okx': (404, 'code', '404'), 'gate': (404, 'label', 'NOT_FOUND'),
             'bingx': (404, 'code', 100400), 'kucoin': (404, 'code', '404'), 'bitget': (404, 'code', '40404')}
# Client clock skew -> the sites that refuse it under their documented windows.
SKEWS = [(3000, {'bybit', 'bingx'}), (-45000, {'bybit', 'okx', 'kucoin', 'bitget', 'bingx'}),
         (-61000, {'bybit', 'okx', 'gate', 'kucoin', 'bitget', 'bingx'}), (900, set())]
BALANCE = {'bybit': ('/v5/account/wallet-balance', {'accountType': 'UNIFIED'}),
           'okx': ('/api/v5/account/balance', {'ccy': 'USDT'}), 'gate': ('/api/v4/futures/usdt/accounts', {}),
           'bingx': ('/openApi/swap/v2/user/balance', {}), 'kucoin': ('/api/v1/account-overview', {'currency': 'USDT'}),
           'bitget': ('/api/v2/mix/account/accounts', {'productType': 'USDT-FUTURES'})}


def refused(reply):
    """True when a reply body carries an exchange's refusal."""
    if not isinstance(reply, dict):
        return True
    code = reply.get('retCode', reply.get('code', 0 if 'label' not in reply else reply['label']))
    return str(code) not in ('0', '200000', '00000')


class ServerTest(SandboxCase):
    def connection(self, site):
        url = urllib.parse.urlsplit(self.env[SITE_VARIABLE[site]])
        return http.client.HTTPConnection(url.hostname, url.port, timeout=10)

    def test_one_connection_carries_many_requests(self):
        connection = self.connection('bybit')
        self.addCleanup(connection.close)
        sockets = set()
        for path in ('/v5/market/time', '/v5/nowhere', '/v5/market/time'):
            connection.request('GET', path)
            response = connection.getresponse()
            body = response.read()
            sockets.add(id(connection.sock))
            self.assertEqual((response.version, response.getheader('Content-Length')), (11, str(len(body))))
            self.assertFalse(response.will_close)
        self.assertEqual(len(sockets), 1)

    def test_replies_are_not_held_back(self):
        listener = socket.create_server(('127.0.0.1', 0))
        self.addCleanup(listener.close)
        peer = socket.create_connection(listener.getsockname())
        self.addCleanup(peer.close)
        accepted, _ = listener.accept()
        self.addCleanup(accepted.close)
        handler = make_handler(self.sandbox, 'bybit').__new__(make_handler(self.sandbox, 'bybit'))
        handler.request = accepted
        handler.setup()
        self.assertEqual(accepted.getsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY), 1)

    def test_a_handler_fault_answers_500_and_is_logged(self):
        site = self.sandbox.exchanges['bybit']
        method, pattern, handler = site.public[0]

        def broken(call):
            raise KeyError('boom')

        site.public[0] = (method, pattern, broken)
        self.addCleanup(site.public.__setitem__, 0, (method, pattern, handler))
        errors = io.StringIO()
        with contextlib.redirect_stderr(errors):
            status, reply = self.client.send('bybit', 'GET', '/v5/market/time')
        self.assertEqual((status, reply['retCode']), (500, 10016))
        self.assertIn("KeyError: 'boom'", errors.getvalue())
        entry = self.log_entries()[-1]
        self.assertEqual((entry['path'], entry['status'], entry['verdict']), ('/v5/market/time', 500, 'error'))

    def test_every_private_path_checks_authentication_first(self):
        for site, (status, member, code) in UNSIGNED.items():
            with self.subTest(site=site):
                for path in ('/api/v9/no/such/route', BALANCE[site][0]):
                    got_status, reply = self.client.send(site, 'GET', path)
                    self.assertEqual((got_status, reply[member]), (status, code))
                    self.assertEqual(self.log_entries()[-1]['verdict'], 'rejected')

    def test_unknown_path_after_good_authentication_is_the_exchanges_not_found(self):
        for site, (status, member, code) in NOT_FOUND.items():
            with self.subTest(site=site):
                got_status, reply = self.client.call(site, 'GET', '/api/v9/no/such/route')
                self.assertEqual((got_status, reply[member]), (status, code))
                self.assertEqual(self.log_entries()[-1]['verdict'], 'no_route')

    def test_server_time_follows_the_sandbox_clock(self):
        for offset in (0, 60000, -45000):
            self.control('clock', {'offset_ms': offset})
            for site, (path, read) in SERVER_TIME.items():
                with self.subTest(site=site, offset=offset):
                    before = int(time.time() * 1000)
                    status, reply = self.client.send(site, 'GET', path)
                    after = int(time.time() * 1000)
                    self.assertEqual(status, 200)
                    self.assertTrue(before + offset - 5 <= read(reply) <= after + offset + 5, reply)

    def test_documented_windows_against_a_drifted_client(self):
        for skew, refusing in SKEWS:
            self.client.skew_ms = skew
            for site, (path, params) in BALANCE.items():
                with self.subTest(site=site, skew=skew):
                    _, reply = self.client.call(site, 'GET', path, params)
                    self.assertEqual(refused(reply), site in refusing, reply)

    def test_moving_the_sandbox_clock_is_the_same_as_a_drifted_client(self):
        self.control('clock', {'offset_ms': -3000})  # the sandbox 3 s behind = the client 3 s fast
        for site, (path, params) in BALANCE.items():
            with self.subTest(site=site):
                _, reply = self.client.call(site, 'GET', path, params)
                self.assertEqual(refused(reply), site in ('bybit', 'bingx'), reply)
        self.control('reset', {})
        self.assertFalse(refused(self.client.call('bybit', 'GET', *BALANCE['bybit'])[1]))

    def test_control_requests_refuse_bad_input(self):
        for command, value, reason in [('clock', {'offset_ms': 'soon'}, 'invalid_request'),
                                       ('clock', {}, 'invalid_request'), ('nothing', {}, 'unknown_control'),
                                       ('account', {'site': 'okx', 'key': 'okx-key', 'set': {'pos_mode': 'x'}},
                                        'invalid_setting'),
                                       ('account', {'site': 'okx', 'key': 'nobody', 'set': {'pos_mode': 'net_mode'}},
                                        'invalid_setting'),
                                       ('account', {'site': 'gate', 'key': 'gate-key', 'set': {'pos_mode': 'x'}},
                                        'invalid_setting')]:
            with self.subTest(command=command, value=value):
                status, reply = self.control(command, value)
                self.assertEqual((status // 100, reply['reason']), (4, reason))


class CommandLineTest(unittest.TestCase):
    def test_clock_offset_option_moves_the_server_time(self):
        process = subprocess.Popen([sys.executable, '-m', 'korvane_sandbox', '--clock-offset-ms', '-45000',
                                    '--log', os.devnull], cwd=SANDBOX_DIR, stdout=subprocess.PIPE, text=True)
        self.addCleanup(process.wait, 10)
        self.addCleanup(process.stdout.close)
        self.addCleanup(process.terminate)
        env = {}
        for line in process.stdout:
            name, _, value = line.strip().removeprefix('export ').partition('=')
            env[name] = value
            if name == 'KORVANE_SANDBOX_READY':
                break
        url = urllib.parse.urlsplit(env['KORVANE_OKX_BASE_URL'])
        connection = http.client.HTTPConnection(url.hostname, url.port, timeout=10)
        self.addCleanup(connection.close)
        connection.request('GET', '/api/v5/public/time')
        served = int(json.loads(connection.getresponse().read())['data'][0]['ts'])
        self.assertAlmostEqual(served, time.time() * 1000 - 45000, delta=2000)


if __name__ == '__main__':
    unittest.main()
