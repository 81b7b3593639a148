"""The six exchanges' sites: one module per exchange (routes, reply shapes, seed) and the site that
authenticates and dispatches."""
from . import bingx, bitget, bybit, gate, kucoin, okx
from .site import ExchangeSite

# Site name -> the module that serves it; OKX's three regional sites share one module.
MODULES = {'bybit': bybit, 'okx': okx, 'okx_eea': okx, 'okx_us': okx, 'gate': gate, 'bingx': bingx,
           'kucoin': kucoin, 'bitget': bitget, 'bybit_demo': bybit, 'gate_demo': gate, 'bingx_demo': bingx}

__all__ = ['ExchangeSite', 'MODULES']
