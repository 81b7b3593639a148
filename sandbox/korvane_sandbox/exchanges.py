"""Account and order endpoints of the six exchanges, with just enough state to be useful:
placed orders can be looked up and cancelled, leverage is remembered, reduce-only orders
shrink a position. Success bodies follow the shapes of the exchanges' documented examples."""
import re
import threading
import time
from urllib.parse import parse_qsl

from .signing import compact

SEEDED_ORDER_ID = '1001'


def money(account, field, default):
    return str(account.get('usdt', {}).get(field, default))


class Book:
    """Orders, leverage and positions of one exchange site."""

    def __init__(self):
        self.lock = threading.Lock()
        self.orders = {SEEDED_ORDER_ID: {'id': SEEDED_ORDER_ID, 'symbol': 'BTC_USDT', 'side': 'buy',
                                         'qty': '0.01', 'price': '60000', 'status': 'open', 'reduce': False}}
        self.leverage = {}
        self.positions = {}
        self.counter = 5000

    def place(self, symbol, side, qty, price, reduce):
        with self.lock:
            self.counter += 1
            order_id = str(self.counter)
            self.orders[order_id] = {'id': order_id, 'symbol': symbol, 'side': side, 'qty': qty,
                                     'price': price, 'status': 'open', 'reduce': reduce}
            # Orders fill at once; a reduce-only order never flips a position.
            size = float(qty) if side == 'buy' else -float(qty)
            current = self.positions.get(symbol, 0.0)
            if reduce:
                size = max(-abs(current), min(abs(current), size)) if current * size < 0 else 0.0
            self.positions[symbol] = current + size
            return order_id

    def cancel(self, order_id):
        with self.lock:
            order = self.orders.get(order_id)
            if order is None or order['status'] != 'open':
                return None
            order['status'] = 'cancelled'
            return order


def query_params(request):
    return dict(parse_qsl(request.query, keep_blank_values=True))


def json_body(request):
    import json
    try:
        value = json.loads(request.body or 'null')
    except ValueError:
        return None
    return value if isinstance(value, dict) else None


# ---- Bybit ---------------------------------------------------------------------------------

def bybit_ok(result):
    return 200, compact({'retCode': 0, 'retMsg': 'OK', 'result': result, 'retExtInfo': {},
                         'time': int(time.time() * 1000)})


def bybit_error(code, message):
    return 200, compact({'retCode': code, 'retMsg': message, 'result': {}, 'retExtInfo': {},
                         'time': int(time.time() * 1000)})


def bybit_routes(book):
    def key_info(request, match, account):
        return bybit_ok({'id': '1', 'note': 'sandbox', 'apiKey': account['key'],
                         'readOnly': 1 if account.get('read_only') else 0, 'secret': '',
                         'permissions': account.get('permissions', {}), 'ips': ['*'], 'type': 1,
                         'deadlineDay': 90, 'expiredAt': '', 'createdAt': '2026-01-01T00:00:00Z',
                         'unified': 0, 'uta': 1, 'userID': 1, 'inviterID': 0, 'vipLevel': 'No VIP',
                         'mktMakerLevel': '0', 'affiliateID': 0, 'rsaPublicKey': '', 'isMaster': True})

    def wallet(request, match, account):
        if query_params(request).get('accountType') != 'UNIFIED':
            return bybit_error(10001, 'accountType only support UNIFIED.')
        equity, available = money(account, 'equity', '1250.5'), money(account, 'available', '1100.25')
        wallet_balance = money(account, 'wallet', '1200')
        return bybit_ok({'list': [{'accountType': 'UNIFIED', 'totalEquity': equity,
                                   'totalWalletBalance': wallet_balance, 'totalAvailableBalance': available,
                                   'totalMarginBalance': equity, 'accountIMRate': '0', 'accountMMRate': '0',
                                   'coin': [{'coin': 'USDT', 'equity': equity, 'walletBalance': wallet_balance,
                                             'usdValue': equity, 'unrealisedPnl': '0', 'cumRealisedPnl': '0',
                                             'locked': '0'}]}]})

    def positions(request, match, account):
        params = query_params(request)
        symbol = params.get('symbol', '')
        size = book.positions.get(symbol, 0.0)
        return bybit_ok({'category': 'linear', 'nextPageCursor': '', 'list': [
            {'symbol': symbol, 'side': 'Buy' if size > 0 else 'Sell' if size < 0 else '',
             'size': str(abs(size)), 'leverage': str(book.leverage.get(symbol, 10)), 'positionIdx': 0,
             'avgPrice': '0', 'markPrice': '0', 'unrealisedPnl': '0'}]})

    def order_view(order):
        return {'orderId': order['id'], 'symbol': order['symbol'], 'side': order['side'].capitalize(),
                'qty': order['qty'], 'price': order['price'], 'orderType': 'Limit',
                'orderStatus': 'New' if order['status'] == 'open' else 'Cancelled',
                'reduceOnly': order['reduce'], 'timeInForce': 'GTC'}

    def realtime(request, match, account):
        params = query_params(request)
        if 'orderId' in params:
            order = book.orders.get(params['orderId'])
            return bybit_ok({'category': 'linear', 'list': [order_view(order)] if order else []})
        return bybit_ok({'category': 'linear', 'list': [order_view(o) for o in book.orders.values()
                                                         if o['symbol'] == params.get('symbol')]})

    def cancel(request, match, account):
        body = json_body(request)
        if body is None:
            return bybit_error(10001, 'params error: invalid json')
        order = book.cancel(str(body.get('orderId')))
        if order is None:
            return bybit_error(110001, 'order not exists or too late to cancel')
        return bybit_ok({'orderId': order['id'], 'orderLinkId': ''})

    def set_leverage(request, match, account):
        body = json_body(request)
        if body is None or body.get('buyLeverage') != body.get('sellLeverage'):
            return bybit_error(10001, 'params error')
        symbol = body.get('symbol')
        if book.leverage.get(symbol) == int(body['buyLeverage']):
            return bybit_error(110043, 'leverage not modified')
        book.leverage[symbol] = int(body['buyLeverage'])
        return bybit_ok({})

    def create(request, match, account):
        body = json_body(request)
        if body is None or body.get('side') not in ('Buy', 'Sell'):
            return bybit_error(10001, 'params error: side invalid')
        if account.get('read_only'):
            return bybit_error(10005, 'Permission denied, please check your API key permissions.')
        order_id = book.place(body.get('symbol'), body['side'].lower(), body.get('qty', '0'),
                              body.get('price', '0'), bool(body.get('reduceOnly')))
        return bybit_ok({'orderId': order_id, 'orderLinkId': ''})

    def transaction_log(request, match, account):
        params = query_params(request)
        return bybit_ok({'nextPageCursor': '', 'list': [
            {'symbol': params.get('symbol'), 'category': 'linear', 'type': 'SETTLEMENT', 'funding': '-0.0125',
             'cashFlow': '0', 'change': '-0.0125', 'currency': 'USDT',
             'transactionTime': params.get('startTime')}]})

    def closed_pnl(request, match, account):
        params = query_params(request)
        return bybit_ok({'category': 'linear', 'nextPageCursor': '', 'list': [
            {'symbol': params.get('symbol'), 'orderId': SEEDED_ORDER_ID, 'side': 'Sell', 'qty': '0.01',
             'closedPnl': '3.25', 'avgEntryPrice': '60000', 'avgExitPrice': '60325'}]})

    return [('GET', r'/v5/user/query-api', key_info), ('GET', r'/v5/account/wallet-balance', wallet),
            ('GET', r'/v5/position/list', positions), ('GET', r'/v5/order/realtime', realtime),
            ('POST', r'/v5/order/cancel', cancel), ('POST', r'/v5/position/set-leverage', set_leverage),
            ('POST', r'/v5/order/create', create), ('GET', r'/v5/account/transaction-log', transaction_log),
            ('GET', r'/v5/position/closed-pnl', closed_pnl)]


# ---- OKX -----------------------------------------------------------------------------------

def okx_ok(data):
    return 200, compact({'code': '0', 'msg': '', 'data': data})


def okx_error(code, message, status=200):
    return status, compact({'code': code, 'msg': message, 'data': []})


def okx_routes(book):
    def config(request, match, account):
        return okx_ok([{'uid': '1', 'acctLv': '2', 'posMode': 'long_short_mode', 'autoLoan': False,
                        'greeksType': 'PA', 'level': 'Lv1', 'perm': 'read_only,trade'}])

    def balance(request, match, account):
        equity, available = money(account, 'equity', '2500.75'), money(account, 'available', '2300.5')
        return okx_ok([{'totalEq': equity, 'isoEq': '0', 'adjEq': equity, 'uTime': '1700000000000',
                        'details': [{'ccy': 'USDT', 'eq': equity, 'cashBal': money(account, 'wallet', '2400'),
                                     'availBal': available, 'availEq': available, 'frozenBal': '0',
                                     'upl': '0'}]}])

    def positions(request, match, account):
        inst = query_params(request).get('instId', '')
        size = book.positions.get(inst, 0.0)
        return okx_ok([] if size == 0 else [{'instId': inst, 'instType': 'SWAP', 'mgnMode': 'isolated',
                                             'posSide': 'long' if size > 0 else 'short',
                                             'pos': str(abs(size)), 'lever': str(book.leverage.get(inst, 3))}])

    def order_view(order):
        return {'instId': order['symbol'], 'ordId': order['id'], 'side': order['side'], 'sz': order['qty'],
                'px': order['price'], 'ordType': 'limit', 'reduceOnly': str(order['reduce']).lower(),
                'state': 'live' if order['status'] == 'open' else 'canceled'}

    def get_order(request, match, account):
        params = query_params(request)
        if 'ordId' not in params:
            return okx_error('51000', 'Parameter ordId error', 400)
        order = book.orders.get(params['ordId'])
        if order is None:
            return okx_error('51603', 'Order does not exist')
        return okx_ok([order_view(order)])

    def cancel(request, match, account):
        body = json_body(request)
        if body is None:
            return okx_error('50002', 'JSON syntax error', 400)
        order = book.cancel(str(body.get('ordId')))
        if order is None:
            return okx_ok([{'ordId': body.get('ordId'), 'sCode': '51400',
                            'sMsg': 'Cancellation failed as the order has been filled, canceled or does not exist'}])
        return okx_ok([{'ordId': order['id'], 'clOrdId': '', 'sCode': '0', 'sMsg': ''}])

    def set_leverage(request, match, account):
        body = json_body(request)
        if body is None:
            return okx_error('50002', 'JSON syntax error', 400)
        book.leverage[body.get('instId')] = int(body.get('lever', '0'))
        return okx_ok([{'instId': body.get('instId'), 'lever': body.get('lever'), 'mgnMode': body.get('mgnMode'),
                        'posSide': body.get('posSide')}])

    def place(request, match, account):
        body = json_body(request)
        if body is None:
            return okx_error('50002', 'JSON syntax error', 400)
        if body.get('side') not in ('buy', 'sell') or body.get('posSide') not in ('long', 'short'):
            return okx_ok([{'ordId': '', 'sCode': '51000', 'sMsg': 'Parameter side error'}])
        order_id = book.place(body.get('instId'), body['side'], body.get('sz', '0'), body.get('px', '0'),
                              bool(body.get('reduceOnly')))
        return okx_ok([{'ordId': order_id, 'clOrdId': '', 'tag': '', 'sCode': '0', 'sMsg': 'Order placed'}])

    def bills(request, match, account):
        params = query_params(request)
        return okx_ok([{'instId': params.get('instId'), 'type': params.get('type'), 'subType': '173',
                        'balChg': '-0.0213', 'ccy': 'USDT', 'ts': '1700000000000'}])

    def history(request, match, account):
        return okx_ok([{'instId': query_params(request).get('instId'), 'realizedPnl': '4.5', 'type': '2',
                        'direction': 'long', 'openAvgPx': '60000', 'closeAvgPx': '60450'}])

    return [('GET', r'/api/v5/account/config', config), ('GET', r'/api/v5/account/balance', balance),
            ('GET', r'/api/v5/account/positions', positions), ('GET', r'/api/v5/trade/order', get_order),
            ('POST', r'/api/v5/trade/cancel-order', cancel), ('POST', r'/api/v5/account/set-leverage', set_leverage),
            ('POST', r'/api/v5/trade/order', place), ('GET', r'/api/v5/account/bills', bills),
            ('GET', r'/api/v5/account/positions-history', history)]


# ---- Gate ----------------------------------------------------------------------------------

def gate_error(label, message, status=400):
    return status, compact({'label': label, 'message': message})


def gate_routes(book):
    def accounts(request, match, account):
        return 200, compact({'user': 100001, 'currency': 'USDT', 'total': money(account, 'wallet', '980.4'),
                             'unrealised_pnl': '0', 'position_margin': '0', 'order_margin': '0',
                             'available': money(account, 'available', '950.1'), 'point': '0', 'bonus': '0',
                             'in_dual_mode': False, 'enable_evolved_classic': True})

    def positions(request, match, account):
        return 200, compact([{'contract': symbol, 'size': int(size), 'leverage': str(book.leverage.get(symbol, 10)),
                              'mode': 'single'} for symbol, size in book.positions.items() if size != 0])

    def order_view(order):
        size = int(float(order['qty'])) * (1 if order['side'] == 'buy' else -1)
        return {'id': int(order['id']), 'contract': order['symbol'], 'size': size, 'price': order['price'],
                'tif': 'gtc', 'is_reduce_only': order['reduce'],
                'status': 'open' if order['status'] == 'open' else 'finished',
                'finish_as': '' if order['status'] == 'open' else 'cancelled'}

    def get_order(request, match, account):
        order = book.orders.get(match.group(1))
        if order is None:
            return gate_error('ORDER_NOT_FOUND', 'Order not found', 404)
        return 200, compact(order_view(order))

    def cancel(request, match, account):
        order = book.cancel(match.group(1))
        if order is None:
            return gate_error('ORDER_NOT_FOUND', 'Order not found', 404)
        return 200, compact(order_view(order))

    def leverage(request, match, account):
        value = query_params(request).get('leverage', '')
        if not value.lstrip('-').isdigit() or int(value) < 0:
            return gate_error('INVALID_PARAM_VALUE', 'invalid argument: leverage')
        book.leverage[match.group(1)] = int(value)
        return 200, compact({'contract': match.group(1), 'size': 0, 'leverage': value, 'mode': 'single'})

    def place(request, match, account):
        body = json_body(request)
        if body is None or not isinstance(body.get('size'), (int, float)):
            return gate_error('INVALID_REQUEST_BODY', 'Request body is invalid')
        size = body['size']
        order_id = book.place(body.get('contract'), 'buy' if size > 0 else 'sell', str(abs(size)),
                              body.get('price', '0'), bool(body.get('reduce_only')))
        return 201, compact(order_view(book.orders[order_id]))

    def account_book(request, match, account):
        params = query_params(request)
        return 200, compact([{'time': float(params.get('from', '0')), 'change': '-0.0087', 'balance': '950.09',
                              'type': params.get('type'), 'text': params.get('contract') + ':funding',
                              'contract': params.get('contract')}])

    def trades(request, match, account):
        return 200, compact([{'id': 1, 'contract': query_params(request).get('contract'), 'order_id': SEEDED_ORDER_ID,
                              'size': -1, 'price': '60400', 'role': 'taker', 'create_time': 1700000000.0}])

    prefix = r'/api/v4/futures/usdt'
    return [('GET', prefix + r'/accounts', accounts), ('GET', prefix + r'/positions', positions),
            ('GET', prefix + r'/orders/([^/]+)', get_order), ('DELETE', prefix + r'/orders/([^/]+)', cancel),
            ('POST', prefix + r'/positions/([^/]+)/leverage', leverage), ('POST', prefix + r'/orders', place),
            ('GET', prefix + r'/account_book', account_book), ('GET', prefix + r'/my_trades', trades)]


# ---- BingX ---------------------------------------------------------------------------------

def bingx_ok(data):
    return 200, compact({'code': 0, 'msg': '', 'data': data})


def bingx_routes(book):
    def balance(request, match, account):
        entry = {'userId': '1', 'asset': 'USDT', 'balance': money(account, 'wallet', '640'),
                 'equity': money(account, 'equity', '655.3'), 'unrealizedProfit': '0', 'realisedProfit': '0',
                 'availableMargin': money(account, 'available', '600.7'), 'usedMargin': '0', 'freezedMargin': '0'}
        return bingx_ok([entry] if '/v3/' in request.path else {'balance': entry})

    def positions(request, match, account):
        symbol = query_params(request).get('symbol')
        return bingx_ok([{'symbol': symbol, 'positionSide': 'LONG', 'positionAmt': '0', 'leverage': 10}])

    def order_view(order):
        return {'order': {'orderId': order['id'], 'symbol': order['symbol'], 'side': order['side'].upper(),
                          'price': order['price'], 'origQty': order['qty'], 'type': 'LIMIT',
                          'status': 'NEW' if order['status'] == 'open' else 'CANCELLED'}}

    def get_order(request, match, account):
        order = book.orders.get(query_params(request).get('orderId', ''))
        if order is None:
            return 200, compact({'code': 80016, 'msg': 'order does not exist', 'data': {}})
        return bingx_ok(order_view(order))

    def cancel(request, match, account):
        order = book.cancel(query_params(request).get('orderId', ''))
        if order is None:
            return 200, compact({'code': 80018, 'msg': 'order is already filled', 'data': {}})
        return bingx_ok(order_view(order))

    return [('GET', r'/openApi/swap/v3/user/balance', balance), ('GET', r'/openApi/swap/v2/user/balance', balance),
            ('GET', r'/openApi/swap/v2/user/positions', positions),
            ('GET', r'/openApi/swap/v2/trade/order', get_order), ('DELETE', r'/openApi/swap/v2/trade/order', cancel)]


# ---- KuCoin futures ------------------------------------------------------------------------

def kucoin_ok(data):
    return 200, compact({'code': '200000', 'data': data})


def kucoin_routes(book):
    def overview(request, match, account):
        return kucoin_ok({'accountEquity': float(money(account, 'equity', '812.4')), 'unrealisedPNL': 0,
                          'marginBalance': float(money(account, 'wallet', '812.4')), 'positionMargin': 0,
                          'orderMargin': 0, 'frozenFunds': 0,
                          'availableBalance': float(money(account, 'available', '700.2')),
                          'holdBalance': float(money(account, 'hold', '112.2')),
                          'currency': query_params(request).get('currency', 'XBT')})

    def position(request, match, account):
        symbol = query_params(request).get('symbol')
        return kucoin_ok({'symbol': symbol, 'currentQty': 0, 'realLeverage': 5, 'isOpen': False})

    def order_view(order):
        return {'id': order['id'], 'symbol': order['symbol'], 'side': order['side'], 'price': order['price'],
                'size': order['qty'], 'type': 'limit', 'isActive': order['status'] == 'open',
                'cancelExist': order['status'] != 'open', 'status': 'open' if order['status'] == 'open' else 'done'}

    def get_order(request, match, account):
        order = book.orders.get(match.group(1))
        if order is None:
            return 404, compact({'code': '100001', 'msg': 'error.getOrder.orderNotExist'})
        return kucoin_ok(order_view(order))

    def cancel(request, match, account):
        order = book.cancel(match.group(1))
        if order is None:
            return 200, compact({'code': '100004', 'msg': 'The order cannot be canceled'})
        return kucoin_ok({'cancelledOrderIds': [order['id']]})

    return [('GET', r'/api/v1/account-overview', overview), ('GET', r'/api/v1/position', position),
            ('GET', r'/api/v1/orders/([^/]+)', get_order), ('DELETE', r'/api/v1/orders/([^/]+)', cancel)]


# ---- Bitget --------------------------------------------------------------------------------

def bitget_ok(data):
    return 200, compact({'code': '00000', 'msg': 'success', 'requestTime': int(time.time() * 1000), 'data': data})


def bitget_routes(book):
    def accounts(request, match, account):
        if query_params(request).get('productType') != 'USDT-FUTURES':
            return 400, compact({'code': '40020', 'msg': 'Parameter productType error', 'data': None})
        return bitget_ok([{'marginCoin': 'USDT', 'locked': '0', 'available': money(account, 'available', '432.1'),
                           'crossedMaxAvailable': money(account, 'available', '432.1'),
                           'accountEquity': money(account, 'equity', '450.9'),
                           'usdtEquity': money(account, 'equity', '450.9'), 'unrealizedPL': '0'}])

    def position(request, match, account):
        params = query_params(request)
        return bitget_ok([{'symbol': params.get('symbol'), 'marginCoin': params.get('marginCoin'),
                           'holdSide': 'long', 'total': '0', 'leverage': '10'}])

    def order_view(order):
        return {'orderId': order['id'], 'symbol': order['symbol'], 'side': order['side'], 'size': order['qty'],
                'price': order['price'], 'state': 'live' if order['status'] == 'open' else 'canceled'}

    def detail(request, match, account):
        order = book.orders.get(query_params(request).get('orderId', ''))
        if order is None:
            return 400, compact({'code': '40109', 'msg': 'The data of the order cannot be found', 'data': None})
        return bitget_ok(order_view(order))

    def cancel(request, match, account):
        body = json_body(request)
        if body is None:
            return 400, compact({'code': '40017', 'msg': 'Parameter verification failed', 'data': None})
        order = book.cancel(str(body.get('orderId')))
        if order is None:
            return 400, compact({'code': '40768', 'msg': 'Order does not exist', 'data': None})
        return bitget_ok({'orderId': order['id'], 'clientOid': ''})

    return [('GET', r'/api/v2/mix/account/accounts', accounts),
            ('GET', r'/api/v2/mix/position/single-position', position),
            ('GET', r'/api/v2/mix/order/detail', detail), ('POST', r'/api/v2/mix/order/cancel-order', cancel)]


ROUTES = {'bybit': bybit_routes, 'okx': okx_routes, 'okx_eea': okx_routes, 'okx_us': okx_routes,
          'gate': gate_routes, 'bingx': bingx_routes, 'kucoin': kucoin_routes, 'bitget': bitget_routes}


class ExchangeSite:
    """One exchange site: signature check, then the matching route."""

    def __init__(self, name, verifier, accounts):
        self.name = name
        self.verifier = verifier
        self.accounts = accounts
        self.book = Book()
        self.delay = 0.0  # seconds each request waits, to let tests watch a slow exchange
        self.routes = [(method, re.compile(pattern + r'\Z'), handler)
                       for method, pattern, handler in ROUTES[name](self.book)]

    def handle(self, request):
        """Returns (status, body, verdict)."""
        if self.delay:
            time.sleep(self.delay)
        route = next(((handler, match) for method, pattern, handler in self.routes
                      if method == request.method and (match := pattern.match(request.path))), None)
        if route is None:
            return 404, compact({'error': 'not found', 'path': request.path}), 'no_route'
        rejection = self.verifier(request, self.accounts)
        if rejection is not None:
            return rejection[0], rejection[1], 'rejected'
        key_headers = ('X-BAPI-API-KEY', 'OK-ACCESS-KEY', 'KEY', 'X-BX-APIKEY', 'KC-API-KEY', 'ACCESS-KEY')
        key = next((request.header(h) for h in key_headers if request.header(h)), None)
        account = next(a for a in self.accounts.get(self.name, []) if a.get('key') == key)
        handler, match = route
        status, body = handler(request, match, account)
        return status, body, 'accepted'
