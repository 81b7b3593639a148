"""Demo money: a demo-trading key is checked and used in its exchange's demo environment only."""
import unittest

from harness import SandboxTestCase

# exchange, key, secret, passphrase, the sites its demo requests go to, the header that marks them,
# and the exchange's words for a demo key on the live site.
DEMO = [
    ('bybit', 'bybit-demo-key', 'bybit-demo-secret', '', {'bybit_demo'}, None, 'API key is invalid.'),
    ('okx', 'okx-demo-key', 'okx-demo-secret', 'okx-demo-pass', {'okx', 'okx_eea', 'okx_us'}, 'x-simulated-trading',
     'APIKey does not match current environment.'),
    ('gate', 'gate-demo-key', 'gate-demo-secret', '', {'gate_demo'}, None, 'Invalid key provided'),
    ('bingx', 'bingx-demo-key', 'bingx-demo-secret', '', {'bingx_demo'}, None, 'Incorrect apiKey'),
    ('bitget', 'bitget-demo-key', 'bitget-demo-secret', 'bitget-demo-pass', {'bitget'}, 'paptrading',
     'exchange environment is incorrect'),
]


class DemoTradingTest(SandboxTestCase):
    def test_a_demo_key_trades_in_the_demo_environment_only(self):
        for exchange, key, secret, passphrase, site, header, _ in DEMO:
            with self.subTest(exchange):
                home = self.new_home()
                mark = self.sandbox.mark()
                validated = home.run('validate', '--demo', exchange, key, secret, passphrase)
                self.assertEqual((validated.code, validated.fields()['credentials_saved']), (0, 'true'), validated.out)
                status = [l for l in home.run('status').lines() if l.startswith('exchange=%s ' % exchange)]
                self.assertTrue(status[0].endswith(' environment=demo'), status)
                opened = home.run('place-open', exchange, 'BTC_USDT', 'buy', '1', '60000', '5').json()
                self.assertEqual(opened['status'], 'ok', opened)
                sent = self.sandbox.requests(since=mark)
                self.assertTrue(sent)
                self.assertLessEqual({e['site'] for e in sent}, site, [(e['site'], e['path']) for e in sent])
                if header:
                    self.assertTrue(all(dict((k.lower(), v) for k, v in e['headers']).get(header) == '1'
                                        for e in sent), exchange)

    def test_without_demo_the_live_site_refuses_a_demo_key_in_its_own_words(self):
        for exchange, key, secret, passphrase, _, _, words in DEMO:
            with self.subTest(exchange):
                result = self.new_home().run('validate', exchange, key, secret, passphrase)
                self.assertEqual((result.code, result.fields()['status']), (2, 'invalid'), result.out)
                self.assertIn(words, result.fields()['reason'])

    def test_kucoin_offers_no_demo_and_nothing_is_stored(self):
        mark = self.sandbox.mark()
        result = self.home.run('validate', '--demo', 'kucoin', 'kucoin-key', 'kucoin-secret', 'kucoin-pass')
        self.assertEqual(result.code, 2)
        self.assertEqual((result.fields()['status'], result.fields()['reason']), ('error', 'demo_not_offered'))
        self.assertEqual(self.home.run('load-credentials', 'kucoin').out, 'status=missing\n')
        self.assertEqual(self.sandbox.requests(since=mark), [])

    def test_a_live_validation_replaces_a_demo_one(self):
        self.assertEqual(self.home.run('validate', '--demo', 'bybit', 'bybit-demo-key', 'bybit-demo-secret').code, 0)
        self.assertEqual(self.home.run('validate', 'bybit', 'bybit-trade-key', 'bybit-trade-secret').code, 0)
        status = [l for l in self.home.run('status').lines() if l.startswith('exchange=bybit ')]
        self.assertNotIn('environment=demo', status[0])
        mark = self.sandbox.mark()
        self.assertEqual(self.home.run('balance', 'bybit').json()['status'], 'ok')
        self.assertEqual({e['site'] for e in self.sandbox.requests(since=mark)}, {'bybit'})


if __name__ == '__main__':
    unittest.main()
