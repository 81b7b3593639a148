"""Real accounts against the sandbox's documented rules: position modes, a mode switched between two
runs, regional OKX keys, KuCoin key versions, a drifted machine clock, and records stored before
the connector learned any of this. Each scenario also counts what it costs: the first run may ask
the exchange once, a later run asks nothing extra."""
import json
import os
import stat
import unittest

from harness import KEYS, SandboxTestCase

# The sites of each exchange in the request log.
SITES = {'okx': ('okx', 'okx_eea', 'okx_us')}


def store_old_record(home, exchange, key, secret, passphrase=''):
    """A four-line record as versions before this one stored it, with nothing learned beside it."""
    home.store_record(exchange, key, secret, passphrase)


class RealAccountsTest(SandboxTestCase):
    def tearDown(self):
        self.sandbox.control('reset', {})
        super().tearDown()

    def run_counted(self, *args, home=None):
        """Runs one command; returns its answer and the requests the sandbox received for it."""
        home = home or self.home
        mark = self.sandbox.mark()
        result = home.run(*args)
        return result, self.sandbox.requests(since=mark)

    def validate(self, exchange, key, secret, passphrase=''):
        result = self.home.run('validate', exchange, key, secret, *([passphrase] if passphrase else []))
        self.assertEqual(result.code, 0, result.out)
        return result

    def memory(self, exchange):
        return dict(line.split('=', 1) for line in self.home.read('vault', exchange + '.memory').splitlines())

    def order_paths(self, requests):
        return [(r['method'], r['path']) for r in requests]

    # -- position modes --------------------------------------------------------------------

    def test_okx_net_and_long_short_accounts(self):
        for key, secret, passphrase, position_side in [('okx-net-key', 'okx-net-secret', 'okx-net-pass', None),
                                                       ('okx-key', 'okx-secret', 'okx-pass', 'long')]:
            with self.subTest(key=key):
                self.home = self.new_home()
                self.validate('okx', key, secret, passphrase)  # the check reads the mode too
                result, requests = self.run_counted('place-open', 'okx', 'BTC_USDT', 'buy', '1', '60000', '3')
                body = json.loads(result.out)['body']
                self.assertEqual((body['leverage']['code'], body['place']['code']), ('0', '0'), result.out)
                self.assertEqual(len(requests), 2)
                order = json.loads(requests[1]['body'])
                self.assertEqual(order.get('posSide'), position_side)
                result, requests = self.run_counted('place-close', 'okx', 'BTC_USDT', 'buy', '1', '61000')
                self.assertEqual(json.loads(result.out)['body']['code'], '0', result.out)
                close = json.loads(requests[0]['body'])
                self.assertEqual((close['side'], close.get('posSide'), close['reduceOnly']), ('sell', position_side, True))

    def test_bybit_one_way_and_hedge_accounts(self):
        for key, secret, indexes in [('bybit-trade-key', 'bybit-trade-secret', (0, 0)),
                                     ('bybit-hedge-key', 'bybit-hedge-secret', (1, 2))]:
            with self.subTest(key=key):
                self.home = self.new_home()
                self.validate('bybit', key, secret)
                # First order: one request to learn the mode, then leverage and order.
                result, requests = self.run_counted('place-open', 'bybit', 'BTC_USDT', 'buy', '0.01', '60000', '5')
                self.assertEqual(json.loads(result.out)['body']['place']['retCode'], 0, result.out)
                self.assertEqual(self.order_paths(requests), [('GET', '/v5/position/list'),
                                                              ('POST', '/v5/position/set-leverage'),
                                                              ('POST', '/v5/order/create')])
                self.assertEqual(json.loads(requests[2]['body'])['positionIdx'], indexes[0])
                # A later order asks nothing extra; a close of a short names the short side.
                result, requests = self.run_counted('place-open', 'bybit', 'BTC_USDT', 'sell', '0.01', '61000', '5')
                self.assertEqual(len(requests), 2)
                self.assertEqual(json.loads(requests[1]['body'])['positionIdx'], indexes[1])
                result, requests = self.run_counted('place-close', 'bybit', 'BTC_USDT', 'sell', '0.01', '59000')
                self.assertEqual(json.loads(result.out)['body']['retCode'], 0, result.out)
                self.assertEqual((len(requests), json.loads(requests[0]['body'])['positionIdx']), (1, indexes[1]))
                self.assertEqual(self.memory('bybit')['position_mode'], 'hedge' if indexes[0] else 'one_way')

    def test_a_mode_switched_between_runs_is_learned_again_once(self):
        self.validate('bybit', 'bybit-trade-key', 'bybit-trade-secret')
        self.home.run('place-open', 'bybit', 'BTC_USDT', 'buy', '0.01', '60000', '5')
        self.sandbox.control('account', {'site': 'bybit', 'key': 'bybit-trade-key', 'set': {'position_mode': 'hedge'}})
        # The remembered one-way order is refused for its mode, the mode asked again, the order sent once more.
        result, requests = self.run_counted('place-close', 'bybit', 'BTC_USDT', 'buy', '0.01', '61000')
        self.assertEqual(json.loads(result.out)['body']['retCode'], 0, result.out)
        self.assertEqual(self.order_paths(requests), [('POST', '/v5/order/create'), ('GET', '/v5/position/list'),
                                                      ('POST', '/v5/order/create')])
        self.assertEqual([json.loads(r['body'])['positionIdx'] for r in (requests[0], requests[2])], [0, 1])
        _, requests = self.run_counted('place-close', 'bybit', 'BTC_USDT', 'buy', '0.01', '61000')
        self.assertEqual(len(requests), 1)
        # A refusal for another cause is never sent twice.
        result, requests = self.run_counted('place-close', 'bybit', 'BTC_USDT', 'buy', '0.01', '0.0001x')
        self.assertEqual(json.loads(result.out)['reason'], 'invalid_price')
        self.assertEqual(requests, [])

    def test_okx_mode_switch_costs_one_relearn(self):
        self.validate('okx', 'okx-key', 'okx-secret', 'okx-pass')
        self.sandbox.control('account', {'site': 'okx', 'key': 'okx-key', 'set': {'pos_mode': 'net_mode'}})
        result, requests = self.run_counted('place-close', 'okx', 'BTC_USDT', 'sell', '1', '61000')
        self.assertEqual(json.loads(result.out)['body']['code'], '0', result.out)
        self.assertEqual(self.order_paths(requests), [('POST', '/api/v5/trade/order'), ('GET', '/api/v5/account/config'),
                                                      ('POST', '/api/v5/trade/order')])
        self.assertNotIn('posSide', json.loads(requests[2]['body']))

    # -- regional sites and key versions ----------------------------------------------------

    def test_regional_okx_keys_keep_their_site(self):
        for key, secret, passphrase, site in [('okx-eea-key', 'okx-eea-secret', 'okx-eea-pass', 'okx_eea'),
                                              ('okx-us-key', 'okx-us-secret', 'okx-us-pass', 'okx_us'),
                                              ('okx-global-key', 'okx-global-secret', 'okx-global-pass', 'okx')]:
            with self.subTest(site=site):
                self.home = self.new_home()
                self.validate('okx', key, secret, passphrase)
                for args in (['balance', 'okx'], ['place-open', 'okx', 'ETH_USDT', 'buy', '1', '3000', '2'],
                             ['order-status', 'okx', 'ETH_USDT', '1001']):
                    result, requests = self.run_counted(*args)
                    self.assertEqual(json.loads(result.out)['status'], 'ok', result.out)
                    self.assertEqual({r['site'] for r in requests}, {site})
                    self.assertTrue(all(r['verdict'] == 'accepted' for r in requests))

    def test_kucoin_key_versions(self):
        self.validate('kucoin', 'kucoin-v3-key', 'kucoin-v3-secret', 'kucoin-v3-pass')
        self.assertEqual(self.memory('kucoin')['kucoin_key_version'], '3')
        result, requests = self.run_counted('balance', 'kucoin')
        self.assertIn('"code":"200000"', result.out)
        self.assertEqual([dict(r['headers'])['KC-API-KEY-VERSION'] for r in requests], ['3'])
        # A record stored before versions were remembered: version 2 is refused, 3 works and is kept.
        old = self.new_home()
        store_old_record(old, 'kucoin', 'kucoin-v3-key', 'kucoin-v3-secret', 'kucoin-v3-pass')
        result, requests = self.run_counted('balance', 'kucoin', home=old)
        self.assertIn('"code":"200000"', result.out)
        self.assertEqual(len(requests), 2)
        _, requests = self.run_counted('balance', 'kucoin', home=old)
        self.assertEqual(len(requests), 1)

    # -- a drifted clock --------------------------------------------------------------------

    def test_a_drifted_clock_is_corrected_once_and_remembered(self):
        # The sandbox's clock moves instead of the machine's: 3 s behind plays a machine 3 s fast.
        # Each exchange's documented window decides who refuses the drifted stamp.
        refusing = {-3000: {'bybit', 'bingx'}, 45000: {'bybit', 'okx', 'kucoin', 'bitget', 'bingx'}}
        for offset in (-3000, 45000):
            for exchange, credential in KEYS.items():
                with self.subTest(offset=offset, exchange=exchange):
                    self.sandbox.control('clock', {'offset_ms': offset})
                    self.home = self.new_home()
                    result = self.validate(exchange, *credential)
                    self.assertEqual(result.fields()['status'], 'valid_trade_ready')
                    result, requests = self.run_counted('balance', exchange)
                    self.assertEqual(json.loads(result.out)['status'], 'ok')
                    self.assertTrue(all(r['verdict'] == 'accepted' for r in requests), requests)
                    self.assertEqual(len(requests), 1)
                    # An old record meets the drift on its first request: refused, clock read, sent again.
                    old = self.new_home()
                    store_old_record(old, exchange, *credential)
                    _, requests = self.run_counted('balance', exchange, home=old)
                    refused = exchange in refusing[offset]
                    self.assertEqual([r['verdict'] == 'accepted' for r in requests],
                                     [False, True, True] if refused else [True])
                    _, requests = self.run_counted('balance', exchange, home=old)
                    self.assertEqual(len(requests), 1)
        self.sandbox.control('clock', {'offset_ms': 0})

    # -- what is kept, and how -------------------------------------------------------------

    def test_old_records_keep_working_and_the_memory_is_private(self):
        for exchange, credential in KEYS.items():
            with self.subTest(exchange=exchange):
                store_old_record(self.home, exchange, *credential)
                result = self.home.run('balance', exchange)
                self.assertEqual(json.loads(result.out)['status'], 'ok', result.out)
                loaded = self.home.run('load-credentials', exchange)
                self.assertEqual(loaded.out, 'status=ok\nexchange=%s\napi_key=%s\napi_secret=%s\npassphrase=%s\n'
                                 % ((exchange,) + credential))
        self.validate('okx', 'okx-eea-key', 'okx-eea-secret', 'okx-eea-pass')
        path = self.home.path('vault', 'okx.memory')
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        memory = self.memory('okx')
        self.assertEqual((memory['okx_site'], memory['position_mode']), ('eea', 'hedge'))
        self.assertNotIn('okx-eea-key', self.home.read('vault', 'okx.memory'))
        # Replaced whole: no temporary file is left beside it.
        self.home.run('place-open', 'okx', 'BTC_USDT', 'buy', '1', '60000', '2')
        self.assertEqual([n for n in os.listdir(self.home.path('vault')) if '.tmp' in n], [])
        # Deleting the credential forgets what was learned with it.
        self.home.run('delete-credentials', 'okx')
        self.assertFalse(os.path.exists(path))


if __name__ == '__main__':
    unittest.main()
