"""A signing client for the sandbox's own tests. Every digest comes from the openssl command, not from
the sandbox's code, so a test fails when the sandbox and the documented algorithm part ways."""
import http.client
import json
import subprocess
import time
import urllib.parse
from datetime import datetime, timezone

from korvane_sandbox.accounts import sample_keys
from korvane_sandbox.exchanges import SITES

# The keys and sites come from the sandbox's own tables, the same ones the other tests read.
KEYS = sample_keys()
SITE_VARIABLE = dict(SITES)


def openssl(arguments, data):
    data = data.encode() if isinstance(data, str) else data
    return subprocess.run(['openssl', *arguments], input=data, capture_output=True, check=True).stdout


def hmac_hex(secret, message, digest='sha256'):
    return openssl(['dgst', '-' + digest, '-hmac', secret], message).decode().split()[-1]


def hmac_b64(secret, message):
    return openssl(['base64', '-A'], openssl(['dgst', '-sha256', '-hmac', secret, '-binary'], message)).decode()


def sha512_hex(data):
    return openssl(['dgst', '-sha512'], data).decode().split()[-1]


def okx_stamp(millis):
    when = datetime.fromtimestamp(millis / 1000, timezone.utc)
    return when.strftime('%Y-%m-%dT%H:%M:%S.') + '%03dZ' % (millis % 1000)


class Client:
    """Signs and sends requests to one sandbox; `skew_ms` plays a client whose clock drifted."""

    def __init__(self, env):
        self.env = env
        self.skew_ms = 0

    def now(self):
        return int(time.time() * 1000) + self.skew_ms

    def send(self, site, method, path, query='', body='', headers=()):
        """Returns (status, parsed JSON reply or text)."""
        url = urllib.parse.urlsplit(self.env[SITE_VARIABLE[site]])
        connection = http.client.HTTPConnection(url.hostname, url.port, timeout=10)
        try:
            connection.request(method, path + ('?' + query if query else ''), body=body.encode() if body else None,
                               headers=dict(headers))
            response = connection.getresponse()
            text = response.read().decode()
        finally:
            connection.close()
        try:
            return response.status, json.loads(text)
        except ValueError:
            return response.status, text

    def call(self, site, method, path, params=None, key=None):
        """A signed request as the exchange documents it: GET parameters in the query, POST ones in a
        JSON body (BingX: all in the query; Gate's switches: in the query). `key` is (api key, secret,
        passphrase[, KuCoin key version])."""
        exchange = 'okx' if site.startswith('okx') else site
        key = key or KEYS[exchange]
        params = params or {}
        # Gate's leverage and dual-mode switches take their parameters in the query, even on POST.
        in_query = method in ('GET', 'DELETE') or exchange == 'bingx' or \
            (exchange == 'gate' and path.endswith(('/leverage', '/dual_mode')))
        query = urllib.parse.urlencode(params) if in_query else ''
        body = '' if in_query else json.dumps(params, separators=(',', ':'))
        headers = getattr(self, 'sign_' + exchange)(method, path, query, body, key)
        if body:
            headers.append(('Content-Type', 'application/json'))
        if exchange == 'bingx':
            query, headers = headers[0], headers[1:]
        return self.send(site, method, path, query, body, headers)

    def sign_bybit(self, method, path, query, body, key):
        stamp = str(self.now())
        payload = query if method == 'GET' else body
        sign = hmac_hex(key[1], stamp + key[0] + '5000' + payload)
        return [('X-BAPI-API-KEY', key[0]), ('X-BAPI-TIMESTAMP', stamp), ('X-BAPI-RECV-WINDOW', '5000'),
                ('X-BAPI-SIGN', sign)]

    def sign_okx(self, method, path, query, body, key):
        stamp = okx_stamp(self.now())
        target = path + ('?' + query if query else '')
        return [('OK-ACCESS-KEY', key[0]), ('OK-ACCESS-SIGN', hmac_b64(key[1], stamp + method + target + body)),
                ('OK-ACCESS-TIMESTAMP', stamp), ('OK-ACCESS-PASSPHRASE', key[2])]

    def sign_gate(self, method, path, query, body, key):
        stamp = str(self.now() // 1000)
        origin = '\n'.join([method, path, query, sha512_hex(body), stamp])
        return [('KEY', key[0]), ('Timestamp', stamp), ('SIGN', hmac_hex(key[1], origin, 'sha512'))]

    def sign_bingx(self, method, path, query, body, key):
        query = (query + '&' if query else '') + 'timestamp=%d' % self.now()
        return [query + '&signature=' + hmac_hex(key[1], query), ('X-BX-APIKEY', key[0])]

    def sign_kucoin(self, method, path, query, body, key):
        stamp = str(self.now())
        version = key[3] if len(key) > 3 else '2'
        passphrase = key[2] if version == '1' else hmac_b64(key[1], key[2])
        target = path + ('?' + query if query else '')
        return [('KC-API-KEY', key[0]), ('KC-API-SIGN', hmac_b64(key[1], stamp + method + target + body)),
                ('KC-API-TIMESTAMP', stamp), ('KC-API-PASSPHRASE', passphrase), ('KC-API-KEY-VERSION', version)]

    def sign_bitget(self, method, path, query, body, key):
        stamp = str(self.now())
        target = path + ('?' + query if query else '')
        return [('ACCESS-KEY', key[0]), ('ACCESS-SIGN', hmac_b64(key[1], stamp + method + target + body)),
                ('ACCESS-TIMESTAMP', stamp), ('ACCESS-PASSPHRASE', key[2])]
