"""OKX v5 (USDT perpetual swaps), after OKX's public API documentation. The same routes serve the
global, EEA and US sites."""
import json
from ..signing import compact, verify_okx
from .book import DAY_MS, fmt
from .common import decimal_text, int_param, money
from .site import permissions_of


# What the sandbox needs to know of this exchange: its name, its sites (site name -> the
# connector's variable for its base URL), the settings its accounts take (name -> allowed values
# and default), and its signature check.
NAME = 'okx'
SITES = [('okx', 'KORVANE_OKX_BASE_URL'), ('okx_eea', 'KORVANE_OKX_EEA_BASE_URL'),
         ('okx_us', 'KORVANE_OKX_US_BASE_URL')]
SETTINGS = {'pos_mode': (('long_short_mode', 'net_mode'), 'long_short_mode'), 'sites': (None, ['global', 'eea', 'us']),
            'demo': ((True, False), False)}


def verifier(site):
    """The signature check of `site` (each regional site knows only its own keys)."""
    return lambda request, accounts, clock: verify_okx(request, accounts, site, clock)

SEED_SYMBOL, SEED_QTY = 'BTC-USDT-SWAP', '1'
POS_SIDE_ERROR = 'Parameter posSide error'


def ok(data):
    return 200, compact({'code': '0', 'msg': '', 'data': data})


def error(code, message, status=200):
    return status, compact({'code': code, 'msg': message, 'data': []})


def not_found(request, now):
    return 404, compact({'msg': 'Not Found', 'code': '404'})


def server_error(now):
    return error('50026', 'System error. Try again later', 500)


# Demo trading shares the live hosts; the header tells the two apart.
DEMO_HEADER = 'x-simulated-trading'


def wrong_environment(now):
    return error('50101', 'APIKey does not match current environment.', 401)


def server_time(call):
    return ok([{'ts': str(call.now)}])


# Swap instruments as OKX lists them: a contract is ctVal coins (0.01 BTC, 1,000 DOGE).
INSTRUMENTS = {
    'BTC-USDT-SWAP': {'ctVal': '0.01', 'ctValCcy': 'BTC', 'lotSz': '0.01', 'minSz': '0.01', 'tickSz': '0.1',
                      'lever': '100'},
    'ETH-USDT-SWAP': {'ctVal': '0.1', 'ctValCcy': 'ETH', 'lotSz': '0.01', 'minSz': '0.01', 'tickSz': '0.01',
                      'lever': '100'},
    'DOGE-USDT-SWAP': {'ctVal': '1000', 'ctValCcy': 'DOGE', 'lotSz': '0.01', 'minSz': '0.01', 'tickSz': '0.00001',
                       'lever': '75'},
}


def instruments(call):
    inst = call.params.get('instId')
    if call.params.get('instType') != 'SWAP' or inst not in INSTRUMENTS:
        return error('51001', "Instrument ID doesn't exist.")
    return ok([dict(INSTRUMENTS[inst], instId=inst, instType='SWAP', ctType='linear', settleCcy='USDT')])


PUBLIC_ROUTES = [('GET', r'/api/v5/public/time', server_time), ('GET', r'/api/v5/public/instruments', instruments)]


TRADE_ROUTES = {'order': [('POST', r'/api/v5/trade/order'), ('POST', r'/api/v5/trade/batch-orders')],
                'leverage': [('POST', r'/api/v5/account/set-leverage')],
                'cancel': [('POST', r'/api/v5/trade/cancel-order')]}


def refusal(kind, now):
    if kind == 'margin':
        # An order is refused inside an answer whose own code says only that nothing was done.
        return 200, compact({'code': '1', 'msg': 'All operations failed', 'data': [
            {'ordId': '', 'clOrdId': '', 'tag': '', 'sCode': '51008',
             'sMsg': 'Order failed. Insufficient USDT margin in account'}]})
    return {'ip': lambda: error('50110', "Your IP 127.0.0.1 is not included in your API key's IP whitelist.", 401),
            'rate': lambda: error('50011', 'Too Many Requests', 429),
            'permission': lambda: error('50120', "API key doesn't have permission to use this function", 401),
            'leverage': lambda: error('59102', 'Leverage exceeds the maximum leverage', 200)}[kind]()



def net_mode(call):
    return call.account.get('pos_mode') == 'net_mode'


# The key's permissions as OKX's account configuration shows them.
PERM = {'read': 'read_only', 'read_trade': 'read_only,trade', 'read_trade_withdraw': 'read_only,trade,withdraw'}


def config(call):
    return ok([{'uid': '1', 'mainUid': '1', 'acctLv': '2', 'posMode': call.account.get('pos_mode', 'long_short_mode'),
                'autoLoan': False, 'greeksType': 'PA', 'level': 'Lv1', 'levelTmp': '', 'ctIsoMode': 'automatic',
                'mgnIsoMode': 'automatic', 'spotOffsetType': '', 'roleType': '0', 'traderInsts': [],
                'opAuth': '0', 'kycLv': '2', 'label': 'sandbox', 'ip': '', 'perm': PERM[permissions_of(call.account)]}])


def balance(call):
    account = call.account
    equity, available = money(account, 'equity', '2500.75'), money(account, 'available', '2300.5')
    return ok([{'totalEq': equity, 'isoEq': '0', 'adjEq': equity, 'imr': '0', 'mmr': '0', 'uTime': str(call.now),
                'details': [{'ccy': 'USDT', 'eq': equity, 'cashBal': money(account, 'wallet', '2400'),
                             'availBal': available, 'availEq': available, 'frozenBal': '0', 'ordFrozen': '0',
                             'upl': '0', 'eqUsd': equity, 'uTime': str(call.now)}]}])


def position_view(call, inst, side):
    size, entry = call.book.position(inst, side)
    return {'instId': inst, 'instType': 'SWAP', 'mgnMode': 'isolated', 'posSide': side,
            'pos': fmt(size if side == 'net' else abs(size)), 'avgPx': fmt(entry), 'upl': '0', 'ccy': 'USDT',
            'lever': str(call.book.leverage_of(inst, side, 3)), 'posId': '%s-%s' % (inst, side),
            'cTime': str(call.now), 'uTime': str(call.now)}


def positions(call):
    inst = call.params.get('instId')
    sides = ('net',) if net_mode(call) else ('long', 'short')
    held = [inst] if inst else sorted({s for (s, _), size in call.book.positions.items() if size})
    return ok([position_view(call, i, side) for i in held for side in sides if call.book.position(i, side)[0]])


def order_view(order):
    state = 'live' if order['status'] == 'open' else 'canceled'
    return {'instId': order['symbol'], 'instType': 'SWAP', 'ordId': order['id'], 'clOrdId': order['client_id'],
            'side': order['side'], 'posSide': order['pos_side'], 'sz': order['qty'], 'px': order['price'],
            'ordType': 'limit', 'tdMode': 'isolated', 'reduceOnly': str(order['reduce']).lower(), 'state': state,
            'accFillSz': '0', 'avgPx': '', 'cTime': str(order['time']), 'uTime': str(order['time'])}


def get_order(call):
    params = call.params
    if 'ordId' not in params and 'clOrdId' not in params:
        return error('51000', 'Parameter ordId error', 400)
    order = call.book.orders.get(params.get('ordId', ''))
    if order is None:
        wanted = params.get('clOrdId')
        order = next((o for o in call.book.orders.values() if o['client_id'] and o['client_id'] == wanted), None)
    if order is None:
        return error('51603', 'Order does not exist')
    return ok([order_view(order)])


def cancel(call):
    if call.body is None:
        return error('50002', 'JSON syntax error', 400)
    order = call.book.cancel(str(call.body.get('ordId')))
    if order is None:
        return ok([{'ordId': call.body.get('ordId'), 'clOrdId': '', 'sCode': '51400',
                    'sMsg': 'Cancellation failed as the order has been filled, canceled or does not exist'}])
    return ok([{'ordId': order['id'], 'clOrdId': order['client_id'], 'sCode': '0', 'sMsg': ''}])


def pos_side_fits(call, pos_side, required):
    """Net mode takes no posSide (or "net"); long/short mode takes "long" or "short", and needs one
    where `required` says so."""
    if net_mode(call):
        return pos_side in (None, '', 'net')
    if pos_side in (None, ''):
        return not required
    return pos_side in ('long', 'short')


def set_leverage(call):
    body = call.body
    if body is None:
        return error('50002', 'JSON syntax error', 400)
    lever = decimal_text(body.get('lever'))
    if lever is None or body.get('mgnMode') not in ('isolated', 'cross'):
        return error('51000', 'Parameter lever error' if lever is None else 'Parameter mgnMode error')
    pos_side = body.get('posSide')
    if not pos_side_fits(call, pos_side, body['mgnMode'] == 'isolated'):
        return error('51000', POS_SIDE_ERROR)
    inst = body.get('instId')
    call.book.set_leverage(inst, pos_side if pos_side in ('long', 'short', 'net') else 'both', int(float(lever)))
    return ok([{'instId': inst, 'lever': body.get('lever'), 'mgnMode': body['mgnMode'], 'posSide': pos_side or ''}])


def place(call):
    if call.body is None:
        return error('50002', 'JSON syntax error', 400)
    refusal, placed = place_one(call, call.body)
    return refusal or ok([placed])


def batch_place(call):
    try:
        orders = json.loads(call.request.body or 'null')
    except ValueError:
        orders = None
    if not isinstance(orders, list) or not orders or not all(isinstance(o, dict) for o in orders):
        return error('50002', 'JSON syntax error', 400)
    results = []
    for order in orders:
        refusal, placed = place_one(call, order)
        if refusal:
            # Each order answers for itself; a refused one carries its code in sCode.
            reply = json.loads(refusal[1])
            placed = {'ordId': '', 'clOrdId': str(order.get('clOrdId', '')), 'tag': '', 'ts': str(call.now),
                      'sCode': reply['code'], 'sMsg': reply['msg']}
        results.append(placed)
    failed = sum(1 for r in results if r['sCode'] != '0')
    if not failed:
        return ok(results)
    code, message = ('1', 'All operations failed') if failed == len(results) else \
        ('2', 'Batch operation partially succeeded')
    return 200, compact({'code': code, 'msg': message, 'data': results})


def place_one(call, body):
    """Returns (refusal, None) or (None, the order's answer)."""
    for name, allowed in (('side', ('buy', 'sell')), ('tdMode', ('isolated', 'cross')),
                          ('ordType', ('limit', 'market', 'post_only', 'fok', 'ioc'))):
        if body.get(name) not in allowed:
            return error('51000', 'Parameter %s error' % name), None
    if decimal_text(body.get('sz')) is None:
        return error('51000', 'Parameter sz error'), None
    if body['ordType'] != 'market' and decimal_text(body.get('px')) is None:
        return error('51000', 'Parameter px error'), None
    pos_side = body.get('posSide')
    if not pos_side_fits(call, pos_side, True):
        return error('51000', POS_SIDE_ERROR), None
    reduce = body.get('reduceOnly') in (True, 'true')
    # Long/short mode: a buy on "short" (or a sell on "long") closes that side.
    order_id = call.book.place(body.get('instId'), body['side'], str(body['sz']), str(body.get('px', '0')), reduce,
                               pos_side if pos_side in ('long', 'short') else 'net', str(body.get('clOrdId', '')))
    return None, {'ordId': order_id, 'clOrdId': str(body.get('clOrdId', '')), 'tag': '', 'ts': str(call.now),
                  'sCode': '0', 'sMsg': 'Order placed'}


def set_position_mode(call):
    mode = (call.body or {}).get('posMode')
    if mode not in ('long_short_mode', 'net_mode'):
        return error('51000', 'Parameter posMode error')
    call.account['pos_mode'] = mode
    return ok([{'posMode': mode}])


def bills(call):
    """Newest first, 100 a page at most; `after` a billId asks older ones. /bills reaches back 7
    days, /bills-archive 3 months."""
    params = call.params
    limit = min(int_param(params, 'limit', 100), 100)
    reach = (7 if call.request.path.endswith('/bills') else 90) * DAY_MS
    begin, end = int_param(params, 'begin'), int_param(params, 'end')
    begin = max(begin if begin is not None else 0, call.now - reach)
    after = int_param(params, 'after')
    if after is not None:
        end = min(end if end is not None else after, after - 1)
    entries = []
    if params.get('type', '8') == '8':
        entries = call.book.funding(params.get('instId') or None, begin, end, limit)
    return ok([{'billId': '%d' % e['time'], 'instId': e['symbol'], 'instType': 'SWAP', 'type': '8',
                'subType': '173', 'balChg': e['amount'], 'bal': '2400', 'ccy': 'USDT', 'mgnMode': 'isolated',
                'pnl': e['amount'], 'fee': '0', 'sz': '0', 'px': '', 'ordId': '', 'ts': str(e['time'])}
               for e in entries])


def positions_history(call):
    entries = call.book.closed_of(call.params.get('instId') or None)[:min(int_param(call.params, 'limit', 100), 100)]
    return ok([{'instId': c['symbol'], 'instType': 'SWAP', 'mgnMode': 'isolated', 'type': '2', 'direction': c['side'],
                'posSide': c['side'], 'openAvgPx': c['entry'], 'closeAvgPx': c['exit'], 'closeTotalPos': c['qty'],
                'openMaxPos': c['qty'], 'realizedPnl': c['pnl'], 'pnl': c['pnl'], 'fee': '0', 'fundingFee': '0',
                'lever': '3', 'ccy': 'USDT', 'posId': c['id'], 'cTime': str(c['open_time']),
                'uTime': str(c['close_time'])} for c in entries])


def fills(call):
    params = call.params
    entries = call.book.fills_of(params.get('instId') or None, params.get('ordId') or None)
    return ok([{'instId': f['symbol'], 'instType': 'SWAP', 'tradeId': f['id'], 'ordId': f['order_id'],
                'clOrdId': '', 'billId': f['id'], 'side': f['side'], 'posSide': f['pos_side'], 'fillPx': f['price'],
                'fillSz': f['qty'], 'execType': 'T', 'fee': '0', 'feeCcy': 'USDT', 'ts': str(f['time'])}
               for f in reversed(entries)])


def orders_history(call):
    inst = call.params.get('instId')
    return ok([order_view(o) for o in call.book.orders.values() if not inst or o['symbol'] == inst])


ORDER_ROUTES = [('POST', '/api/v5/trade/order')]


def routes():
    return [('GET', r'/api/v5/account/config', config), ('GET', r'/api/v5/account/balance', balance),
            ('GET', r'/api/v5/account/positions', positions), ('GET', r'/api/v5/trade/order', get_order),
            ('POST', r'/api/v5/trade/cancel-order', cancel), ('POST', r'/api/v5/account/set-leverage', set_leverage),
            ('POST', r'/api/v5/trade/order', place), ('POST', r'/api/v5/trade/batch-orders', batch_place),
            ('POST', r'/api/v5/account/set-position-mode', set_position_mode),
            ('GET', r'/api/v5/account/bills', bills), ('GET', r'/api/v5/account/bills-archive', bills),
            ('GET', r'/api/v5/account/positions-history', positions_history),
            ('GET', r'/api/v5/trade/fills', fills), ('GET', r'/api/v5/trade/fills-history', fills),
            ('GET', r'/api/v5/trade/orders-history', orders_history)]
