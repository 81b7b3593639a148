"""One account's trading state on one exchange site: orders, positions per side, leverage, fills,
closed positions and funding entries.

A placed limit order is filled at once for the position's sake (so closes have something to close)
and still stays open, so that it can be looked up and cancelled the way the tests need."""
import threading

SEEDED_ORDER_ID = '1001'
FUNDING_INTERVAL_MS = 8 * 3600 * 1000
DAY_MS = 24 * 3600 * 1000
FUNDING_HISTORY_MS = 40 * DAY_MS  # how far back an account's funding payments go
SEEDED_FUNDING_AMOUNT = '-0.0125'


def fmt(number):
    """A decimal as exchanges print it: no exponent, no trailing zeros."""
    text = ('%.8f' % number).rstrip('0').rstrip('.')
    return '0' if text in ('', '-0') else text


class Book:
    def __init__(self, seed_symbol, seed_qty, clock):
        self.lock = threading.RLock()
        self.clock = clock
        self.counter = 5000  # order ids count up from 5001, as clients and demos expect
        self.fill_counter = 9001
        self.seed_symbol = seed_symbol
        self.orders = {}  # id -> order record
        self.positions = {}  # (symbol, side) -> size; side 'net' is signed, 'long'/'short' are >= 0
        self.entry = {}  # (symbol, side) -> average entry price
        self.leverage = {}  # (symbol, side) -> leverage; side 'both' in one-way mode
        self.fills = []
        self.closed = []
        self.traded = {seed_symbol}
        created = clock() - 3600 * 1000
        self.orders[SEEDED_ORDER_ID] = self.order_record(SEEDED_ORDER_ID, seed_symbol, 'buy', seed_qty, '60000',
                                                         False, 'net', created, '')
        self.fills.append({'id': '9001', 'order_id': SEEDED_ORDER_ID, 'symbol': seed_symbol, 'side': 'buy',
                           'qty': seed_qty, 'price': '60000', 'time': created, 'pos_side': 'net'})
        self.closed.append({'id': '7001', 'symbol': seed_symbol, 'side': 'long', 'qty': seed_qty, 'entry': '60000',
                            'exit': '60325', 'pnl': '3.25', 'open_time': created - 7200 * 1000,
                            'close_time': created - 3600 * 1000, 'order_id': SEEDED_ORDER_ID})

    @staticmethod
    def order_record(order_id, symbol, side, qty, price, reduce, pos_side, time, client_id):
        return {'id': order_id, 'symbol': symbol, 'side': side, 'qty': qty, 'price': price, 'status': 'open',
                'reduce': reduce, 'pos_side': pos_side, 'time': time, 'client_id': client_id}

    def place(self, symbol, side, qty, price, reduce=False, pos_side='net', client_id=''):
        """Records the order, fills it against the position, returns its id.

        `pos_side` is 'net' in one-way mode, 'long' or 'short' in hedge mode; an order on the other
        side than its own direction closes (a sell on 'long' reduces the long position)."""
        with self.lock:
            self.counter += 1
            order_id = str(self.counter)
            now = self.clock()
            self.orders[order_id] = self.order_record(order_id, symbol, side, qty, price, reduce, pos_side, now,
                                                      client_id)
            self.traded.add(symbol)
            amount = float(qty)
            executed = self.fill_position(symbol, side, amount, float(price), reduce, pos_side, order_id, now)
            self.fill_counter += 1
            self.fills.append({'id': str(self.fill_counter), 'order_id': order_id, 'symbol': symbol, 'side': side,
                               'qty': fmt(executed) if executed != amount else qty, 'price': price, 'time': now,
                               'pos_side': pos_side})
            return order_id

    def fill_position(self, symbol, side, amount, price, reduce, pos_side, order_id, now):
        """Moves the position; returns the amount that executed (a reduce-only order never flips)."""
        key = (symbol, pos_side)
        current = self.positions.get(key, 0.0)
        if pos_side == 'net':
            delta = amount if side == 'buy' else -amount
            if reduce:
                delta = max(-abs(current), min(abs(current), delta)) if current * delta < 0 else 0.0
            updated = current + delta
        else:
            opening = (side == 'buy') == (pos_side == 'long')
            delta = amount if opening else -min(amount, current)
            updated = current + delta
        if delta and abs(updated) >= abs(current):
            # Opening or adding: a new average entry price.
            total = abs(current) * self.entry.get(key, price) + abs(delta) * price
            self.entry[key] = total / abs(updated) if updated else price
        if current and not updated:
            side_name = pos_side if pos_side != 'net' else ('long' if current > 0 else 'short')
            entry = self.entry.get(key, price)
            pnl = (price - entry) * abs(current) * (1 if side_name == 'long' else -1)
            self.closed.append({'id': order_id, 'symbol': symbol, 'side': side_name, 'qty': fmt(abs(current)),
                                'entry': fmt(entry), 'exit': fmt(price), 'pnl': fmt(pnl), 'open_time': now,
                                'close_time': now, 'order_id': order_id})
        self.positions[key] = updated
        return abs(delta)

    def find_client(self, client_id):
        """The order placed with client order id `client_id`; None when there is none."""
        with self.lock:
            return next((o for o in self.orders.values() if client_id and o['client_id'] == client_id), None)

    def cancel(self, order_id):
        with self.lock:
            order = self.orders.get(order_id)
            if order is None or order['status'] != 'open':
                return None
            order['status'] = 'cancelled'
            return order

    def position(self, symbol, side):
        with self.lock:
            return self.positions.get((symbol, side), 0.0), self.entry.get((symbol, side), 0.0)

    def set_leverage(self, symbol, side, value):
        """Returns False when the leverage already was `value`."""
        with self.lock:
            if self.leverage.get((symbol, side)) == value:
                return False
            self.leverage[(symbol, side)] = value
            return True

    def leverage_of(self, symbol, side, default):
        with self.lock:
            return self.leverage.get((symbol, side), self.leverage.get((symbol, 'both'), default))

    def fills_of(self, symbol=None, order_id=None):
        with self.lock:
            return [f for f in self.fills if (symbol is None or f['symbol'] == symbol) and
                    (order_id is None or f['order_id'] == order_id)]

    def closed_of(self, symbol=None):
        with self.lock:
            return [c for c in reversed(self.closed) if symbol is None or c['symbol'] == symbol]

    def funding(self, symbol, start_ms, end_ms, limit=None):
        """Funding settlements every 8 hours in [start_ms, end_ms] (never before the account's 40
        days of history, never after now), newest first, for symbols this account traded; each
        one costs the same small amount. `limit` None: all of them."""
        with self.lock:
            symbols = sorted(self.traded) if symbol is None else ([symbol] if symbol in self.traded else [])
        now = self.clock()
        end = min(end_ms if end_ms is not None else now, now)
        start = start_ms if start_ms is not None else end - 7 * DAY_MS
        start = max(start, now - FUNDING_HISTORY_MS)
        entries = []
        settle = end - end % FUNDING_INTERVAL_MS
        while settle >= start and (limit is None or len(entries) < max(limit, 0) * max(len(symbols), 1)):
            entries += [{'symbol': s, 'time': settle, 'amount': SEEDED_FUNDING_AMOUNT} for s in symbols]
            settle -= FUNDING_INTERVAL_MS
        return entries if limit is None else entries[:limit]


def page(entries, offset, limit):
    """Returns the entries from `offset` (an index as text, or None) and the next offset (None at the end)."""
    first = int(offset) if offset and offset.isdigit() else 0
    rest = entries[first:first + limit]
    return rest, (str(first + limit) if first + limit < len(entries) else None)
