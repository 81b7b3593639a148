"""Gate v4 USDT-settled futures, after Gate's public API documentation. Sizes are whole contracts,
signed: positive buys (long), negative sells (short)."""
from ..signing import compact, verify_gate
from .book import fmt, page
from .common import decimal_text, int_param, money, whole_number


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'gate'
SITES = [('gate', 'KORVANE_GATE_BASE_URL'), ('gate_demo', 'KORVANE_GATE_DEMO_BASE_URL')]
SETTINGS = {'dual_mode': ((True, False), False), 'demo': ((True, False), False)}


def verifier(site):
    """The signature check of `site`; the demo host signs as the live one does."""
    return verify_gate

SEED_SYMBOL, SEED_QTY = 'BTC_USDT', '1'
PREFIX = r'/api/v4/futures/usdt'


def answer(value, status=200):
    return status, compact(value)


def error(label, message, status=400):
    return status, compact({'label': label, 'message': message})


def not_found(request, now):
    return error('NOT_FOUND', 'Not found: %s %s' % (request.method, request.path), 404)


def server_error(now):
    return error('SERVER_ERROR', 'Internal server error', 500)


# Futures testnet keys are made there and unknown to the live host, and the reverse.
def wrong_environment(now):
    return error('INVALID_KEY', 'Invalid key provided', 401)


def server_time(call):
    return answer({'server_time': call.now})


# USDT futures contracts: whole contracts of quanto_multiplier coins (BTC 0.0001).
CONTRACTS = {
    'BTC_USDT': ('0.0001', 1, '0.1', '125'),
    'ETH_USDT': ('0.01', 1, '0.01', '100'),
    'DOGE_USDT': ('10', 1, '0.00001', '75'),
}


def contract(call):
    name = call.match.group(1)
    if name not in CONTRACTS:
        return error('CONTRACT_NOT_FOUND', 'Contract not found', 404)
    multiplier, minimum, tick, leverage = CONTRACTS[name]
    return answer({'name': name, 'type': 'direct', 'quanto_multiplier': multiplier, 'order_size_min': minimum,
                   'order_price_round': tick, 'leverage_max': leverage, 'in_delisting': False})


PUBLIC_ROUTES = [('GET', r'/api/v4/spot/time', server_time),
                 ('GET', r'/api/v4/futures/usdt/contracts/([A-Za-z0-9_]+)', contract)]


TRADE_ROUTES = {'order': [('POST', PREFIX + r'/orders')],
                'leverage': [('POST', PREFIX + r'/positions/[^/]+/leverage'),
                             ('POST', PREFIX + r'/dual_comp/positions/[^/]+/leverage')],
                'cancel': [('DELETE', PREFIX + r'/orders/[^/]+')]}


def refusal(kind, now):
    if kind == 'rate':
        status, body = error('TOO_MANY_REQUESTS', 'Request Rate limit Exceeded', 429)
        return status, body, {'X-Gate-RateLimit-Requests-Remain': '0', 'X-Gate-RateLimit-Limit': '100',
                              'X-Gate-RateLimit-Reset-Timestamp': str(now + 300)}
    return {'ip': lambda: error('IP_FORBIDDEN', 'Request IP not in whitelist', 403),
            'permission': lambda: error('FORBIDDEN', 'API key has no permission to trade', 403),
            'margin': lambda: error('INSUFFICIENT_AVAILABLE', 'Insufficient available balance', 400),
            'leverage': lambda: error('LEVERAGE_TOO_HIGH', 'leverage too high', 400)}[kind]()



def dual(call):
    return bool(call.account.get('dual_mode'))


def account_view(call):
    account = call.account
    return {'user': 100001, 'currency': 'USDT', 'total': money(account, 'wallet', '980.4'), 'unrealised_pnl': '0',
            'position_margin': '0', 'order_margin': '0', 'available': money(account, 'available', '950.1'),
            'point': '0', 'bonus': '0', 'in_dual_mode': dual(call), 'enable_evolved_classic': True,
            'cross_initial_margin': '0', 'cross_maintenance_margin': '0', 'cross_order_margin': '0',
            'history': {'dnw': '0', 'pnl': '0', 'fee': '0', 'refr': '0', 'fund': '0', 'point_dnw': '0',
                        'point_fee': '0', 'point_refr': '0', 'bonus_dnw': '0', 'bonus_offset': '0'}}


def account_detail(call):
    # Mode 1 is the classic account, where the futures routes below apply.
    return answer({'user_id': 100001, 'ip_whitelist': [], 'currency_pairs': [], 'key': {'mode': 1}, 'tier': 0,
                   'copy_trading_role': 0})


def accounts(call):
    return answer(account_view(call))


def position_view(call, contract, side):
    """`side`: 'net' in single mode, 'long' / 'short' in dual mode."""
    size, entry = call.book.position(contract, side)
    signed = int(size) if side in ('net', 'long') else -int(size)
    mode = {'net': 'single', 'long': 'dual_long', 'short': 'dual_short'}[side]
    return {'user': 100001, 'contract': contract, 'size': signed, 'mode': mode, 'entry_price': fmt(entry),
            'leverage': str(call.book.leverage_of(contract, side if side != 'net' else 'both', 10)),
            'margin': '0', 'value': '0', 'unrealised_pnl': '0', 'realised_pnl': '0', 'mark_price': fmt(entry),
            'liq_price': '0', 'risk_limit': '1000000', 'cross_leverage_limit': '0', 'update_time': call.now // 1000}


def sides(call):
    return ('long', 'short') if dual(call) else ('net',)


def positions(call):
    held = sorted({s for (s, _), size in call.book.positions.items() if size})
    holding = call.params.get('holding') == 'true'
    views = [position_view(call, c, side) for c in held for side in sides(call)]
    return answer([v for v in views if v['size'] or not holding])


def single_only(call):
    return error('POSITION_DUAL_MODE', 'position is in dual mode; use the dual_comp routes') if dual(call) else None


def dual_only(call):
    return None if dual(call) else error('POSITION_NOT_DUAL_MODE', 'position is not in dual mode')


def position(call):
    return single_only(call) or answer(position_view(call, call.match.group(1), 'net'))


def dual_position(call):
    return dual_only(call) or answer([position_view(call, call.match.group(1), side) for side in ('long', 'short')])


def leverage_value(call):
    value = call.params.get('leverage', '')
    return int(value) if value.isdigit() and value.isascii() else None


def leverage(call):
    refusal = single_only(call)
    if refusal:
        return refusal
    value = leverage_value(call)
    if value is None:
        return error('INVALID_PARAM_VALUE', 'invalid argument: leverage')
    call.book.set_leverage(call.match.group(1), 'both', value)
    return answer(position_view(call, call.match.group(1), 'net'))


def dual_leverage(call):
    refusal = dual_only(call)
    if refusal:
        return refusal
    value = leverage_value(call)
    if value is None:
        return error('INVALID_PARAM_VALUE', 'invalid argument: leverage')
    contract = call.match.group(1)
    for side in ('long', 'short'):
        call.book.set_leverage(contract, side, value)
    return answer([position_view(call, contract, side) for side in ('long', 'short')])


def switch_dual_mode(call):
    wanted = call.params.get('dual_mode')
    if wanted not in ('true', 'false'):
        return error('INVALID_PARAM_VALUE', 'invalid argument: dual_mode')
    call.account['dual_mode'] = wanted == 'true'
    return answer(account_view(call))


def order_view(order):
    size = int(float(order['qty'])) * (1 if order['side'] == 'buy' else -1)
    is_open = order['status'] == 'open'
    return {'id': int(order['id']), 'user': 100001, 'contract': order['symbol'], 'size': size,
            'left': size if is_open else 0, 'price': order['price'], 'fill_price': '0', 'tif': 'gtc',
            'is_reduce_only': order['reduce'],
            'is_close': False, 'iceberg': 0, 'text': order['client_id'] or 'api',
            'status': 'open' if is_open else 'finished', 'finish_as': '' if is_open else 'cancelled',
            'create_time': order['time'] / 1000.0, 'update_time': order['time'] / 1000.0}


def get_order(call):
    wanted = call.match.group(1)
    order = call.book.orders.get(wanted)
    if order is None and wanted.startswith('t-'):
        # A custom text finds an order only while it is open, as Gate documents.
        order = call.book.find_client(wanted)
        order = order if order is not None and order['status'] == 'open' else None
    if order is None:
        return error('ORDER_NOT_FOUND', 'Order not found', 404)
    return answer(order_view(order))


def list_orders(call):
    contract, status = call.params.get('contract'), call.params.get('status', 'open')
    orders = [o for o in call.book.orders.values() if (not contract or o['symbol'] == contract) and
              (o['status'] == 'open') == (status == 'open')]
    return answer([order_view(o) for o in orders])


def cancel(call):
    order = call.book.cancel(call.match.group(1))
    if order is None:
        return error('ORDER_NOT_FOUND', 'Order not found', 404)
    return answer(order_view(order))


def place(call):
    body = call.body
    if body is None or not body.get('contract'):
        return error('INVALID_REQUEST_BODY', 'Request body is invalid')
    # Whole contracts only: an integer, or its text as Gate's own SDK sends it.
    size = whole_number(body.get('size'))
    if size is None:
        return error('INVALID_PARAM_VALUE', 'invalid argument: size must be a whole number of contracts')
    price = decimal_text(body.get('price')) if body.get('price') not in ('0', 0) else '0'
    if price is None:
        return error('INVALID_PARAM_VALUE', 'invalid argument: price')
    reduce = bool(body.get('reduce_only'))
    auto_size = body.get('auto_size')
    if auto_size and not dual(call):
        return error('INVALID_PARAM_VALUE', 'auto_size is only for closing a side in dual mode')
    if auto_size not in (None, '', 'close_long', 'close_short') or (auto_size and size != 0):
        return error('INVALID_PARAM_VALUE', 'invalid argument: auto_size')
    if size == 0 and not auto_size:
        return error('INVALID_PARAM_VALUE', 'invalid argument: size')
    contract = body['contract']
    if auto_size:
        held, _ = call.book.position(contract, auto_size[len('close_'):])
        side, qty, pos_side, reduce = ('sell' if auto_size == 'close_long' else 'buy'), int(held), auto_size[6:], True
    else:
        side, qty = ('buy' if size > 0 else 'sell'), abs(size)
        # Dual mode: an order opens its own side, a reduce-only one closes the other.
        pos_side = 'net' if not dual(call) else ('long' if (side == 'buy') != reduce else 'short')
    order_id = call.book.place(contract, side, str(qty), price, reduce, pos_side, str(body.get('text', '')))
    return answer(order_view(call.book.orders[order_id]), 201)


def account_book(call):
    """Between from and to (seconds), newest first, 1000 a page at most, paged by offset."""
    params = call.params
    limit = min(int_param(params, 'limit', 100), 1000)
    entries = []
    if params.get('type', 'fund') == 'fund':
        start, end = int_param(params, 'from'), int_param(params, 'to')
        entries = call.book.funding(params.get('contract') or None, start * 1000 if start is not None else None,
                                    end * 1000 if end is not None else None)
        entries, _ = page(entries, params.get('offset'), limit)
    return answer([{'time': e['time'] / 1000.0, 'change': e['amount'], 'balance': '950.09', 'type': 'fund',
                    'text': e['symbol'] + ':funding', 'contract': e['symbol'], 'trade_id': '', 'id': str(e['time'])}
                   for e in entries])


def trades(call):
    params = call.params
    limit = int_param(params, 'limit', 100)
    entries = call.book.fills_of(params.get('contract') or None, params.get('order') or None)
    return answer([{'id': int(f['id']), 'trade_id': f['id'], 'contract': f['symbol'], 'order_id': f['order_id'],
                    'size': int(float(f['qty'])) * (1 if f['side'] == 'buy' else -1), 'price': f['price'],
                    'role': 'taker', 'text': 'api', 'fee': '0', 'point_fee': '0', 'create_time': f['time'] / 1000.0}
                   for f in reversed(entries)][:limit])


def trades_timerange(call):
    """The account's trades between `from` and `to` (seconds), newest first."""
    params = call.params
    start, end = int_param(params, 'from', 0), int_param(params, 'to', call.now // 1000 + 1)
    entries = [f for f in call.book.fills_of(params.get('contract') or None) if start <= f['time'] // 1000 <= end]
    return answer([{'trade_id': f['id'], 'contract': f['symbol'], 'order_id': f['order_id'],
                    'size': int(float(f['qty'])) * (1 if f['side'] == 'buy' else -1), 'price': f['price'],
                    'role': 'taker', 'text': 'api', 'fee': '0', 'point_fee': '0', 'create_time': f['time'] / 1000.0,
                    'close_size': 0} for f in reversed(entries)][:int_param(params, 'limit', 100)])


def position_close(call):
    entries = call.book.closed_of(call.params.get('contract') or None)[:int_param(call.params, 'limit', 100)]
    return answer([{'time': c['close_time'] / 1000.0, 'contract': c['symbol'], 'side': c['side'], 'pnl': c['pnl'],
                    'pnl_pnl': c['pnl'], 'pnl_fund': '0', 'pnl_fee': '0', 'text': 'api', 'max_size': c['qty'],
                    'accum_size': c['qty'], 'first_open_time': c['open_time'] // 1000,
                    'long_price': c['entry'] if c['side'] == 'long' else c['exit'],
                    'short_price': c['exit'] if c['side'] == 'long' else c['entry']} for c in entries])


ORDER_ROUTES = [('POST', PREFIX + '/orders')]


def routes():
    return [('GET', r'/api/v4/account/detail', account_detail), ('GET', PREFIX + r'/accounts', accounts),
            ('GET', PREFIX + r'/positions', positions),
            ('GET', PREFIX + r'/positions/([^/]+)', position),
            ('POST', PREFIX + r'/positions/([^/]+)/leverage', leverage),
            ('GET', PREFIX + r'/dual_comp/positions/([^/]+)', dual_position),
            ('POST', PREFIX + r'/dual_comp/positions/([^/]+)/leverage', dual_leverage),
            ('POST', PREFIX + r'/dual_mode', switch_dual_mode),
            ('GET', PREFIX + r'/orders', list_orders), ('GET', PREFIX + r'/orders/([^/]+)', get_order),
            ('DELETE', PREFIX + r'/orders/([^/]+)', cancel), ('POST', PREFIX + r'/orders', place),
            ('GET', PREFIX + r'/account_book', account_book), ('GET', PREFIX + r'/my_trades', trades),
            ('GET', PREFIX + r'/my_trades_timerange', trades_timerange),
            ('GET', PREFIX + r'/position_close', position_close)]
