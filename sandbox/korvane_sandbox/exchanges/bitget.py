"""Bitget v2 mix (USDT-FUTURES), after Bitget's public API documentation. Sizes are in the base coin."""
from ..signing import compact, verify_bitget
from .book import DAY_MS, fmt
from .common import decimal_text, int_param, money
from .site import permissions_of


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'bitget'
SITES = [('bitget', 'KORVANE_BITGET_BASE_URL')]
SETTINGS = {'pos_mode': (('hedge_mode', 'one_way_mode'), 'hedge_mode'), 'demo': ((True, False), False)}


def verifier(site):
    """The signature check of `site`; the demo host signs as the live one does."""
    return verify_bitget

SEED_SYMBOL, SEED_QTY = 'BTCUSDT', '0.01'
MODE_MISMATCH = ('40774', 'The order type for unilateral position must also be the unilateral position type.')


def ok(data, now):
    return 200, compact({'code': '00000', 'msg': 'success', 'requestTime': now, 'data': data})


def error(code, message, now, status=400):
    return status, compact({'code': code, 'msg': message, 'requestTime': now, 'data': None})


def not_found(request, now):
    return error('40404', 'Request URL NOT FOUND', now, 404)


def server_error(now):
    return error('40015', 'System is abnormal, please try again later', now, 500)


# Demo trading shares the live host; the header tells the two apart.
DEMO_HEADER = 'paptrading'


def wrong_environment(now):
    return error('40099', 'exchange environment is incorrect', now)


def server_time(call):
    return ok({'serverTime': str(call.now)}, call.now)


# USDT futures: quantities are base coins; the price step is priceEndStep in the last decimal.
CONTRACTS = {
    'BTCUSDT': ('BTC', '0.001', '0.001', '1', '1', '125'),
    'ETHUSDT': ('ETH', '0.01', '0.01', '2', '1', '100'),
    'DOGEUSDT': ('DOGE', '1', '1', '5', '1', '75'),
}


def contracts(call):
    symbol = call.params.get('symbol')
    if call.params.get('productType') != 'USDT-FUTURES' or symbol not in CONTRACTS:
        return error('40034', 'Parameter symbol does not exist', call.now)
    base, minimum, multiplier, places, end_step, leverage = CONTRACTS[symbol]
    return ok([{'symbol': symbol, 'baseCoin': base, 'quoteCoin': 'USDT', 'minTradeNum': minimum,
                'sizeMultiplier': multiplier, 'pricePlace': places, 'priceEndStep': end_step, 'maxLever': leverage,
                'symbolType': 'perpetual'}], call.now)


PUBLIC_ROUTES = [('GET', r'/api/v2/public/time', server_time), ('GET', r'/api/v2/mix/market/contracts', contracts)]


TRADE_ROUTES = {'order': [('POST', r'/api/v2/mix/order/place-order')],
                'leverage': [('POST', r'/api/v2/mix/account/set-leverage')],
                'cancel': [('POST', r'/api/v2/mix/order/cancel-order')]}


def refusal(kind, now):
    return {'ip': lambda: error('40018', 'Invalid IP', now),
            'rate': lambda: error('429', 'Too Many Requests', now, 429),
            'permission': lambda: error('40014', 'Incorrect permissions', now),
            'margin': lambda: error('40762', 'The order amount exceeds the balance', now),
            'leverage': lambda: error('40797', 'Exceeded the maximum settable leverage', now)}[kind]()



def hedge(call):
    return call.account.get('pos_mode', 'hedge_mode') == 'hedge_mode'


def product_error(call, value):
    """Only USDT-margined futures are served; None when `value` names them."""
    if (value or '').upper() != 'USDT-FUTURES':
        return error('40020', 'Parameter productType error', call.now)
    return None


def empty(call, name):
    return error('40019', 'Parameter %s cannot be empty' % name, call.now)


def accounts(call):
    refusal = product_error(call, call.params.get('productType'))
    if refusal:
        return refusal
    account = call.account
    return ok([{'marginCoin': 'USDT', 'locked': '0', 'available': money(account, 'available', '432.1'),
                'crossedMaxAvailable': money(account, 'available', '432.1'),
                'isolatedMaxAvailable': money(account, 'available', '432.1'),
                'maxTransferOut': money(account, 'available', '432.1'),
                'accountEquity': money(account, 'equity', '450.9'), 'usdtEquity': money(account, 'equity', '450.9'),
                'btcEquity': '0', 'crossedRiskRate': '0', 'unrealizedPL': '0', 'coupon': '0', 'assetMode': 'single'}],
              call.now)


def account_detail(call):
    params = call.params
    refusal = product_error(call, params.get('productType'))
    if refusal:
        return refusal
    for name in ('symbol', 'marginCoin'):
        if not params.get(name):
            return empty(call, name)
    account, symbol = call.account, params['symbol']
    return ok({'marginCoin': params['marginCoin'], 'locked': '0', 'available': money(account, 'available', '432.1'),
               'crossedMaxAvailable': money(account, 'available', '432.1'),
               'isolatedMaxAvailable': money(account, 'available', '432.1'),
               'maxTransferOut': money(account, 'available', '432.1'),
               'accountEquity': money(account, 'equity', '450.9'), 'usdtEquity': money(account, 'equity', '450.9'),
               'btcEquity': '0', 'crossedRiskRate': '0', 'crossedMarginLeverage': 20,
               'isolatedLongLever': call.book.leverage_of(symbol, 'long', 20),
               'isolatedShortLever': call.book.leverage_of(symbol, 'short', 20), 'marginMode': 'isolated',
               'posMode': account.get('pos_mode', 'hedge_mode'), 'unrealizedPL': '', 'coupon': '0'}, call.now)


def set_position_mode(call):
    body = call.body or {}
    refusal = product_error(call, body.get('productType'))
    if refusal:
        return refusal
    if body.get('posMode') not in ('one_way_mode', 'hedge_mode'):
        return error('40017', 'Parameter verification failed', call.now)
    call.account['pos_mode'] = body['posMode']
    return ok({'posMode': body['posMode']}, call.now)


def position_views(call, symbol):
    views = []
    for side in (('long', 'short') if hedge(call) else ('net',)):
        size, entry = call.book.position(symbol, side)
        if not size:
            continue
        hold = side if side != 'net' else ('long' if size > 0 else 'short')
        views.append({'marginCoin': 'USDT', 'symbol': symbol, 'holdSide': hold, 'openDelegateSize': '0',
                      'marginSize': '0', 'available': fmt(abs(size)), 'locked': '0', 'total': fmt(abs(size)),
                      'leverage': str(call.book.leverage_of(symbol, hold if hedge(call) else 'both', 10)),
                      'achievedProfits': '0', 'openPriceAvg': fmt(entry), 'marginMode': 'isolated',
                      'posMode': call.account.get('pos_mode', 'hedge_mode'), 'unrealizedPL': '0',
                      'liquidationPrice': '0', 'markPrice': fmt(entry), 'cTime': str(call.now),
                      'uTime': str(call.now)})
    return views


def single_position(call):
    params = call.params
    refusal = product_error(call, params.get('productType'))
    if refusal:
        return refusal
    if not params.get('symbol'):
        return empty(call, 'symbol')
    return ok(position_views(call, params['symbol']), call.now)


def all_positions(call):
    refusal = product_error(call, call.params.get('productType'))
    if refusal:
        return refusal
    held = sorted({s for (s, _), size in call.book.positions.items() if size})
    return ok([v for s in held for v in position_views(call, s)], call.now)


def set_leverage(call):
    body = call.body or {}
    refusal = product_error(call, body.get('productType'))
    if refusal:
        return refusal
    for name in ('symbol', 'marginCoin', 'leverage'):
        if not body.get(name):
            return empty(call, name)
    leverage = decimal_text(body['leverage'])
    if leverage is None:
        return error('40017', 'Parameter verification failed', call.now)
    hold = body.get('holdSide')
    # Hedge mode sets one side at a time; one-way mode has one leverage per symbol.
    if hedge(call) and not hold:
        return empty(call, 'holdSide')
    if hold not in (None, '', 'long', 'short'):
        return error('40017', 'Parameter verification failed', call.now)
    symbol, value = body['symbol'], int(float(leverage))
    if hedge(call):
        call.book.set_leverage(symbol, hold, value)
    else:
        call.book.set_leverage(symbol, 'both', value)
    return ok({'symbol': symbol, 'marginCoin': body['marginCoin'],
               'longLeverage': str(call.book.leverage_of(symbol, 'long', value)),
               'shortLeverage': str(call.book.leverage_of(symbol, 'short', value)),
               'crossMarginLeverage': str(value), 'marginMode': 'isolated'}, call.now)


def place(call):
    body = call.body or {}
    refusal = product_error(call, body.get('productType'))
    if refusal:
        return refusal
    for name in ('symbol', 'marginMode', 'marginCoin', 'size', 'side', 'orderType'):
        if not body.get(name):
            return empty(call, name)
    if body['side'] not in ('buy', 'sell') or body['orderType'] not in ('limit', 'market') or \
            body['marginMode'] not in ('isolated', 'crossed'):
        return error('40017', 'Parameter verification failed', call.now)
    size = decimal_text(body['size'])
    price = decimal_text(body.get('price')) if body['orderType'] == 'limit' else '0'
    if size is None or price is None:
        return error('40017', 'Parameter verification failed', call.now)
    trade_side = body.get('tradeSide')
    if hedge(call):
        if trade_side not in ('open', 'close'):
            return empty(call, 'tradeSide') if not trade_side else error('40017', 'Parameter verification failed',
                                                                        call.now)
        # Hedge mode names the position's side: buy is the long side, sell the short side, for
        # opening and closing alike.
        pos_side = 'long' if body['side'] == 'buy' else 'short'
        direction = body['side'] if trade_side == 'open' else ('sell' if body['side'] == 'buy' else 'buy')
        reduce = trade_side == 'close'
    else:
        if trade_side:
            return error(*MODE_MISMATCH, call.now)
        pos_side, direction = 'net', body['side']
        reduce = str(body.get('reduceOnly', 'NO')).upper() == 'YES'
    order_id = call.book.place(body['symbol'], direction, size, price, reduce, pos_side, str(body.get('clientOid', '')))
    return ok({'clientOid': str(body.get('clientOid', '')) or order_id, 'orderId': order_id}, call.now)


def order_view(order):
    if order['pos_side'] == 'net':
        side, trade_side, pos_mode = order['side'], 'buy_single' if order['side'] == 'buy' else 'sell_single', \
            'one_way_mode'
    else:
        side = 'buy' if order['pos_side'] == 'long' else 'sell'
        trade_side, pos_mode = 'close' if order['reduce'] else 'open', 'hedge_mode'
    return {'orderId': order['id'], 'clientOid': order['client_id'], 'symbol': order['symbol'], 'side': side,
            'tradeSide': trade_side, 'posMode': pos_mode, 'size': order['qty'], 'price': order['price'],
            'state': 'live' if order['status'] == 'open' else 'canceled', 'orderType': 'limit', 'force': 'gtc',
            'marginMode': 'isolated', 'marginCoin': 'USDT', 'reduceOnly': 'YES' if order['reduce'] else 'NO',
            'baseVolume': '0', 'priceAvg': '', 'cTime': str(order['time']), 'uTime': str(order['time'])}


def detail(call):
    order = call.book.orders.get(call.params.get('orderId', '')) or call.book.find_client(
        call.params.get('clientOid', ''))
    if order is None:
        return error('40109', 'The data of the order cannot be found', call.now)
    return ok(order_view(order), call.now)


def cancel(call):
    body = call.body
    if body is None:
        return error('40017', 'Parameter verification failed', call.now)
    order = call.book.cancel(str(body.get('orderId')))
    if order is None:
        return error('40768', 'Order does not exist', call.now)
    return ok({'orderId': order['id'], 'clientOid': order['client_id']}, call.now)


def bills(call):
    params = call.params
    refusal = product_error(call, params.get('productType'))
    if refusal:
        return refusal
    start, end = int_param(params, 'startTime'), int_param(params, 'endTime')
    if start is not None and end is not None and end - start > 30 * DAY_MS:
        return error('40034', 'The time interval between startTime and endTime cannot exceed 30 days', call.now)
    start = max(start if start is not None else 0, call.now - 90 * DAY_MS)
    before = int_param(params, 'idLessThan')
    if before is not None:
        end = min(end if end is not None else before, before - 1)
    entries = []
    if params.get('businessType', 'contract_settle_fee') == 'contract_settle_fee':
        entries = call.book.funding(params.get('symbol') or None, start, end, min(int_param(params, 'limit', 20), 100))
    return ok({'bills': [{'billId': '%d' % e['time'], 'symbol': e['symbol'], 'amount': e['amount'], 'fee': '0',
                          'feeByCoupon': '', 'businessType': 'contract_settle_fee', 'coin': 'USDT',
                          'balance': '432.1', 'cTime': str(e['time'])} for e in entries],
               'endId': '%d' % entries[-1]['time'] if entries else ''}, call.now)


def fills(call):
    params = call.params
    refusal = product_error(call, params.get('productType'))
    if refusal:
        return refusal
    entries = list(reversed(call.book.fills_of(params.get('symbol') or None, params.get('orderId') or None)))
    return ok({'fillList': [
        {'tradeId': f['id'], 'symbol': f['symbol'], 'orderId': f['order_id'], 'price': f['price'],
         'baseVolume': f['qty'], 'quoteVolume': fmt(float(f['qty']) * float(f['price'])),
         'feeDetail': [{'deduction': 'no', 'feeCoin': 'USDT', 'totalDeductionFee': '0', 'totalFee': '0'}],
         'side': f['side'], 'profit': '0', 'enterPointSource': 'API', 'tradeSide': 'open', 'posMode': 'hedge_mode'
         if f['pos_side'] != 'net' else 'one_way_mode', 'tradeScope': 'taker', 'cTime': str(f['time'])}
        for f in entries], 'endId': entries[-1]['id'] if entries else ''}, call.now)


def history_positions(call):
    params = call.params
    if params.get('productType'):
        refusal = product_error(call, params['productType'])
        if refusal:
            return refusal
    entries = call.book.closed_of(params.get('symbol') or None)[:min(int_param(params, 'limit', 20), 100)]
    return ok({'list': [{'positionId': c['id'], 'marginCoin': 'USDT', 'symbol': c['symbol'], 'holdSide': c['side'],
                         'openAvgPrice': c['entry'], 'closeAvgPrice': c['exit'], 'marginMode': 'isolated',
                         'openTotalPos': c['qty'], 'closeTotalPos': c['qty'], 'pnl': c['pnl'], 'netProfit': c['pnl'],
                         'totalFunding': '0', 'openFee': '0', 'closeFee': '0', 'posMode': 'hedge_mode',
                         'cTime': str(c['open_time']), 'uTime': str(c['close_time'])} for c in entries],
               'endId': entries[-1]['id'] if entries else ''}, call.now)


# Authorities as Bitget names them: contract orders and positions (read, write), spot trading,
# withdrawal.
AUTHORITIES = {'read': ['coor', 'cpor', 'stor'], 'read_trade': ['coor', 'coow', 'cpor', 'cpow', 'stor', 'stow'],
               'read_trade_withdraw': ['coor', 'coow', 'cpor', 'cpow', 'stor', 'stow', 'wwow']}


def account_info(call):
    return ok({'userId': '1', 'inviterId': '', 'ips': '', 'authorities': AUTHORITIES[permissions_of(call.account)],
               'parentId': 1, 'traderType': 'none', 'channelCode': '', 'channel': '', 'regisTime': str(call.now)},
              call.now)


ORDER_ROUTES = [('POST', '/api/v2/mix/order/place-order')]


def routes():
    return [('GET', r'/api/v2/spot/account/info', account_info),
            ('GET', r'/api/v2/mix/account/accounts', accounts), ('GET', r'/api/v2/mix/account/account', account_detail),
            ('POST', r'/api/v2/mix/account/set-position-mode', set_position_mode),
            ('POST', r'/api/v2/mix/account/set-leverage', set_leverage),
            ('GET', r'/api/v2/mix/position/single-position', single_position),
            ('GET', r'/api/v2/mix/position/all-position', all_positions),
            ('GET', r'/api/v2/mix/position/history-position', history_positions),
            ('POST', r'/api/v2/mix/order/place-order', place), ('GET', r'/api/v2/mix/order/detail', detail),
            ('POST', r'/api/v2/mix/order/cancel-order', cancel), ('GET', r'/api/v2/mix/account/bill', bills),
            ('GET', r'/api/v2/mix/order/fills', fills)]
