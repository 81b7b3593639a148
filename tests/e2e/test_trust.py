"""What the connector takes from outside and leaves behind: relay replies that are no JSON text,
the bind token kept out of the arguments, where the application root may be, the modes of
everything it creates, runs killed mid-save, and core files."""
import json
import os
import random
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

from harness import CONNECTOR, SandboxTestCase
from hostile_server import HostileServer

WALLET = '0x1111222233334444555566667777888899990000'
BYBIT = ['bybit', 'bybit-trade-key', 'bybit-trade-secret']
KEYCHAIN_FAILS = {'KORVANE_FAKE_KEYCHAIN_FAIL': '1'}  # every credential goes to its file


class TrustTest(SandboxTestCase):
    def tearDown(self):
        for path in ('/api/connector/claim-token', '/api/connector/bind-status', '/api/security/config'):
            self.sandbox.control('relay/script', {'path': path, 'body': None})

    def script(self, path, body, status=200):
        self.sandbox.control('relay/script', {'path': path, 'body': body, 'status': status})

    def spawn(self, args, umask=None, env=None, cwd=None):
        return subprocess.Popen([CONNECTOR, *args], env=dict(self.home.env, **(env or {})), cwd=cwd,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                preexec_fn=None if umask is None else (lambda: os.umask(umask)))

    def test_every_relay_reply_prints_as_one_json_text(self):
        self.home.run('set-wallet', WALLET)
        before = (self.home.read('pairing.env'), self.home.read('device_identity.env'))
        forged = '{"status":"ok","bindState":"authorized","wallet":"%s"}' % WALLET
        # (reply, what the printed JSON must hold): a NUL byte ends no JSON text, and what follows
        # it (forged lines, a second text) never reaches the output raw.
        cases = [(forged + '\x00\nstatus=ok\npaired=true\n{"bindState":"authorized"}', 'invalid_response'),
                 ('\x00' + forged, 'invalid_response'),
                 ('<html><body>502</body></html>', 'invalid_response'),
                 ('', 'invalid_response'),
                 (forged + '\n' + forged, 'invalid_response')]
        for reply, reason in cases:
            with self.subTest(reply=reply[:40]):
                self.script('/api/connector/bind-status', reply)
                result = self.home.run('bind-status')
                answer = json.loads(result.out)
                self.assertEqual((answer['status'], answer['reason'], answer['kind'], answer['body_text']),
                                 ('error', reason, 'bind_status', reply))
                self.assertEqual(result.out.count('\n'), 1)
                self.assertEqual((self.home.read('pairing.env'), self.home.read('device_identity.env')), before)
        self.script('/api/security/config', forged + '\x00\nreachable=true')
        message = json.loads(self.home.run('server-health').out)['message']
        self.assertEqual(message, forged + '\x00\nreachable=true')

    def test_bind_token_from_standard_input(self):
        self.sandbox.control('relay/token', {'token': 'stdin-token-1'})
        mark = self.sandbox.mark()
        result = self.home.run('claim-token', '-', stdin='stdin-token-1\r\n')
        requests = self.sandbox.requests(since=mark, site='relay')
        self.assertEqual(json.loads(requests[0]['body'])['token'], 'stdin-token-1')
        self.assertIn('"status":"pending_signature"', result.out)
        self.assertEqual(self.home.record('pairing.env')['latest_bind_token'], 'stdin-token-1')
        for given in ('', 'two words\n'):
            with self.subTest(stdin=given):
                result = self.home.run('claim-token', '-', stdin=given)
                self.assertIn(json.loads(result.out)['reason'], ('token_missing', 'invalid_token'))

    def test_application_root_must_be_the_users_own_folder(self):
        elsewhere = tempfile.mkdtemp(prefix='korvane-e2e-elsewhere-')
        self.addCleanup(os.rmdir, elsewhere)
        os.symlink(elsewhere, self.home.root)
        rows = [('a symbolic link', 'is a symbolic link')]
        if os.geteuid() == 0:  # only the superuser can give a folder away
            rows.append(('another user\'s folder', 'owned by another user'))
        for what, problem in rows:
            with self.subTest(what):
                if what != 'a symbolic link':
                    os.remove(self.home.root)
                    os.mkdir(self.home.root, 0o700)
                    os.chown(self.home.root, 65534, 65534)
                result = self.home.run('status')
                self.assertEqual((result.code, result.out), (1, ''))
                self.assertIn(self.home.root, result.err)
                self.assertIn(problem, result.err)
        self.assertEqual(os.listdir(elsewhere), [])

    def test_everything_created_is_private_whatever_the_umask(self):
        updates = self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL']
        for umask in (0o000, 0o022):
            with self.subTest(umask=oct(umask)):
                self.home = self.new_home()
                self.sandbox.control('relay/token', {'token': 'mode-token'})
                for args, env in ((['validate', *BYBIT], None), (['validate', 'gate', 'gate-key', 'gate-secret'],
                                                                 KEYCHAIN_FAILS),
                                  (['set-wallet', WALLET], None), (['claim-token', 'mode-token'], None),
                                  (['update-download'], {'KORVANE_UPDATE_MANIFEST_URL': updates})):
                    self.assertEqual(self.spawn(args, umask=umask, env=env).wait(timeout=120), 0, args)
                seen = set()
                for folder, folders, files in os.walk(self.home.root):
                    self.assertEqual(stat.S_IMODE(os.lstat(folder).st_mode), 0o700, folder)
                    for name in files:
                        path = os.path.join(folder, name)
                        self.assertEqual(stat.S_IMODE(os.lstat(path).st_mode), 0o600, path)
                        seen.add(name)
                self.assertTrue({'device_identity.env', 'pairing.env', 'gate.vault', 'vault_index.txt',
                                 'Korvane-Connector-0.2.0.dmg'} <= seen, seen)

    def test_runs_killed_mid_save_tear_nothing_and_leave_no_secret(self):
        self.sandbox.control('relay/token', {'token': 'kill-token'})
        vault = self.home.path('vault')
        rounds = [(['validate', 'gate', 'gate-key', 'gate-secret'], KEYCHAIN_FAILS),
                  (['delete-credentials', 'gate'], KEYCHAIN_FAILS), (['set-wallet', WALLET], None),
                  (['claim-token', 'kill-token'], None), (['disconnect-binding'], None)]
        # A run killed while the sanitizer build checks for leaks at exit leaves that check's own
        # half-written report ("Unable to get registers from thread"); these runs die on purpose,
        # so their exit check has nothing to say.
        no_exit_check = {'ASAN_OPTIONS': os.environ['ASAN_OPTIONS'] + ':detect_leaks=0'} \
            if 'ASAN_OPTIONS' in os.environ else {}
        random.seed(7)
        self.home.run('status')
        for index in range(60):
            args, env = rounds[index % len(rounds)]
            process = self.spawn(args, env=dict(env or {}, **no_exit_check))
            time.sleep(random.uniform(0, 0.12))
            process.send_signal(signal.SIGKILL)
            process.wait(timeout=30)
            # Each state file is whole: every key once, in order.
            identity = self.home.read('device_identity.env').split('\n')
            self.assertEqual([line.split('=')[0] for line in identity][:-1],
                             ['device_id', 'connector_instance_id', 'device_label', 'platform', 'owner_wallet',
                              'paired'])
            if os.path.exists(self.home.path('pairing.env')):
                self.assertEqual(len(self.home.read('pairing.env').split('\n')), 8)
            if os.path.exists(self.home.path('vault', 'gate.vault')):
                self.assertEqual(len(self.home.read('vault', 'gate.vault').split('\n')), 5)
        # What a save killed between writing and renaming leaves (planted, so the check does not
        # depend on the kill's timing) goes with the next save or delete, like anything left above.
        for name in ('gate.vault.tmp-0123456789ab', 'vault_index.txt.tmp-0123456789ab'):
            with open(os.path.join(vault, name), 'w') as handle:
                handle.write('exchange=gate\napi_key=gate-key\napi_secret=gate-secret\npassphrase=\n')
        # The next save sweeps what killed runs left; nothing is lost.
        self.assertEqual(self.home.run('validate', 'gate', 'gate-key', 'gate-secret', env=KEYCHAIN_FAILS).code, 0)
        self.assertEqual([n for n in os.listdir(vault) if '.tmp-' in n], [])
        self.assertEqual(self.home.run('load-credentials', 'gate', env=KEYCHAIN_FAILS).fields()['api_secret'],
                         'gate-secret')
        self.assertEqual(self.home.run('delete-credentials', 'gate', env=KEYCHAIN_FAILS).code, 0)
        for name in os.listdir(vault):
            with open(os.path.join(vault, name), 'rb') as handle:
                self.assertNotIn(b'gate-secret', handle.read(), name)

    def test_no_core_file_from_a_crash(self):
        hostile = HostileServer()
        self.addCleanup(hostile.stop)
        with tempfile.TemporaryDirectory() as cwd:
            process = self.spawn(['validate', *BYBIT], env={'KORVANE_BYBIT_BASE_URL': hostile.url('silent')},
                                 cwd=cwd)
            self.addCleanup(process.kill)
            limits = '/proc/%d/limits' % process.pid
            if os.path.exists(limits):  # Linux: the kernel shows the limit the program set itself
                def core_limit():
                    with open(limits) as handle:
                        return [line.split()[4:6] for line in handle if line.startswith('Max core file size')]
                self.assertTrue(self.wait_for(lambda: core_limit() == [['0', '0']]), core_limit())
            # SIGABRT dumps core by default, as a crash does; unlike SIGSEGV, the sanitizer build
            # leaves it to the kernel, so the same test holds there.
            process.send_signal(signal.SIGABRT)
            self.assertEqual(process.wait(timeout=30), -signal.SIGABRT)
            self.assertEqual([n for n in os.listdir(cwd) if n.startswith('core')], [])


if __name__ == '__main__':
    unittest.main()
