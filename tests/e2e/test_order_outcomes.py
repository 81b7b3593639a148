"""Orders whose reply is lost, on every exchange: the connector looks the order up by its client
order id and answers what the exchange holds, and never sends a second order."""
import json
import re
import unittest

from harness import KEYS, KeyedTestCase

ORDER_PATHS = {
    'bybit': '/v5/order/create', 'okx': '/api/v5/trade/order', 'gate': '/api/v4/futures/usdt/orders',
    'bingx': '/openApi/swap/v2/trade/order', 'kucoin': '/api/v1/orders', 'bitget': '/api/v2/mix/order/place-order',
}
CLIENT_ID = re.compile(r'^(t-)?kv\d{13}[0-9a-f]{11}$')


class LostOrderRepliesTest(KeyedTestCase):
    def order_requests(self, exchange, mark):
        return [e for e in self.sandbox.requests(since=mark, site=exchange)
                if e['method'] == 'POST' and e['path'] == ORDER_PATHS[exchange]]

    def test_a_lost_reply_answers_what_the_exchange_holds(self):
        for exchange in KEYS:
            with self.subTest(exchange=exchange):
                # Stored, reply lost: the order found by its id is the answer.
                self.sandbox.control('order_fault', {'site': exchange, 'mode': 'stored'})
                mark = self.sandbox.mark()
                answer = json.loads(self.home.run('place-open', exchange, 'BTC_USDT', 'buy', '1', '60000', '3').out)
                self.assertEqual((answer['status'], answer['kind']), ('ok', 'place_open'), answer)
                self.assertRegex(answer['client_order_id'], CLIENT_ID)
                self.assertIn(answer['client_order_id'], json.dumps(answer['body']['place']))
                orders = self.order_requests(exchange, mark)
                self.assertEqual([o['verdict'] for o in orders], ['order_reply_dropped'])
                self.assertIn(answer['client_order_id'], orders[0]['body'] + orders[0]['query'])

                # Never stored: the exchange says there is no such order.
                self.sandbox.control('order_fault', {'site': exchange, 'mode': 'not_stored'})
                mark = self.sandbox.mark()
                result = self.home.run('place-close', exchange, 'BTC_USDT', 'sell', '1', '61000')
                answer = json.loads(result.out)
                self.assertEqual(list(answer), ['status', 'reason', 'client_order_id'], result.out)
                self.assertEqual(answer['reason'], 'order_not_placed')
                self.assertRegex(answer['client_order_id'], CLIENT_ID)
                self.assertEqual([o['verdict'] for o in self.order_requests(exchange, mark)], ['order_dropped'])

                # A reply that arrives is answered as before, with the id beside it.
                mark = self.sandbox.mark()
                answer = json.loads(self.home.run('place-close', exchange, 'BTC_USDT', 'sell', '1', '61000').out)
                self.assertEqual(answer['status'], 'ok', answer)
                self.assertEqual(len(self.order_requests(exchange, mark)), 1)


if __name__ == '__main__':
    unittest.main()
