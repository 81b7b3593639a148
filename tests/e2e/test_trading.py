"""Trading on BingX, KuCoin and Bitget against the sandbox: every request's method, path, query and
body in both position modes, each signature checked by the sandbox, the answer envelopes, and
the refusals."""
import json
import re
import unittest

from harness import SandboxTestCase

MS = r'\d{13}'
SIG = r'[0-9a-f]{64}'
BINGX_TAIL = '&timestamp=%s&signature=%s' % (MS, SIG)
OID = r'kv\d{13}[0-9a-f]{11}'  # the client order id the connector makes

# Per exchange and mode: the key, and the requests each command sends (method, path, query regex,
# body regex), after the one request that learns the mode on the first order.
ACCOUNTS = {
    ('bingx', 'hedge'): ('bingx-hedge-key', 'bingx-hedge-secret', ''),
    ('bingx', 'one_way'): ('bingx-oneway-key', 'bingx-oneway-secret', ''),
    ('kucoin', 'one_way'): ('kucoin-key', 'kucoin-secret', 'kucoin-pass'),
    ('kucoin', 'hedge'): ('kucoin-hedge-key', 'kucoin-hedge-secret', 'kucoin-hedge-pass'),
    ('bitget', 'hedge'): ('bitget-hedge-key', 'bitget-hedge-secret', 'bitget-hedge-pass'),
    ('bitget', 'one_way'): ('bitget-oneway-key', 'bitget-oneway-secret', 'bitget-oneway-pass'),
}
MARGIN_REQUEST = ('GET', '/api/v2/position/getMarginMode', 'symbol=XBTUSDTM', '')
MODE_REQUEST = {
    'bingx': ('GET', '/openApi/swap/v1/positionSide/dual', 'timestamp=%s&signature=%s' % (MS, SIG), ''),
    'kucoin': ('GET', '/api/v2/position/getPositionMode', '', ''),
    'bitget': ('GET', '/api/v2/mix/account/account', 'symbol=BTCUSDT&productType=USDT-FUTURES&marginCoin=USDT', ''),
}


def kucoin_order(side, position, extra=''):
    return (r'\{"clientOid":"%s","side":"%s","symbol":"XBTUSDTM","type":"limit","price":"60000","size":2%s,'
            r'"timeInForce":"GTC","marginMode":"ISOLATED"%s\}' % (OID, side, extra, position))


def bitget_order(side, mode_fields):
    return re.escape('{"symbol":"BTCUSDT","productType":"USDT-FUTURES","marginCoin":"USDT","marginMode":"isolated",'
                     '"size":"2","price":"60000","side":"%s"%s,"orderType":"limit","force":"gtc",' % (side, mode_fields)) + \
        '"clientOid":"%s"\\}' % OID


OPEN = {  # place-open BTC_USDT sell 2 60000 7: leverage (or its echo), then the order
    ('bingx', 'hedge'): [
        ('POST', '/openApi/swap/v2/trade/leverage', 'symbol=BTC-USDT&side=SHORT&leverage=7' + BINGX_TAIL, ''),
        ('POST', '/openApi/swap/v2/trade/order', 'symbol=BTC-USDT&side=SELL&positionSide=SHORT&type=LIMIT&quantity=2'
                                                 '&price=60000&timeInForce=GTC&clientOrderID=' + OID + BINGX_TAIL, '')],
    ('bingx', 'one_way'): [
        ('POST', '/openApi/swap/v2/trade/leverage', 'symbol=BTC-USDT&side=BOTH&leverage=7' + BINGX_TAIL, ''),
        ('POST', '/openApi/swap/v2/trade/order', 'symbol=BTC-USDT&side=SELL&positionSide=BOTH&type=LIMIT&quantity=2'
                                                 '&price=60000&timeInForce=GTC&clientOrderID=' + OID + BINGX_TAIL, '')],
    ('kucoin', 'one_way'): [('POST', '/api/v1/orders', '', kucoin_order('sell', '', ',"leverage":7'))],
    ('kucoin', 'hedge'): [('POST', '/api/v1/orders', '', kucoin_order('sell', ',"positionSide":"SHORT"', ',"leverage":7'))],
    ('bitget', 'hedge'): [
        ('POST', '/api/v2/mix/account/set-leverage', '',
         re.escape('{"symbol":"BTCUSDT","productType":"USDT-FUTURES","marginCoin":"USDT","leverage":"7",'
                   '"holdSide":"short"}')),
        ('POST', '/api/v2/mix/order/place-order', '', bitget_order('sell', ',"tradeSide":"open"'))],
    ('bitget', 'one_way'): [
        ('POST', '/api/v2/mix/account/set-leverage', '',
         re.escape('{"symbol":"BTCUSDT","productType":"USDT-FUTURES","marginCoin":"USDT","leverage":"7"}')),
        ('POST', '/api/v2/mix/order/place-order', '', bitget_order('sell', ''))],
}
CLOSE = {  # place-close BTC_USDT sell 2 60000: closes the short, so the order buys
    ('bingx', 'hedge'): [('POST', '/openApi/swap/v2/trade/order', 'symbol=BTC-USDT&side=BUY&positionSide=SHORT&type=LIMIT'
                                                                  '&quantity=2&price=60000&timeInForce=GTC&clientOrderID=' + OID + BINGX_TAIL, '')],
    ('bingx', 'one_way'): [('POST', '/openApi/swap/v2/trade/order', 'symbol=BTC-USDT&side=BUY&positionSide=BOTH&type=LIMIT'
                                                                    '&quantity=2&price=60000&timeInForce=GTC&reduceOnly=true'
                                                                    '&clientOrderID=' + OID + BINGX_TAIL, '')],
    ('kucoin', 'one_way'): [('POST', '/api/v1/orders', '', kucoin_order('buy', ',"reduceOnly":true'))],
    ('kucoin', 'hedge'): [('POST', '/api/v1/orders', '', kucoin_order('buy', ',"positionSide":"SHORT"'))],
    ('bitget', 'hedge'): [('POST', '/api/v2/mix/order/place-order', '', bitget_order('sell', ',"tradeSide":"close"'))],
    ('bitget', 'one_way'): [('POST', '/api/v2/mix/order/place-order', '', bitget_order('buy', ',"reduceOnly":"YES"'))],
}
FUNDING = {  # funding BTC_USDT 60
    'bingx': [('GET', '/openApi/swap/v2/user/income',
               'symbol=BTC-USDT&incomeType=FUNDING_FEE&startTime=%s&endTime=%s&limit=1000' % (MS, MS) + BINGX_TAIL, '')],
    'kucoin': [('GET', '/api/v1/funding-history', 'symbol=XBTUSDTM&startAt=%s&endAt=%s&maxCount=100' % (MS, MS), '')],
    'bitget': [('GET', '/api/v2/mix/account/bill', 'productType=USDT-FUTURES&symbol=BTCUSDT&businessType=contract_settle_fee'
                                                   '&startTime=%s&endTime=%s&limit=100' % (MS, MS), '')],
}


def report(exchange, order_id):
    """close-report BTC_USDT [order_id]: the order (when given), then its fills or the symbol's."""
    if exchange == 'bingx':
        fills = ('GET', '/openApi/swap/v2/trade/allFillOrders', 'symbol=BTC-USDT%s&tradingUnit=COIN&startTs=%s&endTs=%s'
                 % ('&orderId=' + order_id if order_id else '', MS, MS) + BINGX_TAIL, '')
        order = ('GET', '/openApi/swap/v2/trade/order', 'symbol=BTC-USDT&orderId=%s' % order_id + BINGX_TAIL, '')
    elif exchange == 'kucoin':
        fills = ('GET', '/api/v1/fills', 'orderId=' + order_id if order_id else 'symbol=XBTUSDTM', '')
        order = ('GET', '/api/v1/orders/' + order_id, '', '')
    else:
        fills = ('GET', '/api/v2/mix/order/fills', 'symbol=BTCUSDT&productType=USDT-FUTURES' +
                 ('&orderId=' + order_id if order_id else ''), '')
        order = ('GET', '/api/v2/mix/order/detail', 'symbol=BTCUSDT&productType=USDT-FUTURES&orderId=' + order_id, '')
    return ([order] if order_id else []) + [fills]


class TradingTest(SandboxTestCase):
    def tearDown(self):
        self.sandbox.control('reset', {})
        super().tearDown()

    def run_logged(self, *args):
        mark = self.sandbox.mark()
        result = self.home.run(*args)
        return result, self.sandbox.requests(since=mark)

    def assert_requests(self, requests, expected, printed):
        self.assertEqual(len(requests), len(expected), printed)
        for entry, (method, path, query, body) in zip(requests, expected):
            self.assertEqual(entry['verdict'], 'accepted', entry['reply'])
            self.assertEqual((entry['method'], entry['path']), (method, path))
            self.assertRegex(entry['query'], '^%s$' % query)
            self.assertRegex(entry['body'], '^%s$' % (body or ''))

    def assert_envelope(self, printed, exchange, kind, members=None):
        answer = json.loads(printed)
        self.assertEqual((answer['status'], answer['exchange'], answer['kind']), ('ok', exchange, kind), printed)
        if members:
            self.assertEqual(list(answer['body']), members)
        return answer['body']

    def test_every_operation_in_both_modes(self):
        for (exchange, mode), credential in ACCOUNTS.items():
            with self.subTest(exchange=exchange, mode=mode):
                self.home = self.new_home()
                validated = self.home.run('validate', exchange, *[c for c in credential if c])
                self.assertEqual(validated.fields()['status'], 'valid_trade_ready', validated.out)

                result, requests = self.run_logged('place-open', exchange, 'BTC_USDT', 'sell', '2', '60000', '7')
                # KuCoin's first order asks the contract's margin mode, then the position mode.
                margin = [MARGIN_REQUEST] if exchange == 'kucoin' else []
                self.assert_requests(requests, margin + [MODE_REQUEST[exchange]] + OPEN[(exchange, mode)], result.out)
                body = self.assert_envelope(result.out, exchange, 'place_open', ['leverage', 'place'])
                if exchange == 'kucoin':
                    self.assertEqual(body['leverage'], {'symbol': 'XBTUSDTM', 'leverage': 7, 'sentWith': 'order'})
                order_id = str({'bingx': lambda b: b['data']['order']['orderId'],
                                'kucoin': lambda b: b['data']['orderId'],
                                'bitget': lambda b: b['data']['orderId']}[exchange](body['place']))

                result, requests = self.run_logged('place-close', exchange, 'BTC_USDT', 'sell', '2', '60000')
                self.assert_requests(requests, CLOSE[(exchange, mode)], result.out)
                closed = self.assert_envelope(result.out, exchange, 'place_close')
                self.assertIn(str(closed.get('code')), ('0', '200000', '00000'), result.out)

                result, requests = self.run_logged('funding', exchange, 'BTC_USDT', '60')
                self.assert_requests(requests, FUNDING[exchange], result.out)
                self.assert_envelope(result.out, exchange, 'funding')

                for report_id in (order_id, ''):
                    result, requests = self.run_logged('close-report', exchange, 'BTC_USDT', report_id)
                    self.assert_requests(requests, report(exchange, report_id), result.out)
                    body = self.assert_envelope(result.out, exchange, 'close_report', ['order', 'trades'])
                    if not report_id:
                        self.assertEqual(body['order'], {})

    def test_kucoin_lots_are_whole_and_refused_before_any_request(self):
        self.home.run('validate', 'kucoin', 'kucoin-key', 'kucoin-secret', 'kucoin-pass')
        for args in (['place-open', 'kucoin', 'BTC_USDT', 'buy', '0.5', '60000', '3'],
                     ['place-close', 'kucoin', 'BTC_USDT', 'buy', '1.25', '60000']):
            result, requests = self.run_logged(*args)
            self.assertEqual(result.out, '{"status":"error","reason":"invalid_quantity"}\n')
            self.assertEqual(requests, [])
        _, requests = self.run_logged('place-open', 'kucoin', 'BTC_USDT', 'buy', '002.0', '60000', '3')
        self.assertIn('"size":2,', requests[-1]['body'])

    def test_a_mode_switch_is_learned_again_on_the_exchanges_refusal(self):
        self.home.run('validate', 'bitget', 'bitget-oneway-key', 'bitget-oneway-secret', 'bitget-oneway-pass')
        self.home.run('place-open', 'bitget', 'BTC_USDT', 'buy', '1', '60000', '3')
        self.sandbox.control('account', {'site': 'bitget', 'key': 'bitget-oneway-key', 'set': {'pos_mode': 'hedge_mode'}})
        result, requests = self.run_logged('place-close', 'bitget', 'BTC_USDT', 'buy', '1', '61000')
        self.assertEqual(json.loads(result.out)['body']['code'], '00000', result.out)
        self.assertEqual([r['path'] for r in requests], ['/api/v2/mix/order/place-order', '/api/v2/mix/account/account',
                                                         '/api/v2/mix/order/place-order'])
        self.assertIn('"tradeSide":"close"', requests[2]['body'])

    def test_capabilities_are_unchanged_and_now_true(self):
        lines = self.home.run('capabilities').lines()
        self.assertEqual(len(lines), 12)
        for line in lines[:6]:
            self.assertEqual(line.count('=true'), 11, line)
        for line in lines[6:]:
            self.assertEqual(line.count('=false'), 11, line)


if __name__ == '__main__':
    unittest.main()
