"""Small helpers the exchange modules share."""


def is_decimal(text):
    """True for a plain decimal: digits, optionally a point and more digits (or a point and digits)."""
    whole, point, fraction = text.partition('.')
    if point and not fraction:
        return False
    return bool(whole or fraction) and (whole == '' or whole.isdigit() and whole.isascii()) and \
        (fraction == '' or fraction.isdigit() and fraction.isascii())


def money(account, field, default):
    """An amount of the account's USDT balance from the accounts file, as text."""
    return str(account.get('usdt', {}).get(field, default))


def decimal_text(value):
    """Returns a positive decimal (number, or text the way exchanges take it) as text; None otherwise."""
    if isinstance(value, bool) or value is None:
        return None
    if isinstance(value, (int, float)):
        return ('%.10f' % value).rstrip('0').rstrip('.') if value > 0 else None
    if isinstance(value, str) and is_decimal(value) and float(value) > 0:
        return value
    return None


def whole_number(value):
    """Returns a whole number of contracts or lots (an int, or its text) as int; None for a fraction,
    zero, or anything else."""
    if isinstance(value, bool):
        return None
    if isinstance(value, int):
        return value
    if isinstance(value, float):
        return int(value) if value.is_integer() else None
    if isinstance(value, str):
        digits = value.strip().removeprefix('-')
        return int(value) if digits.isdigit() and digits.isascii() else None
    return None


def int_param(params, name, default=None):
    """An integer query parameter; `default` when it is absent or not a number."""
    try:
        return int(params[name]) if params.get(name) not in (None, '') else default
    except ValueError:
        return default
