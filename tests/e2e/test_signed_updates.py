"""Signed updates end to end: key pairs made here with openssl, images signed with the publisher's
script, the sandbox's update host, and the test program with the key built in."""
import base64
import os
import shutil
import subprocess
import tempfile
import threading
import unittest

from harness import CONNECTOR, SOURCE_DIR, SandboxTestCase
from test_updates import KEYED, SHIPPED_KEY, fake_tool, handed_over, run_program

SIGN = os.path.join(SOURCE_DIR, 'scripts', 'sign-update.sh')
CMAKE = os.environ.get('KORVANE_CMAKE') or shutil.which('cmake') or 'cmake'
IMAGE = bytes(range(256)) * 800  # a binary image of 200 KiB


def sign_script(*args):
    completed = subprocess.run([SIGN, *args], capture_output=True, text=True, timeout=60)
    return completed.returncode, completed.stdout, completed.stderr


def make_key(folder, name, *algorithm):
    path = os.path.join(folder, name)
    subprocess.run(['openssl', 'genpkey', *(algorithm or ('-algorithm', 'ed25519')), '-out', path], check=True,
                   capture_output=True)
    return path


class SignedUpdatesTest(SandboxTestCase):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.keys = tempfile.mkdtemp(prefix='korvane-e2e-keys-')
        cls.publisher = make_key(cls.keys, 'publisher.pem')
        cls.stranger = make_key(cls.keys, 'stranger.pem')
        code, out, err = sign_script('--public-key', cls.publisher)
        assert code == 0, err
        cls.public_key = out.strip()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        super().setUp()
        self.sandbox.control('updates', {'reset': True})
        self.addCleanup(self.sandbox.control, 'updates', {'reset': True})
        self.updates = self.home.path('updates')
        self.image_url = self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL'].rsplit('/current/', 1)[0] + \
            '/downloads/Korvane-Connector-0.2.0.dmg'
        self.bin_dir = tempfile.mkdtemp(prefix='korvane-e2e-bin-')
        self.addCleanup(shutil.rmtree, self.bin_dir, ignore_errors=True)
        self.opener = fake_tool(self.bin_dir, 'open')

    def sign(self, image, key=None, version='0.2.0'):
        path = os.path.join(self.bin_dir, 'image-to-sign.dmg')
        with open(path, 'wb') as handle:
            handle.write(image)
        code, out, err = sign_script(key or self.publisher, version, path)
        self.assertEqual(code, 0, err)
        return out.strip()

    def serve(self, image, signature):
        self.sandbox.control('updates', {'image_base64': base64.b64encode(image).decode(), 'ed25519': signature})

    def keyed(self, *args, key=None):
        return run_program(self.home, KEYED, *args, env={'KORVANE_TEST_UPDATE_PUBLIC_KEY': self.public_key
                                                         if key is None else key, 'PATH': self.bin_dir})

    def files(self):
        return sorted(os.listdir(self.updates)) if os.path.isdir(self.updates) else []

    def opened(self):
        if not os.path.exists(self.opener + '.log'):
            return ''
        with open(self.opener + '.log') as log:
            return log.read()

    def refusal(self):
        return {'status': 'error', 'reason': 'update_signature_invalid', 'latest_version': '0.2.0',
                'dmg_url': self.image_url}

    def test_only_the_publishers_signature_installs(self):
        flipped = bytearray(IMAGE)
        flipped[len(flipped) // 2] ^= 0x01
        cases = [('good signature', IMAGE, self.sign(IMAGE), True),
                 ('flipped byte in the image', bytes(flipped), self.sign(IMAGE), False),
                 ('signature of another image', IMAGE, self.sign(IMAGE + b'!'), False),
                 # An older, validly signed image put under the manifest's newer version.
                 ('signed for another version', IMAGE, self.sign(IMAGE, version='0.0.9'), False),
                 ('missing signature', IMAGE, None, False),
                 ('wrong key', IMAGE, self.sign(IMAGE, self.stranger), False)]
        for what, served, signature, installs in cases:
            with self.subTest(what):
                self.home = self.new_home()
                self.updates = self.home.path('updates')
                self.serve(served, signature)
                mark = self.sandbox.mark()
                answer = self.keyed('update-download').json()
                fetched = [r['path'] for r in self.sandbox.requests(since=mark, site='updates')]
                if not installs:
                    self.assertEqual(answer, self.refusal())
                    self.assertEqual(self.files(), [])
                    self.assertEqual(fetched[0], '/current/manifest.json')
                    # Without a signature the image is not even fetched.
                    self.assertEqual(len(fetched), 1 if signature is None else 2)
                    self.assertEqual(self.keyed('update-apply').json()['reason'], 'update_file_missing')
                    continue
                self.assertEqual((answer['status'], answer['downloaded']), ('ok', True))
                self.assertEqual(self.files(), ['Korvane-Connector-0.2.0.dmg', 'Korvane-Connector-0.2.0.dmg.sig',
                                                'Korvane-Connector-latest.dmg', 'Korvane-Connector-latest.dmg.sig'])
                latest = os.path.join(self.updates, 'Korvane-Connector-latest.dmg')
                with open(latest, 'rb') as handle:
                    self.assertEqual(handle.read(), IMAGE)
                self.assertEqual(self.keyed('update-apply').json()['status'], 'ok')
                handed_over(self, self.opened(), self.updates, 'Korvane-Connector-latest.dmg', IMAGE)

    def test_an_image_swapped_on_disk_is_not_opened(self):
        self.serve(IMAGE, self.sign(IMAGE))
        self.assertEqual(self.keyed('update-download').json()['status'], 'ok')
        latest = os.path.join(self.updates, 'Korvane-Connector-latest.dmg')
        with open(latest, 'r+b') as handle:
            handle.write(b'X')
        self.assertEqual(self.keyed('update-apply').json(),
                         {'status': 'error', 'reason': 'update_signature_invalid', 'file': latest})
        # Nor does a signature of the new bytes made with another key.
        with open(latest + '.sig', 'w') as handle:
            handle.write(self.sign(b'X' + IMAGE[1:], self.stranger) + '\n')
        self.assertEqual(self.keyed('update-apply').json()['reason'], 'update_signature_invalid')
        self.assertEqual(self.opened(), '')

    def test_an_image_swapped_while_it_is_applied_is_never_handed_over(self):
        # One process keeps swapping the image's name between the signed bytes and unsigned ones;
        # whatever apply hands over is a copy of exactly the bytes it checked.
        self.serve(IMAGE, self.sign(IMAGE))
        self.assertEqual(self.keyed('update-download').json()['status'], 'ok')
        latest = os.path.join(self.updates, 'Korvane-Connector-latest.dmg')
        signed, unsigned = latest + '.signed', latest + '.unsigned'
        shutil.copy(latest, signed)
        with open(unsigned, 'wb') as handle:
            handle.write(b'UNSIGNED' + IMAGE[8:])
        stop = threading.Event()

        def swap():
            while not stop.is_set():
                for source in (unsigned, signed):
                    shutil.copy(source, latest + '.next')
                    os.replace(latest + '.next', latest)

        swapper = threading.Thread(target=swap)
        swapper.start()
        try:
            outcomes = set()
            for _ in range(40):
                answer = self.keyed('update-apply').json()
                outcomes.add(answer.get('reason', answer['status']))
                if answer['status'] == 'ok':
                    handed_over(self, self.opened().splitlines()[-1], self.updates, 'Korvane-Connector-latest.dmg',
                                IMAGE)
        finally:
            stop.set()
            swapper.join()
        self.assertLessEqual(outcomes, {'ok', 'update_signature_invalid'})

    def test_keyed_build_says_so(self):
        self.assertIs(self.keyed('update-check').json()['signed_updates'], True)
        self.assertIn('publisher\'s signature', self.keyed('help').out)
        self.assertIn('UNSIGNED', self.keyed('help', key='').out)

    def test_script_manifest_installs(self):
        image_path = os.path.join(self.bin_dir, 'release.dmg')
        with open(image_path, 'wb') as handle:
            handle.write(IMAGE)
        code, manifest, err = sign_script('--manifest', '0.3.0', self.image_url, self.publisher, image_path)
        self.assertEqual(code, 0, err)
        self.sandbox.control('updates', {'manifest': manifest.strip(),
                                         'image_base64': base64.b64encode(IMAGE).decode()})
        answer = self.keyed('update-download').json()
        self.assertEqual((answer['status'], answer['latest_version']), ('ok', '0.3.0'))

    def test_script_refuses_what_it_cannot_sign(self):
        image_path = os.path.join(self.bin_dir, 'release.dmg')
        open(image_path, 'wb').close()
        ec_key = make_key(self.bin_dir, 'ec.pem', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:P-256')
        cases = [((ec_key, '0.3.0', image_path), 1, 'is not an Ed25519 key'),
                 ((self.publisher, '0.3.0', image_path + '.missing'), 1, 'cannot read the image'),
                 ((image_path, '0.3.0', image_path), 1, 'cannot read the private key'),
                 ((self.publisher, '0 3', image_path), 1, 'the version must'),
                 ((self.publisher, image_path), 2, 'usage:'),
                 (('--manifest', '0.3.0', 'https://h/"a', self.publisher, image_path), 1, 'the URL must'),
                 (('--manifest', '0 3', 'https://h/a', self.publisher, image_path), 1, 'the version must'),
                 ((self.publisher,), 2, 'usage:')]
        for args, expected_code, message in cases:
            with self.subTest(args=args):
                code, out, err = sign_script(*args)
                self.assertEqual((code, out), (expected_code, ''))
                self.assertIn(message, err)

    def test_without_a_key_updates_stay_unsigned(self):
        for signature in (None, 'not a signature'):
            with self.subTest(signature=signature):
                self.home = self.new_home()
                self.updates = self.home.path('updates')
                self.serve(IMAGE, signature)
                self.assertEqual(self.keyed('update-download', key='').json()['status'], 'ok')
                self.assertEqual(self.files(), ['Korvane-Connector-0.2.0.dmg', 'Korvane-Connector-latest.dmg'])
                self.assertEqual(self.keyed('update-apply', key='').json()['status'], 'ok')

    def test_shipped_program_ignores_the_test_key(self):
        with open(CONNECTOR, 'rb') as shipped, open(KEYED, 'rb') as keyed:
            self.assertNotIn(b'KORVANE_TEST_UPDATE_PUBLIC_KEY', shipped.read())
            self.assertIn(b'KORVANE_TEST_UPDATE_PUBLIC_KEY', keyed.read())
        # Only the configured key counts: none accepts anything, another refuses the test's signatures.
        for signature in (None, self.sign(IMAGE)):
            with self.subTest(signed=signature is not None):
                self.home = self.new_home()
                self.serve(IMAGE, signature)
                answer = self.home.run('update-download', env={'KORVANE_TEST_UPDATE_PUBLIC_KEY': self.public_key})
                self.assertEqual(answer.json()['status'], 'error' if SHIPPED_KEY else 'ok')
        # The test program itself will not run without being told its key.
        result = run_program(self.home, KEYED, 'update-check')
        self.assertEqual((result.code, result.out), (2, ''))
        self.assertIn('KORVANE_TEST_UPDATE_PUBLIC_KEY is not set', result.err)


class UpdateKeyConfigureTest(unittest.TestCase):
    def configure(self, key, *options):
        with tempfile.TemporaryDirectory() as build:
            completed = subprocess.run([CMAKE, '-S', SOURCE_DIR, '-B', build, '-DKORVANE_BUILD_GUI=OFF',
                                        '-DKORVANE_BUILD_TESTS=OFF', '-DKORVANE_UPDATE_PUBLIC_KEY=' + key, *options],
                                       capture_output=True, text=True, timeout=300)
        return completed.returncode, ' '.join(completed.stderr.split())

    def test_only_a_32_byte_base64_key_configures(self):
        key = base64.b64encode(bytes(range(32))).decode()
        for bad in (key[:-4], key + 'AAAA', ' ' + key, key[:-2] + 'B=', base64.b64encode(bytes(33)).decode()):
            with self.subTest(key=bad):
                code, err = self.configure(bad)
                self.assertNotEqual(code, 0)
                self.assertIn('KORVANE_UPDATE_PUBLIC_KEY must be the standard Base64 text of a 32-byte Ed25519 '
                              'public key', err)
        code, err = self.configure(key)
        self.assertEqual(code, 0, err)
        self.assertNotIn('KORVANE_UPDATE_PUBLIC_KEY', err)

    def test_a_release_build_without_a_key_must_ask_for_unsigned_updates(self):
        code, err = self.configure('', '-DCMAKE_BUILD_TYPE=Release')
        self.assertNotEqual(code, 0)
        self.assertIn('-DKORVANE_ALLOW_UNSIGNED_UPDATES=ON', err)
        code, err = self.configure('', '-DCMAKE_BUILD_TYPE=Release', '-DKORVANE_ALLOW_UNSIGNED_UPDATES=ON')
        self.assertEqual(code, 0, err)
        self.assertIn('installs UNSIGNED update images', err)


if __name__ == '__main__':
    unittest.main()
