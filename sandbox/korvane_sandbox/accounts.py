"""The accounts file: API keys per exchange and the account settings real users have (position
modes, OKX regional sites, KuCoin key versions, Gate dual mode, read-only keys), and the situations
an exchange refuses requests in (key permissions, IP whitelist, margin, leverage, rate limits)."""
import copy
import json
import os

from . import exchanges

EXCHANGES = tuple(module.NAME for module in exchanges.EXCHANGES)
OKX_REGIONS = ('global', 'eea', 'us')

# Setting name -> (allowed values, default) per exchange, from each exchange's module. A setting the
# file leaves out takes the default, which is how every key behaved before settings existed.
SETTINGS = {module.NAME: dict(module.SETTINGS) for module in exchanges.EXCHANGES}
SAMPLE = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), 'accounts.sample.json')


def sample_keys(path=SAMPLE):
    """exchange -> (key, secret, passphrase) of the first account the accounts file lists for it: the
    one table of keys the tests and the bench use."""
    with open(path, encoding='utf-8') as handle:
        raw = json.load(handle)
    return {name: (raw[name][0]['key'], raw[name][0]['secret'], raw[name][0].get('passphrase', ''))
            for name in EXCHANGES}


# Situations every exchange can be put in. `key_permissions` None: as the accounts file describes the
# key (Bybit's permission lists; elsewhere read and trade). The rate limits refuse the next N reads
# (GET) or order placements, counting down.
KEY_PERMISSIONS = (None, 'read', 'read_trade', 'read_trade_withdraw')
SITUATIONS = {
    'key_permissions': (KEY_PERMISSIONS, None),
    'ip_allowed': ((True, False), True),
    'margin_refused': ((True, False), False),
    'leverage_refused': ((True, False), False),
    'rate_limit_reads': (None, 0),
    'rate_limit_orders': (None, 0),
}
for _settings in SETTINGS.values():
    _settings.update(SITUATIONS)


class SettingError(ValueError):
    """A setting name or value the exchange does not have."""


def check_setting(exchange, name, value):
    """Returns the value as stored; raises SettingError when the exchange has no such setting or value."""
    settings = SETTINGS.get(exchange, {})
    if name not in settings:
        raise SettingError('%s has no setting %r' % (exchange, name))
    allowed, _ = settings[name]
    if name == 'sites':
        if not isinstance(value, list) or not value or any(v not in OKX_REGIONS for v in value):
            raise SettingError('sites must be a non-empty list of %s' % ', '.join(OKX_REGIONS))
        return list(value)
    if name == 'key_versions':
        versions = [str(v) for v in value] if isinstance(value, list) else None
        if not versions or any(v not in ('1', '2', '3') for v in versions):
            raise SettingError('key_versions must be a non-empty list of "1", "2", "3"')
        return versions
    if name in ('rate_limit_reads', 'rate_limit_orders'):
        if isinstance(value, bool) or not isinstance(value, int) or value < 0:
            raise SettingError('%s must be a whole number of requests, 0 or more' % name)
        return value
    if name == 'cross_contracts':
        if not isinstance(value, list) or any(not isinstance(v, str) or not v for v in value):
            raise SettingError('cross_contracts must be a list of contract names')
        return list(value)
    if value not in allowed:
        raise SettingError('%s must be one of %s' % (name, ', '.join(json.dumps(a) for a in allowed)))
    return value


def normalise(exchange, account):
    """Returns a copy of one account with every setting present."""
    account = copy.deepcopy(account)
    # Files written before key versions were a list name the one version the key takes.
    if exchange == 'kucoin' and 'key_versions' not in account and 'key_version' in account:
        account['key_versions'] = [str(account.pop('key_version'))]
    for name, (_, default) in SETTINGS[exchange].items():
        account[name] = check_setting(exchange, name, account.get(name, copy.deepcopy(default)))
    return account


class Accounts:
    """Every exchange's keys, changeable at run time and resettable to what the file says."""

    def __init__(self, raw):
        self.raw = raw
        self.reset()

    @classmethod
    def from_file(cls, path):
        with open(path, encoding='utf-8') as handle:
            return cls(json.load(handle))

    def reset(self):
        self.by_exchange = {name: [normalise(name, a) for a in self.raw.get(name, [])] for name in EXCHANGES}
        self.relay_tokens = list(self.raw.get('relay', {}).get('tokens', []))

    def find(self, exchange, key):
        """Returns the account of `key` on `exchange`; None when there is none."""
        if key is None:
            return None
        return next((a for a in self.by_exchange.get(exchange, []) if a.get('key') == key), None)

    def change(self, exchange, key, settings):
        """Applies `settings` to one account; raises SettingError (nothing changed) on a bad one."""
        account = self.find(exchange, key)
        if account is None:
            raise SettingError('no %s account with key %r' % (exchange, key))
        if not isinstance(settings, dict) or not settings:
            raise SettingError('"set" must be an object naming at least one setting')
        checked = {name: check_setting(exchange, name, value) for name, value in settings.items()}
        account.update(checked)
        return account

    def get(self, name, default=None):
        """Mapping-style access, so a plain dict of lists can stand in for this class in tests."""
        return self.by_exchange.get(name, default)


def find_account(accounts, exchange, key):
    """Looks a key up in an Accounts or in a plain {exchange: [account, ...]} dict."""
    if key is None:
        return None
    return next((a for a in accounts.get(exchange, []) or [] if a.get('key') == key), None)
