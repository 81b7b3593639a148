"""Each verifier accepts a request signed by the documented algorithm (signatures computed
independently with the openssl command and written down here) and refuses tampering, a wrong
key or passphrase, and a stale timestamp."""
import json
import unittest

from korvane_sandbox.exchanges import VERIFIERS
from korvane_sandbox.signing import Request

NOW = 1700000000000  # 2023-11-14T22:13:20.000Z
ACCOUNTS = {
    'bybit': [{'key': 'bybit-key', 'secret': 'bybit-secret'}],
    'okx': [{'key': 'okx-key', 'secret': 'okx-secret', 'passphrase': 'okx-pass'},
            {'key': 'okx-eea-key', 'secret': 'okx-eea-secret', 'passphrase': 'okx-eea-pass', 'sites': ['eea']}],
    'gate': [{'key': 'gate-key', 'secret': 'gate-secret'}],
    'bingx': [{'key': 'bingx-key', 'secret': 'bingx-secret'}],
    'kucoin': [{'key': 'kucoin-key', 'secret': 'kucoin-secret', 'passphrase': 'kucoin-pass', 'key_version': '2'},
               {'key': 'kucoin-v1-key', 'secret': 'kucoin-v1-secret', 'passphrase': 'kucoin-v1-pass',
                'key_versions': ['1']},
               {'key': 'kucoin-v23-key', 'secret': 'kucoin-v23-secret', 'passphrase': 'kucoin-v23-pass',
                'key_versions': ['2', '3']}],
    'bitget': [{'key': 'bitget-key', 'secret': 'bitget-secret', 'passphrase': 'bitget-pass'}],
}
GATE_SIGN = ('2257c2d826aea22622f5698e1ff9897b9f46ddf1bc29ae2b210213d1383ae3850c69ebd41a4ddc7bc0430222a6b8611d'
             'ea4ff2bb896e21e04525478c24d3dc3f')

# site -> (method, path, query, body, headers) of a correctly signed request at NOW.
SIGNED = {
    'bybit': ('GET', '/v5/account/wallet-balance', 'accountType=UNIFIED', '', [
        ('X-BAPI-API-KEY', 'bybit-key'), ('X-BAPI-TIMESTAMP', '1700000000000'), ('X-BAPI-RECV-WINDOW', '5000'),
        ('X-BAPI-SIGN', 'cc6beab87ff58b6f05612e03316846ad09d6336bda1a3c292570b580f2696d48')]),
    'okx': ('GET', '/api/v5/account/balance', 'ccy=USDT', '', [
        ('OK-ACCESS-KEY', 'okx-key'), ('OK-ACCESS-SIGN', 'VFP7Lzd0808WiMpYWnw30FxLeCzA4AbMni98nIrVV0g='),
        ('OK-ACCESS-TIMESTAMP', '2023-11-14T22:13:20.000Z'), ('OK-ACCESS-PASSPHRASE', 'okx-pass')]),
    'gate': ('GET', '/api/v4/futures/usdt/accounts', '', '', [
        ('KEY', 'gate-key'), ('Timestamp', '1700000000'), ('SIGN', GATE_SIGN)]),
    'bingx': ('GET', '/openApi/swap/v2/user/positions',
              'symbol=BTC-USDT&timestamp=1700000000000'
              '&signature=22df2119b67eb3605451c1f027da6b6892c2625649be0cb1a1ba7ec0fb49335e', '',
              [('X-BX-APIKEY', 'bingx-key')]),
    'kucoin': ('GET', '/api/v1/account-overview', 'currency=USDT', '', [
        ('KC-API-KEY', 'kucoin-key'), ('KC-API-SIGN', 'OFGXfNDT93VBdK/C1mYf+UKYity4exMfE7gd2LOB/Ko='),
        ('KC-API-TIMESTAMP', '1700000000000'), ('KC-API-PASSPHRASE', 'OplStk3M/IYYslJlMpTMb7auKQZQhD1g+JEQkER3KkA='),
        ('KC-API-KEY-VERSION', '2')]),
    'bitget': ('GET', '/api/v2/mix/account/accounts', 'productType=USDT-FUTURES', '', [
        ('ACCESS-KEY', 'bitget-key'), ('ACCESS-SIGN', '6v5uzCQXSzYhiRtHZcZ+KU2IEh4DrgV8U+9J48fbSXA='),
        ('ACCESS-TIMESTAMP', '1700000000000'), ('ACCESS-PASSPHRASE', 'bitget-pass')]),
}
SIGNATURE_HEADER = {'bybit': 'X-BAPI-SIGN', 'okx': 'OK-ACCESS-SIGN', 'gate': 'SIGN', 'kucoin': 'KC-API-SIGN',
                    'bitget': 'ACCESS-SIGN'}
PASSPHRASE_HEADER = {'okx': 'OK-ACCESS-PASSPHRASE', 'kucoin': 'KC-API-PASSPHRASE', 'bitget': 'ACCESS-PASSPHRASE'}
KEY_HEADER = {'bybit': 'X-BAPI-API-KEY', 'okx': 'OK-ACCESS-KEY', 'gate': 'KEY', 'bingx': 'X-BX-APIKEY',
              'kucoin': 'KC-API-KEY', 'bitget': 'ACCESS-KEY'}
# The exchange's own rejection: HTTP status and the error code (or label) in the body.
BAD_SIGNATURE = {'bybit': (200, 'retCode', 10004), 'okx': (401, 'code', '50113'),
                 'gate': (401, 'label', 'INVALID_SIGNATURE'), 'bingx': (200, 'code', 100001),
                 'kucoin': (401, 'code', '400005'), 'bitget': (400, 'code', '40009')}


def build(site, headers=None, query=None, body=None):
    method, path, signed_query, signed_body, signed_headers = SIGNED[site]
    return Request(method, path, signed_query if query is None else query,
                   list(signed_headers) if headers is None else headers,
                   signed_body if body is None else body)


def replace(headers, name, value):
    return [(k, value if k == name else v) for k, v in headers]


def verify(site, request, now=NOW):
    return VERIFIERS[site](request, ACCOUNTS, clock=lambda: now)


def code_of(rejection):
    body = json.loads(rejection[1])
    return body.get('retCode', body.get('code', body.get('label')))


# A header left out -> the exchange's own code for it.
MISSING_HEADER = [
    ('bybit', 'X-BAPI-API-KEY', 10003), ('bybit', 'X-BAPI-TIMESTAMP', 10002), ('bybit', 'X-BAPI-SIGN', 10004),
    ('okx', 'OK-ACCESS-KEY', '50103'), ('okx', 'OK-ACCESS-PASSPHRASE', '50104'), ('okx', 'OK-ACCESS-SIGN', '50106'),
    ('okx', 'OK-ACCESS-TIMESTAMP', '50107'),
    ('gate', 'KEY', 'MISSING_REQUIRED_HEADER'), ('gate', 'Timestamp', 'MISSING_REQUIRED_HEADER'),
    ('gate', 'SIGN', 'MISSING_REQUIRED_HEADER'), ('bingx', 'X-BX-APIKEY', 100413),
    ('kucoin', 'KC-API-KEY', '400001'), ('kucoin', 'KC-API-SIGN', '400001'), ('kucoin', 'KC-API-TIMESTAMP', '400001'),
    ('kucoin', 'KC-API-PASSPHRASE', '400001'),
    ('bitget', 'ACCESS-KEY', '40001'), ('bitget', 'ACCESS-SIGN', '40003'), ('bitget', 'ACCESS-PASSPHRASE', '40011'),
    ('bitget', 'ACCESS-TIMESTAMP', '40005'),
]

# The server's clock against the request's timestamp (NOW): (site, server time, accepted).
WINDOWS = [
    ('bybit', NOW - 999, True), ('bybit', NOW - 1000, False), ('bybit', NOW + 5000, True), ('bybit', NOW + 5001, False),
    ('okx', NOW - 30000, True), ('okx', NOW - 30001, False), ('okx', NOW + 30000, True), ('okx', NOW + 30001, False),
    ('gate', NOW - 60000, True), ('gate', NOW - 60001, False), ('gate', NOW + 60000, True), ('gate', NOW + 60001, False),
    ('bingx', NOW - 999, True), ('bingx', NOW - 1000, False), ('bingx', NOW + 5000, True), ('bingx', NOW + 5001, False),
    ('kucoin', NOW - 5000, True), ('kucoin', NOW - 5001, False), ('kucoin', NOW + 5000, True),
    ('kucoin', NOW + 5001, False),
    ('bitget', NOW - 30000, True), ('bitget', NOW - 30001, False), ('bitget', NOW + 30000, True),
    ('bitget', NOW + 30001, False),
]
STALE_CODE = {'bybit': 10002, 'okx': '50102', 'gate': 'REQUEST_EXPIRED', 'bingx': 100421, 'kucoin': '400002',
              'bitget': '40008'}


class VerifierTest(unittest.TestCase):
    def test_accepts_independently_signed_requests(self):
        for site in SIGNED:
            with self.subTest(site=site):
                self.assertIsNone(verify(site, build(site)))

    def test_rejects_a_tampered_signature_with_the_exchanges_error(self):
        for site, (status, field, code) in BAD_SIGNATURE.items():
            with self.subTest(site=site):
                if site == 'bingx':
                    request = build(site, query=SIGNED[site][2][:-1] + '0')
                else:
                    headers = SIGNED[site][4]
                    signature = dict(headers)[SIGNATURE_HEADER[site]]
                    request = build(site, replace(headers, SIGNATURE_HEADER[site], signature[::-1]))
                rejection = verify(site, request)
                self.assertIsNotNone(rejection)
                self.assertEqual(rejection[0], status)
                self.assertEqual(json.loads(rejection[1])[field], code)

    def test_rejects_a_tampered_payload(self):
        self.assertIsNotNone(verify('bybit', build('bybit', query='accountType=CONTRACT')))
        self.assertIsNotNone(verify('gate', build('gate', query='holding=true')))
        self.assertIsNotNone(verify('okx', build('okx', query='ccy=BTC')))
        self.assertIsNotNone(verify('bitget', build('bitget', body='{}')))

    def test_rejects_an_unknown_key(self):
        for site in SIGNED:
            with self.subTest(site=site):
                self.assertIsNotNone(verify(site, build(site, replace(SIGNED[site][4], KEY_HEADER[site], 'nope'))))

    def test_rejects_a_wrong_passphrase(self):
        for site, header in PASSPHRASE_HEADER.items():
            with self.subTest(site=site):
                rejection = verify(site, build(site, replace(SIGNED[site][4], header, 'wrong')))
                self.assertIsNotNone(rejection)
        self.assertEqual(json.loads(verify('okx', build('okx', replace(SIGNED['okx'][4], 'OK-ACCESS-PASSPHRASE', 'x')))[1])['code'],
                         '50105')

    def test_rejects_a_stale_timestamp(self):
        for site in SIGNED:
            with self.subTest(site=site):
                rejection = verify(site, build(site), now=NOW + 120000)
                self.assertIsNotNone(rejection)
                self.assertNotIn('sign', rejection[1].lower().replace('signature', ''))

    def test_bybit_post_signs_the_body(self):
        body = '{"category":"linear","symbol":"BTCUSDT","orderId":"123"}'
        headers = replace(SIGNED['bybit'][4], 'X-BAPI-SIGN',
                          '46a3978a0d2efae9c7427c20252189a24664fe792769e3ac5fd5c258be1dbef2')
        request = Request('POST', '/v5/order/cancel', '', headers, body)
        self.assertIsNone(verify('bybit', request))
        self.assertIsNotNone(verify('bybit', Request('POST', '/v5/order/cancel', '', headers, body.replace('123', '124'))))

    def test_kucoin_key_version_must_be_one_the_key_accepts(self):
        headers = replace(SIGNED['kucoin'][4], 'KC-API-KEY-VERSION', '3')
        self.assertEqual(code_of(verify('kucoin', build('kucoin', headers))), '400004')

    def test_kucoin_key_versions(self):
        v1 = [('KC-API-KEY', 'kucoin-v1-key'), ('KC-API-SIGN', 'kTOhf1Bn7OIhau5s9cMBJ6Kd+QOHyvnV+0WkhJnVJzw='),
              ('KC-API-TIMESTAMP', '1700000000000'), ('KC-API-PASSPHRASE', 'kucoin-v1-pass')]
        v23 = [('KC-API-KEY', 'kucoin-v23-key'), ('KC-API-SIGN', 'zvIwF07bNtjdfOROBMQGpkuk5kkiddRfT8hBS58cS7Q='),
               ('KC-API-TIMESTAMP', '1700000000000'),
               ('KC-API-PASSPHRASE', 'HQA4MshDsCLucWLYiAt0mfl7uWFR5eZ/pMN3ChEUCNs=')]
        cases = [(v1, None, True), (v1, '1', True), (v1, '2', False),  # no version header means version 1
                 (v23, '2', True), (v23, '3', True), (v23, '1', False), (v23, None, False),
                 (replace(v1, 'KC-API-PASSPHRASE', 'signed?'), '1', False)]
        for headers, version, accepted in cases:
            with self.subTest(key=headers[0][1], version=version):
                full = headers + ([('KC-API-KEY-VERSION', version)] if version else [])
                rejection = verify('kucoin', build('kucoin', full))
                self.assertEqual(rejection is None, accepted, rejection)

    def test_missing_header_answers_the_exchanges_code(self):
        for site, header, code in MISSING_HEADER:
            with self.subTest(site=site, header=header):
                headers = [(k, v) for k, v in SIGNED[site][4] if k != header]
                self.assertEqual(code_of(verify(site, build(site, headers))), code)
        rejection = verify('bingx', build('bingx', query='symbol=BTC-USDT&timestamp=1700000000000'))
        self.assertEqual(code_of(rejection), 100412)
        rejection = verify('bingx', build('bingx', query='symbol=BTC-USDT&signature=' + '0' * 64))
        self.assertEqual(code_of(rejection), 100421)

    def test_documented_timestamp_windows(self):
        for site, server, accepted in WINDOWS:
            with self.subTest(site=site, server_minus_request=server - NOW):
                rejection = verify(site, build(site), now=server)
                self.assertEqual(rejection is None, accepted, rejection)
                if rejection is not None:
                    self.assertEqual(code_of(rejection), STALE_CODE[site])

    def test_bybit_recv_window_header_is_optional(self):
        headers = [(k, v) for k, v in SIGNED['bybit'][4] if k not in ('X-BAPI-RECV-WINDOW', 'X-BAPI-SIGN')]
        headers.append(('X-BAPI-SIGN', '2f3f180775dbd6ec35c2ffba39d8e7ddc1add742755a232a68667e51060d42b9'))
        self.assertIsNone(verify('bybit', build('bybit', headers)))
        self.assertIsNone(verify('bybit', build('bybit', headers), now=NOW + 5000))  # the default window
        self.assertEqual(code_of(verify('bybit', build('bybit', headers), now=NOW + 5001)), 10002)

    def test_gate_takes_a_decimal_timestamp_as_signed(self):
        sign = ('744b47bfe9e6a4e4b60d129f2dff77e4ec6715f1fe6b77af14efab0cabea0590a52d1a01a363a331c884ad930c48aa58'
                '25f4a2d45511a1d9ce9416db1f39ebfb')
        headers = [('KEY', 'gate-key'), ('Timestamp', '1700000000.694'), ('SIGN', sign)]
        self.assertIsNone(verify('gate', build('gate', headers)))
        self.assertEqual(code_of(verify('gate', build('gate', replace(headers, 'Timestamp', '1700000000.695')))),
                         'INVALID_SIGNATURE')
        self.assertEqual(code_of(verify('gate', build('gate', replace(headers, 'Timestamp', 'soon')))),
                         'REQUEST_EXPIRED')

    def test_bingx_signature_anywhere_in_query_or_form_body(self):
        key = [('X-BX-APIKEY', 'bingx-key')]
        form = key + [('Content-Type', 'application/x-www-form-urlencoded')]
        form_sign = 'd8ec172712e6c2304975f2bdcfa008d6d05fbc96d54715e04e3870521ef8f762'
        decoded_sign = '3ad7a6503b54668fda45ad430946106f938a32ef4b84b66c5dfe3a9dfeb5dfef'
        cases = [
            ('GET', 'signature=32add0c6880cc0c95f250630bef0728a2f5509386376a053f18e6d9953da4497'
                    '&timestamp=1700000000000&symbol=BTC-USDT', '', key, True),
            ('GET', 'timestamp=1700000000000&symbol=BTC-USDT&signature=' + '1' * 64, '', key, False),
            ('POST', '', 'symbol=BTC-USDT&side=LONG&leverage=5&timestamp=1700000000000&signature=' + form_sign, form,
             True),
            ('POST', 'symbol=BTC-USDT&side=LONG', 'leverage=5&timestamp=1700000000000&signature=' + form_sign, form,
             True),
            ('POST', '', 'symbol=BTC-USDT&side=SHORT&leverage=5&timestamp=1700000000000&signature=' + form_sign, form,
             False),
            # Signed before URL encoding, sent encoded.
            ('GET', 'symbol=BTC-USDT&note=a%20b&timestamp=1700000000000&signature=' + decoded_sign, '', key, True),
        ]
        for method, query, body, headers, accepted in cases:
            with self.subTest(query=query, body=body):
                rejection = verify('bingx', Request(method, '/openApi/swap/v2/trade/leverage', query, headers, body))
                self.assertEqual(rejection is None, accepted, rejection)

    def test_okx_key_of_another_regional_site(self):
        headers = [('OK-ACCESS-KEY', 'okx-eea-key'), ('OK-ACCESS-SIGN', 'et54foeAsQl2BTfsfxj6bhKdosMbN3fQ6EAiq6hS1VM='),
                   ('OK-ACCESS-TIMESTAMP', '2023-11-14T22:13:20.000Z'), ('OK-ACCESS-PASSPHRASE', 'okx-eea-pass')]
        self.assertIsNone(verify('okx_eea', build('okx', headers)))
        for site in ('okx', 'okx_us'):
            with self.subTest(site=site):
                rejection = verify(site, build('okx', headers))
                self.assertEqual((rejection[0], code_of(rejection)), (401, '50119'))


if __name__ == '__main__':
    unittest.main()
