"""Self-update against the sandbox's update host, with a fake `open` on PATH."""
import hashlib
import json
import os
import stat
import subprocess
import tempfile
import unittest

from harness import CLOSED_URL, SOURCE_DIR, Result, SandboxTestCase

# The test-only program whose update key comes from KORVANE_TEST_UPDATE_PUBLIC_KEY.
KEYED = os.environ.get('KORVANE_CONNECTOR_KEYED_BIN') or os.path.join(SOURCE_DIR, 'build', 'tests',
                                                                      'korvane-connector-keyed')
# The key the shipped program was configured with; empty in a developer build.
SHIPPED_KEY = os.environ.get('KORVANE_SHIPPED_UPDATE_KEY', '')


def fake_tool(folder, name, exit_code=0):
    """A tool that records its arguments in `name`.log beside itself."""
    path = os.path.join(folder, name)
    with open(path, 'w') as handle:
        handle.write('#!/bin/sh\necho "$@" >> "%s.log"\nexit %d\n' % (path, exit_code))
    os.chmod(path, 0o755)
    return path


def handed_over(test, log_text, updates, image_name, content=None):
    """Checks that the opener got a private copy of `image_name`: one path, after "--" where the
    tool takes it, in a folder of `updates` only this user can enter; returns that path."""
    path = log_text.strip().split(' ')[-1]
    test.assertEqual(os.path.basename(path), image_name)
    folder = os.path.dirname(path)
    test.assertEqual(os.path.dirname(folder), updates)
    test.assertTrue(os.path.basename(folder).startswith('.open-'))
    test.assertEqual(stat.S_IMODE(os.lstat(folder).st_mode), 0o700)
    if content is not None:
        with open(path, 'rb') as handle:
            test.assertEqual(handle.read(), content)
    return path


def run_program(home, program, *args, env=None):
    """Runs `program` on `home` as `home.run` runs the shipped one."""
    completed = subprocess.run([program, *args], env=dict(home.env, **(env or {})), capture_output=True, text=True,
                               errors='surrogateescape', timeout=180, stdin=subprocess.DEVNULL)
    return Result(completed)


class UpdatesTest(SandboxTestCase):
    def setUp(self):
        super().setUp()
        self.sandbox.control('updates', {'reset': True})
        self.addCleanup(self.sandbox.control, 'updates', {'reset': True})
        self.updates = self.home.path('updates')
        self.base = self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL'].rsplit('/current/', 1)[0]

    def set_manifest(self, **members):
        self.sandbox.control('updates', {'manifest': json.dumps(members, separators=(',', ':'))})

    def manifest_for(self, version, **extra):
        members = {'version': version, 'dmgUrl': self.base + '/downloads/K-%s.dmg' % version, 'channel': 'beta'}
        members.update(extra)
        self.set_manifest(**members)
        return members

    def run_unkeyed(self, *args, env=None):
        """Runs a program built without an update key: the shipped one, or when that was configured
        with a key, the test program with an empty key."""
        if not SHIPPED_KEY:
            return self.home.run(*args, env=env)
        return run_program(self.home, KEYED, *args, env=dict(env or {}, KORVANE_TEST_UPDATE_PUBLIC_KEY=''))

    def run_logged(self, *args, env=None):
        mark = self.sandbox.mark()
        result = self.run_unkeyed(*args, env=env)
        return result.json(), self.sandbox.requests(since=mark, site='updates')

    def files(self):
        return sorted(os.listdir(self.updates)) if os.path.isdir(self.updates) else []

    def test_versions_decide_availability(self):
        for version, available in [('0.1', False), ('0.1.0', False), ('0.1.1', True), ('0.10', True),
                                   ('v0.2.0', True), ('0.0.9', False), ('0.1.0rc1', False), ('1', True)]:
            with self.subTest(version=version):
                manifest = self.manifest_for(version)
                answer, _ = self.run_logged('update-check')
                self.assertEqual(answer['update_available'], available)
                # An unkeyed build says it installs unsigned images.
                self.assertIs(answer['signed_updates'], False)
                self.assertEqual((answer['status'], answer['current_version'], answer['latest_version'],
                                  answer['channel'], answer['dmg_url'], answer['manifest']),
                                 ('ok', '0.1.0', version, 'beta', manifest['dmgUrl'], manifest))

    def test_download_then_apply(self):
        answer, requests = self.run_logged('update-download')
        self.assertEqual([r['path'] for r in requests], ['/current/manifest.json', '/downloads/Korvane-Connector-0.2.0.dmg'])
        target = os.path.join(self.updates, 'Korvane-Connector-0.2.0.dmg')
        latest = os.path.join(self.updates, 'Korvane-Connector-latest.dmg')
        self.assertEqual(answer, {'status': 'ok', 'current_version': '0.1.0', 'latest_version': '0.2.0',
                                  'update_available': True, 'downloaded': True, 'downloaded_to': target,
                                  'latest_file': latest, 'dmg_url': self.base + '/downloads/Korvane-Connector-0.2.0.dmg'})
        self.assertEqual(self.files(), ['Korvane-Connector-0.2.0.dmg', 'Korvane-Connector-latest.dmg'])
        with open(target, 'rb') as a, open(latest, 'rb') as b:
            self.assertEqual(a.read(), b.read())

        with tempfile.TemporaryDirectory() as bin_dir:
            opener = fake_tool(bin_dir, 'open')
            answer = self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json()
            self.assertEqual(answer, {'status': 'ok', 'applied': False, 'install_flow_started': True, 'file': latest,
                                      'note': 'dmg_opened_drag_updated_app_into_Applications'})
            with open(opener + '.log') as log, open(latest, 'rb') as image:
                # "--" ends the options: nothing after it can be taken for one.
                text = log.read()
                self.assertTrue(text.startswith('-- '))
                handed_over(self, text, self.updates, 'Korvane-Connector-latest.dmg', image.read())

    def test_same_version_fetches_nothing(self):
        self.manifest_for('0.1.0')
        answer, requests = self.run_logged('update-download')
        self.assertEqual(answer, {'status': 'ok', 'current_version': '0.1.0', 'latest_version': '0.1.0',
                                  'update_available': False, 'note': 'already_on_latest_version'})
        self.assertEqual([r['path'] for r in requests], ['/current/manifest.json'])
        self.assertEqual(self.files(), [])

    def test_invalid_manifests_are_echoed(self):
        for manifest in ['{"dmgUrl":"http://x/a.dmg"}', '{"version":"","dmgUrl":"http://x/a.dmg"}',
                         '{"version":"9.0","dmgUrl":""}', '{"version":"9.0"}', 'not json at all']:
            for command in ('update-check', 'update-download'):
                with self.subTest(manifest=manifest, command=command):
                    self.sandbox.control('updates', {'manifest': manifest})
                    result = self.run_unkeyed(command)
                    # A manifest that is not JSON is echoed as a string, so the answer stays JSON.
                    echoed = manifest if manifest.startswith('{') else json.dumps(manifest)
                    self.assertEqual(result.out, '{"status":"error","reason":"manifest_invalid","manifest_url":"%s",'
                                                 '"manifest":%s}\n' % (self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL'],
                                                                       echoed))
                    result.json()

    def test_unreachable_or_missing_manifest(self):
        cases = [({'KORVANE_UPDATE_MANIFEST_URL': CLOSED_URL + '/current/manifest.json'}, None),
                 ({}, {'manifest_status': 404})]
        for env, setting in cases:
            if setting:
                self.sandbox.control('updates', setting)
            url = env.get('KORVANE_UPDATE_MANIFEST_URL', self.sandbox.env['KORVANE_UPDATE_MANIFEST_URL'])
            self.assertEqual(self.run_unkeyed('update-check', env=env).json(),
                             {'status': 'error', 'reason': 'update_check_failed', 'manifest_url': url})
            self.assertEqual(self.run_unkeyed('update-download', env=env).json(),
                             {'status': 'error', 'reason': 'manifest_fetch_failed', 'manifest_url': url})

    def test_failed_download_leaves_no_image(self):
        self.sandbox.control('updates', {'image_status': 404})
        answer, _ = self.run_logged('update-download')
        self.assertEqual(answer, {'status': 'error', 'reason': 'update_download_failed', 'latest_version': '0.2.0',
                                  'dmg_url': self.base + '/downloads/Korvane-Connector-0.2.0.dmg'})
        self.assertEqual(self.files(), [])
        self.assertEqual(self.run_unkeyed('update-apply').json()['reason'], 'update_file_missing')

    def test_checksum_mismatch_leaves_no_image(self):
        self.manifest_for('0.3.0', sha256='0' * 64)
        answer, _ = self.run_logged('update-download')
        self.assertEqual(answer['reason'], 'update_checksum_mismatch')
        self.assertEqual((answer['latest_version'], answer['dmg_url']), ('0.3.0', self.base + '/downloads/K-0.3.0.dmg'))
        self.assertEqual(self.files(), [])
        image = b'fresh image bytes'
        self.sandbox.control('updates', {'image': image.decode()})
        self.manifest_for('0.3.0', sha256=hashlib.sha256(image).hexdigest().upper())
        self.assertEqual(self.run_logged('update-download')[0]['status'], 'ok')

    def test_values_are_escaped(self):
        url = CLOSED_URL + '/a"b\\c\td'
        result = self.run_unkeyed('update-check', env={'KORVANE_UPDATE_MANIFEST_URL': url})
        self.assertEqual(result.out, '{"status":"error","reason":"update_check_failed",'
                                     '"manifest_url":"http://127.0.0.1:9/a\\"b\\\\c\\td"}\n')
        self.assertEqual(result.json()['manifest_url'], url)
        self.sandbox.control('updates', {'manifest': '{"version":"0.9","dmgUrl":"https://h/a","channel":"be\\"ta\\\\\\t"}'})
        result = self.run_unkeyed('update-check')
        self.assertIn('"channel":"be\\"ta\\\\\\t"', result.out)
        self.assertEqual(result.json()['channel'], 'be"ta\\\t')

    def test_apply_choices(self):
        os.makedirs(self.updates, exist_ok=True)
        self.assertEqual(self.run_unkeyed('update-apply').json(),
                         {'status': 'error', 'reason': 'update_file_missing', 'updates_dir': self.updates})
        older = os.path.join(self.updates, 'Korvane-Connector-0.1.5.dmg')
        open(older, 'w').close()
        open(os.path.join(self.updates, 'notes.txt'), 'w').close()
        with tempfile.TemporaryDirectory() as bin_dir:
            fake_tool(bin_dir, 'open')
            self.assertEqual(self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json()['file'], older)
        with tempfile.TemporaryDirectory() as bin_dir:
            fake_tool(bin_dir, 'open', exit_code=1)
            self.assertEqual(self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json(),
                             {'status': 'error', 'reason': 'open_dmg_failed', 'file': older})
        with tempfile.TemporaryDirectory() as bin_dir:
            xdg = fake_tool(bin_dir, 'xdg-open')
            self.assertEqual(self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json()['status'], 'ok')
            with open(xdg + '.log') as log:
                handed_over(self, log.read(), self.updates, 'Korvane-Connector-0.1.5.dmg', b'')
        with tempfile.TemporaryDirectory() as bin_dir:
            self.assertEqual(self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json()['reason'], 'open_dmg_failed')
        # Among several images the newest version wins, by version order, not text order.
        for version in ('0.2', '0.10', '0.9.1'):
            open(os.path.join(self.updates, 'Korvane-Connector-%s.dmg' % version), 'w').close()
        with tempfile.TemporaryDirectory() as bin_dir:
            fake_tool(bin_dir, 'open')
            self.assertEqual(self.run_unkeyed('update-apply', env={'PATH': bin_dir}).json()['file'],
                             os.path.join(self.updates, 'Korvane-Connector-0.10.dmg'))


if __name__ == '__main__':
    unittest.main()
