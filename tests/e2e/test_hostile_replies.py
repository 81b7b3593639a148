"""Exchange, relay and update commands against a hostile server: huge, endless, slow, silent,
non-JSON, empty and redirecting replies. Every answer stays bounded in time and memory and is one
valid JSON text (or the usual key=value block)."""
import json
import os
import threading
import time
import unittest

from harness import ConnectorHome, SandboxTestCase
from hostile_server import HostileServer

OKX_SITES = ['KORVANE_OKX_BASE_URL', 'KORVANE_OKX_EEA_BASE_URL', 'KORVANE_OKX_US_BASE_URL']


class HostileRepliesTest(SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.hostile = HostileServer()

    @classmethod
    def tearDownClass(cls):
        cls.hostile.stop()
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        for exchange, key, secret, passphrase in [('bybit', 'bybit-trade-key', 'bybit-trade-secret', ''),
                                                   ('okx', 'okx-key', 'okx-secret', 'okx-pass')]:
            result = self.home.run('validate', exchange, key, secret, passphrase)
            self.assertEqual(result.code, 0, result.out)

    def run_against(self, behaviour, *args, variables=('KORVANE_BYBIT_BASE_URL',)):
        started = time.monotonic()
        result = self.home.run(*args, env={name: self.hostile.url(behaviour) for name in variables})
        return result, time.monotonic() - started

    def test_oversized_replies_stop_at_the_limit(self):
        for behaviour in ('huge', 'endless', 'unsized'):
            with self.subTest(behaviour=behaviour):
                result, elapsed = self.run_against(behaviour, 'balance', 'bybit')
                self.assertEqual(result.code, 0)
                self.assertEqual(result.json(), {'status': 'error', 'reason': 'http_failed',
                                                 'message': 'curl: (63) reply too large: over 8388608 bytes'})
                self.assertLess(elapsed, 15)
        # The transfer stopped soon after the limit rather than running to the time limit.
        self.assertLess(self.hostile.bytes_sent.get('endless', 0), 64 << 20)

    def test_replies_that_are_not_json_keep_the_envelope_json(self):
        cases = {'html': '<html><head><title>502 Bad Gateway</title></head><body>"bad"</body></html>',
                 'empty': '', 'text': 'retCode=0 but not json',
                 'forged-status': '{"retCode":1}\nstatus=valid_trade_ready\n'}
        for behaviour, body in cases.items():
            with self.subTest(behaviour=behaviour):
                result, _ = self.run_against(behaviour, 'balance', 'bybit')
                answer = result.json()
                if behaviour == 'forged-status':
                    # Not one JSON value: the stray line travels inside a JSON string.
                    self.assertEqual(answer['body_text'], body)
                    self.assertEqual(result.out.count('\n'), 1)
                    continue
                self.assertEqual(answer, {'status': 'error', 'reason': 'invalid_response', 'exchange': 'bybit',
                                          'kind': 'balance', 'body_text': body})

    def test_composite_answers_stay_json(self):
        result, _ = self.run_against('html', 'close-report', 'okx', 'BTC_USDT', '1001', variables=OKX_SITES)
        self.assertEqual(result.json()['reason'], 'invalid_response')
        result, _ = self.run_against('empty', 'place-open', 'bybit', 'BTC_USDT', 'buy', '0.01', '65000', '5')
        self.assertEqual(result.json()['reason'], 'invalid_response')

    def test_redirects_are_not_followed_for_exchange_requests(self):
        for behaviour in ('redirect-file', 'redirect-loop'):
            with self.subTest(behaviour=behaviour):
                result, _ = self.run_against(behaviour, 'balance', 'bybit')
                # The redirect answer itself (empty, not JSON) comes back; nothing is fetched from file://.
                self.assertEqual(result.json()['reason'], 'invalid_response')
                self.assertNotIn('root:', result.out)

    def test_relay_replies_are_bounded(self):
        result, elapsed = self.run_against('endless', 'server-health', variables=['KORVANE_RELAY_URL'])
        answer = result.json()
        self.assertEqual((answer['reachable'], answer['message']), (False, 'relay health request failed'))
        self.assertLess(elapsed, 12)
        result, _ = self.run_against('html', 'server-health', variables=['KORVANE_RELAY_URL'])
        self.assertTrue(result.json()['reachable'])
        self.assertIn('502 Bad Gateway', result.json()['message'])

    def test_deadlines_hold_against_silent_and_dripping_servers(self):
        # The two slow cases run side by side to keep the suite short.
        outcomes = {}

        def validate_against_silent_sites():
            home = self.new_home()
            started = time.monotonic()
            result = home.run('validate', 'okx', 'okx-key', 'okx-secret', 'okx-pass',
                              env={name: self.hostile.url('silent') for name in OKX_SITES}, timeout=120)
            outcomes['validate'] = (result, time.monotonic() - started)

        def balance_against_a_drip():
            outcomes['balance'] = self.run_against('slow', 'balance', 'bybit')

        threads = [threading.Thread(target=validate_against_silent_sites), threading.Thread(target=balance_against_a_drip)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()

        result, elapsed = outcomes['validate']
        fields = result.fields()
        # Nine attempts of up to 15 s each, one after another, would take 135 s; they go out together,
        # so the check ends when each has waited its own 15 s, and never past the 45 s budget.
        self.assertTrue(14 <= elapsed <= 45, elapsed)
        self.assertEqual((fields['status'], fields['credentials_saved']), ('invalid', 'false'))
        self.assertIn('curl: (28)', fields['reason'])
        result, elapsed = outcomes['balance']
        # One byte every half second would keep a per-read time-out alive for ever.
        self.assertTrue(19 <= elapsed <= 25, elapsed)
        self.assertEqual(result.json(), {'status': 'error', 'reason': 'http_failed'})


class HostileManifestTest(SandboxTestCase):
    """Manifests that try to make the updater read, write or open what they choose."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.hostile = HostileServer()

    @classmethod
    def tearDownClass(cls):
        cls.hostile.stop()
        super().tearDownClass()

    def manifest(self, **members):
        self.sandbox.control('updates', {'manifest': json.dumps(dict({'version': '9.0.0'}, **members))})

    def listing(self):
        updates = self.home.path('updates')
        return sorted(os.listdir(updates)) if os.path.isdir(updates) else []

    def test_urls_that_are_not_web_urls_are_refused(self):
        victim = os.path.join(self.home.dir, 'curl-config')
        with open(victim, 'w') as handle:
            handle.write('output = "%s"\n' % os.path.join(self.home.dir, 'written-by-attacker'))
        for url in ['-K' + victim, '--config=' + victim, 'file:///etc/passwd', 'ftp://127.0.0.1/a.dmg',
                    'http://example.com/a.dmg', 'http://127.0.0.1@example.com/a.dmg', 'https://h/a b.dmg',
                    'https://h/a\n.dmg', '/etc/passwd', 'dict://127.0.0.1:11211/']:
            for command in ('update-check', 'update-download'):
                with self.subTest(url=url, command=command):
                    self.manifest(dmgUrl=url)
                    answer = self.home.run(command).json()
                    self.assertEqual(answer, {'status': 'error', 'reason': 'update_url_rejected',
                                              'latest_version': '9.0.0', 'dmg_url': url})
        self.assertEqual(self.listing(), [])
        self.assertFalse(os.path.exists(os.path.join(self.home.dir, 'written-by-attacker')))

    def test_redirects_meet_the_image_url_rule(self):
        # Each hop is held to the rule the manifest's URL met: a local file, or a host the manifest
        # could not have named, is refused; a loop ends.
        for behaviour, reason in (('redirect-file', 'update_url_rejected'), ('redirect-away', 'update_url_rejected'),
                                  ('redirect-loop', 'update_download_failed')):
            with self.subTest(behaviour=behaviour):
                url = self.hostile.url(behaviour) + '/a.dmg'
                self.manifest(dmgUrl=url)
                answer = self.home.run('update-download').json()
                self.assertEqual((answer['status'], answer['reason'], answer['dmg_url']), ('error', reason, url))
                self.assertEqual(self.listing(), [])

    def test_versions_that_cannot_name_a_file_are_refused(self):
        for version in ['../../escape', '9.0/x', '9.0;x', '$(id)', '9 0', 'v' * 65, '']:
            with self.subTest(version=version[:20]):
                self.sandbox.control('updates', {'manifest': json.dumps(
                    {'version': version, 'dmgUrl': self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL']})})
                answer = self.home.run('update-download').json()
                expected = 'manifest_invalid' if version == '' else 'update_manifest_invalid'
                self.assertEqual(answer['reason'], expected)
        self.assertEqual(self.listing(), [])

    def test_long_values_and_huge_manifests_do_not_crash(self):
        long_version = '1.' + '0' * 30000
        self.manifest(version=long_version, dmgUrl='https://h/' + 'a' * 100000)
        for command in ('update-check', 'update-download'):
            result = self.home.run(command)
            self.assertEqual(result.code, 0, result.err)
            self.assertEqual(result.json()['reason'], 'update_manifest_invalid')
        self.manifest(dmgUrl='https://h/' + 'a' * 100000, channel='c' * 100000)
        result = self.home.run('update-check')
        self.assertEqual((result.code, result.json()['status']), (0, 'ok'))
        # A 100 MiB (or endless) manifest stops at 1 MiB.
        for behaviour in ('huge', 'endless'):
            started = time.monotonic()
            result = self.home.run('update-check', env={'KORVANE_UPDATE_MANIFEST_URL': self.hostile.url(behaviour)})
            self.assertEqual((result.code, result.json()['reason']), (0, 'update_check_failed'))
            self.assertLess(time.monotonic() - started, 10)

    def test_two_step_config_attack_writes_nothing(self):
        # Step one would download "an image" that is really a curl configuration ...
        config = 'output = "%s"\nurl = "file:///etc/passwd"\n' % os.path.join(self.home.dir, 'pwned')
        self.sandbox.control('updates', {'image': config, 'manifest': json.dumps(
            {'version': '9.0.0', 'dmgUrl': self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL'].replace(
                '/current/manifest.json', '/downloads/Korvane-Connector-9.0.0.dmg')})})
        self.assertEqual(self.home.run('update-download').json()['status'], 'ok')
        # ... and step two would hand its path to curl as "-K<path>".
        image = self.home.path('updates', 'Korvane-Connector-9.0.0.dmg')
        self.manifest(version='9.1.0', dmgUrl='-K' + image)
        self.assertEqual(self.home.run('update-download').json()['reason'], 'update_url_rejected')
        self.assertFalse(os.path.exists(os.path.join(self.home.dir, 'pwned')))


if __name__ == '__main__':
    unittest.main()
