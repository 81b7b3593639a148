"""Refusals told as refusals, on all six exchanges against the sandbox: an order refused for margin, a
refused leverage, keys of each permission, a refused IP address and a rate limit."""
import json
import re
import unittest

from harness import KEYS, SandboxTestCase

# Per exchange (its key comes from the shared table): the exchange's codes for a margin and an IP refusal, the order and
# leverage paths (KuCoin sends the leverage with the order), and whether it reports withdrawal.
EXCHANGES = {
    'bybit': {'margin': '110007', 'ip': '10010',
              'order': r'/v5/order/create', 'leverage': r'/v5/position/set-leverage', 'withdrawal': True},
    'okx': {'margin': '51008', 'ip': '50110',
            'order': r'/api/v5/trade/order', 'leverage': r'/api/v5/account/set-leverage', 'withdrawal': True},
    'gate': {'margin': 'INSUFFICIENT_AVAILABLE', 'ip': 'IP_FORBIDDEN',
             'order': r'/api/v4/futures/usdt/orders', 'leverage': r'/api/v4/futures/usdt/positions/[^/]+/leverage',
             'withdrawal': False},
    'bingx': {'margin': '101204', 'ip': '100419',
              'order': r'/openApi/swap/v2/trade/order', 'leverage': r'/openApi/swap/v2/trade/leverage',
              'withdrawal': True},
    'kucoin': {'margin': '300003', 'ip': '400006',
               'order': r'/api/v1/orders', 'leverage': None, 'withdrawal': False},
    'bitget': {'margin': '40762', 'ip': '40018',
               'order': r'/api/v2/mix/order/place-order', 'leverage': r'/api/v2/mix/account/set-leverage',
               'withdrawal': True},
}
OPEN = ('BTC_USDT', 'buy', '1', '60000', '5')


def succeeded(entry):
    """True when the sandbox's reply to a logged request says the exchange did it."""
    if entry['status'] >= 300:
        return False
    reply = json.loads(entry['reply'])
    if not isinstance(reply, dict) or 'label' in reply:
        return 'label' not in reply
    if any(str(item.get('sCode', '0')) != '0' for item in reply.get('data') or [] if isinstance(item, dict)):
        return False
    code = str(reply.get('retCode', reply.get('code', '0')))
    return code in ('0', '200000', '00000')


class TruthfulAnswersTest(SandboxTestCase):
    def tearDown(self):
        self.sandbox.control('reset', {})
        super().tearDown()

    def situation(self, exchange, **settings):
        key = KEYS[exchange][0]
        self.sandbox.control('account', {'site': exchange, 'key': key, 'set': settings})

    def run_command(self, exchange, command, *args):
        """Runs a command for `exchange` with its stored key; returns the printed JSON and the
        requests the exchange received."""
        key, secret, passphrase = KEYS[exchange]
        self.home.store_record(exchange, key, secret, passphrase)
        mark = self.sandbox.mark()
        result = self.home.run(command, exchange, *args)
        self.assertEqual(result.code, 0, result.err)
        return json.loads(result.out), [e for e in self.sandbox.requests(since=mark) if e['site'].startswith(exchange)]

    def validate(self, exchange):
        key, secret, passphrase = KEYS[exchange]
        return self.home.run('validate', exchange, key, secret, *([passphrase] if passphrase else [])).fields()

    @staticmethod
    def to(path, requests, method=None):
        return [r for r in requests if re.fullmatch(path, r['path']) and (method is None or r['method'] == method)]

    def test_a_margin_refusal_is_an_error_with_the_exchanges_code(self):
        for exchange, facts in EXCHANGES.items():
            with self.subTest(exchange=exchange):
                self.situation(exchange, margin_refused=True)
                answer, requests = self.run_command(exchange, 'place-open', *OPEN)
                self.assertEqual((answer['status'], answer['reason'], answer['code'], answer['class']),
                                 ('error', 'exchange_rejected', facts['margin'], 'insufficient_margin'))
                self.assertTrue(answer['message'])
                # The body is what the ok envelope would have carried: both replies.
                self.assertEqual(sorted(answer['body']), ['leverage', 'place'])
                self.assertFalse(any(succeeded(e) for e in self.to(facts['order'], requests, 'POST')))

    def test_a_refused_leverage_sends_no_order_and_an_unchanged_one_does(self):
        for exchange, facts in EXCHANGES.items():
            with self.subTest(exchange=exchange):
                self.home = self.new_home()
                self.situation(exchange, leverage_refused=True)
                answer, requests = self.run_command(exchange, 'place-open', *OPEN)
                self.assertEqual(answer['status'], 'error')
                if facts['leverage']:
                    self.assertEqual(answer['reason'], 'leverage_rejected')
                    self.assertEqual(list(answer['body']), ['leverage'])
                    self.assertEqual(self.to(facts['order'], requests, 'POST'), [])
                else:  # the leverage rides with the order, which the exchange refused
                    self.assertEqual(answer['reason'], 'exchange_rejected')
                    self.assertFalse(any(succeeded(e) for e in self.to(facts['order'], requests, 'POST')))
                self.situation(exchange, leverage_refused=False)
                # The same leverage twice: the second is "not modified" (Bybit says so) and still places.
                for _ in range(2):
                    answer, requests = self.run_command(exchange, 'place-open', *OPEN)
                    self.assertEqual(answer['status'], 'ok', answer)
                    self.assertEqual(len(self.to(facts['order'], requests, 'POST')), 1)

    def test_keys_are_read_only_trading_or_withdrawing_as_the_exchange_says(self):
        for exchange, facts in EXCHANGES.items():
            for permissions, status, trade, withdraw in [
                    ('read', 'valid_read_only', 'false', 'false'),
                    ('read_trade', 'valid_trade_ready', 'true', 'false'),
                    ('read_trade_withdraw', 'valid_trade_ready', 'true', 'true' if facts['withdrawal'] else 'false')]:
                with self.subTest(exchange=exchange, permissions=permissions):
                    self.situation(exchange, key_permissions=permissions)
                    fields = self.validate(exchange)
                    self.assertEqual((fields['status'], fields['can_trade'], fields['withdrawal_enabled']),
                                     (status, trade, withdraw))
                    self.assertEqual('withdrawal permission not reported by ' + exchange in fields['reason'],
                                     not facts['withdrawal'])

    def test_a_refused_ip_address_is_named_as_such(self):
        for exchange, facts in EXCHANGES.items():
            with self.subTest(exchange=exchange):
                self.situation(exchange, ip_allowed=False)
                answer, _ = self.run_command(exchange, 'balance')
                self.assertEqual((answer['reason'], answer['code'], answer['class']),
                                 ('exchange_rejected', facts['ip'], 'ip_not_allowed'))
                fields = self.validate(exchange)
                self.assertEqual(fields['status'], 'error')
                self.assertIn("refused this machine's IP address", fields['reason'])

    def test_a_rate_limited_read_is_asked_again_and_an_order_is_not(self):
        for exchange, facts in EXCHANGES.items():
            with self.subTest(exchange=exchange):
                self.situation(exchange, rate_limit_reads=1)
                answer, requests = self.run_command(exchange, 'balance')
                self.assertEqual(answer['status'], 'ok', answer)
                self.assertEqual([e['verdict'] for e in requests], ['refused', 'accepted'])
                self.situation(exchange, rate_limit_orders=1)
                answer, requests = self.run_command(exchange, 'place-open', *OPEN)
                self.assertEqual((answer['reason'], answer['class']), ('exchange_rejected', 'rate_limited'))
                self.assertEqual(len(self.to(facts['order'], requests, 'POST')), 1)


if __name__ == '__main__':
    unittest.main()
