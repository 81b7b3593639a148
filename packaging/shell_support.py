#!/usr/bin/env python3
"""Writes the manual pages and the bash and zsh completions from the built program's own tables,
so a new command or exchange reaches them with the next build and nothing is listed twice.

    python3 packaging/shell_support.py --connector build/bin/korvane-connector --out DIR

The command words and their operands come from `korvane-connector help`; the exchanges from
`korvane-connector exchanges` (a JSON list), or from the help's "Exchanges: ..." sentence when the
program has no such command.
"""
import argparse
import gzip
import json
import os
import subprocess
import sys
import tempfile

PROGRAM = 'korvane-connector'
WINDOW = 'KorvaneConnectorGUI'


class Command:
    def __init__(self, word, operands, summary=''):
        self.word = word
        self.operands = operands  # as written in the help, e.g. ['<exchange>', '[passphrase|-]']
        self.summary = summary

    @property
    def options(self):
        """The command's flags, such as '--demo' from '[--demo]': they take no position."""
        return [o.strip('[]') for o in self.operands if o.strip('[]').startswith('--')]

    def exchange_positions(self):
        """1-based positions, flags not counted, of the operands that take an exchange name."""
        positional = [o for o in self.operands if not o.strip('[]').startswith('--')]
        return [i + 1 for i, operand in enumerate(positional) if operand.strip('<>[]') == 'exchange']


class Help:
    def __init__(self, intro, commands, notes):
        self.intro = intro  # the first paragraph
        self.commands = commands
        self.notes = notes  # the lines after the command list


def run(connector, *args):
    # A clean environment and a throw-away home: the program sets up its application folder on
    # every start, and a build must neither touch the builder's own nor depend on who runs it.
    with tempfile.TemporaryDirectory(prefix='korvane-shell-support-') as home:
        env = {'PATH': os.environ.get('PATH', '/usr/bin:/bin'), 'HOME': home, 'LC_ALL': 'C'}
        return subprocess.run([connector, *args], capture_output=True, text=True, timeout=60, env=env,
                              stdin=subprocess.DEVNULL)


def parse_help(text):
    """Reads the help's layout: an intro, 'commands:', then per command a line indented two spaces
    ('word operands...') and its summary indented six; a blank line ends the list."""
    lines = text.splitlines()
    if 'commands:' not in lines:
        raise ValueError('the help has no "commands:" list')
    start = lines.index('commands:')
    intro = []
    for line in lines[:start]:
        if line.startswith('usage:'):
            break
        intro.append(line)
    commands, index = [], start + 1
    while index < len(lines) and lines[index].strip():
        line = lines[index]
        if line.startswith('      ') and commands:
            commands[-1].summary = (commands[-1].summary + ' ' + line.strip()).strip()
        elif line.startswith('  '):
            word, *operands = line.split()
            commands.append(Command(word, operands))
        index += 1
    if not commands:
        raise ValueError('the help lists no command')
    notes = [line for line in lines[index:] if line.strip()]
    return Help(' '.join(line.strip() for line in intro if line.strip()), commands, notes)


def exchanges_from_help(notes):
    """The names in the sentence 'Exchanges: a, b, c. ...'."""
    for line in notes:
        if line.startswith('Exchanges:'):
            listed = line[len('Exchanges:'):].split('.')[0]
            names = [name.strip() for name in listed.split(',') if name.strip()]
            return [(name, name) for name in names]
    raise ValueError('the help names no exchanges')


def read_exchanges(connector, notes):
    """(name, display name) pairs: from `exchanges` when the program has it, else from the help."""
    answer = run(connector, 'exchanges')
    if answer.returncode == 0:
        try:
            listed = json.loads(answer.stdout)
            pairs = [(entry['name'], entry.get('display_name') or entry['name']) for entry in listed]
            if pairs and all(isinstance(name, str) and name for name, _ in pairs):
                return pairs
        except (ValueError, KeyError, TypeError):
            pass
    return exchanges_from_help(notes)


def shell_word_list(words):
    return ' '.join(words)


def bash_completion(commands, exchanges):
    words = ['help', '--help', '--version'] + [c.word for c in commands]
    cases = ['%s:%d' % (c.word, position + 1) for c in commands for position in c.exchange_positions()]
    lines = [
        '# bash completion for %s, generated from its command and exchange tables at build time.' % PROGRAM,
        '_korvane_connector() {',
        '    local cur=${COMP_WORDS[COMP_CWORD]}',
        '    COMPREPLY=()',
        '    if ((COMP_CWORD == 1)); then',
        '        mapfile -t COMPREPLY < <(compgen -W "%s" -- "$cur")' % shell_word_list(words),
        '        return',
        '    fi',
        '    # Flags (--demo) complete anywhere and take no position.',
        '    case "${COMP_WORDS[1]}:$cur" in',
    ]
    for c in commands:
        if c.options:
            lines.append('        %s:-*) mapfile -t COMPREPLY < <(compgen -W "%s" -- "$cur"); return ;;'
                         % (c.word, shell_word_list(c.options)))
    lines += [
        '    esac',
        '    local position=$COMP_CWORD i',
        '    for ((i = 2; i < COMP_CWORD; i++)); do',
        '        [[ ${COMP_WORDS[i]} == --* ]] && ((position--))',
        '    done',
        '    # Command word and the current word\'s position (the command itself is 1).',
        '    case "${COMP_WORDS[1]}:$position" in',
    ]
    if cases:
        lines += [
            '        %s)' % '|'.join(cases),
            '            mapfile -t COMPREPLY < <(compgen -W "%s" -- "$cur") ;;' % shell_word_list(
                name for name, _ in exchanges),
        ]
    lines += [
        '    esac',
        '}',
        'complete -F _korvane_connector %s' % PROGRAM,
        '',
    ]
    return '\n'.join(lines)


def zsh_quote(text):
    return "'" + text.replace("'", "'\\''") + "'"


def zsh_completion(commands, exchanges):
    described = [('help', 'List every command with its operands.')] + [(c.word, c.summary) for c in commands]
    cases = ['%s:%d' % (c.word, position) for c in commands for position in c.exchange_positions()]
    lines = [
        '#compdef %s' % PROGRAM,
        '# zsh completion for %s, generated from its command and exchange tables at build time.' % PROGRAM,
        # Not "commands": zsh keeps a special parameter of that name.
        'local -a korvane_commands korvane_exchanges',
        'korvane_commands=(',
    ]
    lines += ['    %s' % zsh_quote(word.replace(':', '\\:') + ':' + summary) for word, summary in described]
    lines += [')', 'korvane_exchanges=(']
    lines += ['    %s' % zsh_quote(name.replace(':', '\\:') + ':' + display) for name, display in exchanges]
    lines += [
        ')',
        'if (( CURRENT == 2 )); then',
        "    _describe -t commands 'command' korvane_commands",
        '    return',
        'fi',
        '# Command word and the position of the operand being completed; flags take none.',
        'local position=$((CURRENT - 2)) i',
        'for ((i = 3; i < CURRENT; i++)); do',
        '    [[ ${words[i]} == --* ]] && ((position--))',
        'done',
        'case "${words[2]}:$position" in',
    ]
    if cases:
        lines += ['    %s)' % '|'.join(cases), "        _describe -t exchanges 'exchange' korvane_exchanges ;;"]
    lines += ['esac', '']
    return '\n'.join(lines)


def troff(text):
    """Text safe in a troff line: backslashes doubled, a leading dot or quote neutralised,
    hyphens kept as hyphens (not typeset as dashes)."""
    text = text.replace('\\', '\\e').replace('-', '\\-')
    if text.startswith(('.', "'")):
        text = '\\&' + text
    return text


def header(name, version, title):
    return ['.TH %s 1 "" "%s %s" "%s"' % (troff(name.upper()), troff(PROGRAM), troff(version), troff(title))]


def connector_manual(help_, exchanges, version):
    lines = header(PROGRAM, version, 'User Commands')
    lines += ['.SH NAME', '%s \\- %s' % (troff(PROGRAM), troff(help_.intro.split(': ', 1)[-1]))]
    lines += ['.SH SYNOPSIS', '.B %s' % troff(PROGRAM), '.I command', '[\\fIoperands\\fR]', '.br',
              '.B %s' % troff(PROGRAM), '\\fBhelp\\fR | \\fB\\-\\-version\\fR']
    lines += ['.SH DESCRIPTION',
              'One run is one command. Answers are printed as key=value lines or as one JSON text.']
    for note in help_.notes:
        if not note.startswith('Exchanges:'):
            lines += ['.PP', troff(note)]
    lines += ['.SH COMMANDS']
    for command in help_.commands:
        lines += ['.TP', '\\fB%s\\fR%s' % (troff(command.word), ''.join(
            ' \\fI%s\\fR' % troff(operand) for operand in command.operands)), troff(command.summary)]
    lines += ['.SH EXCHANGES', 'An \\fIexchange\\fR operand is one of:']
    for index, (name, display) in enumerate(exchanges):
        separator = ',' if index + 1 < len(exchanges) else '.'
        shown = separator if name == display else '" (%s)%s"' % (troff(display), separator)
        lines.append('.BR %s %s' % (troff(name), shown))
    lines += ['.PP', 'Symbols are contract names such as BTC_USDT.']
    lines += ['.SH FILES', '.TP', '.I ~/.korvane\\-connector',
              'The application folder: device identity, credential index, file vault, downloaded updates.']
    lines += ['.SH SEE ALSO', '.BR %s (1)' % troff(WINDOW), '']
    return '\n'.join(lines)


def window_manual(version):
    lines = header(WINDOW, version, 'User Commands')
    lines += ['.SH NAME', '%s \\- the Korvane Connector desktop window' % troff(WINDOW)]
    lines += ['.SH SYNOPSIS', '.B %s' % troff(WINDOW)]
    lines += ['.SH DESCRIPTION',
              'The window keeps exchange API keys, checks them, shows balances and pairs this machine with '
              'the web terminal. It runs',
              '.BR %s (1)' % troff(PROGRAM),
              'for every action, the one installed next to it unless',
              '.B KORVANE_CONNECTOR_PATH',
              'names another. Credentials are written to its standard input, never put on its command line.']
    lines += ['.SH ENVIRONMENT', '.TP', '.B KORVANE_CONNECTOR_PATH', 'The connector program to run instead.']
    lines += ['.SH SEE ALSO', '.BR %s (1)' % troff(PROGRAM), '']
    return '\n'.join(lines)


def write(path, text, compressed=False):
    """Writes `text` to `path` (and, when `compressed`, to `path`.gz as manual pages are installed)
    whole under a temporary name, so an interrupted build leaves no half file behind."""
    data = text.encode('utf-8')
    outputs = [(path, data)]
    if compressed:
        # No time stamp inside: the same program gives the same package bytes.
        outputs.append((path + '.gz', gzip.compress(data, compresslevel=9, mtime=0)))
    for name, content in outputs:
        with open(name + '.tmp', 'wb') as handle:
            handle.write(content)
        os.replace(name + '.tmp', name)


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--connector', required=True, help='the built korvane-connector')
    parser.add_argument('--out', required=True, help='folder for the generated files')
    args = parser.parse_args(argv)

    answer = run(args.connector, 'help')
    version = run(args.connector, '--version')
    if answer.returncode != 0 or version.returncode != 0:
        print('%s help / --version failed: %s' % (args.connector, (answer.stderr or version.stderr).strip()),
              file=sys.stderr)
        return 1
    try:
        help_ = parse_help(answer.stdout)
        exchanges = read_exchanges(args.connector, help_.notes)
    except ValueError as error:
        print('cannot read the command table: %s' % error, file=sys.stderr)
        return 1
    version_number = version.stdout.split()[-1]

    os.makedirs(args.out, exist_ok=True)
    write(os.path.join(args.out, PROGRAM + '.bash'), bash_completion(help_.commands, exchanges))
    write(os.path.join(args.out, '_' + PROGRAM), zsh_completion(help_.commands, exchanges))
    write(os.path.join(args.out, PROGRAM + '.1'), connector_manual(help_, exchanges, version_number),
          compressed=True)
    write(os.path.join(args.out, WINDOW + '.1'), window_manual(version_number), compressed=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
