"""Credential storage: the keychain through the keychain tool, the fallback files, the index,
listing in "status", loading and deleting."""
import json
import os
import stat
import sys
import unittest

from harness import SandboxTestCase

BYBIT = ['bybit', 'bybit-trade-key', 'bybit-trade-secret']
GATE = ['gate', 'gate-key', 'gate-secret']
FAIL = {'KORVANE_FAKE_KEYCHAIN_FAIL': '1'}


def exchange_lines(result):
    return {line.split()[0][len('exchange='):]: line for line in result.lines() if line.startswith('exchange=')}


class VaultTest(SandboxTestCase):
    def mode(self, *parts):
        return stat.S_IMODE(os.stat(self.home.path(*parts)).st_mode)

    def test_keychain_save_load_list_and_delete(self):
        self.assertEqual(self.home.run('status').fields()['vault_backend'],
                         'macos_keychain_with_file_fallback' if sys.platform == 'darwin'
                         else 'keychain_tool_with_file_fallback')
        result = self.home.run('validate', *BYBIT)
        self.assertEqual(result.code, 0, result.out)
        self.assertEqual(result.fields()['credentials_saved'], 'true')
        self.assertEqual(self.home.keychain(), {
            'korvane.connector.bybit\x1fbybit':
                'exchange=bybit\napi_key=bybit-trade-key\napi_secret=bybit-trade-secret\npassphrase='})
        self.assertEqual(self.home.read('vault', 'vault_index.txt'), 'bybit\n')
        self.assertEqual(self.mode('vault', 'vault_index.txt'), 0o600)
        self.assertFalse(os.path.exists(self.home.path('vault', 'bybit.vault')))

        loaded = self.home.run('load-credentials', 'bybit')
        self.assertEqual((loaded.code, loaded.out),
                         (0, 'status=ok\nexchange=bybit\napi_key=bybit-trade-key\napi_secret=bybit-trade-secret\n'
                             'passphrase=\n'))
        self.assertIn('exchange=bybit status=configured credentials_present=true note="credentials stored locally"',
                      self.home.run('status').out)

        # A second save leaves the index as it was: a name is listed once.
        self.home.run('validate', *BYBIT)
        self.assertEqual(self.home.read('vault', 'vault_index.txt'), 'bybit\n')

        deleted = self.home.run('delete-credentials', 'bybit')
        self.assertEqual((deleted.code, deleted.out), (0, 'status=ok\nexchange=bybit\nremoved=true\n'))
        self.assertEqual(self.home.keychain(), {})
        self.assertEqual(self.home.read('vault', 'vault_index.txt'), '')
        self.assertEqual(self.home.run('load-credentials', 'bybit').out, 'status=missing\n')
        self.assertIn('exchange=bybit status=not_configured', self.home.run('status').out)

    def test_file_fallback_when_the_keychain_refuses(self):
        result = self.home.run('validate', *GATE, env=FAIL)
        self.assertEqual(result.fields()['credentials_saved'], 'true')
        self.assertEqual(self.home.read('vault', 'gate.vault'),
                         'exchange=gate\napi_key=gate-key\napi_secret=gate-secret\npassphrase=\n')
        self.assertEqual(self.mode('vault', 'gate.vault'), 0o600)
        self.assertEqual(self.mode('vault'), 0o700)
        self.assertEqual(self.mode(), 0o700)
        self.assertFalse(os.path.exists(self.home.path('vault', 'vault_index.txt')))
        self.assertIn('api_secret=gate-secret', self.home.run('load-credentials', 'gate', env=FAIL).out)

        # Another exchange in the keychain must not hide the file-kept one.
        self.home.run('validate', *BYBIT)
        lines = exchange_lines(self.home.run('status'))
        self.assertIn('credentials_present=true', lines['gate'])
        self.assertIn('credentials_present=true', lines['bybit'])

        deleted = self.home.run('delete-credentials', 'gate')
        self.assertEqual(deleted.fields()['removed'], 'true')
        self.assertFalse(os.path.exists(self.home.path('vault', 'gate.vault')))
        self.assertIn('credentials_present=false', exchange_lines(self.home.run('status'))['gate'])

    def test_keychain_copy_wins_over_an_older_file(self):
        self.home.run('validate', 'gate', 'old-key', 'x', env=FAIL)  # rejected: nothing stored
        self.assertFalse(os.path.exists(self.home.path('vault', 'gate.vault')))
        self.home.run('validate', *GATE, env=FAIL)
        self.home.write('vault/gate.vault', 'exchange=gate\napi_key=stale\napi_secret=s\npassphrase=\n')
        self.home.run('validate', *GATE)
        self.assertIn('api_key=gate-key', self.home.run('load-credentials', 'gate').out)
        # Deleting removes both copies.
        self.assertEqual(self.home.run('delete-credentials', 'gate').fields()['removed'], 'true')
        self.assertEqual(self.home.run('load-credentials', 'gate').code, 2)

    def test_file_saved_while_the_keychain_refuses_is_the_copy_loaded(self):
        self.home.run('validate', *BYBIT)
        saved = self.home.run('validate', 'bybit', 'bybit-read-key', 'bybit-read-secret', env=FAIL)
        self.assertEqual(saved.fields()['credentials_saved'], 'true')
        self.assertEqual(self.home.read('vault', 'vault_index.txt'), '')
        # The keychain works again and still holds the older key: the newer file is what loads.
        self.assertIn('api_key=bybit-read-key', self.home.run('load-credentials', 'bybit').out)
        self.assertEqual(self.home.run('delete-credentials', 'bybit').fields()['removed'], 'true')
        self.assertEqual(self.home.keychain(), {})

    def test_sanitized_names(self):
        self.home.run('status')
        self.home.write('vault/vault_index.txt', 'my ex/1\n')
        with open(self.home.keychain_store, 'w') as handle:
            handle.write('{"korvane.connector.my_ex_1\\u001fmy_ex_1": "api_key=k\\napi_secret=a=b\\nextra=1"}')
        loaded = self.home.run('load-credentials', 'my ex/1')
        self.assertEqual(loaded.out, 'status=ok\nexchange=my ex/1\napi_key=k\napi_secret=a=b\npassphrase=\n')
        deleted = self.home.run('delete-credentials', 'my ex/1')
        self.assertEqual(deleted.out, 'status=ok\nexchange=my ex/1\nremoved=true\n')
        self.assertEqual(self.home.keychain(), {})

        self.home.write('vault/my_ex_1.vault', 'exchange=\napi_key=file\n')
        self.assertEqual(self.home.run('load-credentials', 'my ex/1').out,
                         'status=ok\nexchange=\napi_key=file\napi_secret=\npassphrase=\n')

    def test_hex_printed_keychain_record_is_decoded(self):
        # The macOS tool prints a password that holds line ends in hexadecimal.
        record = 'exchange=okx\napi_key=hex-key\napi_secret=s\npassphrase=p'
        with open(self.home.keychain_store, 'w') as handle:
            json.dump({'korvane.connector.okx\x1fokx': record.encode().hex()}, handle)
        self.assertEqual(self.home.run('load-credentials', 'okx').out,
                         'status=ok\nexchange=okx\napi_key=hex-key\napi_secret=s\npassphrase=p\n')
        # A plain record that happens to look like hex stays as it is.
        with open(self.home.keychain_store, 'w') as handle:
            json.dump({'korvane.connector.okx\x1fokx': 'abcdef'}, handle)
        self.assertEqual(self.home.run('load-credentials', 'okx').out,
                         'status=ok\nexchange=okx\napi_key=\napi_secret=\npassphrase=\n')

    def test_status_lists_only_known_names_exactly(self):
        self.home.run('status')
        self.home.write('vault/vault_index.txt', 'Bybit\nsomething-else\n\nokx\n')
        self.home.write('vault/gate.vault', 'exchange=gate\n')
        self.home.write('vault/notes.txt', 'not a credential')
        lines = exchange_lines(self.home.run('status'))
        self.assertEqual(len(lines), 11)
        self.assertIn('status=not_configured', lines['bybit'])
        self.assertIn('status=configured', lines['okx'])
        self.assertIn('status=configured', lines['gate'])

    def test_delete_of_something_never_stored(self):
        result = self.home.run('delete-credentials', 'Never Stored')
        self.assertEqual((result.code, result.out), (0, 'status=ok\nexchange=Never Stored\nremoved=true\n'))

    def test_failed_save_after_valid_check_is_an_error(self):
        self.home.run('status')
        os.makedirs(self.home.path('vault', 'gate.vault'))  # the fallback file cannot be written
        result = self.home.run('validate', *GATE, env=FAIL)
        self.assertEqual(result.code, 2)
        self.assertEqual(result.fields()['status'], 'error')
        self.assertEqual(result.fields()['reason'], 'failed to persist credentials to local vault')
        self.assertEqual(result.fields()['credentials_saved'], 'false')


if __name__ == '__main__':
    unittest.main()
