"""Live credential validation against the sandbox's exchanges, with real curl and python3."""
import os
import threading
import unittest

from harness import CLOSED_URL, KEYS, SandboxTestCase

AWKWARD = 'it\'s a \\ "tricky"\nsecret'
GOOD = {exchange: [value for value in key if value] for exchange, key in KEYS.items()}
SITE_VARIABLE = {'bybit': ['KORVANE_BYBIT_BASE_URL'], 'gate': ['KORVANE_GATE_BASE_URL'],
                 'okx': ['KORVANE_OKX_BASE_URL', 'KORVANE_OKX_EEA_BASE_URL', 'KORVANE_OKX_US_BASE_URL'],
                 'bingx': ['KORVANE_BINGX_BASE_URL'], 'kucoin': ['KORVANE_KUCOIN_FUTURES_BASE_URL'],
                 'bitget': ['KORVANE_BITGET_BASE_URL']}


class ValidationTest(SandboxTestCase):
    def validate(self, exchange, *credentials, env=None, home=None):
        result = (home or self.home).run('validate', exchange, *credentials, env=env)
        return result, result.fields()

    def test_good_keys_are_accepted_and_saved_in_the_keychain(self):
        for exchange, credentials in GOOD.items():
            with self.subTest(exchange=exchange):
                result, fields = self.validate(exchange, *credentials)
                self.assertEqual(result.code, 0, result.out)
                # Gate and KuCoin do not say whether a key may withdraw.
                unsaid = '; withdrawal permission not reported by ' + exchange if exchange in ('gate', 'kucoin') else ''
                self.assertEqual((fields['status'], fields['can_read'], fields['credentials_saved'], fields['reason']),
                                 ('valid_trade_ready', 'true', 'true', 'live %s auth validated%s' % (exchange, unsaid)))
                self.assertRegex(fields['checked_at'], r'^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$')
                self.assertIn('korvane.connector.%s\x1f%s' % (exchange, exchange), self.home.keychain())
                self.assertIn('api_key=' + credentials[0], self.home.run('load-credentials', exchange).out)

    def test_good_keys_fall_back_to_files(self):
        for exchange, credentials in GOOD.items():
            with self.subTest(exchange=exchange):
                result, fields = self.validate(exchange, *credentials, env={'KORVANE_FAKE_KEYCHAIN_FAIL': '1'})
                self.assertEqual(fields['credentials_saved'], 'true')
                self.assertIn('api_secret=' + credentials[1], self.home.read('vault', exchange + '.vault'))

    def test_wrong_secret_and_wrong_passphrase_are_rejected(self):
        for exchange, credentials in GOOD.items():
            cases = [[credentials[0], 'wrong-secret', *credentials[2:]]]
            if len(credentials) == 3:
                cases.append([credentials[0], credentials[1], 'wrong-passphrase'])
            for bad in cases:
                with self.subTest(exchange=exchange, credentials=bad):
                    result, fields = self.validate(exchange, *bad)
                    self.assertEqual(result.code, 2)
                    self.assertEqual((fields['status'], fields['credentials_saved']), ('invalid', 'false'))
                    self.assertTrue(fields['reason'].startswith('%s rejected credentials: ' % exchange), fields['reason'])
        self.assertEqual(self.home.keychain(), {})

    def test_rejection_reason_carries_the_exchanges_answer(self):
        _, fields = self.validate('bybit', 'bybit-trade-key', 'nope')
        self.assertIn('"retCode":10004', fields['reason'])
        _, fields = self.validate('gate', 'gate-key', 'nope')
        self.assertIn('INVALID_SIGNATURE', fields['reason'])
        _, fields = self.validate('okx', 'okx-key', 'nope', 'okx-pass')
        self.assertIn('50113', fields['reason'])

    def test_unreachable_exchange(self):
        for exchange, credentials in GOOD.items():
            env = {name: CLOSED_URL for name in SITE_VARIABLE[exchange]}
            with self.subTest(exchange=exchange):
                result, fields = self.validate(exchange, *credentials, env=env)
                self.assertEqual(result.code, 2)
                if exchange in ('bybit', 'gate'):
                    self.assertEqual(fields['status'], 'error')
                    self.assertTrue(fields['reason'].startswith('%s request failed: curl: (7)' % exchange), fields['reason'])
                else:
                    # The checks report every attempt; an unreachable site is one more rejection.
                    self.assertEqual(fields['status'], 'invalid')
                    self.assertIn("curl: (7) Failed to connect to 127.0.0.1 port 9", result.out)

    def test_every_exchange_validates_without_python_or_curl_on_the_path(self):
        for exchange, credentials in GOOD.items():
            with self.subTest(exchange=exchange):
                result, fields = self.validate(exchange, *credentials, env={'PATH': '/nonexistent'})
                self.assertEqual((result.code, fields['status'], fields['credentials_saved']),
                                 (0, 'valid_trade_ready', 'true'), result.out)

    def test_empty_passphrase_is_invalid_without_any_request(self):
        for exchange in ('okx', 'kucoin', 'bitget'):
            with self.subTest(exchange=exchange):
                mark = self.sandbox.mark()
                result, fields = self.validate(exchange, GOOD[exchange][0], GOOD[exchange][1])
                self.assertEqual((fields['status'], fields['reason']), ('invalid', exchange + ' passphrase missing'))
                self.assertEqual(self.sandbox.requests(since=mark), [])

    def test_okx_probes_all_three_sites_and_finds_an_eea_key(self):
        mark = self.sandbox.mark()
        _, fields = self.validate('okx', 'okx-eea-key', 'okx-eea-secret', 'okx-eea-pass')
        self.assertEqual(fields['status'], 'valid_trade_ready')
        # All nine go out together, so they arrive in any order; each is asked once.
        requests = sorted((r['site'], r['path'] + ('?' + r['query'] if r['query'] else ''), r['verdict'])
                          for r in self.sandbox.requests(since=mark))
        paths = ['/api/v5/account/config', '/api/v5/account/balance?ccy=USDT', '/api/v5/account/balance']
        self.assertEqual(requests, sorted((site, path, 'accepted' if site == 'okx_eea' else 'rejected')
                                          for site in ('okx', 'okx_eea', 'okx_us') for path in paths))
        entry = next(r for r in self.sandbox.requests(since=mark) if r['site'] == 'okx_eea')
        self.assertEqual(self.header_lines(entry, ['Content-Type', 'User-Agent'])[-1], 'User-Agent: okx-api-client/1.0')

    def test_kucoin_probes_key_versions_two_and_three(self):
        mark = self.sandbox.mark()
        _, fields = self.validate('kucoin', 'kucoin-v3-key', 'kucoin-v3-secret', 'kucoin-v3-pass')
        self.assertEqual(fields['status'], 'valid_trade_ready')
        versions = [(r['path'], dict(r['headers']).get('Kc-Api-Key-Version') or
                     dict(r['headers']).get('KC-API-KEY-VERSION')) for r in self.sandbox.requests(since=mark)]
        # Both versions are probed, each with the key information, all at once; the answers under
        # the version that worked are the ones read.
        self.assertEqual(sorted(versions), [('/api/v1/account-overview', '2'), ('/api/v1/account-overview', '3'),
                                            ('/api/v1/user/api-key', '2'), ('/api/v1/user/api-key', '3')])

    def test_bybit_read_only_keys(self):
        cases = [('bybit-read-key', 'bybit-read-secret', 'valid_read_only', 'false', 'false'),
                 ('bybit-p2p-readonly-key', 'bybit-p2p-readonly-secret', 'valid_read_only', 'false', 'false'),
                 ('bybit-withdraw-key', 'bybit-withdraw-secret', 'valid_trade_ready', 'true', 'true')]
        for key, secret, status, can_trade, withdraw in cases:
            with self.subTest(key=key):
                result, fields = self.validate('bybit', key, secret)
                self.assertEqual((fields['status'], fields['can_read'], fields['can_trade'], fields['withdrawal_enabled']),
                                 (status, 'true', can_trade, withdraw))
                self.assertEqual(fields['credentials_saved'], 'true')

    def test_awkward_secret_is_signed_byte_for_byte(self):
        # The exchange accepts the signature (can_trade), but a secret holding a line end cannot be
        # stored as it is: refused whole rather than stored cut.
        for args in (('bybit', 'bybit-awkward-key', AWKWARD), ('okx', 'okx-awkward-key', AWKWARD, 'pass\'"\\')):
            with self.subTest(exchange=args[0]):
                _, fields = self.validate(*args)
                self.assertEqual((fields['status'], fields['can_trade'], fields['credentials_saved'], fields['reason']),
                                 ('error', 'true', 'false',
                                  'credentials hold a line break or NUL byte and cannot be stored'))
                self.assertEqual(self.home.run('load-credentials', args[0]).out, 'status=missing\n')


if __name__ == '__main__':
    unittest.main()
