"""No secret in any process's arguments: while every credentialed command runs, a sampler reads
/proc/*/cmdline and looks for keys, secrets, passphrases, signatures and bind tokens."""
import os
import subprocess
import threading
import unittest

from harness import CONNECTOR, KEYS, SandboxTestCase

SIGNATURE_HEADERS = {'x-bapi-sign', 'ok-access-sign', 'sign', 'kc-api-sign', 'kc-api-passphrase', 'access-sign'}
BIND_TOKEN = 'demo-bind-token'


class ArgumentSampler:
    """Collects the argument vectors of every process on the machine until stopped; with `home`,
    only of the processes whose environment has that HOME (the test's runs and their children),
    so other users of the machine cannot disturb the sample."""

    def __init__(self, home=None):
        self.marker = None if home is None else b'HOME=' + home.encode() + b'\0'
        self.seen = set()
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample)

    def belongs(self, pid):
        if self.marker is None:
            return True
        with open('/proc/%s/environ' % pid, 'rb') as handle:
            return (b'\0' + handle.read()).find(b'\0' + self.marker) >= 0

    def sample(self):
        while not self.done.is_set():
            for pid in os.listdir('/proc'):
                if not pid.isdigit():
                    continue
                try:
                    with open('/proc/%s/cmdline' % pid, 'rb') as handle:
                        arguments = handle.read()
                    if self.belongs(pid):
                        self.seen.add(arguments)
                except OSError:
                    continue

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.done.set()
        self.thread.join()


def slow_down_every_exchange(test):
    """Slow replies keep every request in flight long enough to be sampled."""
    for site in ('bybit', 'okx', 'okx_eea', 'okx_us', 'gate', 'bingx', 'kucoin', 'bitget'):
        test.sandbox.control('delay', {'site': site, 'seconds': 0.05})
        test.addCleanup(test.sandbox.control, 'delay', {'site': site, 'seconds': 0})


def run_every_credentialed_command(home):
    """Validates each exchange's credential from standard input, as the window does, then runs
    every command that loads it; returns the runs."""
    runs = []
    for exchange, (key, secret, passphrase) in KEYS.items():
        operands = ['-', '-'] + (['-'] if passphrase else [])
        runs.append(home.run('validate', exchange, *operands, stdin='%s\n%s\n%s\n' % (key, secret, passphrase)))
        runs.append(home.run('balance', exchange))
        runs.append(home.run('get-position', exchange, 'BTC_USDT'))
        runs.append(home.run('order-status', exchange, 'BTC_USDT', '1001'))
        runs.append(home.run('cancel-order', exchange, 'BTC_USDT', '1001'))
        runs.append(home.run('place-open', exchange, 'BTC_USDT', 'buy', '1', '65000', '5'))
        runs.append(home.run('place-close', exchange, 'BTC_USDT', 'buy', '1', '66000'))
        runs.append(home.run('funding', exchange, 'BTC_USDT', '60'))
        runs.append(home.run('close-report', exchange, 'BTC_USDT', '1001'))
        runs.append(home.run('load-credentials', exchange))
    runs.append(home.run('claim-token', BIND_TOKEN))
    runs.append(home.run('bind-status'))
    return runs


def secrets_sent_since(sandbox, mark):
    """Every key, secret, passphrase and bind token, and each signature the sandbox received."""
    secrets = {BIND_TOKEN.encode()}
    for key, secret, passphrase in KEYS.values():
        secrets |= {value.encode() for value in (key, secret, passphrase) if value}
    for entry in sandbox.requests(since=mark):
        secrets |= {value.encode() for name, value in entry['headers'] if name.lower() in SIGNATURE_HEADERS}
        if entry['site'] == 'bingx' and 'signature=' in entry['query']:
            secrets.add(entry['query'].split('signature=')[1].split('&')[0].encode())
    return secrets


class ProcessArgumentsTest(SandboxTestCase):
    def test_no_secret_reaches_any_process_arguments(self):
        slow_down_every_exchange(self)
        mark = self.sandbox.mark()
        with ArgumentSampler(self.home.dir) as sampler:
            runs = run_every_credentialed_command(self.home)
        self.assertTrue(all(r.code == 0 for r in runs), [r.err for r in runs if r.code != 0])

        secrets = secrets_sent_since(self.sandbox, mark)
        self.assertGreater(len(secrets), 40)
        leaks = [arguments for arguments in sampler.seen
                 # The keychain tool's contract takes the record on its command line (-w), and
                 # claim-token takes the token as its operand: both are their own interfaces.
                 if b'add-generic-password' not in arguments and b'\0claim-token\0' not in arguments
                 and any(s in arguments for s in secrets)]
        self.assertEqual(leaks, [])
        self.assertTrue(any(b'korvane-connector' in a for a in sampler.seen), 'the sampler saw no run')

    def test_the_windows_validation_puts_no_secret_in_any_arguments(self):
        driver = os.environ.get('KORVANE_WINDOW_DRIVER_BIN')
        if not driver:
            self.skipTest('the window is not part of this build (KORVANE_WINDOW_DRIVER_BIN unset)')
        slow_down_every_exchange(self)
        mark = self.sandbox.mark()
        for exchange in ('okx', 'bybit'):
            key, secret, passphrase = KEYS[exchange]
            env = dict(self.home.env, KORVANE_CONNECTOR_PATH=CONNECTOR, QT_QPA_PLATFORM='offscreen',
                       KORVANE_DRIVE_EXCHANGE=exchange, KORVANE_DRIVE_KEY=key, KORVANE_DRIVE_SECRET=secret,
                       KORVANE_DRIVE_PASSPHRASE=passphrase)
            with self.subTest(exchange=exchange), ArgumentSampler(self.home.dir) as sampler:
                driven = subprocess.run([driver], env=env, capture_output=True, text=True, timeout=300,
                                        stdin=subprocess.DEVNULL)
                self.assertEqual(driven.returncode, 0, driven.stdout + driven.stderr)
                self.assertIn('status=valid', driven.stdout)
            secrets = secrets_sent_since(self.sandbox, mark)
            # The keychain tool's own store command is that tool's contract, as above.
            leaks = [a for a in sampler.seen if b'add-generic-password' not in a and any(s in a for s in secrets)]
            self.assertEqual(leaks, [])
            # The window ran the validation, with every secret operand read from standard input.
            operands = b'\0validate\0%s\0-\0-\0' % exchange.encode() + (b'-\0' if passphrase else b'')
            self.assertTrue(any(a.endswith(operands) for a in sampler.seen), sorted(sampler.seen))


if __name__ == '__main__':
    unittest.main()
