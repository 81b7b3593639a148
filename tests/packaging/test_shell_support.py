"""The manual pages and completions written from the program's tables: Tab in bash offers what the
built program accepts, the manual renders without a troff warning, and the exchange list comes
from `exchanges` when the program has that command."""
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import unittest

SOURCE_DIR = os.environ.get('KORVANE_SOURCE_DIR') or os.path.abspath(
    os.path.join(os.path.dirname(__file__), '..', '..'))
CONNECTOR = os.environ.get('KORVANE_CONNECTOR_BIN') or os.path.join(SOURCE_DIR, 'build', 'bin', 'korvane-connector')
GENERATOR = os.path.join(SOURCE_DIR, 'packaging', 'shell_support.py')


def generate(connector, out):
    subprocess.run([sys.executable, GENERATOR, '--connector', connector, '--out', out], check=True,
                   capture_output=True, timeout=60)


def bash_complete(script, line):
    """What Tab offers after `line` (its last word being the one completed)."""
    completed = subprocess.run(
        ['bash', '-c', 'source "$1"; COMP_WORDS=($2); [[ $2 == *" " ]] && COMP_WORDS+=("");'
         ' COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _korvane_connector; printf "%s\\n" "${COMPREPLY[@]}"',
         '_', script, line], capture_output=True, text=True, check=True, timeout=30)
    return [word for word in completed.stdout.splitlines() if word]


class ShellSupportTest(unittest.TestCase):
    def setUp(self):
        self.out = tempfile.mkdtemp(prefix='korvane-shell-support-test-')
        self.addCleanup(shutil.rmtree, self.out, ignore_errors=True)

    def test_bash_completes_commands_and_exchange_operands_of_the_built_program(self):
        generate(CONNECTOR, self.out)
        script = os.path.join(self.out, 'korvane-connector.bash')
        cases = [
            ('korvane-connector ', ['help', 'status', 'validate', 'balance', 'place-open', 'server-health']),
            ('korvane-connector get-', ['get-position']),
            ('korvane-connector balance ', ['bybit', 'okx', 'gate', 'bingx', 'kucoin', 'bitget']),
            ('korvane-connector validate k', ['kucoin']),
            ('korvane-connector validate --demo o', ['okx']),
            ('korvane-connector validate --', ['--demo']),
            ('korvane-connector order-status b', ['bybit', 'bingx', 'bitget']),
        ]
        for line, expected in cases:
            with self.subTest(line=line):
                offered = bash_complete(script, line)
                self.assertTrue(set(expected) <= set(offered), offered)
                if not line.endswith(' '):
                    self.assertEqual(sorted(expected), sorted(offered))
        # Only exchange operands complete to exchange names; a symbol or a key does not.
        for line in ('korvane-connector get-position bybit B', 'korvane-connector validate okx o',
                     'korvane-connector status o'):
            with self.subTest(line=line):
                self.assertEqual([], bash_complete(script, line))

    def test_manual_renders_cleanly_and_lists_every_command(self):
        generate(CONNECTOR, self.out)
        help_text = subprocess.run([CONNECTOR, 'help'], capture_output=True, text=True, check=True,
                                   env=dict(os.environ, HOME=self.out)).stdout
        words = [line.split()[0] for line in help_text.splitlines() if line.startswith('  ') and
                 not line.startswith('      ')]
        for page in ('korvane-connector.1', 'KorvaneConnectorGUI.1'):
            with self.subTest(page=page):
                shown = subprocess.run(['man', '--warnings', '-l', os.path.join(self.out, page)],
                                       capture_output=True, text=True, env=dict(os.environ, MANWIDTH='80'),
                                       timeout=60)
                self.assertEqual(0, shown.returncode, shown.stderr)
                self.assertEqual('', shown.stderr)
        page = subprocess.run(['man', '-l', os.path.join(self.out, 'korvane-connector.1')], capture_output=True,
                              text=True, env=dict(os.environ, MANWIDTH='200'), check=True).stdout
        for word in words:
            self.assertIn('\n       ' + word, page)

    def test_exchange_names_come_from_the_exchanges_command_when_there_is_one(self):
        fake = os.path.join(self.out, 'fake-connector')
        with open(fake, 'w') as handle:
            handle.write(textwrap.dedent('''\
                #!/bin/sh
                case "$1" in
                help) printf 'fake: one command\\n\\ncommands:\\n  balance <exchange>\\n      Read it.\\n\\n'
                      printf 'Exchanges: stale.\\n' ;;
                --version) echo "korvane-connector 9.8.7" ;;
                exchanges) echo '[{"name":"alpha","display_name":"Alpha"},{"name":"beta","display_name":"Beta"}]' ;;
                esac
                '''))
        os.chmod(fake, 0o755)
        generate(fake, os.path.join(self.out, 'gen'))
        script = os.path.join(self.out, 'gen', 'korvane-connector.bash')
        self.assertEqual(['alpha', 'beta'], sorted(bash_complete(script, 'korvane-connector balance ')))
        with open(os.path.join(self.out, 'gen', '_korvane-connector')) as handle:
            self.assertIn("'alpha:Alpha'", handle.read())


if __name__ == '__main__':
    unittest.main()
