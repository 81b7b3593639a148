"""Signed exchange operations against the sandbox: every request's method, path, query, body and
header lines, the envelope around the sandbox's reply, and the refusals."""
import json
import os
import re
import time
import unittest

from harness import CLOSED_URL, KEYS, SandboxTestCase

HEADERS = {
    'bybit': ['X-BAPI-API-KEY', 'X-BAPI-TIMESTAMP', 'X-BAPI-RECV-WINDOW', 'X-BAPI-SIGN'],
    'okx': ['OK-ACCESS-KEY', 'OK-ACCESS-SIGN', 'OK-ACCESS-TIMESTAMP', 'OK-ACCESS-PASSPHRASE'],
    'gate': ['KEY', 'Timestamp', 'SIGN'],
    'bingx': ['X-BX-APIKEY'],
    'kucoin': ['KC-API-KEY', 'KC-API-SIGN', 'KC-API-TIMESTAMP', 'KC-API-PASSPHRASE', 'KC-API-KEY-VERSION'],
    'bitget': ['ACCESS-KEY', 'ACCESS-SIGN', 'ACCESS-TIMESTAMP', 'ACCESS-PASSPHRASE', 'Content-Type'],
}
CT = ['Content-Type']
ALL_HEADER_NAMES = sorted({name for names in HEADERS.values() for name in names} |
                          {'Content-Type', 'locale', 'X-CHANNEL-API-CODE'})
MS = r'\d{13}'
SEC = r'\d{10}'
SIG = r'[0-9a-f]{64}'

# (command arguments, [(method, path, query regex, body, header names)]) per operation.
CASES = [
    (['balance', 'bybit'], [('GET', '/v5/account/wallet-balance', 'accountType=UNIFIED', '', HEADERS['bybit'])]),
    (['balance', 'okx'], [('GET', '/api/v5/account/balance', 'ccy=USDT', '', HEADERS['okx'])]),
    (['balance', 'gate'], [('GET', '/api/v4/futures/usdt/accounts', '', '', HEADERS['gate'])]),
    (['balance', 'bingx'], [('GET', '/openApi/swap/v2/user/balance', 'timestamp=%s&signature=%s' % (MS, SIG), '',
                             HEADERS['bingx'])]),
    (['balance', 'kucoin'], [('GET', '/api/v1/account-overview', 'currency=USDT', '', HEADERS['kucoin'])]),
    (['balance', 'bitget'], [('GET', '/api/v2/mix/account/accounts', 'productType=USDT-FUTURES', '',
                              HEADERS['bitget'] + ['locale', 'X-CHANNEL-API-CODE'])]),
    (['get-position', 'bybit', 'BTC_USDT'], [('GET', '/v5/position/list', 'category=linear&symbol=BTCUSDT&settleCoin=USDT',
                                              '', HEADERS['bybit'])]),
    (['get-position', 'okx', 'ETH_USDT'], [('GET', '/api/v5/account/positions', 'instType=SWAP&instId=ETH-USDT-SWAP', '',
                                            HEADERS['okx'])]),
    (['get-position', 'gate', 'ETH_USDT'], [('GET', '/api/v4/futures/usdt/positions', 'holding=true', '', HEADERS['gate'])]),
    (['get-position', 'bingx', 'BTC_USDT'], [('GET', '/openApi/swap/v2/user/positions',
                                              'symbol=BTC-USDT&timestamp=%s&signature=%s' % (MS, SIG), '', HEADERS['bingx'])]),
    (['get-position', 'kucoin', 'BTC_USDT'], [('GET', '/api/v1/position', 'symbol=XBTUSDTM', '', HEADERS['kucoin'])]),
    (['get-position', 'bitget', 'ETH_USDT'], [('GET', '/api/v2/mix/position/single-position',
                                               'symbol=ETHUSDT&productType=USDT-FUTURES&marginCoin=USDT', '',
                                               HEADERS['bitget'])]),
    (['order-status', 'bybit', 'BTC_USDT', '1001'], [('GET', '/v5/order/realtime', 'category=linear&symbol=BTCUSDT&orderId=1001',
                                                      '', HEADERS['bybit'])]),
    (['order-status', 'okx', 'BTC_USDT', '1001'], [('GET', '/api/v5/trade/order', 'instId=BTC-USDT-SWAP&ordId=1001', '',
                                                    HEADERS['okx'])]),
    (['order-status', 'gate', 'BTC_USDT', '1001'], [('GET', '/api/v4/futures/usdt/orders/1001', 'contract=BTC_USDT', '',
                                                     HEADERS['gate'])]),
    (['order-status', 'kucoin', 'ETH_USDT', '1001'], [('GET', '/api/v1/orders/1001', '', '', HEADERS['kucoin'])]),
    (['order-status', 'bitget', 'BTC_USDT', '1001'], [('GET', '/api/v2/mix/order/detail',
                                                       'symbol=BTCUSDT&productType=USDT-FUTURES&orderId=1001', '',
                                                       HEADERS['bitget'])]),
    (['order-status', 'bingx', 'BTC_USDT', '1001'], [('GET', '/openApi/swap/v2/trade/order',
                                                      'symbol=BTC-USDT&orderId=1001&timestamp=%s&signature=%s' % (MS, SIG),
                                                      '', HEADERS['bingx'])]),
    (['cancel-order', 'bybit', 'BTC_USDT', '1001'], [('POST', '/v5/order/cancel', '',
                                                      '{"category":"linear","symbol":"BTCUSDT","orderId":"1001"}',
                                                      HEADERS['bybit'] + CT)]),
    (['cancel-order', 'okx', 'ETH_USDT', '1001'], [('POST', '/api/v5/trade/cancel-order', '',
                                                    '{"instId":"ETH-USDT-SWAP","ordId":"1001"}', HEADERS['okx'] + CT)]),
    (['cancel-order', 'gate', 'BTC_USDT', '1001'], [('DELETE', '/api/v4/futures/usdt/orders/1001', 'contract=BTC_USDT', '',
                                                     HEADERS['gate'])]),
    (['cancel-order', 'kucoin', 'BTC_USDT', '1001'], [('DELETE', '/api/v1/orders/1001', '', '', HEADERS['kucoin'])]),
    (['cancel-order', 'bitget', 'BTC_USDT', '1001'], [('POST', '/api/v2/mix/order/cancel-order', '',
                                                       '{"symbol":"BTCUSDT","productType":"USDT-FUTURES","orderId":"1001"}',
                                                       HEADERS['bitget'])]),
    (['cancel-order', 'bingx', 'BTC_USDT', '1001'], [('DELETE', '/openApi/swap/v2/trade/order',
                                                      'symbol=BTC-USDT&orderId=1001&timestamp=%s&signature=%s' % (MS, SIG),
                                                      '', HEADERS['bingx'])]),
    # A credential stored before modes were learned: the first order asks the account's mode once.
    (['place-open', 'bybit', 'BTC_USDT', 'buy', '0.01', '65000', '5'], [
        ('GET', '/v5/position/list', 'category=linear&symbol=BTCUSDT', '', HEADERS['bybit']),
        ('POST', '/v5/position/set-leverage', '',
         '{"category":"linear","symbol":"BTCUSDT","buyLeverage":"5","sellLeverage":"5"}', HEADERS['bybit'] + CT),
        ('POST', '/v5/order/create', '', '{"category":"linear","symbol":"BTCUSDT","side":"Buy","orderType":"Limit",'
                                         '"qty":"0.01","price":"65000","timeInForce":"GTC","positionIdx":0,"orderLinkId":"CID"}',
         HEADERS['bybit'] + CT)]),
    (['place-open', 'okx', 'BTC_USDT', 'sell', '2', '64000', '3'], [
        ('GET', '/api/v5/account/config', '', '', HEADERS['okx']),
        ('POST', '/api/v5/account/set-leverage', '',
         '{"instId":"BTC-USDT-SWAP","lever":"3","mgnMode":"isolated","posSide":"short"}', HEADERS['okx'] + CT),
        ('POST', '/api/v5/trade/order', '', '{"instId":"BTC-USDT-SWAP","tdMode":"isolated","posSide":"short",'
                                            '"side":"sell","ordType":"limit","px":"64000","sz":"2","clOrdId":"CID"}',
         HEADERS['okx'] + CT)]),
    # The first order asks whether the Gate account is in dual mode.
    (['place-open', 'gate', 'BTC_USDT', 'sell', '3', '64000.5', '10'], [
        ('GET', '/api/v4/futures/usdt/accounts', '', '', HEADERS['gate']),
        ('POST', '/api/v4/futures/usdt/positions/BTC_USDT/leverage', 'leverage=10', '', HEADERS['gate']),
        ('POST', '/api/v4/futures/usdt/orders', '', '{"contract":"BTC_USDT","size":-3,"price":"64000.5","tif":"gtc",'
                                                     '"text":"t-CID"}',
         HEADERS['gate'] + CT)]),
    (['place-close', 'bybit', 'BTC_USDT', 'buy', '0.01', '64000'], [
        ('POST', '/v5/order/create', '', '{"category":"linear","symbol":"BTCUSDT","side":"Sell","orderType":"Limit",'
                                         '"qty":"0.01","price":"64000","timeInForce":"GTC","positionIdx":0,'
                                         '"reduceOnly":true,"orderLinkId":"CID"}',
         HEADERS['bybit'] + CT)]),
    (['place-close', 'okx', 'BTC_USDT', 'sell', '1', '63000'], [
        ('POST', '/api/v5/trade/order', '', '{"instId":"BTC-USDT-SWAP","tdMode":"isolated","posSide":"short","side":"buy",'
                                            '"ordType":"limit","px":"63000","sz":"1","reduceOnly":true,'
                                            '"clOrdId":"CID"}',
         HEADERS['okx'] + CT)]),
    (['place-close', 'gate', 'BTC_USDT', 'buy', '2', '66000'], [
        ('POST', '/api/v4/futures/usdt/orders', '',
         '{"contract":"BTC_USDT","size":-2,"price":"66000","tif":"gtc","reduce_only":true,"text":"t-CID"}',
         HEADERS['gate'] + CT)]),
    (['funding', 'bybit', 'BTC_USDT'], [('GET', '/v5/account/transaction-log',
                                         'category=linear&symbol=BTCUSDT&type=SETTLEMENT&startTime=%s&endTime=%s&limit=50' % (MS, MS), '', HEADERS['bybit'])]),
    (['funding', 'okx', 'BTC_USDT', '5'], [('GET', '/api/v5/account/bills', 'instType=SWAP&instId=BTC-USDT-SWAP&type=8&begin=%s&end=%s&limit=100' % (MS, MS),
                                            '', HEADERS['okx'])]),
    (['funding', 'gate', 'BTC_USDT', '60'], [('GET', '/api/v4/futures/usdt/account_book',
                                              'type=fund&contract=BTC_USDT&from=%s&to=%s&limit=100' % (SEC, SEC), '', HEADERS['gate'])]),
    (['close-report', 'bybit', 'BTC_USDT'], [
        ('GET', '/v5/order/realtime', 'category=linear&symbol=BTCUSDT', '', HEADERS['bybit']),
        ('GET', '/v5/position/closed-pnl', 'category=linear&symbol=BTCUSDT&limit=20', '', HEADERS['bybit'])]),
    (['close-report', 'okx', 'BTC_USDT', '1001'], [
        ('GET', '/api/v5/trade/order', 'instId=BTC-USDT-SWAP&ordId=1001', '', HEADERS['okx']),
        ('GET', '/api/v5/account/positions-history', 'instType=SWAP&instId=BTC-USDT-SWAP', '', HEADERS['okx'])]),
    (['close-report', 'gate', 'BTC_USDT', '1001'], [
        ('GET', '/api/v4/futures/usdt/orders/1001', '', '', HEADERS['gate']),
        ('GET', '/api/v4/futures/usdt/my_trades', 'contract=BTC_USDT&limit=20', '', HEADERS['gate'])]),
    (['close-report', 'gate', 'BTC_USDT'], [
        ('GET', '/api/v4/futures/usdt/my_trades', 'contract=BTC_USDT&limit=20', '', HEADERS['gate'])]),
]
# The client order id the connector makes: "kv", its clock in milliseconds, 11 hex digits.
CLIENT_ID = re.compile(r'kv\d{13}[0-9a-f]{11}')
KINDS = {'balance': 'balance', 'get-position': 'position', 'order-status': 'order_status', 'cancel-order': 'cancel_order',
         'place-open': 'place_open', 'place-close': 'place_close', 'funding': 'funding', 'close-report': 'close_report'}
COMPOSITE = {('place-open', None): ('leverage', 'place'), ('close-report', 'bybit'): ('order', 'closed_pnl'),
             ('close-report', 'okx'): ('order', 'positions_history'), ('close-report', 'gate'): ('order', 'trades')}


def store(home, exchange, key, secret, passphrase=''):
    """Puts a credential into the fake keychain the way a successful save does."""
    home.store_record(exchange, key, secret, passphrase)


class OperationsTest(SandboxTestCase):
    def setUp(self):
        super().setUp()
        for exchange, credential in KEYS.items():
            store(self.home, exchange, *credential)

    def run_logged(self, *args, env=None):
        mark = self.sandbox.mark()
        result = self.home.run(*args, env=env)
        return result, self.sandbox.requests(since=mark)

    def test_every_request_is_exactly_as_specified_and_accepted(self):
        for args, expected in CASES:
            with self.subTest(args=' '.join(args)):
                result, requests = self.run_logged(*args)
                self.assertEqual(result.code, 0)
                self.assertEqual(len(requests), len(expected), result.out)
                for entry, (method, path, query, body, headers) in zip(requests, expected):
                    self.assertEqual(entry['verdict'], 'accepted', entry['reply'])
                    self.assertEqual((entry['method'], entry['path'], CLIENT_ID.sub('CID', entry['body'])),
                                     (method, path, body))
                    self.assertRegex(entry['query'], '^%s$' % query)
                    self.assertEqual([line.split(':')[0] for line in self.header_lines(entry, ALL_HEADER_NAMES)],
                                     headers)
                    fixed = self.header_lines(entry, ['X-BAPI-RECV-WINDOW', 'KC-API-KEY-VERSION', 'Content-Type',
                                                      'locale', 'X-CHANNEL-API-CODE'])
                    self.assertTrue(set(fixed) <= {'X-BAPI-RECV-WINDOW: 5000', 'KC-API-KEY-VERSION: 2',
                                                   'Content-Type: application/json', 'locale: en-US',
                                                   'X-CHANNEL-API-CODE: qwvtz'}, fixed)
                self.assert_envelope(args, result.out, [entry['reply'] for entry in requests])

    def assert_envelope(self, args, printed, replies):
        command, exchange = args[0], args[1]
        prefix = '{"status":"ok","exchange":"%s","kind":"%s",' % (exchange, KINDS[command])
        if command.startswith('place-'):
            # The id the order went out with.
            sent = CLIENT_ID.search(replies[-1])
            self.assertIsNotNone(sent, printed)
            prefix += '"client_order_id":"%s%s",' % ('t-' if exchange == 'gate' else '', sent.group(0))
        prefix += '"body":'
        self.assertTrue(printed.startswith(prefix), printed)
        body = printed[len(prefix):-2]
        self.assertEqual(printed[-2:], '}\n')
        names = COMPOSITE.get((command, None if command == 'place-open' else exchange))
        if command == 'place-open' and len(replies) == 3:
            replies = replies[1:]  # the first asked the account's position mode (Gate: dual mode)
        if names is None:
            self.assertEqual(body, replies[0])
        elif len(replies) == 2:
            self.assertEqual(body, '{"%s":%s,"%s":%s}' % (names[0], replies[0], names[1], replies[1]))
        else:
            self.assertEqual(body, '{"order":{},"trades":%s}' % replies[0])

    def test_refusals_in_order(self):
        other = self.new_home()
        self.assertEqual(other.run('order-status', 'paradex', 'BTC_USDT', '').out,
                         '{"status":"error","reason":"credentials_not_found"}\n')
        store(other, 'paradex', 'k', 's')
        cases = [(['order-status', 'paradex', 'BTC_USDT', ''], 'missing_order_id'),
                 (['cancel-order', 'bybit', 'BTC_USDT', ''], 'missing_order_id'),
                 (['order-status', 'paradex', 'BTC_USDT', '1'], 'unsupported_exchange'),
                 (['balance', 'paradex'], 'unsupported_exchange'),
                 (['get-position', 'paradex', 'x y'], 'unsupported_exchange')]
        for args, reason in cases:
            with self.subTest(args=args):
                result, requests = self.run_logged(*args) if args[1] == 'bybit' else (other.run(*args), [])
                self.assertEqual(result.out, '{"status":"error","reason":"%s"}\n' % reason)
                self.assertEqual(requests, [])
        store(other, 'reya', 'k', 's')
        for args in (['place-open', 'reya', 'BTC_USDT', 'buy', '1', '1', '1'], ['funding', 'reya', 'BTC_USDT'],
                     ['close-report', 'reya', 'BTC_USDT'], ['place-close', 'reya', 'BTC_USDT', 'buy', '1', '1']):
            self.assertEqual(other.run(*args).out, '{"status":"error","reason":"unsupported_exchange"}\n')

    def test_bad_trading_inputs_are_refused_before_any_request(self):
        cases = [
            (['get-position', 'bybit', 'BTC/USDT'], 'invalid_symbol'),
            (['balance', 'bybit'], None),
            (['order-status', 'okx', 'BTC_USDT', '1&x=2'], 'invalid_order_id'),
            (['cancel-order', 'gate', 'BTC_USDT', '../accounts'], 'invalid_order_id'),
            (['order-status', 'kucoin', 'BTC USDT', '1'], 'invalid_symbol'),
            (['close-report', 'bybit', 'BTC_USDT', '1"x'], 'invalid_order_id'),
            (['funding', 'gate', 'BTC_USDT&x=1'], 'invalid_symbol'),
            (['place-open', 'bybit', 'BTC_USDT', 'Buy', '0.01', '65000', '5'], 'invalid_side'),
            (['place-open', 'okx', 'BTC_USDT', 'buy', '0', '65000', '5'], 'invalid_quantity'),
            (['place-open', 'gate', 'BTC_USDT', 'buy', '1,"reduce_only":false', '65000', '5'], 'invalid_quantity'),
            (['place-open', 'bybit', 'BTC_USDT', 'buy', '1', '1","reduceOnly":false,"x":"', '5'], 'invalid_price'),
            (['place-open', 'bybit', 'BTC_USDT', 'buy', '1', '-5', '5'], 'invalid_price'),
            (['place-open', 'gate', 'BTC_USDT', 'sell', '1', '100', '0'], 'invalid_leverage'),
            (['place-open', 'bybit', 'BTC_USDT', 'sell', '1', '100', '201'], 'invalid_leverage'),
            (['place-open', 'okx', 'BTC_USDT', 'sell', '1', '100', '2147483647'], 'invalid_leverage'),
            (['place-close', 'okx', 'BTC_USDT', 'long', '1', '100'], 'invalid_side'),
            (['place-close', 'gate', 'BTC_USDT', 'sell', '1e3', '100'], 'invalid_quantity'),
        ]
        for args, reason in cases:
            with self.subTest(args=args):
                result, requests = self.run_logged(*args)
                if reason is None:
                    self.assertEqual(len(requests), 1)
                    continue
                self.assertEqual((result.code, result.out), (0, '{"status":"error","reason":"%s"}\n' % reason))
                self.assertEqual(requests, [])

    def test_transport_failure_is_http_failed(self):
        env = {'KORVANE_BYBIT_BASE_URL': CLOSED_URL, 'KORVANE_GATE_BASE_URL': CLOSED_URL}
        for args in (['balance', 'bybit'], ['place-open', 'gate', 'BTC_USDT', 'buy', '1', '1', '2'],
                     ['close-report', 'gate', 'BTC_USDT', '1001']):
            with self.subTest(args=args):
                self.assertEqual(self.home.run(*args, env=env).out, '{"status":"error","reason":"http_failed"}\n')

    def test_exchange_rejection_is_an_error_with_the_exchange_code(self):
        store(self.home, 'bybit', 'bybit-trade-key', 'wrong-secret')
        result, requests = self.run_logged('balance', 'bybit')
        self.assertEqual(requests[0]['verdict'], 'rejected')
        reply = json.loads(requests[0]['reply'])
        self.assertEqual(result.out, json.dumps({
            'status': 'error', 'reason': 'exchange_rejected', 'exchange': 'bybit', 'kind': 'balance',
            'code': '10004', 'message': reply['retMsg'], 'class': 'credentials', 'body': reply},
            separators=(',', ':')) + '\n')

    def test_leverage_already_set_still_places_the_order(self):
        self.home.run('place-open', 'bybit', 'ETH_USDT', 'buy', '1', '3000', '7')
        result, requests = self.run_logged('place-open', 'bybit', 'ETH_USDT', 'buy', '1', '3000', '7')
        self.assertEqual(len(requests), 2)  # the mode is remembered from the first order
        body = json.loads(result.out)['body']
        self.assertEqual(body['leverage']['retCode'], 110043)
        self.assertEqual(body['place']['retCode'], 0)

    def test_placed_orders_can_be_looked_up_and_cancelled(self):
        placed = json.loads(self.home.run('place-open', 'okx', 'SOL_USDT', 'buy', '2', '150', '3').out)
        order_id = placed['body']['place']['data'][0]['ordId']
        status = json.loads(self.home.run('order-status', 'okx', 'SOL_USDT', order_id).out)
        self.assertEqual(status['body']['data'][0]['state'], 'live')
        cancelled = json.loads(self.home.run('cancel-order', 'okx', 'SOL_USDT', order_id).out)
        self.assertEqual(cancelled['body']['data'][0]['sCode'], '0')

    def test_symbol_rules_of_reader_and_executor_differ_without_underscore(self):
        _, requests = self.run_logged('get-position', 'bybit', 'SOLUSDT')
        self.assertIn('symbol=SOLUSDTUSDT', requests[0]['query'])
        _, requests = self.run_logged('place-open', 'bybit', 'SOLUSDT', 'buy', '1', '100', '2')
        self.assertIn('"symbol":"SOLUSDT"', requests[-1]['body'])

    def test_funding_windows(self):
        before = int(time.time() * 1000)
        _, requests = self.run_logged('funding', 'bybit', 'BTC_USDT', '180')
        start = int(re.search(r'startTime=(\d+)', requests[0]['query']).group(1))
        self.assertAlmostEqual(start, before - 180 * 60 * 1000, delta=5000)
        # A negative lookback is no number of minutes: a usage error that asks nothing.
        mark = self.sandbox.mark()
        self.assertEqual(self.home.run('funding', 'gate', 'BTC_USDT', '-1').code, 1)
        self.assertEqual(self.sandbox.requests(since=mark), [])
        # OKX's bills are asked for the lookback itself, not the newest page whatever it is.
        before = int(time.time() * 1000)
        _, requests = self.run_logged('funding', 'okx', 'BTC_USDT', '999')
        start = int(re.search(r'begin=(\d+)', requests[0]['query']).group(1))
        self.assertAlmostEqual(start, before - 999 * 60 * 1000, delta=5000)


if __name__ == '__main__':
    unittest.main()
