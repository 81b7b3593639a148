"""Bybit v5 (USDT perpetuals, category "linear"), after Bybit's public API documentation."""
from ..signing import compact, verify_bybit
from .book import DAY_MS, fmt, page
from .common import decimal_text, int_param, money


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'bybit'
SITES = [('bybit', 'KORVANE_BYBIT_BASE_URL'), ('bybit_demo', 'KORVANE_BYBIT_DEMO_BASE_URL')]
SETTINGS = {'position_mode': (('one_way', 'hedge'), 'one_way'), 'read_only': ((True, False), False),
            'demo': ((True, False), False)}


def verifier(site):
    """The signature check of `site`; the demo host signs as the live one does."""
    return verify_bybit

SEED_SYMBOL, SEED_QTY = 'BTCUSDT', '0.01'
POSITION_IDX_MISMATCH = 'position idx not match position mode'


def reply(code, message, result, now, status=200):
    return status, compact({'retCode': code, 'retMsg': message, 'result': result, 'retExtInfo': {}, 'time': now})


def ok(result, now):
    return reply(0, 'OK', result, now)


def error(code, message, now, status=200):
    return reply(code, message, {}, now, status)


def not_found(request, now):
    return error(10001, 'Route not found: %s %s' % (request.method, request.path), now, 404)


def server_error(now):
    return error(10016, 'Internal server error.', now, 500)


# Demo-trading keys live on the demo host alone; elsewhere a key is simply unknown there.
def wrong_environment(now):
    return error(10003, 'API key is invalid.', now, 401)


def server_time(call):
    return ok({'timeSecond': str(call.now // 1000), 'timeNano': str(call.now * 1000000)}, call.now)


# Linear instruments: quantities are base coins.
INSTRUMENTS = {
    'BTCUSDT': ('BTC', '0.001', '0.001', '0.10', '100.00'),
    'ETHUSDT': ('ETH', '0.01', '0.01', '0.01', '100.00'),
    'DOGEUSDT': ('DOGE', '1', '1', '0.00001', '75.00'),
}


def instruments(call):
    symbol = call.params.get('symbol')
    rows = []
    if call.params.get('category') == 'linear' and symbol in INSTRUMENTS:
        base, minimum, step, tick, leverage = INSTRUMENTS[symbol]
        rows.append({'symbol': symbol, 'contractType': 'LinearPerpetual', 'baseCoin': base, 'quoteCoin': 'USDT',
                     'leverageFilter': {'minLeverage': '1', 'maxLeverage': leverage, 'leverageStep': '0.01'},
                     'priceFilter': {'tickSize': tick},
                     'lotSizeFilter': {'minOrderQty': minimum, 'qtyStep': step}})
    return ok({'category': 'linear', 'list': rows, 'nextPageCursor': ''}, call.now)


PUBLIC_ROUTES = [('GET', r'/v5/market/time', server_time), ('GET', r'/v5/market/instruments-info', instruments)]


# Requests that change the account, and how Bybit refuses them in each situation.
TRADE_ROUTES = {'order': [('POST', r'/v5/order/create')], 'leverage': [('POST', r'/v5/position/set-leverage')],
                'cancel': [('POST', r'/v5/order/cancel')]}


def refusal(kind, now):
    if kind == 'rate':
        # Bybit says when the limit resets, in milliseconds since the epoch.
        status, body = error(10006, 'Too many visits. Exceeded the API Rate Limit.', now)
        return status, body, {'X-Bapi-Limit-Status': '0', 'X-Bapi-Limit': '10',
                              'X-Bapi-Limit-Reset-Timestamp': str(now + 300)}
    return {'ip': lambda: error(10010, "Unmatched IP, please check your API key's bound IP addresses.", now),
            'permission': lambda: error(10005, 'Permission denied, please check your API key permissions.', now),
            'margin': lambda: error(110007, 'ab not enough for new order', now),
            'leverage': lambda: error(110013, 'Cannot set leverage due to risk limit level.', now)}[kind]()



def hedge(call):
    return call.account.get('position_mode') == 'hedge'


# Permission lists as Bybit shows them for each choice of permissions.
PERMISSION_LISTS = {
    'read': {'ContractTrade': [], 'Spot': [], 'Wallet': [], 'Options': [], 'Derivatives': []},
    'read_trade': {'ContractTrade': ['Order', 'Position'], 'Spot': [], 'Wallet': ['AccountTransfer'],
                   'Options': [], 'Derivatives': []},
    'read_trade_withdraw': {'ContractTrade': ['Order', 'Position'], 'Spot': [],
                            'Wallet': ['AccountTransfer', 'SubMemberTransfer', 'Withdraw'], 'Options': [],
                            'Derivatives': []},
}


def key_info(call):
    account = call.account
    chosen = account.get('key_permissions')
    read_only = chosen == 'read' if chosen else bool(account.get('read_only'))
    permissions = PERMISSION_LISTS[chosen] if chosen else account.get('permissions', {})
    return ok({'id': '1', 'note': 'sandbox', 'apiKey': account['key'], 'readOnly': 1 if read_only else 0,
               'secret': '', 'permissions': permissions, 'ips': ['*'], 'type': 1,
               'deadlineDay': 90, 'expiredAt': '', 'createdAt': '2026-01-01T00:00:00Z', 'unified': 0, 'uta': 1,
               'userID': 1, 'inviterID': 0, 'vipLevel': 'No VIP', 'mktMakerLevel': '0', 'affiliateID': 0,
               'rsaPublicKey': '', 'isMaster': True}, call.now)


def account_info(call):
    return ok({'unifiedMarginStatus': 5, 'marginMode': 'REGULAR_MARGIN', 'isMasterTrader': False,
               'spotHedgingStatus': 'OFF', 'updatedTime': str(call.now)}, call.now)


def wallet(call):
    if call.params.get('accountType') != 'UNIFIED':
        return error(10001, 'accountType only support UNIFIED.', call.now)
    account = call.account
    equity, available = money(account, 'equity', '1250.5'), money(account, 'available', '1100.25')
    balance = money(account, 'wallet', '1200')
    coin = {'coin': 'USDT', 'equity': equity, 'walletBalance': balance, 'usdValue': equity, 'unrealisedPnl': '0',
            'cumRealisedPnl': '0', 'locked': '0', 'availableToWithdraw': available, 'availableToBorrow': '',
            'borrowAmount': '0', 'accruedInterest': '0', 'totalOrderIM': '0', 'totalPositionIM': '0',
            'totalPositionMM': '0', 'bonus': '0', 'collateralSwitch': True, 'marginCollateral': True}
    return ok({'list': [{'accountType': 'UNIFIED', 'totalEquity': equity, 'totalWalletBalance': balance,
                         'totalAvailableBalance': available, 'totalMarginBalance': equity,
                         'totalInitialMargin': '0', 'totalMaintenanceMargin': '0', 'totalPerpUPL': '0',
                         'accountIMRate': '0', 'accountMMRate': '0', 'accountLTV': '0', 'coin': [coin]}]}, call.now)


def position_entry(call, symbol, idx):
    side = {0: 'net', 1: 'long', 2: 'short'}[idx]
    size, entry = call.book.position(symbol, side)
    if idx == 0:
        direction = 'Buy' if size > 0 else 'Sell' if size < 0 else ''
    else:
        direction = ('Buy' if idx == 1 else 'Sell') if size else ''
    leverage = call.book.leverage_of(symbol, 'both' if idx == 0 else side, 10)
    return {'positionIdx': idx, 'symbol': symbol, 'side': direction, 'size': fmt(abs(size)),
            'avgPrice': fmt(entry), 'positionValue': fmt(abs(size) * entry), 'leverage': str(leverage),
            'markPrice': fmt(entry), 'unrealisedPnl': '0', 'cumRealisedPnl': '0', 'tradeMode': 0,
            'positionStatus': 'Normal', 'createdTime': str(call.now), 'updatedTime': str(call.now)}


def positions(call):
    if call.params.get('category') != 'linear':
        return error(10001, 'params error: category only support linear', call.now)
    symbol = call.params.get('symbol')
    if not symbol and not call.params.get('settleCoin'):
        return error(10001, 'params error: symbol or settleCoin is required', call.now)
    indexes = (1, 2) if hedge(call) else (0,)
    if symbol:
        entries = [position_entry(call, symbol, idx) for idx in indexes]
    else:
        held = sorted({s for (s, _), size in call.book.positions.items() if size})
        entries = [e for s in held for e in (position_entry(call, s, idx) for idx in indexes) if e['size'] != '0']
    return ok({'category': 'linear', 'nextPageCursor': '', 'list': entries}, call.now)


def order_view(order):
    status = 'New' if order['status'] == 'open' else 'Cancelled'
    return {'orderId': order['id'], 'orderLinkId': order['client_id'], 'symbol': order['symbol'],
            'side': order['side'].capitalize(), 'qty': order['qty'], 'price': order['price'], 'orderType': 'Limit',
            'orderStatus': status, 'reduceOnly': order['reduce'], 'timeInForce': 'GTC',
            'positionIdx': {'net': 0, 'long': 1, 'short': 2}[order['pos_side']], 'cumExecQty': '0',
            'createdTime': str(order['time']), 'updatedTime': str(order['time'])}


def realtime(call):
    params = call.params
    orders = list(call.book.orders.values())
    if 'orderId' in params:
        orders = [o for o in orders if o['id'] == params['orderId']]
    elif 'orderLinkId' in params:
        orders = [o for o in orders if o['client_id'] == params['orderLinkId']]
    elif params.get('symbol'):
        orders = [o for o in orders if o['symbol'] == params['symbol']]
    return ok({'category': 'linear', 'nextPageCursor': '', 'list': [order_view(o) for o in orders]}, call.now)


def cancel(call):
    if call.body is None:
        return error(10001, 'params error: invalid json', call.now)
    order = call.book.cancel(str(call.body.get('orderId')))
    if order is None:
        return error(110001, 'order not exists or too late to cancel', call.now)
    return ok({'orderId': order['id'], 'orderLinkId': order['client_id']}, call.now)


def set_leverage(call):
    body = call.body
    if body is None or decimal_text(body.get('buyLeverage')) is None or decimal_text(body.get('sellLeverage')) is None:
        return error(10001, 'params error: buyLeverage and sellLeverage are required', call.now)
    symbol, buy, sell = body.get('symbol'), int(float(body['buyLeverage'])), int(float(body['sellLeverage']))
    if not hedge(call) and buy != sell:
        return error(10001, 'buy leverage must be equal to sell leverage in one-way mode', call.now)
    sides = (('long', buy), ('short', sell)) if hedge(call) else (('both', buy),)
    changed = [call.book.set_leverage(symbol, side, value) for side, value in sides]
    if not any(changed):
        return error(110043, 'leverage not modified', call.now)
    return ok({}, call.now)


def position_idx_error(call, body):
    """Returns the refusal of an order whose positionIdx does not fit the account's mode; None when it fits."""
    idx = body.get('positionIdx', 0)
    try:
        idx = int(idx)
    except (TypeError, ValueError):
        return error(10001, 'params error: positionIdx invalid', call.now)
    if not hedge(call):
        return None if idx == 0 else error(10001, POSITION_IDX_MISMATCH, call.now)
    if idx not in (1, 2):
        return error(10001, POSITION_IDX_MISMATCH, call.now)
    # Hedge mode: 1 is the long side, 2 the short side; a close trades against its side.
    opens_long = body['side'] == 'Buy'
    if bool(body.get('reduceOnly')) == ((idx == 1) == opens_long):
        return error(10001, POSITION_IDX_MISMATCH, call.now)
    return None


def create(call):
    body = call.body
    if body is None or body.get('category') != 'linear':
        return error(10001, 'params error: category only support linear', call.now)
    if body.get('side') not in ('Buy', 'Sell'):
        return error(10001, 'params error: side invalid', call.now)
    if decimal_text(body.get('qty')) is None:
        return error(10001, 'params error: qty invalid', call.now)
    if body.get('orderType') == 'Limit' and decimal_text(body.get('price')) is None:
        return error(10001, 'params error: price invalid', call.now)
    if call.account.get('read_only') and not call.account.get('key_permissions'):
        return error(10005, 'Permission denied, please check your API key permissions.', call.now)
    refusal = position_idx_error(call, body)
    if refusal is not None:
        return refusal
    idx = int(body.get('positionIdx', 0))
    order_id = call.book.place(body.get('symbol'), body['side'].lower(), str(body['qty']), str(body.get('price', '0')),
                               bool(body.get('reduceOnly')), {0: 'net', 1: 'long', 2: 'short'}[idx],
                               str(body.get('orderLinkId', '')))
    return ok({'orderId': order_id, 'orderLinkId': str(body.get('orderLinkId', ''))}, call.now)


def switch_mode(call):
    body = call.body or {}
    if body.get('mode') not in (0, 3, '0', '3'):
        return error(10001, 'params error: mode invalid', call.now)
    mode = 'hedge' if int(body['mode']) == 3 else 'one_way'
    if call.account.get('position_mode') == mode:
        return error(110025, 'Position mode is not modified', call.now)
    call.account['position_mode'] = mode
    return ok({}, call.now)


def transaction_log(call):
    """Seven days a request at most; a start or an end alone means the 24 hours after or before
    it, neither the last 24 hours; 50 a page (20 unless asked); trades share the log."""
    params = call.params
    limit = min(int_param(params, 'limit') or 20, 50)
    start, end = int_param(params, 'startTime'), int_param(params, 'endTime')
    if start is not None and end is not None and end - start > 7 * DAY_MS:
        return error(10001, 'The time range between startTime and endTime cannot exceed 7 days.', call.now)
    if start is None and end is None:
        end = call.now
    if start is None:
        start = end - DAY_MS
    if end is None:
        end = start + DAY_MS
    kind = params.get('type')
    entries = []
    if kind in (None, 'SETTLEMENT'):
        entries = [dict(e, kind='SETTLEMENT') for e in call.book.funding(params.get('symbol'), start, end)]
    if kind in (None, 'TRADE'):
        trades = [{'symbol': f['symbol'], 'time': f['time'], 'amount': '0', 'kind': 'TRADE'}
                  for f in call.book.fills_of(params.get('symbol') or None) if start <= f['time'] <= end]
        entries = sorted(entries + trades, key=lambda e: -e['time'])
    entries, next_cursor = page(entries, params.get('cursor'), limit)
    return ok({'nextPageCursor': next_cursor or '', 'list': [
        {'id': '%s-%d' % (e['symbol'], e['time']), 'symbol': e['symbol'], 'category': 'linear', 'side': 'Buy',
         'transactionTime': str(e['time']), 'type': e['kind'], 'qty': '0', 'size': '0', 'currency': 'USDT',
         'tradePrice': '0', 'funding': e['amount'], 'fee': '0', 'cashFlow': '0', 'change': e['amount'],
         'cashBalance': '1200', 'feeRate': '0.0001', 'tradeId': '', 'orderId': '', 'orderLinkId': ''}
        for e in entries]}, call.now)


def closed_pnl(call):
    entries = call.book.closed_of(call.params.get('symbol'))[:int_param(call.params, 'limit') or 50]
    return ok({'category': 'linear', 'nextPageCursor': '', 'list': [
        {'symbol': c['symbol'], 'orderId': c['order_id'], 'side': 'Sell' if c['side'] == 'long' else 'Buy',
         'qty': c['qty'], 'orderPrice': c['exit'], 'orderType': 'Limit', 'execType': 'Trade', 'closedSize': c['qty'],
         'cumEntryValue': c['entry'], 'avgEntryPrice': c['entry'], 'cumExitValue': c['exit'],
         'avgExitPrice': c['exit'], 'closedPnl': c['pnl'], 'fillCount': '1', 'leverage': '10',
         'createdTime': str(c['close_time']), 'updatedTime': str(c['close_time'])} for c in entries]}, call.now)


def executions(call):
    params = call.params
    fills = call.book.fills_of(params.get('symbol') or None, params.get('orderId') or None)
    return ok({'category': 'linear', 'nextPageCursor': '', 'list': [
        {'symbol': f['symbol'], 'orderId': f['order_id'], 'orderLinkId': '', 'side': f['side'].capitalize(),
         'orderPrice': f['price'], 'orderQty': f['qty'], 'orderType': 'Limit', 'execId': f['id'],
         'execPrice': f['price'], 'execQty': f['qty'], 'execFee': '0', 'execType': 'Trade', 'feeRate': '0.0002',
         'isMaker': False, 'execTime': str(f['time'])} for f in reversed(fills)]}, call.now)


ORDER_ROUTES = [('POST', '/v5/order/create')]


def routes():
    return [('GET', r'/v5/user/query-api', key_info), ('GET', r'/v5/account/info', account_info),
            ('GET', r'/v5/account/wallet-balance', wallet),
            ('GET', r'/v5/position/list', positions), ('GET', r'/v5/order/realtime', realtime),
            ('GET', r'/v5/order/history', realtime), ('POST', r'/v5/order/cancel', cancel),
            ('POST', r'/v5/position/set-leverage', set_leverage), ('POST', r'/v5/order/create', create),
            ('POST', r'/v5/position/switch-mode', switch_mode),
            ('GET', r'/v5/account/transaction-log', transaction_log), ('GET', r'/v5/position/closed-pnl', closed_pnl),
            ('GET', r'/v5/execution/list', executions)]
