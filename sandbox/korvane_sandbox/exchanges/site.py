"""One exchange site: public routes, then authentication, then the private route (or the exchange's
own not-found answer), with one trading book per account."""
import json
import re
import sys
import threading
import time
import traceback
from urllib.parse import parse_qsl

from ..signing import bingx_params
from .book import Book

KEY_HEADERS = ('X-BAPI-API-KEY', 'OK-ACCESS-KEY', 'KEY', 'X-BX-APIKEY', 'KC-API-KEY', 'ACCESS-KEY')


class Call:
    """What a route handler gets: the request, its parameters, the account and its book, the time."""

    def __init__(self, request, match, account, book, now, form=False):
        self.request = request
        self.match = match
        self.account = account
        self.book = book
        self.now = now
        self.params = bingx_params(request) if form else dict(parse_qsl(request.query, keep_blank_values=True))
        self._body = None

    @property
    def body(self):
        """The JSON body when it is an object; None otherwise."""
        if self._body is None:
            try:
                value = json.loads(self.request.body or 'null')
            except ValueError:
                value = None
            self._body = value if isinstance(value, dict) else False
        return self._body or None


def permissions_of(account):
    """The key's permissions as one of 'read', 'read_trade', 'read_trade_withdraw'."""
    chosen = account.get('key_permissions')
    if chosen:
        return chosen
    return 'read' if account.get('read_only') else 'read_trade'


def request_kind(exchange, request):
    """'order', 'leverage' or 'cancel' for a request that changes the account; 'read' for a GET;
    None for anything else."""
    for kind, patterns in exchange.TRADE_ROUTES.items():
        for method, pattern in patterns:
            if method == request.method and re.fullmatch(pattern, request.path):
                return kind
    return 'read' if request.method == 'GET' else None


def situation_refusal(exchange, request, account, now):
    """The exchange's refusal of `request` in the situation the account is set to; None when the
    request goes on. A rate limit counts down with each request it refuses."""
    kind = request_kind(exchange, request)
    if not account.get('ip_allowed', True):
        return exchange.refusal('ip', now)
    for setting, limited_kind in (('rate_limit_reads', 'read'), ('rate_limit_orders', 'order')):
        if kind == limited_kind and account.get(setting, 0) > 0:
            account[setting] -= 1
            return exchange.refusal('rate', now)
    if kind in ('order', 'leverage', 'cancel') and permissions_of(account) == 'read':
        return exchange.refusal('permission', now)
    if kind == 'leverage' and account.get('leverage_refused'):
        return exchange.refusal('leverage', now)
    if kind == 'order' and account.get('margin_refused'):
        return exchange.refusal('margin', now)
    return None


# What a proxy answers when the exchange's reply did not come back.
LOST_REPLY = '<html><head><title>502 Bad Gateway</title></head><body>502 Bad Gateway</body></html>'

def compile_routes(routes):
    return [(method, re.compile(pattern + r'\Z'), handler) for method, pattern, handler in routes]


def find_route(routes, request):
    for method, pattern, handler in routes:
        match = pattern.match(request.path)
        if match and method == request.method:
            return handler, match
    return None


class ExchangeSite:
    def __init__(self, name, exchange, verifier, accounts, clock):
        self.name = name
        self.exchange = exchange  # the module: routes, shapes and seed of one exchange
        self.verifier = verifier
        self.accounts = accounts
        self.clock = clock
        self.delay = 0.0  # seconds each request waits, to let tests watch a slow exchange
        # Lost order replies to play, in turn, on the next order requests: 'stored' keeps the order
        # and answers 502, as a proxy does when the exchange's reply never came back; 'not_stored'
        # answers 502 without the exchange seeing the order.
        self.order_faults = []
        self.books = {}
        self.books_lock = threading.Lock()
        self.public = compile_routes(exchange.PUBLIC_ROUTES)
        # The exchange this site belongs to: OKX's regional sites and the demo hosts share accounts.
        self.exchange_name = 'okx' if name.startswith('okx') else name.removesuffix('_demo')
        self.demo_host = name.endswith('_demo')
        self.private = compile_routes(exchange.routes())

    def book(self, key):
        with self.books_lock:
            if key not in self.books:
                self.books[key] = Book(self.exchange.SEED_SYMBOL, self.exchange.SEED_QTY, self.clock)
            return self.books[key]

    def is_demo(self, request):
        """True for a request to the demo environment: on a demo host, or marked by the header."""
        header = getattr(self.exchange, 'DEMO_HEADER', None)
        return self.demo_host or (header is not None and request.header(header) == '1')

    def environment_refusal(self, request):
        """The exchange's refusal of a demo key outside its demo environment, or of a live key in it."""
        key = next((request.header(h) for h in KEY_HEADERS if request.header(h)), None)
        account = self.accounts.find(self.exchange_name, key)
        if account is None or bool(account.get('demo')) == self.is_demo(request):
            return None
        return self.exchange.wrong_environment(self.clock())

    def lose_order_reply(self, mode):
        if mode not in ('stored', 'not_stored'):
            raise ValueError('mode must be "stored" or "not_stored"')
        self.order_faults.append(mode)

    def handle(self, request):
        """Returns (status, body, verdict), or (status, body, verdict, headers) with reply headers."""
        if self.delay:
            time.sleep(self.delay)
        fault = None
        if (request.method, request.path) in getattr(self.exchange, 'ORDER_ROUTES', ()) and self.order_faults:
            fault = self.order_faults.pop(0)
        if fault == 'not_stored':
            return 502, LOST_REPLY, 'order_dropped'
        try:
            if fault == 'stored':
                status, _, verdict, *_ = self.answer(request)
                return 502, LOST_REPLY, 'order_reply_dropped' if status < 300 else verdict
            return self.answer(request)
        except Exception:  # a fault in a handler must still answer, and be seen
            print('sandbox: %s %s %s failed:\n%s' % (self.name, request.method, request.target, traceback.format_exc()),
                  file=sys.stderr, flush=True)
            status, body = self.exchange.server_error(self.clock())
            return status, body, 'error'

    def answer(self, request):
        form = getattr(self.exchange, 'FORM_PARAMS', False)
        route = find_route(self.public, request)
        if route is not None:
            handler, match = route
            status, body = handler(Call(request, match, None, None, self.clock(), form))
            return status, body, 'accepted'
        refusal = self.environment_refusal(request)
        if refusal is not None:
            return refusal[0], refusal[1], 'wrong_environment'
        rejection = self.verifier(request, self.accounts, clock=self.clock)
        if rejection is not None:
            return rejection[0], rejection[1], 'rejected'
        route = find_route(self.private, request)
        if route is None:
            status, body = self.exchange.not_found(request, self.clock())
            return status, body, 'no_route'
        key = next((request.header(h) for h in KEY_HEADERS if request.header(h)), None)
        account = self.accounts.find(self.exchange_name, key)
        if account is not None:
            refusal = situation_refusal(self.exchange, request, account, self.clock())
            if refusal is not None:
                return refusal[0], refusal[1], 'refused', *refusal[2:]
        handler, match = route
        status, body = handler(Call(request, match, account, self.book(key), self.clock(), form))
        return status, body, 'accepted'
