"""No secret in any process's arguments: while every credentialed command runs, a sampler reads
/proc/*/cmdline and looks for keys, secrets, passphrases, signatures and bind tokens."""
import os
import threading
import unittest

from harness import SandboxTestCase

CREDENTIALS = {
    'bybit': ('bybit-trade-key', 'bybit-trade-secret', ''),
    'okx': ('okx-key', 'okx-secret', 'okx-pass'),
    'gate': ('gate-key', 'gate-secret', ''),
    'bingx': ('bingx-key', 'bingx-secret', ''),
    'kucoin': ('kucoin-key', 'kucoin-secret', 'kucoin-pass'),
    'bitget': ('bitget-key', 'bitget-secret', 'bitget-pass'),
}
SIGNATURE_HEADERS = {'x-bapi-sign', 'ok-access-sign', 'sign', 'kc-api-sign', 'kc-api-passphrase', 'access-sign'}
BIND_TOKEN = 'demo-bind-token'


class ArgumentSampler:
    """Collects the argument vectors of this test's descendants until stopped (other programs on
    the machine may use the same sandbox keys)."""

    def __init__(self):
        self.processes = set()  # (pid, parent pid, arguments)
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample)

    def sample(self):
        while not self.done.is_set():
            for pid in os.listdir('/proc'):
                if not pid.isdigit():
                    continue
                try:
                    with open('/proc/%s/cmdline' % pid, 'rb') as handle:
                        arguments = handle.read()
                    with open('/proc/%s/stat' % pid, 'rb') as handle:
                        parent = int(handle.read().rsplit(b')', 1)[1].split()[1])
                except (OSError, IndexError, ValueError):
                    continue
                self.processes.add((int(pid), parent, arguments))

    @property
    def seen(self):
        ours, grew = {os.getpid()}, True
        while grew:
            before = len(ours)
            ours |= {pid for pid, parent, _ in self.processes if parent in ours}
            grew = len(ours) != before
        return {arguments for pid, _, arguments in self.processes if pid in ours and pid != os.getpid()}

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *_):
        self.done.set()
        self.thread.join()


class ProcessArgumentsTest(SandboxTestCase):
    def test_no_secret_reaches_any_process_arguments(self):
        # Slow replies keep every request in flight long enough to be sampled.
        for site in ('bybit', 'okx', 'okx_eea', 'okx_us', 'gate', 'bingx', 'kucoin', 'bitget'):
            self.sandbox.control('delay', {'site': site, 'seconds': 0.05})
            self.addCleanup(self.sandbox.control, 'delay', {'site': site, 'seconds': 0})
        mark = self.sandbox.mark()
        runs = []
        with ArgumentSampler() as sampler:
            for exchange, (key, secret, passphrase) in CREDENTIALS.items():
                operands = ['-', '-'] + (['-'] if passphrase else [])
                runs.append(self.home.run('validate', exchange, *operands,
                                          stdin='%s\n%s\n%s\n' % (key, secret, passphrase)))
                runs.append(self.home.run('balance', exchange))
                runs.append(self.home.run('get-position', exchange, 'BTC_USDT'))
                runs.append(self.home.run('order-status', exchange, 'BTC_USDT', '1001'))
                runs.append(self.home.run('cancel-order', exchange, 'BTC_USDT', '1001'))
                runs.append(self.home.run('place-open', exchange, 'BTC_USDT', 'buy', '1', '65000', '5'))
                runs.append(self.home.run('place-close', exchange, 'BTC_USDT', 'buy', '1', '66000'))
                runs.append(self.home.run('funding', exchange, 'BTC_USDT', '60'))
                runs.append(self.home.run('close-report', exchange, 'BTC_USDT', '1001'))
                runs.append(self.home.run('load-credentials', exchange))
            runs.append(self.home.run('claim-token', BIND_TOKEN))
            runs.append(self.home.run('bind-status'))
        self.assertTrue(all(r.code == 0 for r in runs), [r.err for r in runs if r.code != 0])

        secrets = {BIND_TOKEN.encode()}
        for key, secret, passphrase in CREDENTIALS.values():
            secrets |= {value.encode() for value in (key, secret, passphrase) if value}
        for entry in self.sandbox.requests(since=mark):
            secrets |= {value.encode() for name, value in entry['headers'] if name.lower() in SIGNATURE_HEADERS}
            if entry['site'] == 'bingx' and 'signature=' in entry['query']:
                secrets.add(entry['query'].split('signature=')[1].split('&')[0].encode())
        self.assertGreater(len(secrets), 40)
        leaks = [arguments for arguments in sampler.seen
                 # The keychain tool's contract takes the record on its command line (-w), and
                 # claim-token takes the token as its operand: both are their own interfaces.
                 if b'add-generic-password' not in arguments and b'\0claim-token\0' not in arguments
                 and any(s in arguments for s in secrets)]
        self.assertEqual(leaks, [])
        self.assertTrue(any(b'korvane-connector' in a for a in sampler.seen), 'the sampler saw no run')


if __name__ == '__main__':
    unittest.main()
