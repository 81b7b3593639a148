"""Account settings: position modes on every exchange, OKX regional keys, Gate whole-contract sizes and
dual mode, and the control requests that change and reset them."""
import unittest

from tests.sandbox_case import SandboxCase

KEYS = {
    'bybit-hedge': ('bybit-hedge-key', 'bybit-hedge-secret', ''),
    'okx-net': ('okx-net-key', 'okx-net-secret', 'okx-net-pass'),
    'okx-us': ('okx-us-key', 'okx-us-secret', 'okx-us-pass'),
    'gate-dual': ('gate-dual-key', 'gate-dual-secret', ''),
    'bingx-hedge': ('bingx-hedge-key', 'bingx-hedge-secret', ''),
    'bingx-oneway': ('bingx-oneway-key', 'bingx-oneway-secret', ''),
    'kucoin-hedge': ('kucoin-hedge-key', 'kucoin-hedge-secret', 'kucoin-hedge-pass', '3'),
    'kucoin-v1': ('kucoin-v1-key', 'kucoin-v1-secret', 'kucoin-v1-pass', '1'),
    'bitget-hedge': ('bitget-hedge-key', 'bitget-hedge-secret', 'bitget-hedge-pass'),
    'bitget-oneway': ('bitget-oneway-key', 'bitget-oneway-secret', 'bitget-oneway-pass'),
}


def outcome(status, reply):
    """The exchange's answer as one comparable value: its code, or 'ok'."""
    if isinstance(reply, list):
        return 'ok' if status < 300 else str(status)
    if 'label' in reply:
        return reply['label']
    if 'retCode' not in reply and 'code' not in reply:
        return 'ok' if status < 300 else str(status)  # Gate answers success with the bare object
    code = str(reply.get('retCode', reply.get('code')))
    return 'ok' if code in ('0', '200000', '00000') else code


BYBIT_ORDER = {'category': 'linear', 'symbol': 'BTCUSDT', 'side': 'Buy', 'orderType': 'Limit', 'qty': '0.01',
               'price': '60000', 'timeInForce': 'GTC'}
OKX_ORDER = {'instId': 'BTC-USDT-SWAP', 'tdMode': 'isolated', 'side': 'buy', 'ordType': 'limit', 'px': '60000',
             'sz': '1'}
BINGX_ORDER = {'symbol': 'BTC-USDT', 'side': 'BUY', 'type': 'LIMIT', 'quantity': '0.01', 'price': '60000',
               'timeInForce': 'GTC'}
KUCOIN_ORDER = {'clientOid': 'c1', 'side': 'buy', 'symbol': 'XBTUSDTM', 'type': 'limit', 'price': '60000', 'size': 1,
                'leverage': 5, 'timeInForce': 'GTC', 'marginMode': 'ISOLATED'}
BITGET_ORDER = {'symbol': 'BTCUSDT', 'productType': 'USDT-FUTURES', 'marginMode': 'isolated', 'marginCoin': 'USDT',
                'size': '0.01', 'price': '60000', 'side': 'buy', 'orderType': 'limit', 'force': 'gtc'}
BITGET_LEVERAGE = {'symbol': 'BTCUSDT', 'productType': 'USDT-FUTURES', 'marginCoin': 'USDT', 'leverage': '5'}

# (site, key name or None for the default key, method, path, parameters, expected outcome)
MODE_CASES = [
    ('bybit', None, 'POST', '/v5/order/create', BYBIT_ORDER, 'ok'),
    ('bybit', None, 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=0), 'ok'),
    ('bybit', None, 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=1), '10001'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', BYBIT_ORDER, '10001'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=0), '10001'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=1), 'ok'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', dict(BYBIT_ORDER, side='Sell', positionIdx=2), 'ok'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=2), '10001'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create',
     dict(BYBIT_ORDER, side='Sell', positionIdx=1, reduceOnly=True), 'ok'),
    ('bybit', 'bybit-hedge', 'POST', '/v5/order/create', dict(BYBIT_ORDER, positionIdx=1, reduceOnly=True), '10001'),
    ('okx', None, 'POST', '/api/v5/trade/order', OKX_ORDER, '51000'),
    ('okx', None, 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='long'), 'ok'),
    ('okx', None, 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='net'), '51000'),
    ('okx', 'okx-net', 'POST', '/api/v5/trade/order', OKX_ORDER, 'ok'),
    ('okx', 'okx-net', 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='net'), 'ok'),
    ('okx', 'okx-net', 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='long'), '51000'),
    ('okx', None, 'POST', '/api/v5/account/set-leverage',
     {'instId': 'BTC-USDT-SWAP', 'lever': '5', 'mgnMode': 'isolated'}, '51000'),
    ('okx', None, 'POST', '/api/v5/account/set-leverage',
     {'instId': 'BTC-USDT-SWAP', 'lever': '5', 'mgnMode': 'isolated', 'posSide': 'long'}, 'ok'),
    ('okx', None, 'POST', '/api/v5/account/set-leverage', {'instId': 'BTC-USDT-SWAP', 'lever': '5', 'mgnMode': 'cross'},
     'ok'),
    ('okx', 'okx-net', 'POST', '/api/v5/account/set-leverage',
     {'instId': 'BTC-USDT-SWAP', 'lever': '5', 'mgnMode': 'isolated'}, 'ok'),
    ('okx', 'okx-net', 'POST', '/api/v5/account/set-leverage',
     {'instId': 'BTC-USDT-SWAP', 'lever': '5', 'mgnMode': 'isolated', 'posSide': 'short'}, '51000'),
    ('okx', 'okx-us', 'GET', '/api/v5/account/config', {}, '50119'),
    ('okx_us', 'okx-us', 'GET', '/api/v5/account/config', {}, 'ok'),
    ('okx_eea', 'okx-us', 'GET', '/api/v5/account/config', {}, '50119'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/orders', {'contract': 'BTC_USDT', 'size': 1, 'price': '60000'}, 'ok'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/orders', {'contract': 'BTC_USDT', 'size': '-2', 'price': '60000'},
     'ok'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/orders', {'contract': 'BTC_USDT', 'size': 0.01, 'price': '60000'},
     'INVALID_PARAM_VALUE'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/orders', {'contract': 'BTC_USDT', 'size': '0.5', 'price': '60000'},
     'INVALID_PARAM_VALUE'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/orders',
     {'contract': 'BTC_USDT', 'size': 0, 'price': '60000', 'auto_size': 'close_long', 'reduce_only': True},
     'INVALID_PARAM_VALUE'),
    ('gate', 'gate-dual', 'POST', '/api/v4/futures/usdt/positions/BTC_USDT/leverage', {'leverage': '5'},
     'POSITION_DUAL_MODE'),
    ('gate', 'gate-dual', 'POST', '/api/v4/futures/usdt/dual_comp/positions/BTC_USDT/leverage', {'leverage': '5'},
     'ok'),
    ('gate', None, 'POST', '/api/v4/futures/usdt/dual_comp/positions/BTC_USDT/leverage', {'leverage': '5'},
     'POSITION_NOT_DUAL_MODE'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/order', dict(BINGX_ORDER, positionSide='LONG'), 'ok'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/order', BINGX_ORDER, 'ok'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/order', dict(BINGX_ORDER, positionSide='BOTH'), '80014'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/order',
     dict(BINGX_ORDER, positionSide='LONG', reduceOnly='true'), '80014'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/order', dict(BINGX_ORDER, positionSide='BOTH'), 'ok'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/order',
     dict(BINGX_ORDER, side='SELL', positionSide='BOTH', reduceOnly='true'), 'ok'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/order', BINGX_ORDER, '80014'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/order', dict(BINGX_ORDER, positionSide='LONG'), '80014'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/leverage',
     {'symbol': 'BTC-USDT', 'side': 'LONG', 'leverage': '5'}, 'ok'),
    ('bingx', 'bingx-hedge', 'POST', '/openApi/swap/v2/trade/leverage',
     {'symbol': 'BTC-USDT', 'side': 'BOTH', 'leverage': '5'}, '80014'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/leverage',
     {'symbol': 'BTC-USDT', 'side': 'BOTH', 'leverage': '5'}, 'ok'),
    ('bingx', 'bingx-oneway', 'POST', '/openApi/swap/v2/trade/leverage',
     {'symbol': 'BTC-USDT', 'side': 'SHORT', 'leverage': '5'}, '80014'),
    ('kucoin', None, 'POST', '/api/v1/orders', KUCOIN_ORDER, 'ok'),
    ('kucoin', None, 'POST', '/api/v1/orders', dict(KUCOIN_ORDER, positionSide='BOTH', size='2'), 'ok'),
    ('kucoin', None, 'POST', '/api/v1/orders', dict(KUCOIN_ORDER, positionSide='LONG'), '400100'),
    ('kucoin', None, 'POST', '/api/v1/orders', dict(KUCOIN_ORDER, size=1.5), '400100'),
    ('kucoin', None, 'POST', '/api/v1/orders', dict(KUCOIN_ORDER, size='0.5'), '400100'),
    ('kucoin', 'kucoin-hedge', 'POST', '/api/v1/orders', dict(KUCOIN_ORDER, positionSide='LONG'), 'ok'),
    ('kucoin', 'kucoin-hedge', 'POST', '/api/v1/orders', KUCOIN_ORDER, '400100'),
    ('kucoin', 'kucoin-v1', 'GET', '/api/v1/account-overview', {'currency': 'USDT'}, 'ok'),
    ('bitget', 'bitget-hedge', 'POST', '/api/v2/mix/order/place-order', dict(BITGET_ORDER, tradeSide='open'), 'ok'),
    ('bitget', 'bitget-hedge', 'POST', '/api/v2/mix/order/place-order', BITGET_ORDER, '40019'),
    ('bitget', 'bitget-oneway', 'POST', '/api/v2/mix/order/place-order', BITGET_ORDER, 'ok'),
    ('bitget', 'bitget-oneway', 'POST', '/api/v2/mix/order/place-order', dict(BITGET_ORDER, reduceOnly='YES'), 'ok'),
    ('bitget', 'bitget-oneway', 'POST', '/api/v2/mix/order/place-order', dict(BITGET_ORDER, tradeSide='open'),
     '40774'),
    ('bitget', 'bitget-hedge', 'POST', '/api/v2/mix/account/set-leverage', BITGET_LEVERAGE, '40019'),
    ('bitget', 'bitget-hedge', 'POST', '/api/v2/mix/account/set-leverage', dict(BITGET_LEVERAGE, holdSide='long'),
     'ok'),
    ('bitget', 'bitget-oneway', 'POST', '/api/v2/mix/account/set-leverage', BITGET_LEVERAGE, 'ok'),
]

# (site, key name or None, path, parameters, how to read the mode, expected mode)
MODE_READS = [
    ('okx', None, '/api/v5/account/config', {}, lambda r: r['data'][0]['posMode'], 'long_short_mode'),
    ('okx', 'okx-net', '/api/v5/account/config', {}, lambda r: r['data'][0]['posMode'], 'net_mode'),
    ('bybit', None, '/v5/position/list', {'category': 'linear', 'symbol': 'ETHUSDT'},
     lambda r: [e['positionIdx'] for e in r['result']['list']], [0]),
    ('bybit', 'bybit-hedge', '/v5/position/list', {'category': 'linear', 'symbol': 'ETHUSDT'},
     lambda r: [e['positionIdx'] for e in r['result']['list']], [1, 2]),
    ('gate', None, '/api/v4/futures/usdt/accounts', {}, lambda r: r['in_dual_mode'], False),
    ('gate', 'gate-dual', '/api/v4/futures/usdt/accounts', {}, lambda r: r['in_dual_mode'], True),
    ('bingx', 'bingx-hedge', '/openApi/swap/v1/positionSide/dual', {}, lambda r: r['data']['dualSidePosition'], 'true'),
    ('bingx', 'bingx-oneway', '/openApi/swap/v1/positionSide/dual', {}, lambda r: r['data']['dualSidePosition'],
     'false'),
    ('kucoin', None, '/api/v2/position/getPositionMode', {}, lambda r: r['data']['positionMode'], 0),
    ('kucoin', 'kucoin-hedge', '/api/v2/position/getPositionMode', {}, lambda r: r['data']['positionMode'], 1),
    ('bitget', 'bitget-hedge', '/api/v2/mix/account/account',
     {'symbol': 'BTCUSDT', 'productType': 'USDT-FUTURES', 'marginCoin': 'USDT'}, lambda r: r['data']['posMode'],
     'hedge_mode'),
    ('bitget', 'bitget-oneway', '/api/v2/mix/account/account',
     {'symbol': 'BTCUSDT', 'productType': 'USDT-FUTURES', 'marginCoin': 'USDT'}, lambda r: r['data']['posMode'],
     'one_way_mode'),
]


class AccountModesTest(SandboxCase):
    def call(self, site, key, method, path, params):
        return self.client.call(site, method, path, params, KEYS.get(key))

    def test_orders_and_leverage_must_fit_the_accounts_mode(self):
        for site, key, method, path, params, expected in MODE_CASES:
            with self.subTest(site=site, key=key, path=path, params=params):
                status, reply = self.call(site, key, method, path, params)
                self.assertEqual(outcome(status, reply), expected, reply)

    def test_each_mode_is_shown_where_the_exchange_shows_it(self):
        for site, key, path, params, read, expected in MODE_READS:
            with self.subTest(site=site, key=key, path=path):
                status, reply = self.call(site, key, 'GET', path, params)
                self.assertEqual((status, read(reply)), (200, expected), reply)

    def test_account_control_changes_a_setting_until_reset(self):
        status, reply = self.control('account', {'site': 'okx', 'key': 'okx-key', 'set': {'pos_mode': 'net_mode'}})
        self.assertEqual((status, reply['settings']), (200, {'pos_mode': 'net_mode'}))
        # The key is one account across OKX's sites: the EEA site sees the change too.
        _, reply = self.client.call('okx_eea', 'GET', '/api/v5/account/config')
        self.assertEqual(reply['data'][0]['posMode'], 'net_mode')
        _, reply = self.client.call('okx', 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='long'))
        self.assertEqual(reply['code'], '51000')
        self.control('account', {'site': 'okx', 'key': 'okx-key', 'set': {'sites': ['us']}})
        self.assertEqual(self.client.call('okx', 'GET', '/api/v5/account/config')[1]['code'], '50119')
        self.control('reset', {})
        _, reply = self.client.call('okx', 'POST', '/api/v5/trade/order', dict(OKX_ORDER, posSide='long'))
        self.assertEqual(reply['code'], '0')

    def test_mode_switch_routes_change_the_account(self):
        switches = [('bybit', 'POST', '/v5/position/switch-mode', {'category': 'linear', 'coin': 'USDT', 'mode': 3},
                     'bybit', 'bybit-trade-key', 'position_mode', 'hedge'),
                    ('okx', 'POST', '/api/v5/account/set-position-mode', {'posMode': 'net_mode'},
                     'okx', 'okx-key', 'pos_mode', 'net_mode'),
                    ('gate', 'POST', '/api/v4/futures/usdt/dual_mode', {'dual_mode': 'true'},
                     'gate', 'gate-key', 'dual_mode', True),
                    ('bingx', 'POST', '/openApi/swap/v1/positionSide/dual', {'dualSidePosition': 'false'},
                     'bingx', 'bingx-key', 'position_mode', 'one_way'),
                    ('kucoin', 'POST', '/api/v2/position/switchPositionMode', {'positionMode': '1'},
                     'kucoin', 'kucoin-key', 'position_mode', 'hedge'),
                    ('bitget', 'POST', '/api/v2/mix/account/set-position-mode',
                     {'productType': 'USDT-FUTURES', 'posMode': 'one_way_mode'},
                     'bitget', 'bitget-key', 'pos_mode', 'one_way_mode')]
        for site, method, path, params, exchange, key, setting, value in switches:
            with self.subTest(site=site):
                status, reply = self.client.call(site, method, path, params)
                self.assertEqual(outcome(status, reply), 'ok', reply)
                self.assertEqual(self.sandbox.accounts.find(exchange, key)[setting], value)
        self.control('reset', {})
        self.assertEqual(self.sandbox.accounts.find('gate', 'gate-key')['dual_mode'], False)

    def test_read_only_key_cannot_trade(self):
        key = ('bybit-p2p-readonly-key', 'bybit-p2p-readonly-secret', '')
        _, reply = self.client.call('bybit', 'POST', '/v5/order/create', BYBIT_ORDER, key)
        self.assertEqual(reply['retCode'], 10005)

    def test_situations_refuse_in_each_exchanges_words_and_count_down(self):
        for setting, value in [('key_permissions', 'bogus'), ('rate_limit_reads', -1), ('rate_limit_orders', '2'),
                               ('ip_allowed', 'no')]:
            with self.subTest(setting=setting):
                status, reply = self.control('account', {'site': 'gate', 'key': 'gate-key', 'set': {setting: value}})
                self.assertEqual((status, reply['reason']), (400, 'invalid_setting'))
        self.control('account', {'site': 'gate', 'key': 'gate-key', 'set': {'rate_limit_reads': 1}})
        answers = [self.client.call('gate', 'GET', '/api/v4/futures/usdt/accounts') for _ in range(2)]
        self.assertEqual([outcome(status, reply) for status, reply in answers], ['TOO_MANY_REQUESTS', 'ok'])
        self.control('account', {'site': 'bitget', 'key': 'bitget-key', 'set': {'margin_refused': True}})
        _, reply = self.client.call('bitget', 'POST', '/api/v2/mix/order/place-order', BITGET_ORDER)
        self.assertEqual(reply['code'], '40762')
        self.control('account', {'site': 'okx', 'key': 'okx-key', 'set': {'key_permissions': 'read'}})
        _, reply = self.client.call('okx', 'GET', '/api/v5/account/config')
        self.assertEqual(reply['data'][0]['perm'], 'read_only')


if __name__ == '__main__':
    unittest.main()
