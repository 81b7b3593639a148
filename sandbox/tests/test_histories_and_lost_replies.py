"""Funding windows each exchange refuses or cuts, orders whose reply is lost, and lookups by client
order id."""
import time
import unittest

from tests.sandbox_case import SandboxCase

DAY_MS = 24 * 3600 * 1000


class HistoriesAndLostRepliesTest(SandboxCase):
    def test_funding_windows_follow_each_exchange(self):
        now = int(time.time() * 1000)
        cases = [
            # site, path, params, expected code (None: accepted), entries expected
            ('bybit', '/v5/account/transaction-log',
             {'category': 'linear', 'symbol': 'BTCUSDT', 'type': 'SETTLEMENT', 'startTime': now - 8 * DAY_MS,
              'endTime': now}, 10001, None),
            ('bybit', '/v5/account/transaction-log',
             {'category': 'linear', 'symbol': 'BTCUSDT', 'startTime': now - 30 * DAY_MS}, None, 3),  # 24 h only
            ('bitget', '/api/v2/mix/account/bill',
             {'productType': 'USDT-FUTURES', 'symbol': 'BTCUSDT', 'startTime': now - 31 * DAY_MS, 'endTime': now},
             '40034', None),
            # OKX's recent bills reach back seven days whatever is asked.
            ('okx', '/api/v5/account/bills', {'instId': 'BTC-USDT-SWAP', 'type': '8', 'begin': now - 30 * DAY_MS},
             None, 21),
        ]
        for site, path, params, code, count in cases:
            with self.subTest(site=site, params=params):
                status, reply = self.client.call(site, 'GET', path, params)
                got = reply.get('retCode', reply.get('code'))
                if code is not None:
                    self.assertEqual(str(got), str(code), reply)
                    continue
                entries = reply['result']['list'] if site == 'bybit' else reply['data']
                self.assertIn(len(entries), (count, count + 1), reply)

    def test_a_kucoin_cross_contract_refuses_isolated_orders(self):
        self.control('account', {'site': 'kucoin', 'key': 'kucoin-key', 'set': {'cross_contracts': ['XBTUSDTM']}})
        order = {'clientOid': 'kv1', 'side': 'buy', 'symbol': 'XBTUSDTM', 'type': 'limit', 'price': '60000',
                 'size': 1, 'timeInForce': 'GTC'}
        _, mode = self.client.call('kucoin', 'GET', '/api/v2/position/getMarginMode', {'symbol': 'XBTUSDTM'})
        self.assertEqual(mode['data']['marginMode'], 'CROSS')
        _, refused = self.client.call('kucoin', 'POST', '/api/v1/orders', dict(order, marginMode='ISOLATED'))
        self.assertEqual(refused['code'], '330005')
        _, placed = self.client.call('kucoin', 'POST', '/api/v1/orders', dict(order, marginMode='CROSS'))
        self.assertEqual(placed['code'], '200000')

    def test_a_lost_reply_keeps_or_drops_the_order(self):
        order = {'clientOid': 'kv-lost', 'side': 'buy', 'symbol': 'XBTUSDTM', 'type': 'limit', 'price': '60000',
                 'size': 1, 'leverage': 5, 'timeInForce': 'GTC', 'marginMode': 'ISOLATED'}
        for mode, found in (('not_stored', False), ('stored', True)):
            with self.subTest(mode=mode):
                self.assertEqual(self.control('order_fault', {'site': 'kucoin', 'mode': mode})[0], 200)
                status, _ = self.client.call('kucoin', 'POST', '/api/v1/orders', order)
                self.assertEqual(status, 502)
                _, lookup = self.client.call('kucoin', 'GET', '/api/v1/orders/byClientOid', {'clientOid': 'kv-lost'})
                self.assertEqual(lookup['data'] is not None, found, lookup)
        self.assertEqual(self.control('order_fault', {'site': 'kucoin', 'mode': 'maybe'})[0], 400)


if __name__ == '__main__':
    unittest.main()
