"""Hostile operands and a hostile local user: forged output lines, control characters in relay
bodies, order ids that would collapse a URL path, and saves racing deletions of the vault."""
import json
import random
import subprocess
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import CONNECTOR, SandboxTestCase

CREDENTIALS = {
    'bybit': ['bybit-trade-key', 'bybit-trade-secret'],
    'gate': ['gate-key', 'gate-secret'],
    'bingx': ['bingx-key', 'bingx-secret'],
    'bitget': ['bitget-key', 'bitget-secret', 'bitget-pass'],
}


class HostileOperandsTest(SandboxTestCase):
    def test_an_exchange_name_cannot_forge_a_line(self):
        forged = 'bybit\nstatus=valid_trade_ready'
        result = self.home.run('validate', forged, 'k', 's')
        self.assertEqual(result.fields()['status'], 'invalid')
        self.assertEqual(result.lines()[0], 'exchange=bybit?status=valid_trade_ready')
        self.assertEqual(sum(line.startswith('status=') for line in result.lines()), 1)
        result = self.home.run('delete-credentials', 'gate\r\nremoved=true')
        self.assertEqual(result.lines()[1], 'exchange=gate??removed=true')
        self.assertEqual(sum(line.startswith('removed=') for line in result.lines()), 1)

    def test_control_characters_in_a_bind_token_are_refused_before_sending(self):
        # (The request body's JSON escaping is shown on the relay client itself.)
        token = 'tok\x01\x1f"\\\ten'
        mark = self.sandbox.mark()
        result = self.home.run('claim-token', token)
        self.assertEqual(result.out, '{"status":"error","reason":"invalid_token"}\n')
        self.assertEqual(self.sandbox.requests(since=mark, site='relay'), [])

    def test_order_ids_without_a_letter_or_digit_are_refused_before_sending(self):
        self.assertEqual(self.home.run('validate', 'gate', 'gate-key', 'gate-secret').code, 0)
        mark = self.sandbox.mark()
        for order_id in ['.', '..', '-', ':.']:
            for command in ('order-status', 'cancel-order', 'close-report'):
                with self.subTest(order_id=order_id, command=command):
                    answer = self.home.run(command, 'gate', 'BTC_USDT', order_id).json()
                    self.assertEqual(answer, {'status': 'error', 'reason': 'invalid_order_id'})
        self.assertEqual(self.sandbox.requests(since=mark), [])


class VaultRaceTest(SandboxTestCase):
    def test_parallel_saves_and_deletions_keep_the_index_true(self):
        rng = random.Random(7)
        env = dict(self.home.env)

        def run(args):
            return subprocess.run([CONNECTOR, *args], env=env, capture_output=True, text=True, timeout=120,
                                  stdin=subprocess.DEVNULL)

        with ThreadPoolExecutor(max_workers=50) as pool:
            for round_number in range(20):
                jobs = []
                for _ in range(50):
                    exchange = rng.choice(sorted(CREDENTIALS))
                    if rng.random() < 0.6:
                        jobs.append(['validate', exchange] + CREDENTIALS[exchange])
                    else:
                        jobs.append(['delete-credentials', exchange])
                results = list(pool.map(run, jobs))
                self.assertTrue(all(r.returncode in (0, 2) for r in results), [r.stderr for r in results])
                with self.subTest(round=round_number):
                    held = {name.split('\x1f')[1] for name in self.home.keychain()}
                    index = self.home.read('vault', 'vault_index.txt').split('\n')[:-1]
                    self.assertEqual(sorted(index), sorted(held), 'every stored exchange listed once, nothing else')
                    configured = {line.split()[0][len('exchange='):] for line in self.home.run('status').lines()
                                  if 'credentials_present=true' in line}
                    self.assertEqual(configured, held)


if __name__ == '__main__':
    unittest.main()
