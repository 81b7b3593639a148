"""Funding histories over a whole lookback on every exchange, and accounts in the margin and
position modes the connector must follow (KuCoin cross-margin contracts, Gate dual mode)."""
import json
import unittest
from urllib.parse import parse_qs

from harness import KeyedTestCase

EIGHT_HOURS_MS = 8 * 3600 * 1000
# Per exchange: the window's query parameters and their unit (ms per unit), where the answer holds
# its entries, and each entry's time in milliseconds.
FUNDING = {
    'bybit': ('startTime', 'endTime', 1, lambda b: b['result']['list'], lambda e: int(e['transactionTime'])),
    'okx': ('begin', 'end', 1, lambda b: b['data'], lambda e: int(e['ts'])),
    'gate': ('from', 'to', 1000, lambda b: b, lambda e: int(round(e['time'] * 1000))),
    'bingx': ('startTime', 'endTime', 1, lambda b: b['data'], lambda e: int(e['time'])),
    'kucoin': ('startAt', 'endAt', 1, lambda b: b['data']['dataList'], lambda e: int(e['timePoint'])),
    'bitget': ('startTime', 'endTime', 1, lambda b: b['data']['bills'], lambda e: int(e['cTime'])),
}


class HistoriesAndModesTest(KeyedTestCase):
    def test_a_30_day_funding_history_is_complete_on_every_exchange(self):
        for exchange, (start_name, end_name, unit, entries_of, time_of) in FUNDING.items():
            with self.subTest(exchange=exchange):
                mark = self.sandbox.mark()
                result = self.home.run('funding', exchange, 'BTC_USDT', str(30 * 24 * 60))
                answer = json.loads(result.out)
                self.assertEqual(answer['status'], 'ok', result.out)
                self.assertNotIn('covered_minutes', answer)
                requests = self.sandbox.requests(since=mark, site=exchange)
                self.assertTrue(all(r['verdict'] == 'accepted' for r in requests), requests)
                queries = [parse_qs(r['query']) for r in requests]
                oldest = min(int(q[start_name][0]) for q in queries) * unit
                newest = max(int(q[end_name][0]) for q in queries) * unit
                self.assertAlmostEqual(newest - oldest, 30 * 24 * 3600 * 1000, delta=2000)
                # Every settlement the sandbox made in the window, once each.
                expected = [t for t in range(newest - newest % EIGHT_HOURS_MS, oldest - 1, -EIGHT_HOURS_MS)]
                times = [time_of(e) for e in entries_of(answer['body'])]
                self.assertEqual(times, expected)
                self.assertEqual(len(times), 90)

    def test_a_lookback_past_what_the_exchange_keeps_says_what_it_covers(self):
        for exchange, kept_days in (('okx', 90), ('bitget', 90), ('bingx', 90)):
            with self.subTest(exchange=exchange):
                answer = json.loads(self.home.run('funding', exchange, 'BTC_USDT', str(120 * 24 * 60)).out)
                self.assertEqual((answer['status'], answer['covered_minutes']), ('ok', kept_days * 24 * 60))
                # The sandbox keeps 40 days of payments: all of them are there.
                self.assertEqual(len(FUNDING[exchange][3](answer['body'])), 120)

    def memory_lines(self, exchange):
        return dict(line.split('=', 1) for line in self.home.read('vault', exchange + '.memory').split('\n')
                    if '=' in line)

    def test_accounts_in_other_modes_trade_without_refusals(self):
        cases = [
            # A KuCoin contract in cross margin: its own leverage request, orders in cross.
            ('kucoin', 'kucoin-key', {'cross_contracts': ['XBTUSDTM']}, '"marginMode":"CROSS"',
             '/api/v2/changeCrossUserLeverage', ('margin_modes', 'XBTUSDTM=cross')),
            # A Gate account in dual mode: the dual-mode leverage request, then open and close.
            ('gate', 'gate-key', {'dual_mode': True}, '"contract":"BTC_USDT"',
             '/api/v4/futures/usdt/dual_comp/positions/BTC_USDT/leverage', ('dual_mode', 'true')),
        ]
        for exchange, key, settings, order_mark, leverage_path, remembered in cases:
            with self.subTest(exchange=exchange):
                self.sandbox.control('account', {'site': exchange, 'key': key, 'set': settings})
                mark = self.sandbox.mark()
                opened = json.loads(self.home.run('place-open', exchange, 'BTC_USDT', 'buy', '2', '60000', '5').out)
                closed = json.loads(self.home.run('place-close', exchange, 'BTC_USDT', 'buy', '2', '60500').out)
                self.assertEqual((opened['status'], closed['status']), ('ok', 'ok'), (opened, closed))
                requests = self.sandbox.requests(since=mark, site=exchange)
                refused = [(r['path'], r['reply']) for r in requests if r['status'] >= 400 or '330005' in r['reply']]
                self.assertEqual(refused, [])
                self.assertIn(leverage_path, [r['path'] for r in requests])
                orders = [r for r in requests if r['method'] == 'POST' and r['path'].endswith('orders')]
                self.assertEqual(len(orders), 2)
                self.assertTrue(all(order_mark in r['body'] for r in orders), orders)
                self.assertEqual(self.memory_lines(exchange)[remembered[0]], remembered[1])


if __name__ == '__main__':
    unittest.main()
