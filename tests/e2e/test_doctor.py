"""doctor: one command that names what is wrong on this machine, with a hint for each problem."""
import time
import unittest

from harness import CLOSED_URL, KEYS, POINTERS, SandboxTestCase

STORED = ('bybit', 'okx', 'kucoin')


class DoctorTest(SandboxTestCase):
    def setUp(self):
        super().setUp()
        for exchange in STORED:
            self.assertEqual(self.home.run('validate', exchange, *KEYS[exchange]).code, 0, exchange)

    def doctor(self, **env):
        started = time.monotonic()
        result = self.home.run('doctor', env=env)
        return result, time.monotonic() - started

    def test_a_healthy_machine_passes_quickly(self):
        mark = self.sandbox.mark()
        result, seconds = self.doctor()
        self.assertEqual((result.code, result.fields()['problems']), (0, '0'), result.out)
        self.assertLess(seconds, 5)
        lines = [line for line in result.lines() if line.startswith('exchange=')]
        self.assertEqual([line.split()[0] for line in lines], ['exchange=bybit', 'exchange=okx', 'exchange=kucoin'])
        for line in lines:
            self.assertIn('reachable=true', line)
            self.assertIn('key=valid_trade_ready', line)
        self.assertNotIn('hint=', result.out)
        # A diagnosis reads; it never places or cancels anything.
        paths = [entry['path'] for entry in self.sandbox.requests(since=mark)]
        self.assertFalse([p for p in paths if 'order' in p.lower() and 'cancel' not in p.lower()], paths)

    def test_each_problem_is_named_with_a_hint(self):
        cases = [
            ('clock 45 s off', {}, lambda: self.sandbox.control('clock', {'offset_ms': 45000}),
             'clock is 45.', 'clock_offset_ms=450'),
            ('relay stopped', {'KORVANE_RELAY_URL': CLOSED_URL}, None, 'pairing server did not answer',
             'relay_reachable=false'),
            ('keyring locked', {'KORVANE_FAKE_KEYCHAIN_FAIL': '1'}, None, 'keyring did not keep a test item',
             'secret_store_usable=false'),
        ]
        for name, env, arrange, hint, line in cases:
            with self.subTest(name):
                if arrange:
                    arrange()
                try:
                    result, _ = self.doctor(**env)
                finally:
                    self.sandbox.control('clock', {'offset_ms': 0})
                self.assertEqual(result.code, 2, result.out)
                self.assertIn(line, result.out)
                hints = [l for l in result.lines() if l.startswith('hint=')]
                self.assertTrue(any(hint in h for h in hints), hints)
                self.assertEqual(result.fields()['problems'], str(len(hints)))

    def test_everything_down_is_diagnosed_within_half_a_minute(self):
        result, seconds = self.doctor(**{name: CLOSED_URL for name in POINTERS})
        self.assertEqual(result.code, 2)
        self.assertLess(seconds, 30)
        self.assertEqual(result.out.count('reachable=false'), 4, result.out)


if __name__ == '__main__':
    unittest.main()
