#!/usr/bin/env python3
"""A file-backed stand-in for the keychain tool, with the same command-line contract:

  add-generic-password -U -s SERVICE -a ACCOUNT -w SECRET   store (update when present)
  find-generic-password -s SERVICE -a ACCOUNT -w             print the secret alone
  delete-generic-password -s SERVICE -a ACCOUNT              delete

Items live in the JSON file named by KORVANE_FAKE_KEYCHAIN (default: fake-keychain.json in the
working directory). With KORVANE_FAKE_KEYCHAIN_FAIL=1 every command fails, like a locked keychain.
"""
import fcntl
import json
import os
import sys
import tempfile


def main(argv):
    if os.environ.get('KORVANE_FAKE_KEYCHAIN_FAIL') == '1' or not argv:
        print('security: SecKeychain operation failed', file=sys.stderr)
        return 1
    store = os.environ.get('KORVANE_FAKE_KEYCHAIN', 'fake-keychain.json')
    command, options = argv[0], {}
    rest = argv[1:]
    while rest:
        flag = rest.pop(0)
        if flag in ('-s', '-a', '-w') and rest and not (flag == '-w' and command == 'find-generic-password'):
            options[flag] = rest.pop(0)
        else:
            options[flag] = True
    # Concurrent runs take turns: each reads, changes and replaces the store under one lock.
    with open(store + '.lock', 'a') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        return run(command, options, store)


def run(command, options, store):
    items = {}
    if os.path.exists(store):
        with open(store, encoding='utf-8', errors='surrogateescape') as handle:
            items = json.load(handle)
    name = '%s\x1f%s' % (options.get('-s'), options.get('-a'))
    if command == 'add-generic-password':
        if name in items and '-U' not in options:
            return 45
        items[name] = options.get('-w', '')
    elif command == 'find-generic-password':
        if name not in items:
            print('security: SecKeychainSearchCopyNext: The specified item could not be found in the keychain.',
                  file=sys.stderr)
            return 44
        sys.stdout.write(items[name] + '\n')
        return 0
    elif command == 'delete-generic-password':
        if name not in items:
            return 44
        del items[name]
    else:
        return 2
    # A unique temporary name: two writers never share one half-written file.
    descriptor, temporary = tempfile.mkstemp(prefix=os.path.basename(store) + '.', dir=os.path.dirname(store) or '.')
    with os.fdopen(descriptor, 'w', encoding='utf-8', errors='surrogateescape') as handle:
        json.dump(items, handle)
    os.replace(temporary, store)
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1:]))
