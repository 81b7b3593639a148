#!/usr/bin/env python3
"""Wall time of whole korvane-connector runs against the local sandbox, next to a bare curl of the
same URL in the same rounds (the floor: one process, one request), the processor time of each, and
the child processes each command starts. The ratio is the median of the per-round ratios, so a
slow moment of the machine hits both sides of a round alike.

    python3 bench/run_bench.py [--rounds 25] [--connector build/bin/korvane-connector]

With --latency-ms N every exchange site is reached through a proxy that adds an N ms round trip
(bench/latency_proxy.py), and each command on all six exchanges is reported with its median
time, its ratio to one curl of the command's first URL through the same proxy, and the round
trips it waited for (counted by the proxy: one per connection, one per request-reply turn).

    python3 bench/run_bench.py --latency-ms 50 [--rounds 9]
"""
import argparse
import json
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(TOP, 'tests', 'e2e'))
from harness import KEYS, ConnectorHome, Sandbox  # noqa: E402
from korvane_sandbox.exchanges import ALIASES, SITES  # noqa: E402
from latency_proxy import ProxySet  # noqa: E402

EXCHANGES = {exchange: KEYS[exchange] for exchange in ('bybit', 'okx', 'gate')}
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
    parser.add_argument('--latency-ms', type=float, help='add this round trip to every exchange site')
    args = parser.parse_args()
    os.environ['KORVANE_CONNECTOR_BIN'] = args.connector
    if args.latency_ms is not None:
        return latency_main(args)

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


# Latency mode: all six exchanges (KEYS), with the sandbox's accounts.
# The live sites, and the further hosts some of them answer for, all behind the proxy.
SITE_VARIABLES = {site: variable for site, variable in SITES if not site.endswith('_demo')}
LATENCY_COMMANDS = {
    'balance': lambda ex, order: ['balance', ex],
    'get-position': lambda ex, order: ['get-position', ex, 'BTC_USDT'],
    'order-status': lambda ex, order: ['order-status', ex, 'BTC_USDT', order],
    'place-open': lambda ex, order: ['place-open', ex, 'BTC_USDT', 'buy', '1', '100', '2'],
    'validate': lambda ex, order: ['validate', ex, *KEYS[ex]],
}


def order_id_of(output):
    """The order id in a place-open answer: the exchange's own reply to the order, under "place"."""
    try:
        answer = json.loads(output)
    except ValueError:
        return None

    def find(value):
        if isinstance(value, dict):
            for name in ('orderId', 'ordId', 'order_id', 'id'):
                if isinstance(value.get(name), (str, int)) and value[name] != '':
                    return str(value[name])
            value = list(value.values())
        if isinstance(value, list):
            for item in value:
                found = find(item)
                if found:
                    return found
        return None

    body = answer.get('body') if isinstance(answer, dict) else None
    return find(body.get('place')) if isinstance(body, dict) else None


def first_request(sandbox, home, argv):
    """Runs `argv` once and returns the site URL variable and path of its first request: what the
    floor's curl fetches."""
    mark = sandbox.mark()
    run = subprocess.run(argv, env=home.env, capture_output=True, text=True, check=False, timeout=120)
    # A command that fails fast would look fast: only successful runs are worth timing.
    if run.returncode != 0 or not (run.stdout.startswith('{"status":"ok"') or 'status=valid' in run.stdout):
        raise SystemExit('%s did not succeed: %s' % (' '.join(argv[1:]), (run.stdout + run.stderr)[:300]))
    entries = sandbox.requests(since=mark)
    if not entries:
        raise SystemExit('%s sent no request' % ' '.join(argv[1:]))
    first = entries[0]
    return SITE_VARIABLES[first['site']], first['path'] + ('?' + first['query'] if first['query'] else '')


def latency_main(args):
    rtt = args.latency_ms
    sandbox = Sandbox()
    proxies = ProxySet(rtt)
    home = ConnectorHome(sandbox, keychain=False)
    try:
        for variable in [*SITE_VARIABLES.values(), *(alias for alias, _ in ALIASES)]:
            port = urllib.parse.urlsplit(sandbox.env[variable]).port
            home.env[variable] = 'http://127.0.0.1:%d' % proxies.add(port)
        connector = os.path.abspath(args.connector)
        orders, floors = {}, {}
        for exchange, credentials in KEYS.items():
            if home.run('validate', exchange, *credentials).code != 0:
                raise SystemExit('validate %s failed against the sandbox' % exchange)
            opened = home.run(*LATENCY_COMMANDS['place-open'](exchange, None))
            orders[exchange] = order_id_of(opened.out)
            if orders[exchange] is None:
                raise SystemExit('place-open %s gave no order id: %s' % (exchange, opened.out[:300]))
        pairs = [(command, exchange) for command in LATENCY_COMMANDS for exchange in KEYS]
        for command, exchange in pairs:
            argv = [connector, *LATENCY_COMMANDS[command](exchange, orders[exchange])]
            variable, path = first_request(sandbox, home, argv)
            floors[(command, exchange)] = home.env[variable] + path
        samples = {pair: ([], [], []) for pair in pairs}
        for _ in range(args.rounds):
            # Interleaved, as above: each round runs every pair once, then its curl.
            for (command, exchange), (ours, floor, trips) in samples.items():
                proxies.counter.take()
                ours.append(timed([connector, *LATENCY_COMMANDS[command](exchange, orders[exchange])],
                                  home.env)[0])
                connections, turns = proxies.counter.take()
                trips.append(connections + turns)
                floor.append(timed(['curl', '-sS', '--max-time', '20', '-o', os.devnull,
                                    floors[(command, exchange)]], home.env)[0])

        print('round trip %g ms, %d rounds; round trips = connections + request-reply turns, counted by '
              'the proxy' % (rtt, args.rounds))
        print('%-13s %-7s %9s %9s %7s %12s %12s' % ('command', 'exch', 'ours ms', 'curl ms', 'ratio',
                                                    'round trips', 'time / rtt'))
        for (command, exchange), (ours, floor, trips) in samples.items():
            median = statistics.median(ours)
            print('%-13s %-7s %9.1f %9.1f %7.2f %12g %12.1f' % (
                command, exchange, median * 1000, statistics.median(floor) * 1000,
                statistics.median(o / f for o, f in zip(ours, floor)), statistics.median(trips),
                median * 1000 / rtt))
    finally:
        home.cleanup()
        proxies.stop()
        sandbox.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
