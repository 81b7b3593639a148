"""Request signature checks, one per exchange, written from each exchange's public API rules.

Each verifier takes the parsed request and the account table and returns None when the request
is authentic, or (http_status, body) carrying the exchange's own rejection.
"""
import base64
import hashlib
import hmac
import json
import time
from datetime import datetime, timezone


def compact(value):
    return json.dumps(value, separators=(',', ':'))


def hmac_hex(secret, message, digest=hashlib.sha256):
    return hmac.new(secret.encode(), message.encode(), digest).hexdigest()


def hmac_b64(secret, message):
    return base64.b64encode(hmac.new(secret.encode(), message.encode(), hashlib.sha256).digest()).decode()


def now_ms():
    return int(time.time() * 1000)


def parse_int(text):
    try:
        return int(text)
    except (TypeError, ValueError):
        return None


class Request:
    """What a verifier needs of one HTTP request."""

    def __init__(self, method, path, query, headers, body):
        self.method = method
        self.path = path          # without the query
        self.query = query        # raw text after "?", or ""
        self.headers = headers    # list of (name, value) in arrival order
        self.body = body          # raw body text

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    @property
    def target(self):
        return self.path + ('?' + self.query if self.query else '')


def find_account(accounts, site, key):
    for account in accounts.get(site, []):
        if account.get('key') == key:
            return account
    return None


# Bybit v5: HMAC-SHA256 hex over timestamp + api key + recv window + (query string | JSON body).
def verify_bybit(request, accounts, clock=now_ms):
    def reject(code, message, status=200):
        return status, compact({'retCode': code, 'retMsg': message, 'result': {}, 'retExtInfo': {},
                                'time': clock()})
    key = request.header('X-BAPI-API-KEY')
    account = find_account(accounts, 'bybit', key)
    if account is None:
        return reject(10003, 'API key is invalid.', 401)
    timestamp = parse_int(request.header('X-BAPI-TIMESTAMP'))
    window = parse_int(request.header('X-BAPI-RECV-WINDOW') or '5000')
    server = clock()
    if timestamp is None or window is None or not (server - window <= timestamp < server + 1000):
        return reject(10002, 'invalid request, please check your server timestamp or recv_window param. '
                             'req_timestamp[%s],server_timestamp[%d],recv_window[%s]'
                      % (request.header('X-BAPI-TIMESTAMP'), server, request.header('X-BAPI-RECV-WINDOW')))
    payload = request.body if request.method == 'POST' else request.query
    origin = request.header('X-BAPI-TIMESTAMP') + key + request.header('X-BAPI-RECV-WINDOW') + payload
    if not hmac.compare_digest(hmac_hex(account['secret'], origin), request.header('X-BAPI-SIGN') or ''):
        return reject(10004, 'error sign! origin_string[%s]' % origin)
    return None


# OKX v5: Base64 HMAC-SHA256 over ISO timestamp + METHOD + request path with query + body.
def verify_okx(request, accounts, site='okx', clock=now_ms):
    def reject(code, message):
        return 401, compact({'msg': message, 'code': code})
    key = request.header('OK-ACCESS-KEY')
    account = find_account(accounts, site, key)
    if account is None:
        return reject('50111', 'Invalid OK-ACCESS-KEY')
    if request.header('OK-ACCESS-PASSPHRASE') != account.get('passphrase'):
        return reject('50105', 'Request header "OK-ACCESS-PASSPHRASE" incorrect')
    stamp = request.header('OK-ACCESS-TIMESTAMP') or ''
    try:
        if not stamp.endswith('Z') or len(stamp) != 24:
            raise ValueError(stamp)
        when = datetime.strptime(stamp, '%Y-%m-%dT%H:%M:%S.%fZ').replace(tzinfo=timezone.utc)
    except ValueError:
        return reject('50112', 'Invalid OK-ACCESS-TIMESTAMP')
    if abs(when.timestamp() * 1000 - clock()) > 30000:
        return reject('50102', 'Timestamp request expired')
    expected = hmac_b64(account['secret'], stamp + request.method + request.target + request.body)
    if not hmac.compare_digest(expected, request.header('OK-ACCESS-SIGN') or ''):
        return reject('50113', 'Invalid Sign')
    return None


# Gate v4: hex HMAC-SHA512 over METHOD\npath\nquery\nhex(SHA-512(body))\ntimestamp (seconds).
def verify_gate(request, accounts, clock=now_ms):
    def reject(label, message):
        return 401, compact({'label': label, 'message': message})
    account = find_account(accounts, 'gate', request.header('KEY'))
    if account is None:
        return reject('INVALID_KEY', 'Invalid key provided')
    stamp = request.header('Timestamp') or ''
    seconds = parse_int(stamp)
    if seconds is None or abs(seconds - clock() / 1000) > 60:
        return reject('REQUEST_EXPIRED', 'gap between request Timestamp and server time exceeds 60')
    body_hash = hashlib.sha512(request.body.encode()).hexdigest()
    origin = '\n'.join([request.method, request.path, request.query, body_hash, stamp])
    expected = hmac_hex(account['secret'], origin, hashlib.sha512)
    if not hmac.compare_digest(expected, request.header('SIGN') or ''):
        return reject('INVALID_SIGNATURE', 'Signature mismatch')
    return None


# BingX swap: hex HMAC-SHA256 over the query parameters, sent as the last parameter "signature".
def verify_bingx(request, accounts, clock=now_ms):
    def reject(code, message):
        return 200, compact({'code': code, 'msg': message, 'timestamp': clock()})
    account = find_account(accounts, 'bingx', request.header('X-BX-APIKEY'))
    if account is None:
        return reject(100413, 'Incorrect apiKey')
    signed, marker, signature = request.query.rpartition('&signature=')
    if not marker:
        return reject(100001, 'Signature verification failed due to signature missing')
    params = dict(part.split('=', 1) for part in signed.split('&') if '=' in part)
    stamp = parse_int(params.get('timestamp'))
    window = parse_int(params.get('recvWindow', '5000')) or 5000
    if stamp is None or abs(clock() - stamp) > window:
        return reject(100421, 'Null timestamp or timestamp mismatch')
    if not hmac.compare_digest(hmac_hex(account['secret'], signed), signature):
        return reject(100001, 'Signature verification failed due to signature mismatch')
    return None


# KuCoin futures: Base64 HMAC-SHA256 over timestamp + METHOD + endpoint with query + body; for key
# versions 2 and 3 the passphrase header is itself Base64 HMAC-SHA256 of the passphrase.
def verify_kucoin(request, accounts, clock=now_ms):
    def reject(code, message):
        return 401, compact({'code': code, 'msg': message})
    account = find_account(accounts, 'kucoin', request.header('KC-API-KEY'))
    if account is None:
        return reject('400003', 'KC-API-KEY not exists')
    version = request.header('KC-API-KEY-VERSION') or '1'
    if version != str(account.get('key_version', '2')):
        return reject('400004', 'Invalid KC-API-PASSPHRASE')
    if request.header('KC-API-PASSPHRASE') != hmac_b64(account['secret'], account.get('passphrase', '')):
        return reject('400004', 'Invalid KC-API-PASSPHRASE')
    stamp = request.header('KC-API-TIMESTAMP') or ''
    millis = parse_int(stamp)
    if millis is None or abs(clock() - millis) > 5000:
        return reject('400002', 'KC-API-TIMESTAMP Invalid -- Time differs from server time by more than 5 seconds')
    expected = hmac_b64(account['secret'], stamp + request.method + request.target + request.body)
    if not hmac.compare_digest(expected, request.header('KC-API-SIGN') or ''):
        return reject('400005', 'Invalid KC-API-SIGN')
    return None


# Bitget v2: Base64 HMAC-SHA256 over timestamp + METHOD + path + "?" + query (when any) + body.
def verify_bitget(request, accounts, clock=now_ms):
    def reject(code, message, status=400):
        return status, compact({'code': code, 'msg': message, 'requestTime': clock(), 'data': None})
    account = find_account(accounts, 'bitget', request.header('ACCESS-KEY'))
    if account is None:
        return reject('40006', 'Invalid ACCESS_KEY')
    if request.header('ACCESS-PASSPHRASE') != account.get('passphrase'):
        return reject('40012', 'apikey/password is incorrect')
    stamp = request.header('ACCESS-TIMESTAMP') or ''
    millis = parse_int(stamp)
    if millis is None or abs(clock() - millis) > 30000:
        return reject('40008', 'Request timestamp expired')
    expected = hmac_b64(account['secret'], stamp + request.method + request.target + request.body)
    if not hmac.compare_digest(expected, request.header('ACCESS-SIGN') or ''):
        return reject('40009', 'sign signature error')
    return None


VERIFIERS = {
    'bybit': verify_bybit,
    'okx': lambda request, accounts, clock=now_ms: verify_okx(request, accounts, 'okx', clock),
    'okx_eea': lambda request, accounts, clock=now_ms: verify_okx(request, accounts, 'okx_eea', clock),
    'okx_us': lambda request, accounts, clock=now_ms: verify_okx(request, accounts, 'okx_us', clock),
    'gate': verify_gate,
    'bingx': verify_bingx,
    'kucoin': verify_kucoin,
    'bitget': verify_bitget,
}
