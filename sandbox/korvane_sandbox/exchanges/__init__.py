"""The six exchanges' sites: one module per exchange (routes, reply shapes, seed) and the site that
authenticates and dispatches."""
from . import bingx, bitget, bybit, gate, kucoin, okx
from .site import ExchangeSite

# The one list of exchanges: everything else about them is read from their modules.
EXCHANGES = [bybit, okx, gate, bingx, kucoin, bitget]

# Site name -> the module that serves it (OKX's regional sites and the demo hosts share one).
MODULES = {site: module for module in EXCHANGES for site, _ in module.SITES}
# Site name -> the connector's variable for its base URL, in table order.
SITES = [site for module in EXCHANGES for site in module.SITES]
# Site name -> its signature check.
VERIFIERS = {site: module.verifier(site) for module in EXCHANGES for site, _ in module.SITES}
# Further variables a site answers for: (variable, site).
ALIASES = [alias for module in EXCHANGES for alias in getattr(module, 'ALIASES', [])]

__all__ = ['ALIASES', 'EXCHANGES', 'ExchangeSite', 'MODULES', 'SITES', 'VERIFIERS']
