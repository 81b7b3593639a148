"""KuCoin futures (USDT-margined perpetuals), after KuCoin's public API documentation. Sizes are whole
lots."""
from ..signing import compact, verify_kucoin
from .book import fmt
from .common import decimal_text, int_param, money, whole_number
from .site import permissions_of


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'kucoin'
SITES = [('kucoin', 'KORVANE_KUCOIN_FUTURES_BASE_URL')]
SETTINGS = {'position_mode': (('one_way', 'hedge'), 'one_way'), 'key_versions': (None, ['2']),
            'cross_contracts': (None, [])}
# KuCoin's account host (key information) is served by the futures site.
ALIASES = [('KORVANE_KUCOIN_BASE_URL', 'kucoin')]


def verifier(site):
    """The signature check of `site`; the demo host signs as the live one does."""
    return verify_kucoin

SEED_SYMBOL, SEED_QTY = 'XBTUSDTM', '1'
PARAMETER_ERROR = '400100'


def ok(data):
    return 200, compact({'code': '200000', 'data': data})


def error(code, message, status=400):
    return status, compact({'code': code, 'msg': message})


def not_found(request, now):
    return error('404', 'Not Found', 404)


def server_error(now):
    return error('500000', 'Internal Server Error', 500)


def server_time(call):
    return 200, compact({'code': '200000', 'msg': 'success', 'data': call.now})


# Futures contracts: whole lots of `multiplier` coins (XBTUSDTM 0.001 BTC).
CONTRACTS = {
    'XBTUSDTM': (0.001, 1, 0.1, 125),
    'ETHUSDTM': (0.01, 1, 0.01, 100),
    'DOGEUSDTM': (100, 1, 0.00001, 75),
}


def contract(call):
    symbol = call.match.group(1)
    if symbol not in CONTRACTS:
        return 200, compact({'code': '40010', 'msg': 'Contract does not exist'})
    multiplier, lot, tick, leverage = CONTRACTS[symbol]
    return 200, compact({'code': '200000', 'data': {'symbol': symbol, 'baseCurrency': 'XBT' if symbol == 'XBTUSDTM'
                                                     else symbol[:-5], 'quoteCurrency': 'USDT',
                                                     'multiplier': multiplier, 'lotSize': lot, 'tickSize': tick,
                                                     'maxLeverage': leverage, 'isInverse': False}})


PUBLIC_ROUTES = [('GET', r'/api/v1/timestamp', server_time), ('GET', r'/api/v1/contracts/([A-Za-z0-9]+)', contract)]


# KuCoin sends the leverage with the order: a refused leverage is a refused order.
TRADE_ROUTES = {'order': [('POST', r'/api/v1/orders')], 'leverage': [],
                'cancel': [('DELETE', r'/api/v1/orders/[^/]+')]}


def refusal(kind, now):
    if kind == 'rate':
        # KuCoin says how many milliseconds remain until the limit resets.
        status, body = error('429000', 'Too Many Requests', 429)
        return status, body, {'gw-ratelimit-limit': '100', 'gw-ratelimit-remaining': '0', 'gw-ratelimit-reset': '300'}
    return {'ip': lambda: error('400006', 'Invalid request ip, the current clientIp is:127.0.0.1', 400),
            'permission': lambda: error('400007', 'Access Denied, your api key has no permission', 400),
            'margin': lambda: (200, compact({'code': '300003', 'msg': 'Balance insufficient!'})),
            'leverage': lambda: error('100001', 'The leverage exceeds the maximum', 200)}[kind]()



def hedge(call):
    return call.account.get('position_mode') == 'hedge'


def overview(call):
    account = call.account
    return ok({'accountEquity': float(money(account, 'equity', '812.4')), 'unrealisedPNL': 0,
               'marginBalance': float(money(account, 'wallet', '812.4')), 'positionMargin': 0, 'orderMargin': 0,
               'frozenFunds': 0, 'availableBalance': float(money(account, 'available', '700.2')),
               'holdBalance': float(money(account, 'hold', '112.2')), 'riskRatio': 0,
               'maxWithdrawAmount': float(money(account, 'available', '700.2')),
               'currency': call.params.get('currency', 'XBT')})


def position_view(call, symbol, side):
    size, entry = call.book.position(symbol, side)
    qty = int(size) if side == 'net' else int(size) * (1 if side == 'long' else -1)
    return {'id': '%s-%s' % (symbol, side), 'symbol': symbol, 'currentQty': qty, 'isOpen': qty != 0,
            'avgEntryPrice': float(entry), 'markPrice': float(entry), 'realLeverage': 5,
            'leverage': call.book.leverage_of(symbol, 'both', 5), 'marginMode': 'ISOLATED',
            'positionSide': {'net': 'BOTH', 'long': 'LONG', 'short': 'SHORT'}[side], 'settleCurrency': 'USDT',
            'unrealisedPnl': 0, 'realisedPnl': 0, 'openingTimestamp': call.now, 'currentTimestamp': call.now}


def sides(call):
    return ('long', 'short') if hedge(call) else ('net',)


def position(call):
    symbol = call.params.get('symbol')
    if not symbol:
        return error(PARAMETER_ERROR, 'Parameter symbol is required')
    views = [position_view(call, symbol, side) for side in sides(call)]
    # One-way mode answers the one position; hedge mode both sides.
    return ok(views[0] if len(views) == 1 else views)


def positions(call):
    held = sorted({s for (s, _), size in call.book.positions.items() if size})
    return ok([v for s in held for v in (position_view(call, s, side) for side in sides(call)) if v['isOpen']])


def position_mode(call):
    return ok({'positionMode': 1 if hedge(call) else 0})


def switch_position_mode(call):
    wanted = str((call.body or {}).get('positionMode', ''))
    if wanted not in ('0', '1'):
        return error(PARAMETER_ERROR, 'Parameter positionMode must be 0 (one-way) or 1 (hedge)')
    call.account['position_mode'] = 'hedge' if wanted == '1' else 'one_way'
    return ok({'positionMode': int(wanted)})


def order_view(order):
    is_open = order['status'] == 'open'
    return {'id': order['id'], 'symbol': order['symbol'], 'side': order['side'], 'price': order['price'],
            'size': int(float(order['qty'])), 'type': 'limit', 'timeInForce': 'GTC', 'marginMode': 'ISOLATED',
            'positionSide': {'net': 'BOTH', 'long': 'LONG', 'short': 'SHORT'}[order['pos_side']],
            'reduceOnly': order['reduce'], 'clientOid': order['client_id'], 'isActive': is_open,
            'cancelExist': not is_open, 'status': 'open' if is_open else 'done', 'filledSize': 0,
            'createdAt': order['time'], 'updatedAt': order['time'], 'settleCurrency': 'USDT'}


def get_order(call):
    order = call.book.orders.get(call.match.group(1))
    if order is None:
        return error('100001', 'error.getOrder.orderNotExist', 404)
    return ok(order_view(order))


def order_by_client_oid(call):
    """KuCoin answers an unknown clientOid with success and no data."""
    order = call.book.find_client(call.params.get('clientOid', ''))
    return ok(order_view(order) if order is not None else None)


def list_orders(call):
    symbol, status = call.params.get('symbol'), call.params.get('status', 'active')
    items = [order_view(o) for o in call.book.orders.values() if (not symbol or o['symbol'] == symbol) and
             (o['status'] == 'open') == (status == 'active')]
    return ok({'currentPage': 1, 'pageSize': 50, 'totalNum': len(items), 'totalPage': 1, 'items': items})


def cancel(call):
    order = call.book.cancel(call.match.group(1))
    if order is None:
        return 200, compact({'code': '100004', 'msg': 'The order cannot be canceled'})
    return ok({'cancelledOrderIds': [order['id']]})


def place(call):
    body = call.body
    if body is None:
        return error(PARAMETER_ERROR, 'Parameter Error: the body is not a JSON object')
    for name in ('clientOid', 'side', 'symbol'):
        if not body.get(name):
            return error(PARAMETER_ERROR, 'Parameter %s is required' % name)
    if body['side'] not in ('buy', 'sell') or body.get('type', 'limit') not in ('limit', 'market'):
        return error(PARAMETER_ERROR, 'Parameter side or type error')
    # Whole lots only.
    size = whole_number(body.get('size'))
    if size is None or size <= 0:
        return error(PARAMETER_ERROR, 'Parameter size must be a positive whole number of lots')
    price = decimal_text(body.get('price')) if body.get('type', 'limit') == 'limit' else '0'
    if price is None:
        return error(PARAMETER_ERROR, 'Parameter price error')
    if body.get('marginMode', 'ISOLATED') not in ('ISOLATED', 'CROSS'):
        return error(PARAMETER_ERROR, 'Parameter marginMode error')
    # The leverage travels with an opening order: a refused leverage refuses the order.
    if call.account.get('leverage_refused') and body.get('leverage') is not None and not body.get('reduceOnly'):
        return refusal('leverage', call.now)
    if body.get('marginMode', 'ISOLATED') != margin_mode_of(call, body['symbol']):
        return 200, compact({'code': '330005', 'msg': "The order's margin mode does not match the selected one. "
                                                      'Please switch and try again.'})
    side = body.get('positionSide') or 'BOTH'
    if side not in (('LONG', 'SHORT') if hedge(call) else ('BOTH',)):
        return error(PARAMETER_ERROR, 'Parameter positionSide %s does not match the %s position mode'
                     % (side, 'hedge' if hedge(call) else 'one-way'))
    if body.get('leverage') is not None:
        leverage = decimal_text(body.get('leverage'))
        if leverage is None:
            return error(PARAMETER_ERROR, 'Parameter leverage error')
        call.book.set_leverage(body['symbol'], 'both', int(float(leverage)))
    reduce = bool(body.get('reduceOnly'))
    order_id = call.book.place(body['symbol'], body['side'], str(size), price, reduce,
                               {'BOTH': 'net', 'LONG': 'long', 'SHORT': 'short'}[side], str(body['clientOid']))
    return ok({'orderId': order_id, 'clientOid': str(body['clientOid'])})


def margin_mode_of(call, symbol):
    """Each contract's margin mode: CROSS for the account's cross contracts, else ISOLATED."""
    return 'CROSS' if symbol in call.account.get('cross_contracts', []) else 'ISOLATED'


def margin_mode(call):
    symbol = call.params.get('symbol')
    if not symbol:
        return error(PARAMETER_ERROR, 'Parameter symbol is required')
    return ok({'symbol': symbol, 'marginMode': margin_mode_of(call, symbol)})


def cross_leverage(call):
    if call.request.method == 'GET':
        symbol = call.params.get('symbol', '')
        return ok({'symbol': symbol, 'leverage': str(call.book.leverage_of(symbol, 'both', 5))})
    body = call.body or {}
    leverage = decimal_text(body.get('leverage'))
    if not body.get('symbol') or leverage is None:
        return error(PARAMETER_ERROR, 'Parameter symbol and leverage are required')
    call.book.set_leverage(body['symbol'], 'both', int(float(leverage)))
    return ok(True)


def funding_history(call):
    params = call.params
    if not params.get('symbol'):
        return error(PARAMETER_ERROR, 'Parameter symbol is required')
    limit = min(int_param(params, 'maxCount', 10), 100)
    end = int_param(params, 'endAt')
    offset = int_param(params, 'offset')
    if offset is not None and params.get('forward') == 'false':
        end = min(end if end is not None else offset, offset - 1)
    entries = call.book.funding(params['symbol'], int_param(params, 'startAt'), end)
    more = len(entries) > limit
    entries = entries[:limit]
    return ok({'dataList': [{'id': e['time'], 'symbol': e['symbol'], 'timePoint': e['time'], 'fundingRate': 0.0001,
                             'markPrice': 60000.0, 'positionQty': 1, 'positionCost': 60.0,
                             'funding': float(e['amount']), 'settleCurrency': 'USDT', 'context': '',
                             'marginMode': 'ISOLATED'} for e in entries],
               'hasMore': more})


def fills(call):
    params = call.params
    items = [{'symbol': f['symbol'], 'tradeId': f['id'], 'orderId': f['order_id'], 'side': f['side'],
              'liquidity': 'taker', 'forceTaker': False, 'price': f['price'], 'size': int(float(f['qty'])),
              'value': fmt(float(f['qty']) * float(f['price']) * 0.001), 'feeRate': '0.0006', 'fixFee': '0',
              'feeCurrency': 'USDT', 'stop': '', 'fee': '0', 'orderType': 'limit', 'tradeType': 'trade',
              'createdAt': f['time'], 'tradeTime': f['time'] * 1000000, 'settleCurrency': 'USDT',
              'marginMode': 'ISOLATED', 'displayType': 'limit'}
             for f in reversed(call.book.fills_of(params.get('symbol') or None, params.get('orderId') or None))]
    return ok({'currentPage': 1, 'pageSize': 50, 'totalNum': len(items), 'totalPage': 1, 'items': items})


def history_positions(call):
    entries = call.book.closed_of(call.params.get('symbol') or None)[:int_param(call.params, 'limit', 10)]
    items = [{'closeId': c['id'], 'userId': '1', 'symbol': c['symbol'], 'settleCurrency': 'USDT', 'leverage': '5',
              'type': 'CLOSE_LONG' if c['side'] == 'long' else 'CLOSE_SHORT', 'pnl': c['pnl'],
              'realisedGrossCost': '0', 'withdrawPnl': '0', 'tradeFee': '0', 'fundingFee': '0',
              'openTime': c['open_time'], 'closeTime': c['close_time'], 'openPrice': c['entry'],
              'closePrice': c['exit'], 'marginMode': 'ISOLATED', 'side': c['side'].upper()} for c in entries]
    return ok({'currentPage': 1, 'pageSize': 10, 'totalNum': len(items), 'totalPage': 1, 'items': items})


def api_key_info(call):
    # KuCoin lists what the key may do; withdrawal is left out, as this connector does not read it.
    permission = 'General' if permissions_of(call.account) == 'read' else 'General,Futures'
    return ok({'remark': 'sandbox', 'apiKey': call.account['key'], 'apiVersion': 3, 'permission': permission,
               'ipWhitelist': '', 'createdAt': 1700000000000, 'uid': 1, 'isMaster': True})


ORDER_ROUTES = [('POST', '/api/v1/orders')]


def routes():
    return [('GET', r'/api/v1/user/api-key', api_key_info),
            ('GET', r'/api/v1/account-overview', overview), ('GET', r'/api/v1/position', position),
            ('GET', r'/api/v1/positions', positions), ('GET', r'/api/v2/position/getPositionMode', position_mode),
            ('POST', r'/api/v2/position/switchPositionMode', switch_position_mode),
            ('GET', r'/api/v1/orders', list_orders), ('POST', r'/api/v1/orders', place),
            ('GET', r'/api/v1/orders/byClientOid', order_by_client_oid), ('GET', r'/api/v1/orders/([^/]+)', get_order), ('DELETE', r'/api/v1/orders/([^/]+)', cancel),
            ('GET', r'/api/v2/getCrossUserLeverage', cross_leverage),
            ('GET', r'/api/v2/position/getMarginMode', margin_mode),
            ('POST', r'/api/v2/changeCrossUserLeverage', cross_leverage),
            ('GET', r'/api/v1/funding-history', funding_history), ('GET', r'/api/v1/fills', fills),
            ('GET', r'/api/v1/history-positions', history_positions)]
