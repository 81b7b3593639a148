#!/usr/bin/env python3
"""Wall time of whole korvane-connector runs against the local sandbox, next to a bare curl of the
same URL in the same rounds (the floor: one curl process), and the child processes each command
starts.

    python3 bench/run_bench.py [--rounds 25] [--connector build/bin/korvane-connector]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOP, 'tests', 'e2e'))
from harness import ConnectorHome, Sandbox  # noqa: E402

EXCHANGES = {'bybit': ('bybit-trade-key', 'bybit-trade-secret'), 'okx': ('okx-key', 'okx-secret', 'okx-pass'),
             'gate': ('gate-key', 'gate-secret')}
PATHS = {  # the URL a bare curl fetches for each exchange's one-request reads
    'bybit': '/v5/account/wallet-balance?accountType=UNIFIED',
    'okx': '/api/v5/account/balance?ccy=USDT',
    'gate': '/api/v4/futures/usdt/accounts',
}
BASES = {'bybit': 'KORVANE_BYBIT_BASE_URL', 'okx': 'KORVANE_OKX_BASE_URL', 'gate': 'KORVANE_GATE_BASE_URL'}
COMMANDS = {
    'balance': lambda ex: ['balance', ex],
    'get-position': lambda ex: ['get-position', ex, 'BTC_USDT'],
    'place-open': lambda ex: ['place-open', ex, 'BTC_USDT', 'buy', '1', '100', '2'],
}
TARGETS = {'balance': 1.5, 'get-position': 1.5, 'place-open': 2.5}


def timed(argv, env):
    start = time.perf_counter()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def child_processes(argv, env):
    """Counts the programs a run executes (itself excluded), with strace when it is installed."""
    if not shutil.which('strace'):
        return None
    with tempfile.NamedTemporaryFile(suffix='.trace') as trace:
        subprocess.run(['strace', '-f', '-qq', '-e', 'trace=execve', '-o', trace.name, *argv], env=env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
        with open(trace.name) as handle:
            return sum(1 for line in handle if 'execve(' in line and '= 0' in line) - 1


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('--rounds', type=int, default=25)
    parser.add_argument('--connector', default=os.path.join(TOP, 'build', 'bin', 'korvane-connector'))
    args = parser.parse_args()
    os.environ['KORVANE_CONNECTOR_BIN'] = args.connector

    sandbox = Sandbox()
    # Credentials in the file store: the test keychain is a Python script whose start-up would
    # swamp what is measured here (the real keychain tool is a native program).
    home = ConnectorHome(sandbox, keychain=False)
    try:
        for exchange, credentials in EXCHANGES.items():
            home.run('validate', exchange, *credentials)
        env = dict(home.env)
        connector = os.path.abspath(args.connector)
        samples = {(command, ex): ([], []) for command in COMMANDS for ex in EXCHANGES}
        for _ in range(args.rounds):
            # Interleaved: each round measures every pair once, so drift hits all alike.
            for (command, exchange), (ours, floor) in samples.items():
                ours.append(timed([connector, *COMMANDS[command](exchange)], env))
                floor.append(timed(['curl', '-sS', '--max-time', '20', env[BASES[exchange]] + PATHS[exchange]], env))

        print('%-13s %-6s %10s %10s %7s %7s %9s' % ('command', 'exch', 'ours ms', 'curl ms', 'ratio', 'target', 'children'))
        failed = False
        for (command, exchange), (ours, floor) in samples.items():
            ratio = statistics.median(ours) / statistics.median(floor)
            children = child_processes([connector, *COMMANDS[command](exchange)], env)
            failed = failed or ratio > TARGETS[command]
            print('%-13s %-6s %10.2f %10.2f %7.2f %7.1f %9s' % (
                command, exchange, statistics.median(ours) * 1000, statistics.median(floor) * 1000, ratio,
                TARGETS[command], 'n/a' if children is None else children))
        print('all within target' if not failed else 'some ratios exceed their target')
    finally:
        home.cleanup()
        sandbox.stop()


if __name__ == '__main__':
    main()
