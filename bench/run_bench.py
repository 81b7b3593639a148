#!/usr/bin/env python3
"""Wall time of whole korvane-connector runs against the local sandbox, next to a bare curl of the
same URL in the same rounds (the floor: one process, one request), the processor time of each, and
the child processes each command starts. The ratio is the median of the per-round ratios, so a
slow moment of the machine hits both sides of a round alike.

    python3 bench/run_bench.py [--rounds 25] [--connector build/bin/korvane-connector]
"""
import argparse
import os
import resource
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
PATHS = {  # the URL a bare curl fetches: the command's own (its first, for several requests)
    ('balance', 'bybit'): '/v5/account/wallet-balance?accountType=UNIFIED',
    ('balance', 'okx'): '/api/v5/account/balance?ccy=USDT',
    ('balance', 'gate'): '/api/v4/futures/usdt/accounts',
    ('get-position', 'bybit'): '/v5/position/list?category=linear&symbol=BTCUSDT&settleCoin=USDT',
    ('get-position', 'okx'): '/api/v5/account/positions?instType=SWAP&instId=BTC-USDT-SWAP',
    ('get-position', 'gate'): '/api/v4/futures/usdt/positions?holding=true',
    ('place-open', 'bybit'): '/v5/position/set-leverage',
    ('place-open', 'okx'): '/api/v5/account/set-leverage',
    ('place-open', 'gate'): '/api/v4/futures/usdt/positions/BTC_USDT/leverage?leverage=2',
    ('validate', 'okx'): '/api/v5/account/config',
}
BASES = {'bybit': 'KORVANE_BYBIT_BASE_URL', 'okx': 'KORVANE_OKX_BASE_URL', 'gate': 'KORVANE_GATE_BASE_URL'}
COMMANDS = {
    'balance': lambda ex: ['balance', ex],
    'get-position': lambda ex: ['get-position', ex, 'BTC_USDT'],
    'place-open': lambda ex: ['place-open', ex, 'BTC_USDT', 'buy', '1', '100', '2'],
    # A good key checked and saved: every site and path tried, as the check always does.
    'validate': lambda ex: ['validate', ex, *EXCHANGES[ex]],
}
TARGETS = {'balance': 1.1, 'get-position': 1.1, 'place-open': 1.4, 'validate': 2.0}


def timed(argv, env):
    """Returns the wall time and the processor time (user + system) of one run."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(argv, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


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
        samples = {pair: ([], []) for pair in PATHS}
        for _ in range(args.rounds):
            # Interleaved: each round measures every pair once, so drift hits all alike.
            for (command, exchange), (ours, floor) in samples.items():
                ours.append(timed([connector, *COMMANDS[command](exchange)], env))
                url = env[BASES[exchange]] + PATHS[(command, exchange)]
                floor.append(timed(['curl', '-sS', '--max-time', '20', '-o', os.devnull, url], env))

        print('%-13s %-6s %9s %9s %7s %7s %8s %9s' % ('command', 'exch', 'ours ms', 'curl ms', 'ratio', 'target',
                                                      'cpu x', 'children'))
        failed = False
        for (command, exchange), (ours, floor) in samples.items():
            ratio = statistics.median(o[0] / f[0] for o, f in zip(ours, floor))
            cpu = statistics.median(o[1] for o in ours) / max(statistics.median(f[1] for f in floor), 1e-6)
            children = child_processes([connector, *COMMANDS[command](exchange)], env)
            failed = failed or ratio > TARGETS[command]
            print('%-13s %-6s %9.2f %9.2f %7.2f %7.1f %8.2f %9s' % (
                command, exchange, statistics.median(o[0] for o in ours) * 1000,
                statistics.median(f[0] for f in floor) * 1000, ratio, TARGETS[command], cpu,
                'n/a' if children is None else children))
        print('all within target' if not failed else 'some ratios exceed their target')
    finally:
        home.cleanup()
        sandbox.stop()


if __name__ == '__main__':
    main()
