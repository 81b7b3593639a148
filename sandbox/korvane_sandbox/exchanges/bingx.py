"""BingX perpetual swaps (USDT-M), after BingX's public API documentation. Parameters arrive in the
query or in a form body; quantities are in the base coin."""
from ..signing import compact, verify_bingx
from .book import DAY_MS, fmt
from .common import decimal_text, int_param, money
from .site import permissions_of


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'bingx'
SITES = [('bingx', 'KORVANE_BINGX_BASE_URL'), ('bingx_demo', 'KORVANE_BINGX_DEMO_BASE_URL')]
SETTINGS = {'position_mode': (('hedge', 'one_way'), 'hedge'), 'demo': ((True, False), False)}


def verifier(site):
    """The signature check of `site`; the demo host signs as the live one does."""
    return verify_bingx

SEED_SYMBOL, SEED_QTY = 'BTC-USDT', '0.01'
FORM_PARAMS = True
INVALID = 80014  # BingX's "Invalid parameters"


def ok(data, now):
    return 200, compact({'code': 0, 'msg': '', 'timestamp': now, 'data': data})


def error(code, message, now):
    return 200, compact({'code': code, 'msg': message, 'timestamp': now, 'data': {}})


def not_found(request, now):
    return 404, compact({'code': 100400, 'msg': 'this api is not exist', 'timestamp': now})


def server_error(now):
    return 500, compact({'code': 100500, 'msg': 'Internal system error', 'timestamp': now})


# Virtual-money keys work on the virtual-money host alone.
def wrong_environment(now):
    return error(100413, 'Incorrect apiKey', now)


def server_time(call):
    return ok({'serverTime': call.now}, call.now)


# Perpetual contracts: quantities are base coins, steps given as decimal places.
CONTRACTS = {
    'BTC-USDT': ('BTC', 0.0001, 4, 1, 125),
    'ETH-USDT': ('ETH', 0.01, 2, 2, 100),
    'DOGE-USDT': ('DOGE', 1, 0, 5, 75),
}


def contracts(call):
    wanted = call.params.get('symbol')
    rows = [{'symbol': symbol, 'asset': asset, 'currency': 'USDT', 'tradeMinQuantity': minimum,
             'quantityPrecision': quantity_places, 'pricePrecision': price_places, 'maxLongLeverage': leverage,
             'maxShortLeverage': leverage, 'status': 1}
            for symbol, (asset, minimum, quantity_places, price_places, leverage) in CONTRACTS.items()
            if wanted in (None, symbol)]
    return ok(rows, call.now)


PUBLIC_ROUTES = [('GET', r'/openApi/swap/v2/server/time', server_time),
                 ('GET', r'/openApi/swap/v2/quote/contracts', contracts)]


TRADE_ROUTES = {'order': [('POST', r'/openApi/swap/v2/trade/order')],
                'leverage': [('POST', r'/openApi/swap/v2/trade/leverage')],
                'cancel': [('DELETE', r'/openApi/swap/v2/trade/order')]}


def refusal(kind, now):
    if kind == 'rate':
        return 429, compact({'code': 100410, 'msg': 'rate limitation', 'timestamp': now, 'data': {}})
    return {'ip': lambda: error(100419, 'your current request IP is not in the whitelist', now),
            'permission': lambda: error(100004, 'Permission denied as the API key was created without the permission',
                                        now),
            'margin': lambda: error(101204, 'Insufficient margin', now),
            'leverage': lambda: error(109400, 'leverage exceeds the maximum allowed', now)}[kind]()



def hedge(call):
    return call.account.get('position_mode', 'hedge') == 'hedge'


def missing(call, *names):
    """The refusal of a request that lacks one of `names`; None when all are there."""
    absent = [name for name in names if not call.params.get(name)]
    return error(INVALID, 'Invalid parameters, err: %s is required' % ', '.join(absent), call.now) if absent else None


def balance(call):
    account = call.account
    entry = {'userId': '1', 'asset': 'USDT', 'balance': money(account, 'wallet', '640'),
             'equity': money(account, 'equity', '655.3'), 'unrealizedProfit': '0', 'realisedProfit': '0',
             'availableMargin': money(account, 'available', '600.7'), 'usedMargin': '0', 'freezedMargin': '0',
             'shortUid': '1'}
    return ok([entry] if '/v3/' in call.request.path else {'balance': entry}, call.now)


def position_sides(call):
    return ('LONG', 'SHORT') if hedge(call) else ('BOTH',)


def book_side(position_side):
    return {'LONG': 'long', 'SHORT': 'short', 'BOTH': 'net'}[position_side]


def positions(call):
    symbol = call.params.get('symbol')
    held = [symbol] if symbol else sorted({s for (s, _), size in call.book.positions.items() if size})
    entries = []
    for s in held:
        for side in position_sides(call):
            size, entry = call.book.position(s, book_side(side))
            if not size:
                continue
            entries.append({'symbol': s, 'positionId': '%s-%s' % (s, side), 'positionSide': side,
                            'isolated': True, 'positionAmt': fmt(abs(size)), 'availableAmt': fmt(abs(size)),
                            'avgPrice': fmt(entry), 'markPrice': fmt(entry), 'unrealizedProfit': '0',
                            'realisedProfit': '0', 'initialMargin': '0', 'liquidationPrice': 0,
                            'leverage': call.book.leverage_of(s, book_side(side) if side != 'BOTH' else 'both', 10),
                            'positionValue': fmt(abs(size) * entry), 'createTime': call.now, 'updateTime': call.now})
    return ok(entries, call.now)


def position_mode(call):
    return ok({'dualSidePosition': 'true' if hedge(call) else 'false'}, call.now)


def set_position_mode(call):
    wanted = call.params.get('dualSidePosition')
    if wanted not in ('true', 'false'):
        return error(INVALID, 'Invalid parameters, err: dualSidePosition must be true or false', call.now)
    call.account['position_mode'] = 'hedge' if wanted == 'true' else 'one_way'
    return ok({'dualSidePosition': wanted}, call.now)


def get_leverage(call):
    refusal = missing(call, 'symbol')
    if refusal:
        return refusal
    symbol = call.params['symbol']
    return ok({'longLeverage': call.book.leverage_of(symbol, 'long', 10),
               'shortLeverage': call.book.leverage_of(symbol, 'short', 10), 'maxLongLeverage': 125,
               'maxShortLeverage': 125, 'availableLongVol': '0', 'availableShortVol': '0'}, call.now)


def set_leverage(call):
    refusal = missing(call, 'symbol', 'side', 'leverage')
    if refusal:
        return refusal
    side, value = call.params['side'], int_param(call.params, 'leverage')
    if value is None or value < 1:
        return error(INVALID, 'Invalid parameters, err: leverage', call.now)
    # Hedge mode sets each side; one-way mode has the one side BOTH.
    if side not in position_sides(call):
        return error(INVALID, 'Invalid parameters, err: side must be %s in %s mode'
                     % (' or '.join(position_sides(call)), 'hedge' if hedge(call) else 'one-way'), call.now)
    symbol = call.params['symbol']
    call.book.set_leverage(symbol, 'both' if side == 'BOTH' else book_side(side), value)
    return ok({'leverage': value, 'symbol': symbol, 'availableLongVol': '0', 'availableShortVol': '0'}, call.now)


def order_view(order):
    side = {'net': 'BOTH', 'long': 'LONG', 'short': 'SHORT'}[order['pos_side']]
    return {'symbol': order['symbol'], 'orderId': int(order['id']), 'side': order['side'].upper(),
            'positionSide': side, 'type': 'LIMIT', 'origQty': order['qty'], 'price': order['price'],
            'executedQty': '0', 'avgPrice': '0', 'cumQuote': '0', 'stopPrice': '', 'profit': '0', 'commission': '0',
            'status': 'NEW' if order['status'] == 'open' else 'CANCELLED', 'time': order['time'],
            'updateTime': order['time'], 'clientOrderId': order['client_id'], 'reduceOnly': order['reduce'],
            'timeInForce': 'GTC', 'workingType': 'MARK_PRICE'}


def place(call):
    params = call.params
    refusal = missing(call, 'symbol', 'side', 'type', 'quantity')
    if refusal:
        return refusal
    if params['side'] not in ('BUY', 'SELL') or params['type'] not in ('LIMIT', 'MARKET'):
        return error(INVALID, 'Invalid parameters, err: side or type', call.now)
    quantity = decimal_text(params['quantity'])
    price = decimal_text(params.get('price')) if params['type'] == 'LIMIT' else '0'
    if quantity is None or price is None:
        return error(INVALID, 'Invalid parameters, err: %s' % ('quantity' if quantity is None else 'price'), call.now)
    # Without positionSide BingX takes LONG, which only a hedge-mode account has.
    side = params.get('positionSide') or 'LONG'
    reduce = params.get('reduceOnly') == 'true'
    if side not in position_sides(call):
        return error(INVALID, 'Invalid parameters, err: positionSide %s does not match the %s position mode'
                     % (side, 'hedge' if hedge(call) else 'one-way'), call.now)
    if reduce and hedge(call):
        return error(INVALID, 'Invalid parameters, err: reduceOnly is not accepted in hedge mode', call.now)
    order_id = call.book.place(params['symbol'], params['side'].lower(), quantity, price, reduce, book_side(side),
                               params.get('clientOrderID', params.get('clientOrderId', '')))
    view = order_view(call.book.orders[order_id])
    return ok({'order': {key: view[key] for key in ('symbol', 'orderId', 'side', 'positionSide', 'type', 'price',
                                                     'clientOrderId', 'workingType', 'timeInForce', 'reduceOnly')}
               | {'quantity': quantity}}, call.now)


def get_order(call):
    order = call.book.orders.get(call.params.get('orderId', '')) or call.book.find_client(
        call.params.get('clientOrderId', ''))
    if order is None:
        return error(80016, 'order does not exist', call.now)
    return ok({'order': order_view(order)}, call.now)


def cancel(call):
    order = call.book.cancel(call.params.get('orderId', ''))
    if order is None:
        return error(80018, 'order is already filled', call.now)
    return ok({'order': order_view(order)}, call.now)


def income(call):
    params = call.params
    entries = []
    if params.get('incomeType', 'FUNDING_FEE') == 'FUNDING_FEE':
        start = max(int_param(params, 'startTime', 0), call.now - 90 * DAY_MS)
        entries = call.book.funding(params.get('symbol') or None, start, int_param(params, 'endTime'),
                                    min(int_param(params, 'limit', 100), 1000))
    return ok([{'symbol': e['symbol'], 'incomeType': 'FUNDING_FEE', 'income': e['amount'], 'asset': 'USDT',
                'info': 'Funding Fee', 'time': e['time'], 'tranId': '%d' % e['time'], 'tradeId': ''}
               for e in entries], call.now)


def fill_orders(call):
    refusal = missing(call, 'tradingUnit', 'startTs', 'endTs')
    if refusal:
        return refusal
    params = call.params
    start, end = int_param(params, 'startTs', 0), int_param(params, 'endTs', 0)
    fills = [f for f in call.book.fills_of(params.get('symbol') or None, params.get('orderId') or None)
             if start <= f['time'] <= end]
    return ok({'fill_orders': [
        {'volume': f['qty'], 'price': f['price'], 'amount': fmt(float(f['qty']) * float(f['price'])),
         'commission': '0', 'currency': 'USDT', 'orderId': f['order_id'], 'liquidatedPrice': '',
         'liquidatedMarginRatio': '', 'filledTime': f['time'], 'symbol': f['symbol'], 'filledId': f['id'],
         'side': f['side'].upper(), 'positionSide': {'net': 'BOTH', 'long': 'LONG', 'short': 'SHORT'}[f['pos_side']],
         'role': 'taker'} for f in reversed(fills)]}, call.now)


def position_history(call):
    refusal = missing(call, 'symbol')
    if refusal:
        return refusal
    entries = call.book.closed_of(call.params['symbol'])[:int_param(call.params, 'pageSize', 50)]
    return ok({'positionHistory': [
        {'positionId': c['id'], 'symbol': c['symbol'], 'isolated': True, 'positionSide': c['side'].upper(),
         'openTime': c['open_time'], 'updateTime': c['close_time'], 'avgPrice': c['entry'],
         'avgClosePrice': float(c['exit']), 'realisedProfit': c['pnl'], 'netProfit': c['pnl'],
         'positionAmt': c['qty'], 'closePositionAmt': c['qty'], 'leverage': 10, 'closeAllPositions': True,
         'positionCommission': '0', 'totalFunding': '0'} for c in entries]}, call.now)


def api_permissions(call):
    chosen = permissions_of(call.account)
    return ok({'apiKey': call.account['key'], 'note': 'sandbox', 'ipAddresses': [], 'enableReading': True,
               'enableFutures': chosen != 'read', 'enableSpotAndMarginTrading': chosen != 'read',
               'enableWithdrawals': chosen == 'read_trade_withdraw', 'permitsUniversalTransfer': False}, call.now)


ORDER_ROUTES = [('POST', '/openApi/swap/v2/trade/order')]


def routes():
    return [('GET', r'/openApi/v1/account/apiPermissions', api_permissions),
            ('GET', r'/openApi/swap/v3/user/balance', balance), ('GET', r'/openApi/swap/v2/user/balance', balance),
            ('GET', r'/openApi/swap/v2/user/positions', positions),
            ('GET', r'/openApi/swap/v1/positionSide/dual', position_mode),
            ('POST', r'/openApi/swap/v1/positionSide/dual', set_position_mode),
            ('GET', r'/openApi/swap/v2/trade/leverage', get_leverage),
            ('POST', r'/openApi/swap/v2/trade/leverage', set_leverage),
            ('POST', r'/openApi/swap/v2/trade/order', place), ('GET', r'/openApi/swap/v2/trade/order', get_order),
            ('DELETE', r'/openApi/swap/v2/trade/order', cancel), ('GET', r'/openApi/swap/v2/user/income', income),
            ('GET', r'/openApi/swap/v2/trade/allFillOrders', fill_orders),
            ('GET', r'/openApi/swap/v1/trade/positionHistory', position_history)]
