"""Runs the built korvane-connector as a user would: a temporary HOME, a fake keychain tool and,
where a test needs the network, the local sandbox."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request

SOURCE_DIR = os.environ.get('KORVANE_SOURCE_DIR') or os.path.abspath(
    os.path.join(os.path.dirname(__file__), '..', '..'))
CONNECTOR = os.environ.get('KORVANE_CONNECTOR_BIN') or os.path.join(SOURCE_DIR, 'build', 'bin', 'korvane-connector')
SANDBOX_DIR = os.path.join(SOURCE_DIR, 'sandbox')
FAKE_KEYCHAIN = os.path.join(SANDBOX_DIR, 'fake_keychain.py')

# The sandbox's own tables: its sites and their variables, and the first key of each exchange.
sys.path.insert(0, SANDBOX_DIR)
from korvane_sandbox.accounts import sample_keys  # noqa: E402
from korvane_sandbox.exchanges import ALIASES, SITES  # noqa: E402

# exchange -> (key, secret, passphrase): the one key table of the tests.
KEYS = sample_keys()
# Every variable that points the connector somewhere; cleared so no test reaches the internet.
POINTERS = ([variable for _, variable in SITES] + [variable for variable, _ in ALIASES] +
            ['KORVANE_RELAY_URL', 'KORVANE_UPDATE_MANIFEST_URL'])
CLOSED_URL = 'http://127.0.0.1:9'  # the discard port: nothing listens there

# How the connector names the platform it runs on: device id prefix, label, relay label.
if sys.platform == 'darwin':
    PLATFORM, DEVICE_PREFIX, DEVICE_LABEL, RELAY_LABEL = ('macos', 'device:macos:', 'Korvane Connector (macOS)',
                                                         'macOS connector')
else:
    PLATFORM, DEVICE_PREFIX, DEVICE_LABEL, RELAY_LABEL = ('linux', 'device:linux:', 'Korvane Connector (Linux)',
                                                         'Linux connector')


class Result:
    def __init__(self, completed):
        self.code = completed.returncode
        self.out = completed.stdout
        self.err = completed.stderr

    def lines(self):
        return self.out.splitlines()

    def fields(self):
        return dict(line.split('=', 1) for line in self.lines() if '=' in line)

    def json(self):
        return json.loads(self.out)


class Sandbox:
    """The local sandbox in a child process, with its request log."""

    def __init__(self):
        self.workdir = tempfile.mkdtemp(prefix='korvane-e2e-sandbox-')
        self.log_path = os.path.join(self.workdir, 'requests.jsonl')
        self.process = subprocess.Popen([sys.executable, '-m', 'korvane_sandbox', '--log', self.log_path],
                                        cwd=SANDBOX_DIR, stdout=subprocess.PIPE, text=True)
        self.env = {}
        for line in self.process.stdout:
            name, _, value = line.strip().removeprefix('export ').partition('=')
            self.env[name] = value
            if name == 'KORVANE_SANDBOX_READY':
                break

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.process.stdout.close()
        shutil.rmtree(self.workdir, ignore_errors=True)

    def mark(self):
        """Returns a position in the request log; `requests(since=...)` reads what came after."""
        return os.path.getsize(self.log_path)

    def requests(self, since=0, site=None):
        with open(self.log_path, encoding='utf-8') as handle:
            handle.seek(since)
            entries = [json.loads(line) for line in handle if line.strip()]
        return [e for e in entries if site is None or e['site'] == site]

    def control(self, command, body):
        request = urllib.request.Request(self.env['KORVANE_SANDBOX_CONTROL'] + '/' + command,
                                         data=json.dumps(body).encode(), method='POST')
        with urllib.request.urlopen(request, timeout=10) as response:
            return json.loads(response.read())


class ConnectorHome:
    """One user's machine: a temporary HOME and a file-backed keychain."""

    def __init__(self, sandbox=None, keychain=True):
        self.dir = tempfile.mkdtemp(prefix='korvane-e2e-home-')
        self.root = os.path.join(self.dir, '.korvane-connector')
        self.env = {k: v for k, v in os.environ.items() if not k.startswith('KORVANE_')}
        self.env['HOME'] = self.dir
        for name in POINTERS:
            self.env[name] = CLOSED_URL
        if sandbox is not None:
            self.env.update({k: v for k, v in sandbox.env.items() if k in POINTERS})
        self.keychain_store = os.path.join(self.dir, 'keychain.json')
        self.env['KORVANE_KEYCHAIN_TOOL'] = FAKE_KEYCHAIN if keychain else '/nonexistent/security'
        self.env['KORVANE_FAKE_KEYCHAIN'] = self.keychain_store

    def run(self, *args, env=None, timeout=180, stdin=None):
        full_env = dict(self.env, **(env or {}))
        completed = subprocess.run([CONNECTOR, *args], env=full_env, capture_output=True, text=True,
                                   timeout=timeout, errors='surrogateescape', input=stdin,
                                   stdin=None if stdin is not None else subprocess.DEVNULL)
        return Result(completed)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def read(self, *parts):
        with open(self.path(*parts), encoding='utf-8', newline='') as handle:
            return handle.read()

    def write(self, name, text):
        os.makedirs(self.root, exist_ok=True)
        with open(self.path(name), 'w', encoding='utf-8', newline='') as handle:
            handle.write(text)

    def record(self, name):
        return dict(line.split('=', 1) for line in self.read(name).split('\n') if '=' in line)

    def store_record(self, exchange, key, secret, passphrase=''):
        """Puts a four-line record into the fake keychain, as a save of any version does, with nothing
        learned beside it."""
        items = self.keychain()
        items['korvane.connector.%s\x1f%s' % (exchange, exchange)] = \
            'exchange=%s\napi_key=%s\napi_secret=%s\npassphrase=%s' % (exchange, key, secret, passphrase)
        os.makedirs(os.path.dirname(self.keychain_store), exist_ok=True)
        with open(self.keychain_store, 'w') as handle:
            json.dump(items, handle)

    def keychain(self):
        if not os.path.exists(self.keychain_store):
            return {}
        with open(self.keychain_store, encoding='utf-8') as handle:
            return json.load(handle)

    def cleanup(self):
        shutil.rmtree(self.dir, ignore_errors=True)


class SandboxTestCase(unittest.TestCase):
    """A test class sharing one sandbox; each test gets a fresh home."""

    sandbox = None

    @classmethod
    def setUpClass(cls):
        cls.sandbox = Sandbox()

    @classmethod
    def tearDownClass(cls):
        cls.sandbox.stop()

    def setUp(self):
        self.home = self.new_home()

    def new_home(self, **options):
        home = ConnectorHome(self.sandbox, **options)
        self.addCleanup(home.cleanup)
        return home

    def wait_for(self, predicate, seconds=5):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if predicate():
                return True
            time.sleep(0.05)
        return predicate()

    @staticmethod
    def header_lines(entry, names):
        """The request's headers among `names`, in arrival order, as 'Name: value' texts."""
        wanted = {n.lower() for n in names}
        return ['%s: %s' % (k, v) for k, v in entry['headers'] if k.lower() in wanted]


class KeyedTestCase(SandboxTestCase):
    """A sandbox test whose home holds every exchange's sample key; each test ends with the
    sandbox's accounts reset."""

    def setUp(self):
        super().setUp()
        for exchange, credential in KEYS.items():
            self.home.store_record(exchange, *credential)

    def tearDown(self):
        self.sandbox.control('reset', {})
        super().tearDown()
