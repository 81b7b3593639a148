"""The vault on a real Secret Service: gnome-keyring-daemon on a private session bus started with
dbus-run-session, unlocked with a test password, in a temporary HOME. Also the file fallback with
no bus, with a bus but no service, with a locked keyring and with a keyring that stops answering.

These tests need dbus-run-session, dbus-send, gnome-keyring-daemon and secret-tool (scripts/setup.sh
installs them). When the keyring cannot be started they fail with the reason. They run with the other
end-to-end tests, one after another, so no other test's command line is in the /proc sample. On
macOS, whose store is the Keychain, the module is skipped."""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import test_process_arguments as arguments
from harness import KEYS, ConnectorHome, SandboxTestCase

SERVICE_NAME = 'org.freedesktop.secrets'
PASSWORD = 'korvane-test-password'
BYBIT = ['bybit', 'bybit-trade-key', 'bybit-trade-secret']
BYBIT_READ = ['bybit', 'bybit-read-key', 'bybit-read-secret']
GATE = ['gate', 'gate-key', 'gate-secret']
TOOLS = ['dbus-run-session', 'dbus-send', 'gnome-keyring-daemon', 'secret-tool']


class KeyringSession:
    """A private session bus (dbus-run-session) and, unless told otherwise, a keyring daemon on
    it, in a folder of their own. `stop` ends both and removes the folder."""

    def __init__(self, keyring=True):
        missing = [tool for tool in TOOLS if shutil.which(tool) is None]
        if missing:
            raise AssertionError('cannot start a Secret Service: %s not installed (run scripts/setup.sh)'
                                 % ', '.join(missing))
        self.dir = tempfile.mkdtemp(prefix='korvane-keyring-')
        self.runtime = os.path.join(self.dir, 'run')
        os.mkdir(self.runtime, 0o700)
        os.mkdir(os.path.join(self.dir, 'home'))
        self.log_path = os.path.join(self.dir, 'keyring.log')
        self.env = {k: v for k, v in os.environ.items()
                    if not k.startswith(('DBUS_', 'KORVANE_', 'GNOME_KEYRING', 'XDG_', 'DISPLAY', 'WAYLAND'))}
        self.env.update(HOME=os.path.join(self.dir, 'home'), XDG_RUNTIME_DIR=self.runtime)
        self.keyring = None
        # The bus lives as long as its one child, which waits for its standard input to close.
        with open(self.log_path, 'ab') as log:
            self.bus = subprocess.Popen(['dbus-run-session', '--', 'sh', '-c',
                                         'echo "$DBUS_SESSION_BUS_ADDRESS"; exec cat >/dev/null'],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log, env=self.env,
                                        start_new_session=True)
        ready, _, _ = select.select([self.bus.stdout], [], [], 15)
        address = self.bus.stdout.readline().decode().strip() if ready else ''
        if not address:
            self.stop()
            raise AssertionError('dbus-run-session printed no bus address within 15 s')
        self.address = address
        self.env['DBUS_SESSION_BUS_ADDRESS'] = address
        if keyring:
            self.start_keyring(unlock=True)

    def start_keyring(self, unlock):
        """Starts gnome-keyring-daemon; with `unlock` it creates or unlocks the login keyring with
        the test password. Waits until it owns its bus name."""
        with open(self.log_path, 'ab') as log:
            self.keyring = subprocess.Popen(
                ['gnome-keyring-daemon', '--foreground', '--components=secrets'] + (['--unlock'] if unlock else []),
                stdin=subprocess.PIPE, stdout=log, stderr=log, env=self.env)
        if unlock:
            self.keyring.stdin.write(PASSWORD.encode())
        self.keyring.stdin.close()
        deadline = time.time() + 15
        while time.time() < deadline:
            if self.name_has_owner():
                return
            if self.keyring.poll() is not None:
                break
            time.sleep(0.1)
        with open(self.log_path, errors='replace') as handle:
            log_text = handle.read()
        self.stop()
        raise AssertionError('gnome-keyring-daemon did not take %s on the bus within 15 s; its output:\n%s'
                             % (SERVICE_NAME, log_text))

    def stop_keyring(self):
        if self.keyring is not None:
            if self.keyring.poll() is None:
                os.kill(self.keyring.pid, signal.SIGCONT)  # a paused daemon cannot act on SIGTERM
                self.keyring.terminate()
                try:
                    self.keyring.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    self.keyring.kill()
                    self.keyring.wait()
            self.keyring = None
        # The bus hands the name on only once the old owner is gone.
        deadline = time.time() + 10
        while self.name_has_owner() and time.time() < deadline:
            time.sleep(0.1)

    def stop(self):
        self.stop_keyring()
        if self.bus is not None:
            self.bus.stdin.close()
            try:
                self.bus.wait(timeout=10)
            except subprocess.TimeoutExpired:
                os.killpg(self.bus.pid, signal.SIGKILL)
                self.bus.wait()
            self.bus.stdout.close()
            self.bus = None
        shutil.rmtree(self.dir, ignore_errors=True)

    def name_has_owner(self):
        if 'DBUS_SESSION_BUS_ADDRESS' not in self.env:
            return False
        answer = subprocess.run(['dbus-send', '--session', '--print-reply', '--dest=org.freedesktop.DBus',
                                 '/org/freedesktop/DBus', 'org.freedesktop.DBus.NameHasOwner',
                                 'string:' + SERVICE_NAME],
                                env=self.env, capture_output=True, text=True, timeout=10)
        return 'boolean true' in answer.stdout

    def secret_tool(self, *args):
        return subprocess.run(['secret-tool', *args], env=self.env, capture_output=True, text=True, timeout=30)

    def lookup(self, exchange):
        """The record the keyring holds for `exchange`; None when it holds none."""
        found = self.secret_tool('lookup', 'service', 'korvane.connector.' + exchange, 'account', exchange)
        return found.stdout if found.returncode == 0 else None

    def items(self, exchange):
        """The keyring's items for `exchange` as secret-tool lists them, one text each."""
        listed = self.secret_tool('search', '--all', 'service', 'korvane.connector.' + exchange, 'account', exchange)
        return [block for block in (listed.stdout + listed.stderr).split('\n[') if 'label = ' in block]

    def connector_env(self):
        """What a user's shell in this session hands the connector: the bus, no keychain tool."""
        return {'DBUS_SESSION_BUS_ADDRESS': self.address, 'XDG_RUNTIME_DIR': self.runtime}


def home_on(test, session_env, unset=()):
    """A connector home whose runs use the system's store (no keychain tool) in `session_env`."""
    home = ConnectorHome(test.sandbox)
    test.addCleanup(home.cleanup)
    for name in ('KORVANE_KEYCHAIN_TOOL', 'KORVANE_FAKE_KEYCHAIN', 'DBUS_SESSION_BUS_ADDRESS', 'XDG_RUNTIME_DIR',
                 *unset):
        home.env.pop(name, None)
    home.env.update(session_env)
    return home


LINUX_ONLY = unittest.skipIf(sys.platform == 'darwin', 'the Secret Service is the Linux store')


@LINUX_ONLY
class SecretServiceTest(SandboxTestCase):
    """One unlocked keyring shared by the tests of this class; each test gets a fresh home."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        try:
            cls.session = KeyringSession()
        except BaseException:
            super().tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.session.stop()
        super().tearDownClass()

    def setUp(self):
        self.home = home_on(self, self.session.connector_env())

    def tearDown(self):
        for exchange in KEYS:
            self.session.secret_tool('clear', 'service', 'korvane.connector.' + exchange, 'account', exchange)

    def test_save_load_list_and_delete_through_the_keyring(self):
        self.assertEqual(self.home.run('status').fields()['vault_backend'], 'secret_service_with_file_fallback')
        result = self.home.run('validate', *BYBIT)
        self.assertEqual((result.code, result.fields()['credentials_saved']), (0, 'true'), result.out)
        record = 'exchange=bybit\napi_key=bybit-trade-key\napi_secret=bybit-trade-secret\npassphrase='
        self.assertEqual(self.session.lookup('bybit'), record)
        self.assertFalse(os.path.exists(self.home.path('vault', 'bybit.vault')))
        self.assertEqual(self.home.read('vault', 'vault_index.txt'), 'bybit\n')
        items = self.session.items('bybit')
        self.assertEqual(len(items), 1, items)
        self.assertIn('label = Korvane Connector: bybit', items[0])

        loaded = self.home.run('load-credentials', 'bybit')
        self.assertEqual((loaded.code, loaded.out), (0, 'status=ok\n' + record + '\n'))
        self.assertIn('exchange=bybit status=configured credentials_present=true', self.home.run('status').out)
        self.assertEqual(self.home.run('balance', 'bybit').json()['status'], 'ok')

        # Saving again replaces the item rather than adding a second one.
        self.home.run('validate', *BYBIT_READ)
        self.assertEqual(len(self.session.items('bybit')), 1)
        self.assertIn('api_key=bybit-read-key', self.session.lookup('bybit'))

        deleted = self.home.run('delete-credentials', 'bybit')
        self.assertEqual((deleted.code, deleted.out), (0, 'status=ok\nexchange=bybit\nremoved=true\n'))
        self.assertIsNone(self.session.lookup('bybit'))
        self.assertEqual(self.home.run('load-credentials', 'bybit').out, 'status=missing\n')
        self.assertIn('exchange=bybit status=not_configured', self.home.run('status').out)

    def test_items_written_by_other_tools_are_found(self):
        stored = subprocess.run(['secret-tool', 'store', '--label=by hand', 'service', 'korvane.connector.gate',
                                 'account', 'gate'], input='exchange=gate\napi_key=hand-key\napi_secret=s',
                                env=self.session.env, capture_output=True, text=True, timeout=30)
        self.assertEqual(stored.returncode, 0, stored.stderr)
        self.assertEqual(self.home.run('load-credentials', 'gate').out,
                         'status=ok\nexchange=gate\napi_key=hand-key\napi_secret=s\npassphrase=\n')
        self.assertEqual(self.home.run('delete-credentials', 'gate').fields()['removed'], 'true')
        self.assertIsNone(self.session.lookup('gate'))

    def test_a_save_to_the_keyring_removes_the_older_file(self):
        self.home.run('status')
        self.home.write('vault/gate.vault', 'exchange=gate\napi_key=stale\napi_secret=s\npassphrase=\n')
        self.assertIn('api_key=stale', self.home.run('load-credentials', 'gate').out)
        self.assertEqual(self.home.run('validate', *GATE).fields()['credentials_saved'], 'true')
        self.assertFalse(os.path.exists(self.home.path('vault', 'gate.vault')))
        self.assertIn('api_key=gate-key', self.home.run('load-credentials', 'gate').out)

    def test_no_secret_in_any_process_arguments(self):
        arguments.slow_down_every_exchange(self)
        mark = self.sandbox.mark()
        with arguments.ArgumentSampler(self.home.dir) as sampler:
            runs = arguments.run_every_credentialed_command(self.home)
        self.assertTrue(all(r.code == 0 for r in runs), [r.err for r in runs if r.code != 0])
        # Every credential went to the keyring, none to a file.
        self.assertEqual([n for n in os.listdir(self.home.path('vault')) if n.endswith('.vault')], [])
        for exchange, (key, _, _) in KEYS.items():
            self.assertIn('api_key=' + key, self.session.lookup(exchange) or '', exchange)

        secrets = arguments.secrets_sent_since(self.sandbox, mark)
        self.assertGreater(len(secrets), 40)
        # No keychain tool runs here, so no exception but claim-token's own operand.
        leaks = [a for a in sampler.seen if b'\0claim-token\0' not in a and any(s in a for s in secrets)]
        self.assertEqual(leaks, [])
        self.assertTrue(any(b'korvane-connector' in a for a in sampler.seen), 'the sampler saw no run')


@LINUX_ONLY
class FileFallbackTest(SandboxTestCase):
    """Where no Secret Service can be reached the vault keeps credentials in its files, starts no
    bus and no keyring, and says so in "status"."""

    def check_file_only(self, home):
        self.assertEqual(home.run('status').fields()['vault_backend'], 'file_only')
        self.assertEqual(home.run('validate', *GATE).fields()['credentials_saved'], 'true')
        self.assertEqual(home.read('vault', 'gate.vault'),
                         'exchange=gate\napi_key=gate-key\napi_secret=gate-secret\npassphrase=\n')
        self.assertIn('api_key=gate-key', home.run('load-credentials', 'gate').out)
        self.assertIn('exchange=gate status=configured', home.run('status').out)
        deleted = home.run('delete-credentials', 'gate')
        self.assertEqual((deleted.code, deleted.fields()['removed']), (0, 'true'))
        self.assertFalse(os.path.exists(home.path('vault', 'gate.vault')))

    def test_no_session_bus_at_all(self):
        empty_runtime = tempfile.mkdtemp(prefix='korvane-runtime-')
        self.addCleanup(shutil.rmtree, empty_runtime, ignore_errors=True)
        for env in ({}, {'XDG_RUNTIME_DIR': empty_runtime}, {'DBUS_SESSION_BUS_ADDRESS': 'autolaunch:'},
                    {'DBUS_SESSION_BUS_ADDRESS': 'unix:path=' + os.path.join(empty_runtime, 'gone')}):
            with self.subTest(env=env):
                home = home_on(self, env)
                with arguments.ArgumentSampler(home.dir) as sampler:
                    self.check_file_only(home)
                self.assertEqual([a for a in sampler.seen if b'dbus-launch' in a], [])

    def test_a_bus_without_the_service(self):
        session = KeyringSession(keyring=False)
        self.addCleanup(session.stop)
        self.check_file_only(home_on(self, session.connector_env()))
        # The bus could start gnome-keyring on demand; the connector never asked it to.
        self.assertFalse(session.name_has_owner())

    def test_a_locked_keyring(self):
        session = KeyringSession()
        self.addCleanup(session.stop)
        home = home_on(self, session.connector_env())
        self.assertEqual(home.run('validate', *BYBIT).fields()['credentials_saved'], 'true')
        # The daemon comes back without the password: the login keyring stays locked.
        session.stop_keyring()
        session.start_keyring(unlock=False)
        started = time.time()
        saved = home.run('validate', *GATE)
        self.assertEqual(saved.fields()['credentials_saved'], 'true')
        self.assertIn('api_key=gate-key', home.read('vault', 'gate.vault'))
        loaded = home.run('load-credentials', 'bybit')  # locked: neither store can give it
        self.assertLess(time.time() - started, 40)
        self.assertEqual(loaded.out, 'status=missing\n')
        self.assertNotIn('bybit-trade-secret', loaded.err)
        self.assertEqual(home.run('status').fields()['vault_backend'], 'secret_service_with_file_fallback')
        self.assertIn('api_key=gate-key', home.run('load-credentials', 'gate').out)

        # Neither the locked keyring nor a run without the bus can confirm that the keyring's
        # copy is gone: the deletion says so, and the credential stays listed.
        self.assertEqual(home.run('delete-credentials', 'bybit').fields()['removed'], 'false')
        home.env.pop('DBUS_SESSION_BUS_ADDRESS')
        self.assertEqual(home.run('delete-credentials', 'bybit').fields()['removed'], 'false')
        self.assertIn('exchange=bybit status=configured', home.run('status').out)
        self.assertEqual(home.run('delete-credentials', 'gate').fields()['removed'], 'true')

    def test_a_keyring_that_stops_answering_holds_no_command_for_long(self):
        session = KeyringSession()
        self.addCleanup(session.stop)
        home = home_on(self, session.connector_env())
        self.assertEqual(home.run('validate', *BYBIT).fields()['credentials_saved'], 'true')
        os.kill(session.keyring.pid, signal.SIGSTOP)
        try:
            started = time.time()
            saved = home.run('validate', *BYBIT_READ, timeout=60)
            elapsed = time.time() - started
        finally:
            os.kill(session.keyring.pid, signal.SIGCONT)
        self.assertEqual(saved.fields()['credentials_saved'], 'true')
        self.assertLess(elapsed, 30)  # one bounded call (8 s), not the bus's own 25 s or more
        self.assertIn('api_key=bybit-read-key', home.read('vault', 'bybit.vault'))
        # The keyring answers again, holding the older key (or the newer one, should the stalled
        # call land after all): the file saved last is what loads.
        self.assertIn('api_key=bybit-read-key', home.run('load-credentials', 'bybit').out)
        self.assertEqual(home.run('delete-credentials', 'bybit').fields()['removed'], 'true')
        self.assertIsNone(session.lookup('bybit'))
        self.assertFalse(os.path.exists(home.path('vault', 'bybit.vault')))


if __name__ == '__main__':
    unittest.main()
