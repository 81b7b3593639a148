"""The running sandbox over HTTP: the relay's binding life, the update host and the request log."""
import hashlib
import json
import os
import tempfile
import unittest
import urllib.error
import urllib.request

from korvane_sandbox.server import SAMPLE_ACCOUNTS, Sandbox, load_accounts


def call(url, body=None, headers=None, method=None):
    data = body.encode() if isinstance(body, str) else body
    request = urllib.request.Request(url, data=data, headers=headers or {}, method=method)
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.read()


class SitesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.TemporaryDirectory()
        cls.sandbox = Sandbox(load_accounts(SAMPLE_ACCOUNTS), os.path.join(cls.workdir.name, 'log.jsonl'))
        cls.sandbox.start('127.0.0.1', 0)
        cls.relay = cls.sandbox.url('relay')
        cls.env = dict(cls.sandbox.environment())

    @classmethod
    def tearDownClass(cls):
        cls.sandbox.stop()
        cls.workdir.cleanup()

    def post_json(self, path, value):
        return call(self.relay + path, json.dumps(value), {'Content-Type': 'application/json'})

    def control(self, command, value):
        return call(self.env['KORVANE_SANDBOX_CONTROL'] + '/' + command, json.dumps(value))

    def bind_status(self, connector, wallet=None):
        headers = {'x-korvane-wallet': wallet} if wallet else {}
        status, body = call(self.relay + '/api/connector/bind-status?connectorId=' + connector, headers=headers)
        return status, json.loads(body)

    def test_binding_life(self):
        connector = 'device:macos:aaaaaaaaaaaa'
        self.control('relay/token', {'token': 'tok-1'})
        status, body = self.post_json('/api/connector/claim-token',
                                      {'token': 'tok-1', 'connectorId': connector, 'connectorLabel': 'x'})
        self.assertEqual(status, 200)
        self.assertIn(b'"status":"pending_signature"', body)
        self.assertEqual(self.bind_status(connector)[1]['bindState'], 'pending_signature')

        self.assertEqual(self.control('relay/sign', {'token': 'tok-1', 'wallet': '0xW'})[0], 200)
        status, answer = self.bind_status(connector, '0xW')
        self.assertEqual((answer['bindState'], answer['wallet']), ('authorized', '0xW'))
        # The claim, asked again, now names the wallet.
        _, body = self.post_json('/api/connector/claim-token',
                                 {'token': 'tok-1', 'connectorId': connector, 'connectorLabel': 'x'})
        self.assertIn(b'"wallet":"0xW"', body)

        self.control('relay/state', {'connectorId': connector, 'state': 'session_missing'})
        status, answer = self.bind_status(connector, '0xW')
        self.assertEqual(answer, {'status': 'error', 'reason': 'session_missing'})
        self.control('relay/state', {'connectorId': connector, 'state': 'token_missing'})
        self.assertEqual(self.bind_status(connector, '0xW')[1]['bindState'], 'token_missing')

    def test_relay_refusals(self):
        status, body = self.post_json('/api/connector/claim-token',
                                      {'token': 'unknown', 'connectorId': 'c', 'connectorLabel': 'x'})
        self.assertEqual((status, json.loads(body)['reason']), (404, 'token_not_found'))
        status, body = call(self.relay + '/api/connector/claim-token', '{"token":"a"b"}',
                            {'Content-Type': 'application/json'})
        self.assertEqual((status, json.loads(body)['reason']), (400, 'invalid_json'))
        self.assertEqual(self.control('relay/sign', {'token': 'never-claimed', 'wallet': '0x'})[0], 409)
        status, body = call(self.relay + '/api/security/config')
        self.assertEqual(status, 200)

    def test_manifest_and_download(self):
        manifest_url = self.env['KORVANE_UPDATE_MANIFEST_URL']
        status, body = call(manifest_url)
        manifest = json.loads(body)
        self.assertEqual((status, manifest['version'], manifest['channel']), (200, '0.2.0', 'stable'))
        status, image = call(manifest['dmgUrl'])
        self.assertEqual(status, 200)
        self.assertEqual(hashlib.sha256(image).hexdigest(), manifest['sha256'])

        self.control('updates', {'manifest': '{"version":"9.9.9"}', 'image_status': 404})
        self.assertEqual(call(manifest_url)[1], b'{"version":"9.9.9"}')
        self.assertEqual(call(manifest['dmgUrl'])[0], 404)
        self.control('updates', {'manifest_status': 404})
        self.assertEqual(call(manifest_url)[0], 404)
        self.control('updates', {'reset': True})
        self.assertEqual(call(manifest_url)[0], 200)

    def test_request_log_keeps_headers_in_order(self):
        call(self.env['KORVANE_BYBIT_BASE_URL'] + '/v5/account/wallet-balance?accountType=UNIFIED',
             headers={'X-BAPI-API-KEY': 'nobody', 'X-BAPI-SIGN': 'x'})
        with open(self.sandbox.log.path) as handle:
            entry = [json.loads(line) for line in handle][-1]
        self.assertEqual((entry['site'], entry['path'], entry['query'], entry['verdict']),
                         ('bybit', '/v5/account/wallet-balance', 'accountType=UNIFIED', 'rejected'))
        names = [name.lower() for name, _ in entry['headers']]
        self.assertLess(names.index('x-bapi-api-key'), names.index('x-bapi-sign'))
        self.assertIn('"retCode":10003', entry['reply'])


if __name__ == '__main__':
    unittest.main()
