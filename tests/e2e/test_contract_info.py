"""contract-info: what one quantity unit is on each exchange, from its public list, without a key."""
import unittest

from harness import SandboxTestCase

# exchange, symbol, native symbol, quantity unit, contract value, currency, quantity step, price tick
CONTRACTS = [
    ('bybit', 'BTC_USDT', 'BTCUSDT', 'base_coin', '1', 'BTC', '0.001', '0.10'),
    ('okx', 'BTC_USDT', 'BTC-USDT-SWAP', 'contracts', '0.01', 'BTC', '0.01', '0.1'),
    ('okx', 'DOGE_USDT', 'DOGE-USDT-SWAP', 'contracts', '1000', 'DOGE', '0.01', '0.00001'),
    ('gate', 'BTC_USDT', 'BTC_USDT', 'contracts', '0.0001', 'BTC', '1', '0.1'),
    ('bingx', 'BTC_USDT', 'BTC-USDT', 'base_coin', '1', 'BTC', '0.0001', '0.1'),
    ('kucoin', 'BTC_USDT', 'XBTUSDTM', 'contracts', '0.001', 'BTC', '1', '0.1'),
    ('bitget', 'DOGE_USDT', 'DOGEUSDT', 'base_coin', '1', 'DOGE', '1', '0.00001'),
]


class ContractInfoTest(SandboxTestCase):
    def test_each_exchange_says_what_a_quantity_is(self):
        for exchange, symbol, native, unit, value, currency, step, tick in CONTRACTS:
            with self.subTest(exchange=exchange, symbol=symbol):
                answer = self.home.run('contract-info', exchange, symbol).json()
                self.assertEqual(answer['status'], 'ok', answer)
                self.assertEqual((answer['native_symbol'], answer['quantity_unit'], answer['contract_value'],
                                  answer['contract_currency'], answer['quantity_step'], answer['price_tick']),
                                 (native, unit, value, currency, step, tick))
                self.assertTrue(answer['min_quantity'] and answer['max_leverage'], answer)
        # No key was stored, and none was needed.
        self.assertEqual(self.home.run('load-credentials', 'okx').out, 'status=missing\n')

    def test_unknown_contracts_and_names_are_refused(self):
        mark = self.sandbox.mark()
        self.assertEqual(self.home.run('contract-info', 'paradex', 'BTC_USDT').json(),
                         {'status': 'error', 'reason': 'unsupported_exchange'})
        self.assertEqual(self.home.run('contract-info', 'okx', 'BTC/USDT').json(),
                         {'status': 'error', 'reason': 'invalid_symbol'})
        self.assertEqual(self.sandbox.requests(since=mark), [])
        for exchange in ('bybit', 'okx', 'gate', 'bingx', 'kucoin', 'bitget'):
            with self.subTest(exchange):
                self.assertEqual(self.home.run('contract-info', exchange, 'NOPE_USDT').json()['reason'], 'unknown_symbol')

    def test_help_states_each_exchanges_quantity_unit(self):
        help_text = self.home.run('help').out
        self.assertIn('base coins on bybit, bingx, bitget', help_text)
        self.assertIn('contracts on okx, gate, kucoin', help_text)


if __name__ == '__main__':
    unittest.main()
