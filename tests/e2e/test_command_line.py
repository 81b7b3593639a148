"""The command line itself: words, operand counts, usage texts, exit codes, the application root
and the state files."""
import os
import re
import stat
import subprocess
import tempfile
import unittest
from concurrent.futures import ThreadPoolExecutor

from harness import CONNECTOR, DEVICE_LABEL, DEVICE_PREFIX, PLATFORM, SOURCE_DIR, ConnectorHome

GENERAL_USAGE = ('usage: korvane-connector <status|validate|load-credentials|delete-credentials|set-wallet|'
                 'bind-wallet|bind-status|claim-token|disconnect-binding|capabilities|balance|get-position|'
                 'order-status|cancel-order|funding|close-report|place-open|place-close|contract-info|update-check|'
                 'update-download|update-apply|server-health|doctor|exchanges> [args]\n')

USAGES = {
    'validate': 'usage: korvane-connector validate [--demo] <exchange> <api_key|-> <api_secret|-> [passphrase|-]',
    'set-wallet': 'usage: korvane-connector set-wallet <public_evm_address>',
    'claim-token': 'usage: korvane-connector claim-token <token|->',
    'load-credentials': 'usage: korvane-connector load-credentials <exchange>',
    'delete-credentials': 'usage: korvane-connector delete-credentials <exchange>',
    'balance': 'usage: korvane-connector balance <exchange>',
    'get-position': 'usage: korvane-connector get-position <exchange> <symbol>',
    'order-status': 'usage: korvane-connector order-status <exchange> <symbol> <order_id>',
    'cancel-order': 'usage: korvane-connector cancel-order <exchange> <symbol> <order_id>',
    'funding': 'usage: korvane-connector funding <exchange> <symbol> [lookback_minutes]',
    'close-report': 'usage: korvane-connector close-report <exchange> <symbol> [order_id]',
    'place-open': 'usage: korvane-connector place-open <exchange> <symbol> <side> <quantity> <price> <leverage>',
    'place-close': 'usage: korvane-connector place-close <exchange> <symbol> <side> <quantity> <price>',
}
# Operands each command needs, so that one fewer is a usage error.
REQUIRED = {'validate': 3, 'set-wallet': 1, 'claim-token': 1, 'load-credentials': 1, 'delete-credentials': 1,
            'balance': 1, 'get-position': 2, 'order-status': 3, 'cancel-order': 3, 'funding': 2,
            'close-report': 2, 'place-open': 6, 'place-close': 5}


class CommandLineTest(unittest.TestCase):
    def setUp(self):
        self.home = ConnectorHome()
        self.addCleanup(self.home.cleanup)

    def test_no_command_prints_general_usage_after_creating_the_root(self):
        result = self.home.run()
        self.assertEqual((result.code, result.out, result.err), (1, '', GENERAL_USAGE))
        self.assertTrue(os.path.isfile(self.home.path('device_identity.env')))

    def test_unknown_command_is_echoed(self):
        result = self.home.run('Status', 'x')
        self.assertEqual((result.code, result.out, result.err), (1, '', 'unknown command: Status\n'))

    def test_help_lists_every_command_with_its_operands(self):
        for word in ('help', '--help'):
            with self.subTest(word=word):
                result = self.home.run(word)
                self.assertEqual((result.code, result.err), (0, ''))
                self.assertTrue(result.out.startswith('korvane-connector 0.1.0: '), result.out[:80])
                for command in GENERAL_USAGE[len('usage: korvane-connector <'):-len('> [args]\n')].split('|'):
                    self.assertRegex(result.out, r'\n  %s( [^\n]*)?\n      \S' % re.escape(command))
                for command, usage in USAGES.items():
                    self.assertIn('\n  ' + usage[len('usage: korvane-connector '):] + '\n', result.out)

    def test_version_comes_from_the_build(self):
        with open(os.path.join(SOURCE_DIR, 'CMakeLists.txt')) as handle:
            version = re.search(r'project\(\w+ VERSION (\S+)', handle.read()).group(1)
        result = self.home.run('--version')
        self.assertEqual((result.code, result.out, result.err), (0, 'korvane-connector %s\n' % version, ''))

    def test_other_words_keep_their_answers(self):
        for word in ('-h', 'HELP', '--Help', 'version', '-v', 'help-me'):
            with self.subTest(word=word):
                result = self.home.run(word)
                self.assertEqual((result.code, result.out, result.err), (1, '', 'unknown command: %s\n' % word))

    def test_every_command_with_too_few_operands_prints_its_usage(self):
        for command, usage in USAGES.items():
            for given in range(REQUIRED[command]):
                with self.subTest(command=command, operands=given):
                    result = self.home.run(command, *['x'] * given)
                    self.assertEqual((result.code, result.out, result.err), (1, '', usage + '\n'))

    def test_commands_without_operands_answer_and_exit_zero(self):
        for command in ['status', 'capabilities', 'bind-status', 'bind-wallet', 'disconnect-binding',
                        'update-check', 'update-download', 'update-apply', 'server-health']:
            with self.subTest(command=command):
                result = self.home.run(command, 'extra', 'operands', 'ignored')
                self.assertEqual(result.code, 0, result.err)
                self.assertEqual(result.err, '')
                self.assertTrue(result.out.endswith('\n'))

    def test_exchange_commands_connected_and_answer_json(self):
        cases = [('balance', 'bybit'), ('get-position', 'okx', 'BTC_USDT'), ('order-status', 'gate', 'BTC_USDT', '1'),
                 ('cancel-order', 'kucoin', 'BTC_USDT', '1'), ('funding', 'bybit', 'BTC_USDT'),
                 ('close-report', 'okx', 'BTC_USDT'), ('place-open', 'gate', 'BTC_USDT', 'buy', '1', '2', '3'),
                 ('place-close', 'bybit', 'BTC_USDT', 'sell', '1', '2')]
        for args in cases:
            with self.subTest(args=args):
                result = self.home.run(*args)
                self.assertEqual((result.code, result.out), (0, '{"status":"error","reason":"credentials_not_found"}\n'))

    def test_number_operands(self):
        # Whole decimal numbers and nothing else: no first digits read out of a longer text.
        bad = ['', ' ', '+', '-', 'abc', 'x15', '2147483648', '-2147483649', '99999999999999999999',
               '15m', '+3', ' 7', '7 ', '-5', '10.9', '25,5', '1e3', '5abc', '0x10', '\u0661']
        for value in bad:
            with self.subTest(lookback=value):
                result = self.home.run('funding', 'bybit', 'BTC_USDT', value)
                self.assertEqual((result.code, result.out, result.err), (1, '', USAGES['funding'] + '\n'))
            with self.subTest(leverage=value):
                result = self.home.run('place-open', 'bybit', 'BTC_USDT', 'buy', '1', '2', value)
                self.assertEqual((result.code, result.out, result.err), (1, '', USAGES['place-open'] + '\n'))
        for value in ['1', '15', '007', '525600']:
            with self.subTest(good=value):
                self.assertEqual(self.home.run('funding', 'bybit', 'BTC_USDT', value).code, 0)
        for value in ['0', '525601', '2147483647']:
            with self.subTest(lookback_range=value):
                self.assertEqual(self.home.run('funding', 'bybit', 'BTC_USDT', value).code, 1)
        # A well-formed leverage is the operation's to judge (1 to 200): an answer, not a usage error.
        for value in ['0', '1', '200', '201', '2147483647']:
            with self.subTest(leverage_range=value):
                self.assertEqual(self.home.run('place-open', 'bybit', 'X', 'buy', '1', '2', value).code, 0)

    def test_capabilities_lines(self):
        lines = self.home.run('capabilities').lines()
        self.assertEqual(len(lines), 12)
        self.assertTrue(lines[0].startswith('exchange=bybit validate=true'))
        self.assertEqual(lines[11], 'exchange=asterdex validate=false balance=false position=false funding=false '
                                    'close_report=false open=false close=false cancel=false status=false '
                                    'leverage_sync=false margin_mode_sync=false')
        for line in lines[:6]:
            self.assertEqual(line.count('=true'), 11)
        for line in lines[6:]:
            self.assertEqual(line.count('=false'), 11)

    def test_validate_dispatch_without_live_exchange(self):
        cases = [(['Bybit', 'k', 's'], 'invalid', 'unsupported exchange'),
                 (['', 'k', 's'], 'invalid', 'unsupported exchange'),
                 (['okx', '', 's'], 'invalid', 'missing api key or secret'),
                 (['reya', 'k', 's'], 'configured', 'adapter exists, live validation not implemented yet')]
        for args, status, reason in cases:
            with self.subTest(args=args):
                result = self.home.run('validate', *args)
                fields = result.fields()
                self.assertEqual(result.code, 2)
                self.assertEqual([line.split('=')[0] for line in result.lines()],
                                 ['exchange', 'status', 'can_read', 'can_trade', 'withdrawal_enabled',
                                  'credentials_saved', 'checked_at', 'reason'])
                self.assertEqual((fields['status'], fields['reason'], fields['credentials_saved']),
                                 (status, reason, 'false'))
        self.assertEqual(self.home.run('load-credentials', 'reya').out, 'status=missing\n')


class ApplicationRootTest(unittest.TestCase):
    def run_with(self, env_changes, cwd=None):
        env = {k: v for k, v in os.environ.items() if not k.startswith('KORVANE_')}
        env['KORVANE_KEYCHAIN_TOOL'] = '/nonexistent'
        env['KORVANE_RELAY_URL'] = ''
        for key, value in env_changes.items():
            if value is None:
                env.pop(key, None)
            else:
                env[key] = value
        return subprocess.run([CONNECTOR, 'status'], env=env, cwd=cwd, capture_output=True, text=True, timeout=60)

    def test_home_set_empty_and_unset(self):
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as cwd, \
                tempfile.TemporaryDirectory() as tmp:
            self.assertEqual(self.run_with({'HOME': home}).returncode, 0)
            root = os.path.join(home, '.korvane-connector')
            self.assertTrue(os.path.isfile(os.path.join(root, 'device_identity.env')))
            self.assertEqual(stat.S_IMODE(os.stat(root).st_mode), 0o700)
            self.assertEqual(stat.S_IMODE(os.stat(os.path.join(root, 'vault')).st_mode), 0o700)

            self.assertEqual(self.run_with({'HOME': ''}, cwd=cwd).returncode, 0)
            self.assertTrue(os.path.isfile(os.path.join(cwd, '.korvane-connector', 'device_identity.env')))

            # Unset, the home comes from the password database (a unit test shows which); never
            # the shared temporary folder.
            result = self.run_with({'HOME': None, 'TMPDIR': tmp})
            self.assertEqual(result.returncode, 0)
            self.assertEqual(os.listdir(tmp), [])
            self.assertIn('relay_connected=false', result.stdout)

    def test_uncreatable_root_stops_with_its_path(self):
        with tempfile.TemporaryDirectory() as parent:
            blocker = os.path.join(parent, 'not-a-directory')
            open(blocker, 'w').close()
            result = self.run_with({'HOME': blocker})
            self.assertEqual((result.returncode, result.stdout), (1, ''))
            self.assertIn(os.path.join(blocker, '.korvane-connector'), result.stderr)
            # Help and the version need no root: they answer where none can be made.
            for word, printed in (('help', 'usage: korvane-connector <command>'), ('--version', 'korvane-connector ')):
                answer = subprocess.run([CONNECTOR, word], env=dict(os.environ, HOME=blocker), capture_output=True,
                                        text=True, timeout=60)
                self.assertEqual(answer.returncode, 0, word)
                self.assertIn(printed, answer.stdout)


class StateFilesTest(unittest.TestCase):
    def setUp(self):
        self.home = ConnectorHome()
        self.addCleanup(self.home.cleanup)

    def test_identity_is_created_once(self):
        first = self.home.run('status').fields()
        identity = self.home.record('device_identity.env')
        self.assertRegex(identity['device_id'], '^%s[0-9a-f]{12}$' % DEVICE_PREFIX)
        self.assertEqual((identity['platform'], identity['device_label']), (PLATFORM, DEVICE_LABEL))
        self.assertEqual((first['platform'], first['device_label']), (PLATFORM, DEVICE_LABEL))
        self.assertRegex(identity['connector_instance_id'], r'^connector:[0-9a-f]{16}$')
        self.assertEqual(self.home.read('device_identity.env').count('\n'), 6)
        self.assertEqual(identity['paired'], '0')
        self.assertFalse(os.path.exists(self.home.path('pairing.env')))
        second = self.home.run('status').fields()
        self.assertEqual(first['device_id'], second['device_id'])
        self.assertEqual(identity, self.home.record('device_identity.env'))

    def test_identity_rewritten_in_normal_form(self):
        cases = [
            ('device_id=device:macos:abc\n', 'device_id=device:macos:abc\nconnector_instance_id=\ndevice_label=\n'
                                             'platform=\nowner_wallet=\npaired=0\n'),
            ('junk line\nextra=1\ndevice_id=d=1=2\npaired=true\nplatform=bsd\n',
             'device_id=d=1=2\nconnector_instance_id=\ndevice_label=\nplatform=bsd\nowner_wallet=\npaired=0\n'),
            ('device_id=old\ndevice_id=new\r\npaired=1\r\n',
             'device_id=new\nconnector_instance_id=\ndevice_label=\nplatform=\nowner_wallet=\npaired=1\n'),
        ]
        for text, expected in cases:
            with self.subTest(text=text):
                self.home.write('device_identity.env', text)
                self.home.run('status')
                self.assertEqual(self.home.read('device_identity.env'), expected)

    def test_identity_without_device_id_is_regenerated(self):
        self.home.write('device_identity.env', 'device_label=mine\npaired=1\n')
        self.home.run('status')
        identity = self.home.record('device_identity.env')
        self.assertRegex(identity['device_id'], '^' + DEVICE_PREFIX)
        self.assertEqual((identity['device_label'], identity['paired']), (DEVICE_LABEL, '0'))

    def test_identity_of_the_other_platform_keeps_its_ids(self):
        other = ('macos', 'Korvane Connector (macOS)') if PLATFORM == 'linux' else ('linux', 'Korvane Connector (Linux)')
        self.home.write('device_identity.env', 'device_id=device:%s:0123456789ab\nconnector_instance_id=connector:c1\n'
                        'device_label=%s\nplatform=%s\nowner_wallet=0xw\npaired=1\n' % (other[0], other[1], other[0]))
        fields = self.home.run('status').fields()
        self.assertEqual((fields['device_id'], fields['platform'], fields['device_label']),
                         ('device:%s:0123456789ab' % other[0], PLATFORM, DEVICE_LABEL))
        self.assertEqual(self.home.read('device_identity.env'),
                         'device_id=device:%s:0123456789ab\nconnector_instance_id=connector:c1\ndevice_label=%s\n'
                         'platform=%s\nowner_wallet=0xw\npaired=1\n' % (other[0], DEVICE_LABEL, PLATFORM))

    def test_health_and_owner_wallet_reconciliation(self):
        cases = [
            # identity paired, identity wallet, pairing text -> health, owner_wallet line
            ('1', '0xid', 'owner_wallet_address=0xPAIR\nwallet_approval_confirmed=1\n', 'ready', '0xPAIR'),
            ('1', '0xid', 'owner_wallet_address=\nwallet_approval_confirmed=1\n', 'ready', '0xid'),
            ('1', '0xid', 'wallet_approval_confirmed=0\n', 'pairing_required', '0xid'),
            ('0', '0xid', 'owner_wallet_address=0xPAIR\nwallet_approval_confirmed=1\n', 'pairing_required', None),
            ('1', '', None, 'pairing_required', None),
        ]
        for paired, wallet, pairing, health, shown in cases:
            with self.subTest(paired=paired, pairing=pairing):
                self.home.write('device_identity.env', 'device_id=d1\nowner_wallet=%s\npaired=%s\n' % (wallet, paired))
                if pairing is None:
                    if os.path.exists(self.home.path('pairing.env')):
                        os.remove(self.home.path('pairing.env'))
                else:
                    self.home.write('pairing.env', pairing)
                fields = self.home.run('status').fields()
                self.assertEqual(fields['connector_health'], health)
                self.assertEqual(fields.get('owner_wallet'), shown)
                # Reconciliation happens in memory only.
                self.assertEqual(self.home.record('device_identity.env')['owner_wallet'], wallet)

    def test_set_wallet_and_pairing_status(self):
        mixed = '0xAbC' + '0' * 37
        result = self.home.run('set-wallet', mixed)
        self.assertEqual((result.code, result.out), (0, 'owner_wallet_address=%s\npairing_status=unpaired\n' % mixed))
        self.assertEqual(self.home.read('pairing.env'),
                         'owner_wallet_address=' + mixed + '\npairing_status=unpaired\nserver_account_ref=\n'
                         'latest_bind_token=\nlatest_claimed_connector_id=\nplatform_terms_accepted=0\n'
                         'wallet_approval_confirmed=0\n')
        self.home.write('pairing.env', 'pairing_status=\nserver_account_ref=acct=7\n')
        result = self.home.run('set-wallet', '0xdef' + '0' * 37)
        self.assertIn('pairing_status=wallet_set\n', result.out)
        self.assertEqual(self.home.record('pairing.env')['server_account_ref'], 'acct=7')
        identity = self.home.record('device_identity.env')
        self.assertEqual((identity['owner_wallet'], identity['paired']), ('0xdef' + '0' * 37, '0'))

    def test_set_wallet_that_cannot_be_stored_exits_2(self):
        self.home.run('status')
        os.makedirs(self.home.path('pairing.env'))  # a folder where the file should go
        result = self.home.run('set-wallet', '0xabc' + '0' * 37)
        self.assertEqual(result.code, 2)
        self.assertIn('pairing_status=unpaired', result.out)

    def test_twenty_concurrent_runs_leave_every_state_file_whole(self):
        self.home.run('status')
        commands = [['set-wallet', '0x%040d' % i] if i % 2 else ['status'] for i in range(20)]
        with ThreadPoolExecutor(max_workers=20) as pool:
            results = list(pool.map(lambda args: self.home.run(*args), commands))
        self.assertTrue(all(r.code == 0 for r in results))
        identity = self.home.read('device_identity.env').split('\n')
        pairing = self.home.read('pairing.env').split('\n')
        self.assertEqual([line.split('=')[0] for line in identity],
                         ['device_id', 'connector_instance_id', 'device_label', 'platform', 'owner_wallet', 'paired', ''])
        self.assertEqual(len(pairing), 8)
        self.assertRegex(self.home.record('pairing.env')['owner_wallet_address'], r'^0x\d{40}$')
        leftovers = [name for name in os.listdir(self.home.root) if '.tmp-' in name]
        self.assertEqual(leftovers, [])


if __name__ == '__main__':
    unittest.main()
