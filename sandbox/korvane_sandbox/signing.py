"""Request authentication, one verifier per exchange, written from each exchange's public API rules.

Each verifier takes the parsed request, the accounts and a clock (milliseconds) and returns None when
the request is authentic, or (http_status, body) carrying the exchange's own rejection. Headers are
checked in the order the exchanges report them: a missing header first, then the key, the
passphrase, the timestamp window and last the signature.
"""
import base64
import hashlib
import hmac
import json
import time
from datetime import datetime, timezone
from urllib.parse import unquote_plus

# A module import: the accounts module reads the exchange modules, which import this one.
from . import accounts as account_book


def compact(value):
    return json.dumps(value, separators=(',', ':'))


def hmac_hex(secret, message, digest=hashlib.sha256):
    return hmac.new(secret.encode(), message.encode('utf-8', 'surrogateescape'), digest).hexdigest()


def hmac_b64(secret, message):
    digest = hmac.new(secret.encode(), message.encode('utf-8', 'surrogateescape'), hashlib.sha256).digest()
    return base64.b64encode(digest).decode()


def now_ms():
    return int(time.time() * 1000)


def parse_int(text):
    try:
        return int(text)
    except (TypeError, ValueError):
        return None


def same(expected, given):
    return given is not None and hmac.compare_digest(expected.encode(), given.encode('utf-8', 'surrogateescape'))


class Request:
    """What a verifier needs of one HTTP request."""

    def __init__(self, method, path, query, headers, body):
        self.method = method
        self.path = path  # without the query
        self.query = query  # raw text after "?", or ""
        self.headers = headers  # list of (name, value) in arrival order
        self.body = body  # raw body text

    def header(self, name):
        for key, value in self.headers:
            if key.lower() == name.lower():
                return value
        return None

    @property
    def target(self):
        return self.path + ('?' + self.query if self.query else '')

    @property
    def is_form(self):
        """True when the body is URL-encoded parameters (declared so, or plainly shaped so)."""
        kind = (self.header('Content-Type') or '').lower()
        if 'application/x-www-form-urlencoded' in kind:
            return True
        return bool(self.body) and not kind.startswith('application/json') and \
            self.body[:1] not in ('{', '[') and '=' in self.body


# ---- Bybit v5: HMAC-SHA256 hex over timestamp + api key + recv window + (query | body) ------------

BYBIT_DEFAULT_RECV_WINDOW = 5000


def verify_bybit(request, accounts, clock=now_ms):
    def reject(code, message, status=200):
        return status, compact({'retCode': code, 'retMsg': message, 'result': {}, 'retExtInfo': {}, 'time': clock()})

    key = request.header('X-BAPI-API-KEY')
    if not key:
        return reject(10003, 'API key is invalid.', 401)
    account = account_book.find_account(accounts, 'bybit', key)
    if account is None:
        return reject(10003, 'API key is invalid.', 401)
    stamp_text = request.header('X-BAPI-TIMESTAMP')
    window_text = request.header('X-BAPI-RECV-WINDOW')
    # The receive window is optional; without the header the documented default applies.
    window = parse_int(window_text) if window_text is not None else BYBIT_DEFAULT_RECV_WINDOW
    stamp = parse_int(stamp_text)
    server = clock()
    if stamp is None or window is None or not (server - window <= stamp < server + 1000):
        return reject(10002, 'invalid request, please check your server timestamp or recv_window param. '
                             'req_timestamp[%s],server_timestamp[%d],recv_window[%s]'
                      % (stamp_text, server, window_text if window_text is not None else window))
    payload = request.query if request.method in ('GET', 'DELETE') else request.body
    origin = stamp_text + key + (window_text or '') + payload
    if not same(hmac_hex(account['secret'], origin), request.header('X-BAPI-SIGN')):
        return reject(10004, 'error sign! origin_string[%s]' % origin)
    return None


# ---- OKX v5: Base64 HMAC-SHA256 over ISO timestamp + METHOD + path with query + body -------------

OKX_SITE_REGION = {'okx': 'global', 'okx_eea': 'eea', 'okx_us': 'us'}


def okx_timestamp_ms(stamp):
    """Returns the ISO-8601 UTC timestamp in milliseconds; None when it is not one."""
    for pattern in ('%Y-%m-%dT%H:%M:%S.%fZ', '%Y-%m-%dT%H:%M:%SZ'):
        try:
            when = datetime.strptime(stamp, pattern).replace(tzinfo=timezone.utc)
        except ValueError:
            continue
        return int(when.timestamp() * 1000)
    return None


def verify_okx(request, accounts, site='okx', clock=now_ms):
    def reject(code, message):
        return 401, compact({'msg': message, 'code': code})

    key = request.header('OK-ACCESS-KEY')
    if not key:
        return reject('50103', 'Request header "OK-ACCESS-KEY" cannot be empty.')
    account = account_book.find_account(accounts, 'okx', key)
    if account is None:
        return reject('50111', 'Invalid OK-ACCESS-KEY')
    # A key lives on the regional site it was made on; the other sites do not know it.
    if OKX_SITE_REGION.get(site, site) not in account.get('sites', account_book.OKX_REGIONS):
        return reject('50119', "API key doesn't exist")
    passphrase = request.header('OK-ACCESS-PASSPHRASE')
    if not passphrase:
        return reject('50104', 'Request header "OK-ACCESS-PASSPHRASE" cannot be empty.')
    if passphrase != account.get('passphrase'):
        return reject('50105', 'Request header "OK-ACCESS-PASSPHRASE" incorrect.')
    stamp = request.header('OK-ACCESS-TIMESTAMP')
    if not stamp:
        return reject('50107', 'Request header "OK-ACCESS-TIMESTAMP" cannot be empty.')
    millis = okx_timestamp_ms(stamp)
    if millis is None:
        return reject('50112', 'Invalid OK-ACCESS-TIMESTAMP')
    if abs(millis - clock()) > 30000:
        return reject('50102', 'Timestamp request expired')
    signature = request.header('OK-ACCESS-SIGN')
    if not signature:
        return reject('50106', 'Request header "OK-ACCESS-SIGN" cannot be empty.')
    if not same(hmac_b64(account['secret'], stamp + request.method + request.target + request.body), signature):
        return reject('50113', 'Invalid Sign')
    return None


# ---- Gate v4: hex HMAC-SHA512 over METHOD\npath\nquery\nhex(SHA-512(body))\ntimestamp ------------

def verify_gate(request, accounts, clock=now_ms):
    def reject(label, message):
        return 401, compact({'label': label, 'message': message})

    key, stamp, signature = request.header('KEY'), request.header('Timestamp'), request.header('SIGN')
    if not key or not stamp or not signature:
        missing = [name for name, value in (('KEY', key), ('Timestamp', stamp), ('SIGN', signature)) if not value]
        return reject('MISSING_REQUIRED_HEADER', 'Missing required header: %s' % ', '.join(missing))
    account = account_book.find_account(accounts, 'gate', key)
    if account is None:
        return reject('INVALID_KEY', 'Invalid key provided')
    # Seconds, possibly with a fraction (Gate's own SDK sends one); signed as sent.
    try:
        seconds = float(stamp)
    except ValueError:
        seconds = None
    if seconds is None or seconds != seconds or abs(seconds * 1000 - clock()) > 60000:
        return reject('REQUEST_EXPIRED', 'gap between request Timestamp and server time exceeds 60')
    body_hash = hashlib.sha512(request.body.encode('utf-8', 'surrogateescape')).hexdigest()
    for query in dict.fromkeys((request.query, unquote_plus(request.query))):
        origin = '\n'.join([request.method, request.path, query, body_hash, stamp])
        if same(hmac_hex(account['secret'], origin, hashlib.sha512), signature):
            return None
    return reject('INVALID_SIGNATURE', 'Signature mismatch')


# ---- BingX swap: hex HMAC-SHA256 over the parameter string, sent as the parameter "signature" -------

BINGX_DEFAULT_RECV_WINDOW = 5000


def bingx_parts(request):
    """Returns the request's parameters as sent, query first then a form body, as "name=value" texts."""
    parts = [part for part in request.query.split('&') if part]
    if request.method != 'GET' and request.is_form:
        parts += [part for part in request.body.split('&') if part]
    return parts


def bingx_params(request):
    """Returns the request's parameters (query and form body), decoded."""
    params = {}
    for part in bingx_parts(request):
        name, _, value = part.partition('=')
        params[unquote_plus(name)] = unquote_plus(value)
    return params


def verify_bingx(request, accounts, clock=now_ms):
    def reject(code, message):
        return 200, compact({'code': code, 'msg': message, 'timestamp': clock()})

    account = account_book.find_account(accounts, 'bingx', request.header('X-BX-APIKEY'))
    if account is None:
        return reject(100413, 'Incorrect apiKey')
    parts = bingx_parts(request)
    signatures = [part.partition('=')[2] for part in parts if part.partition('=')[0] == 'signature']
    if not signatures or not signatures[-1]:
        return reject(100412, 'Null signature')
    signed = [part for part in parts if part.partition('=')[0] != 'signature']
    params = bingx_params(request)
    stamp = parse_int(params.get('timestamp'))
    window = parse_int(params.get('recvWindow')) or BINGX_DEFAULT_RECV_WINDOW
    server = clock()
    if stamp is None or not (server - window <= stamp < server + 1000):
        return reject(100421, 'Null timestamp or timestamp mismatch')
    # Clients sign the string as sent, or the same string before URL encoding.
    raw = '&'.join(signed)
    for message in dict.fromkeys((raw, unquote_plus(raw))):
        if same(hmac_hex(account['secret'], message), signatures[-1]):
            return None
    return reject(100001, 'Signature verification failed due to signature mismatch')


# ---- KuCoin futures: Base64 HMAC-SHA256 over timestamp + METHOD + endpoint with query + body -------

def kucoin_versions(account):
    """The key versions a key accepts: a list in the file, or the one "key_version" of older files."""
    if 'key_versions' in account:
        return [str(v) for v in account['key_versions']]
    return [str(account.get('key_version', '2'))]


def verify_kucoin(request, accounts, clock=now_ms):
    def reject(code, message):
        return 401, compact({'code': code, 'msg': message})

    names = ('KC-API-KEY', 'KC-API-SIGN', 'KC-API-TIMESTAMP', 'KC-API-PASSPHRASE')
    if any(not request.header(name) for name in names):
        return reject('400001', 'Please check the header of your request for KC-API-KEY, KC-API-SIGN, '
                                'KC-API-TIMESTAMP, KC-API-PASSPHRASE')
    account = account_book.find_account(accounts, 'kucoin', request.header('KC-API-KEY'))
    if account is None:
        return reject('400003', 'KC-API-KEY not exists')
    # Version 1 keys take the passphrase as it is; versions 2 and 3 take it signed with the secret.
    version = request.header('KC-API-KEY-VERSION') or '1'
    passphrase = account.get('passphrase', '')
    expected = passphrase if version == '1' else hmac_b64(account['secret'], passphrase)
    if version not in kucoin_versions(account) or request.header('KC-API-PASSPHRASE') != expected:
        return reject('400004', 'Invalid KC-API-PASSPHRASE')
    stamp = request.header('KC-API-TIMESTAMP')
    millis = parse_int(stamp)
    if millis is None or abs(clock() - millis) > 5000:
        return reject('400002', 'KC-API-TIMESTAMP Invalid -- Time differs from server time by more than 5 seconds')
    expected = hmac_b64(account['secret'], stamp + request.method + request.target + request.body)
    if not same(expected, request.header('KC-API-SIGN')):
        return reject('400005', 'Invalid KC-API-SIGN')
    return None


# ---- Bitget v2: Base64 HMAC-SHA256 over timestamp + METHOD + path + "?" + query + body -------------

def verify_bitget(request, accounts, clock=now_ms):
    def reject(code, message, status=400):
        return status, compact({'code': code, 'msg': message, 'requestTime': clock(), 'data': None})

    key = request.header('ACCESS-KEY')
    if not key:
        return reject('40001', 'ACCESS_KEY cannot be empty')
    signature = request.header('ACCESS-SIGN')
    if not signature:
        return reject('40003', 'Signature cannot be empty')
    account = account_book.find_account(accounts, 'bitget', key)
    if account is None:
        return reject('40006', 'Invalid ACCESS_KEY')
    passphrase = request.header('ACCESS-PASSPHRASE')
    if not passphrase:
        return reject('40011', 'ACCESS_PASSPHRASE cannot be empty')
    if passphrase != account.get('passphrase'):
        return reject('40012', 'apikey/password is incorrect')
    stamp = request.header('ACCESS-TIMESTAMP') or ''
    millis = parse_int(stamp)
    if millis is None:
        return reject('40005', 'Invalid ACCESS_TIMESTAMP')
    if abs(clock() - millis) > 30000:
        return reject('40008', 'Request timestamp expired')
    expected = hmac_b64(account['secret'], stamp + request.method + request.target + request.body)
    if not same(expected, signature):
        return reject('40009', 'sign signature error')
    return None
