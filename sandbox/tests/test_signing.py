"""Each verifier accepts a request signed by the documented algorithm (signatures computed
independently with the openssl command and written down here) and refuses tampering, a wrong
key or passphrase, and a stale timestamp."""
import json
import unittest

from korvane_sandbox.signing import VERIFIERS, Request

NOW = 1700000000000  # 2023-11-14T22:13:20.000Z
ACCOUNTS = {
    'bybit': [{'key': 'bybit-key', 'secret': 'bybit-secret'}],
    'okx': [{'key': 'okx-key', 'secret': 'okx-secret', 'passphrase': 'okx-pass'}],
    'okx_eea': [], 'okx_us': [],
    'gate': [{'key': 'gate-key', 'secret': 'gate-secret'}],
    'bingx': [{'key': 'bingx-key', 'secret': 'bingx-secret'}],
    'kucoin': [{'key': 'kucoin-key', 'secret': 'kucoin-secret', 'passphrase': 'kucoin-pass', 'key_version': '2'}],
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
    return Request(method, path, signed_query if query is None else query, headers or list(signed_headers),
                   signed_body if body is None else body)


def replace(headers, name, value):
    return [(k, value if k == name else v) for k, v in headers]


def verify(site, request, now=NOW):
    return VERIFIERS[site](request, ACCOUNTS, clock=lambda: now)


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

    def test_kucoin_key_version_must_match_the_key(self):
        headers = replace(SIGNED['kucoin'][4], 'KC-API-KEY-VERSION', '3')
        self.assertIsNotNone(verify('kucoin', build('kucoin', headers)))


if __name__ == '__main__':
    unittest.main()
