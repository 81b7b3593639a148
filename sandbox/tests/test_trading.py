"""Trading state on each exchange: an order opens a position, a reduce-only (or close-side) order closes
it, and the fills, the closed position and the funding entries are there to read afterwards."""
import time
import unittest

from tests.sandbox_case import SandboxCase
from tests.test_account_modes import KEYS

DAY_MS = 24 * 3600 * 1000


class TradingTest(SandboxCase):
    def ok(self, site, method, path, params=None, key=None):
        status, reply = self.client.call(site, method, path, params, KEYS.get(key))
        self.assertLess(status, 300, reply)
        if isinstance(reply, dict):
            code = str(reply.get('retCode', reply.get('code', '0')))
            self.assertIn(code, ('0', '200000', '00000'), reply)
        return reply

    def test_bingx_hedge_open_close_and_history(self):
        key, symbol = 'bingx-hedge', 'ETH-USDT'
        self.ok('bingx', 'POST', '/openApi/swap/v2/trade/leverage', {'symbol': symbol, 'side': 'SHORT', 'leverage': 4},
                key)
        placed = self.ok('bingx', 'POST', '/openApi/swap/v2/trade/order',
                         {'symbol': symbol, 'side': 'SELL', 'positionSide': 'SHORT', 'type': 'LIMIT', 'quantity': '0.5',
                          'price': '3000', 'timeInForce': 'GTC'}, key)
        order_id = placed['data']['order']['orderId']
        positions = self.ok('bingx', 'GET', '/openApi/swap/v2/user/positions', {'symbol': symbol}, key)['data']
        self.assertEqual([(p['positionSide'], p['positionAmt'], p['leverage']) for p in positions],
                         [('SHORT', '0.5', 4)])
        self.ok('bingx', 'POST', '/openApi/swap/v2/trade/order',
                {'symbol': symbol, 'side': 'BUY', 'positionSide': 'SHORT', 'type': 'LIMIT', 'quantity': '0.5',
                 'price': '2900', 'timeInForce': 'GTC'}, key)
        self.assertEqual(self.ok('bingx', 'GET', '/openApi/swap/v2/user/positions', {'symbol': symbol}, key)['data'], [])
        looked_up = self.ok('bingx', 'GET', '/openApi/swap/v2/trade/order', {'symbol': symbol, 'orderId': order_id}, key)
        self.assertEqual(looked_up['data']['order']['positionSide'], 'SHORT')
        now = int(time.time() * 1000)
        fills = self.ok('bingx', 'GET', '/openApi/swap/v2/trade/allFillOrders',
                        {'orderId': order_id, 'tradingUnit': 'COIN', 'startTs': now - DAY_MS, 'endTs': now + 1000},
                        key)['data']['fill_orders']
        self.assertEqual([(f['orderId'], f['volume'], f['price']) for f in fills], [(str(order_id), '0.5', '3000')])
        history = self.ok('bingx', 'GET', '/openApi/swap/v1/trade/positionHistory', {'symbol': symbol}, key)
        self.assertEqual([(h['positionSide'], h['realisedProfit']) for h in history['data']['positionHistory']],
                         [('SHORT', '50')])
        funding = self.ok('bingx', 'GET', '/openApi/swap/v2/user/income',
                          {'symbol': symbol, 'incomeType': 'FUNDING_FEE', 'startTime': now - DAY_MS, 'limit': 100}, key)
        self.assertTrue(funding['data'])
        self.assertTrue(all(e['incomeType'] == 'FUNDING_FEE' and e['symbol'] == symbol for e in funding['data']))
        _, refused = self.client.call('bingx', 'GET', '/openApi/swap/v2/trade/allFillOrders', {'orderId': order_id},
                                      KEYS[key])
        self.assertEqual(refused['code'], 80014)

    def test_kucoin_open_close_and_history(self):
        symbol = 'ETHUSDTM'
        placed = self.ok('kucoin', 'POST', '/api/v1/orders',
                         {'clientOid': 'open-1', 'side': 'buy', 'symbol': symbol, 'type': 'limit', 'price': '3000',
                          'size': 3, 'leverage': 5, 'timeInForce': 'GTC', 'marginMode': 'ISOLATED'})
        order_id = placed['data']['orderId']
        position = self.ok('kucoin', 'GET', '/api/v1/position', {'symbol': symbol})['data']
        self.assertEqual((position['currentQty'], position['leverage']), (3, 5))
        self.ok('kucoin', 'POST', '/api/v1/orders',
                {'clientOid': 'close-1', 'side': 'sell', 'symbol': symbol, 'type': 'limit', 'price': '3100', 'size': 5,
                 'timeInForce': 'GTC', 'marginMode': 'ISOLATED', 'reduceOnly': True})
        self.assertEqual(self.ok('kucoin', 'GET', '/api/v1/position', {'symbol': symbol})['data']['currentQty'], 0)
        fills = self.ok('kucoin', 'GET', '/api/v1/fills', {'orderId': order_id})['data']['items']
        self.assertEqual([(f['orderId'], f['size']) for f in fills], [(order_id, 3)])
        closed = self.ok('kucoin', 'GET', '/api/v1/history-positions', {'symbol': symbol})['data']['items']
        self.assertEqual([(c['type'], c['pnl']) for c in closed], [('CLOSE_LONG', '300')])
        now = int(time.time() * 1000)
        funding = self.ok('kucoin', 'GET', '/api/v1/funding-history',
                          {'symbol': symbol, 'startAt': now - DAY_MS, 'endAt': now, 'maxCount': 5})['data']
        self.assertEqual((len(funding['dataList']), funding['hasMore']), (3, False))

    def test_bitget_hedge_open_close_and_history(self):
        key, symbol = 'bitget-hedge', 'ETHUSDT'
        base = {'symbol': symbol, 'productType': 'USDT-FUTURES', 'marginCoin': 'USDT'}
        self.ok('bitget', 'POST', '/api/v2/mix/account/set-leverage', dict(base, leverage='7', holdSide='long'), key)
        order = dict(base, marginMode='isolated', size='0.2', price='3000', side='buy', orderType='limit', force='gtc')
        order_id = self.ok('bitget', 'POST', '/api/v2/mix/order/place-order', dict(order, tradeSide='open'),
                           key)['data']['orderId']
        held = self.ok('bitget', 'GET', '/api/v2/mix/position/single-position', base, key)['data']
        self.assertEqual([(p['holdSide'], p['total'], p['leverage']) for p in held], [('long', '0.2', '7')])
        # Closing a long in hedge mode is side "buy" with tradeSide "close".
        self.ok('bitget', 'POST', '/api/v2/mix/order/place-order', dict(order, price='3200', tradeSide='close'), key)
        self.assertEqual(self.ok('bitget', 'GET', '/api/v2/mix/position/single-position', base, key)['data'], [])
        fills = self.ok('bitget', 'GET', '/api/v2/mix/order/fills',
                        {'productType': 'USDT-FUTURES', 'orderId': order_id}, key)['data']['fillList']
        self.assertEqual([(f['orderId'], f['baseVolume']) for f in fills], [(order_id, '0.2')])
        closed = self.ok('bitget', 'GET', '/api/v2/mix/position/history-position',
                         {'productType': 'USDT-FUTURES', 'symbol': symbol}, key)['data']['list']
        self.assertEqual([(c['holdSide'], c['pnl']) for c in closed], [('long', '40')])
        bills = self.ok('bitget', 'GET', '/api/v2/mix/account/bill',
                        {'productType': 'USDT-FUTURES', 'symbol': symbol, 'businessType': 'contract_settle_fee'},
                        key)['data']['bills']
        self.assertTrue(bills)
        self.assertTrue(all(b['businessType'] == 'contract_settle_fee' for b in bills))

    def test_bybit_hedge_close_on_the_long_side(self):
        key, symbol = 'bybit-hedge', 'SOLUSDT'
        order = {'category': 'linear', 'symbol': symbol, 'orderType': 'Limit', 'qty': '2', 'timeInForce': 'GTC'}
        self.ok('bybit', 'POST', '/v5/order/create', dict(order, side='Buy', price='100', positionIdx=1), key)
        self.ok('bybit', 'POST', '/v5/order/create', dict(order, side='Sell', price='90', positionIdx=2), key)
        listed = self.ok('bybit', 'GET', '/v5/position/list', {'category': 'linear', 'symbol': symbol}, key)
        self.assertEqual([(p['positionIdx'], p['side'], p['size']) for p in listed['result']['list']],
                         [(1, 'Buy', '2'), (2, 'Sell', '2')])
        self.ok('bybit', 'POST', '/v5/order/create',
                dict(order, side='Sell', price='110', positionIdx=1, reduceOnly=True), key)
        listed = self.ok('bybit', 'GET', '/v5/position/list', {'category': 'linear', 'symbol': symbol}, key)
        self.assertEqual([p['size'] for p in listed['result']['list']], ['0', '2'])
        closed = self.ok('bybit', 'GET', '/v5/position/closed-pnl', {'category': 'linear', 'symbol': symbol}, key)
        self.assertEqual([(c['side'], c['closedPnl']) for c in closed['result']['list']], [('Sell', '20')])

    def test_gate_dual_mode_closes_one_side(self):
        key, contract = 'gate-dual', 'ETH_USDT'
        self.ok('gate', 'POST', '/api/v4/futures/usdt/orders', {'contract': contract, 'size': 4, 'price': '3000'}, key)
        self.ok('gate', 'POST', '/api/v4/futures/usdt/orders', {'contract': contract, 'size': '-1', 'price': '3000'}, key)
        self.ok('gate', 'POST', '/api/v4/futures/usdt/orders',
                {'contract': contract, 'size': -4, 'price': '3100', 'reduce_only': True}, key)
        sides = self.ok('gate', 'GET', '/api/v4/futures/usdt/dual_comp/positions/' + contract, {}, key)
        self.assertEqual([(p['mode'], p['size']) for p in sides], [('dual_long', 0), ('dual_short', -1)])
        closed = self.ok('gate', 'GET', '/api/v4/futures/usdt/position_close', {'contract': contract}, key)
        self.assertEqual([(c['side'], c['pnl']) for c in closed], [('long', '400')])

    def test_read_replies_have_the_documented_members(self):
        wallet = self.ok('bybit', 'GET', '/v5/account/wallet-balance', {'accountType': 'UNIFIED'})
        coin = wallet['result']['list'][0]['coin'][0]
        self.assertTrue({'availableToWithdraw', 'totalOrderIM', 'totalPositionIM'} <= set(coin))
        bills = self.ok('okx', 'GET', '/api/v5/account/bills', {'instType': 'SWAP', 'type': '8'})['data']
        self.assertTrue(bills)
        self.assertTrue(all(b['instId'] == 'BTC-USDT-SWAP' for b in bills))
        seeded = {'bybit': ('/v5/order/realtime', {'category': 'linear', 'orderId': '1001'},
                            lambda r: r['result']['list'][0]['symbol'], 'BTCUSDT'),
                  'okx': ('/api/v5/trade/order', {'instId': 'BTC-USDT-SWAP', 'ordId': '1001'},
                          lambda r: r['data'][0]['instId'], 'BTC-USDT-SWAP'),
                  'gate': ('/api/v4/futures/usdt/orders/1001', {}, lambda r: r['contract'], 'BTC_USDT'),
                  'bingx': ('/openApi/swap/v2/trade/order', {'symbol': 'BTC-USDT', 'orderId': '1001'},
                            lambda r: r['data']['order']['symbol'], 'BTC-USDT'),
                  'kucoin': ('/api/v1/orders/1001', {}, lambda r: r['data']['symbol'], 'XBTUSDTM'),
                  'bitget': ('/api/v2/mix/order/detail', {'symbol': 'BTCUSDT', 'productType': 'USDT-FUTURES',
                                                           'orderId': '1001'}, lambda r: r['data']['symbol'], 'BTCUSDT')}
        for site, (path, params, read, symbol) in seeded.items():
            with self.subTest(site=site):
                self.assertEqual(read(self.ok(site, 'GET', path, params)), symbol)
        _, book = self.client.call('gate', 'GET', '/api/v4/futures/usdt/account_book', {'type': 'fund'})
        self.assertTrue(all(e['type'] == 'fund' for e in book))


if __name__ == '__main__':
    unittest.main()
