// Runs independent clients (ccxt and each exchange's own Node SDK) against a running sandbox, per
// exchange and endpoint family, with the right credentials, a wrong secret, a wrong passphrase and a
// 10-minute-old timestamp, and prints one line per case and "N passed, N failed".
//
// The sandbox's addresses come from the KORVANE_* variables the sandbox prints; run.sh sets them.
'use strict';
const fs = require('fs');
const http = require('http');
const ccxt = require('ccxt');
const { RestClientV5: BybitClient } = require('bybit-api');
const { RestClient: OkxClient } = require('okx-api');
const GateApi = require('gate-api');
const { RestClientV2: BitgetClient } = require('bitget-api');
const Kucoin = require('kucoin-universal-sdk');

const env = process.env;
const URLS = {
  bybit: env.KORVANE_BYBIT_BASE_URL, okx: env.KORVANE_OKX_BASE_URL, gate: env.KORVANE_GATE_BASE_URL,
  bingx: env.KORVANE_BINGX_BASE_URL, kucoin: env.KORVANE_KUCOIN_FUTURES_BASE_URL, bitget: env.KORVANE_BITGET_BASE_URL,
};
const LOG = env.KORVANE_SANDBOX_LOG;
const CONTROL = env.KORVANE_SANDBOX_CONTROL;
const STALE_MS = 10 * 60 * 1000;
const SETTLE_MS = 200;

// KuCoin's SDK announces itself on stdout at every client; the table stays the only output.
Kucoin.logger.setGlobalLogger({ info: () => {}, log: () => {}, debug: () => {} });

// The keys each exchange's cases use: one-way (or net) accounts, so that a client's default order
// parameters fit; a KuCoin key that takes key versions 2 and 3 (ccxt sends 2, KuCoin's SDK 3).
const KEYS = {
  bybit: { key: 'bybit-trade-key', secret: 'bybit-trade-secret' },
  okx: { key: 'okx-net-key', secret: 'okx-net-secret', passphrase: 'okx-net-pass' },
  gate: { key: 'gate-key', secret: 'gate-secret' },
  bingx: { key: 'bingx-oneway-key', secret: 'bingx-oneway-secret' },
  kucoin: { key: 'kucoin-v23-key', secret: 'kucoin-v23-secret', passphrase: 'kucoin-v23-pass' },
  bitget: { key: 'bitget-oneway-key', secret: 'bitget-oneway-secret', passphrase: 'bitget-oneway-pass' },
};
const STALE_CODE = { bybit: '10002', okx: '50102', gate: 'REQUEST_EXPIRED', bingx: '100421', kucoin: '400002',
  bitget: '40008' };

// ---- the sandbox ------------------------------------------------------------------------------

function post(url, body) {
  return new Promise((resolve, reject) => {
    const request = http.request(url, { method: 'POST', headers: { 'Content-Type': 'application/json' } }, (reply) => {
      reply.resume();
      reply.on('end', resolve);
    });
    request.on('error', reject);
    request.end(JSON.stringify(body));
  });
}

const control = (command, body) => post(CONTROL + '/' + command, body);

function logSince(offset) {
  const text = fs.readFileSync(LOG, 'utf8').slice(offset);
  return text.split('\n').filter((line) => line.trim()).map((line) => JSON.parse(line));
}

function replyCode(entry) {
  try {
    const reply = JSON.parse(entry.reply);
    const code = reply.retCode ?? reply.code ?? reply.label;
    return code === undefined ? '' : String(code);
  } catch (problem) {
    return '';
  }
}

// ---- clients ----------------------------------------------------------------------------------

function swap(id, base, extra) {
  return Object.assign({
    id, symbol: base + '/USDT:USDT', base, quote: 'USDT', settle: 'USDT', baseId: base, quoteId: 'USDT',
    settleId: 'USDT', type: 'swap', spot: false, margin: false, swap: true, future: false, option: false,
    contract: true, linear: true, inverse: false, active: true, contractSize: 1, taker: 0.0006, maker: 0.0002,
    precision: { amount: 0.001, price: 0.1 },
    limits: { amount: { min: 0.001 }, price: {}, cost: {}, leverage: { min: 1, max: 100 } }, info: {},
  }, extra || {});
}

const CCXT_MARKETS = {
  bybit: swap('BTCUSDT', 'BTC'),
  okx: swap('BTC-USDT-SWAP', 'BTC', { contractSize: 0.01, precision: { amount: 1, price: 0.1 },
    info: { instId: 'BTC-USDT-SWAP', instType: 'SWAP' } }),
  gate: swap('BTC_USDT', 'BTC', { settleId: 'usdt', contractSize: 0.0001, precision: { amount: 1, price: 0.1 } }),
  bingx: swap('BTC-USDT', 'BTC'),
  kucoin: swap('XBTUSDTM', 'BTC', { baseId: 'XBT', contractSize: 0.001, precision: { amount: 1, price: 0.1 } }),
  bitget: swap('BTCUSDT', 'BTC', { info: { symbol: 'BTCUSDT' } }),
};
const CCXT_IDS = { bybit: 'bybit', okx: 'okx', gate: 'gate', bingx: 'bingx', kucoin: 'kucoinfutures', bitget: 'bitget' };

// Points every API URL of a ccxt exchange at the sandbox, keeping each URL's path.
function pointAt(value, origin) {
  if (typeof value === 'string') return value.replace(/^https?:\/\/[^/]+/, origin);
  if (value && typeof value === 'object') {
    for (const name of Object.keys(value)) value[name] = pointAt(value[name], origin);
  }
  return value;
}

function makeCcxt(exchange, credentials) {
  const client = new ccxt[CCXT_IDS[exchange]]({
    apiKey: credentials.key, secret: credentials.secret, password: credentials.passphrase, timeout: 10000,
    // A classic (not unified) account: ccxt would otherwise ask the exchange's unified-account API.
    enableRateLimit: false, options: { adjustForTimeDifference: false, defaultType: 'swap', uta: false },
  });
  pointAt(client.urls.api, URLS[exchange]);
  const market = CCXT_MARKETS[exchange];
  client.setMarkets({ [market.symbol]: market }, { USDT: { id: 'USDT', code: 'USDT', precision: 0.01 },
    BTC: { id: 'BTC', code: 'BTC', precision: 0.00000001 } });
  return client;
}

const SYMBOL = 'BTC/USDT:USDT';

// ccxt: family -> function(client, context) that calls the family's endpoints; the context names
// the exchange and the client's reply check.
const CCXT_FAMILIES = {
  time: (c) => c.fetchTime(),
  balance: (c) => c.fetchBalance({ type: 'swap' }),
  positions: (c) => c.fetchPositions([SYMBOL]),
  leverage: (c, { exchange }) => c.setLeverage(exchange === 'bybit' ? 3 + Math.floor(Math.random() * 90) : 5, SYMBOL,
    { bingx: { side: 'BOTH' }, okx: { marginMode: 'isolated' }, bitget: { marginMode: 'isolated' } }[exchange] || {}),
  order: async (c, { exchange }) => {
    const amount = { okx: 1, gate: 1, kucoin: 1 }[exchange] || 0.01;
    const params = { okx: { tdMode: 'isolated' }, kucoin: { leverage: 5, marginMode: 'ISOLATED' },
      bitget: { marginMode: 'isolated' } }[exchange] || {};
    const order = await c.createOrder(SYMBOL, 'limit', 'buy', amount, 60000, params);
    await c.fetchOrder(order.id, SYMBOL, { acknowledged: true });
    await c.cancelOrder(order.id, SYMBOL);
  },
  funding: (c) => c.fetchFundingHistory(SYMBOL),
  fills: (c) => c.fetchMyTrades(SYMBOL),
};

// The exchanges' own SDKs: exchange -> { make(credentials), families }.
const SDKS = {
  bybit: {
    name: 'bybit-api',
    make: (k) => new BybitClient({ key: k.key, secret: k.secret, baseUrl: URLS.bybit, enable_time_sync: false,
      recv_window: 5000 }),
    check: (reply) => { if (reply.retCode !== 0) throw new Error(JSON.stringify(reply)); return reply; },
    families: {
      time: (c) => c.getServerTime(),
      balance: (c) => c.getWalletBalance({ accountType: 'UNIFIED' }),
      positions: (c) => c.getPositionInfo({ category: 'linear', symbol: 'BTCUSDT' }),
      leverage: (c) => {
        const value = String(3 + Math.floor(Math.random() * 90));
        return c.setLeverage({ category: 'linear', symbol: 'BTCUSDT', buyLeverage: value, sellLeverage: value });
      },
      order: async (c, { check }) => {
        const placed = check(await c.submitOrder({ category: 'linear', symbol: 'BTCUSDT', side: 'Buy',
          orderType: 'Limit', qty: '0.01', price: '60000', timeInForce: 'GTC' }));
        check(await c.getActiveOrders({ category: 'linear', symbol: 'BTCUSDT', orderId: placed.result.orderId }));
        return c.cancelOrder({ category: 'linear', symbol: 'BTCUSDT', orderId: placed.result.orderId });
      },
      funding: (c) => c.getTransactionLog({ category: 'linear', type: 'SETTLEMENT' }),
      fills: (c) => c.getExecutionList({ category: 'linear', symbol: 'BTCUSDT' }),
    },
  },
  okx: {
    name: 'okx-api',
    make: (k) => new OkxClient({ apiKey: k.key, apiSecret: k.secret, apiPass: k.passphrase, baseUrl: URLS.okx }),
    check: (reply) => reply,
    families: {
      time: (c) => c.getServerTime(),
      balance: (c) => c.getBalance({ ccy: 'USDT' }),
      positions: (c) => c.getPositions({ instType: 'SWAP', instId: 'BTC-USDT-SWAP' }),
      leverage: (c) => c.setLeverage({ instId: 'BTC-USDT-SWAP', lever: '5', mgnMode: 'isolated' }),
      order: async (c) => {
        const placed = await c.submitOrder({ instId: 'BTC-USDT-SWAP', tdMode: 'isolated', side: 'buy',
          ordType: 'limit', px: '60000', sz: '1' });
        await c.getOrderDetails({ instId: 'BTC-USDT-SWAP', ordId: placed[0].ordId });
        return c.cancelOrder({ instId: 'BTC-USDT-SWAP', ordId: placed[0].ordId });
      },
      funding: (c) => c.getBills({ instType: 'SWAP', type: '8' }),
      fills: (c) => c.getFills({ instType: 'SWAP', instId: 'BTC-USDT-SWAP' }),
    },
  },
  gate: {
    name: 'gate-api',
    make: (k) => {
      const client = new GateApi.ApiClient();
      client.basePath = URLS.gate + '/api/v4';
      client.setApiKeySecret(k.key, k.secret);
      return { futures: new GateApi.FuturesApi(client), spot: new GateApi.SpotApi(client) };
    },
    check: (reply) => reply,
    families: {
      time: (c) => c.spot.getSystemTime(),
      balance: (c) => c.futures.listFuturesAccounts('usdt'),
      positions: (c) => c.futures.listPositions('usdt', { holding: true }),
      leverage: (c) => c.futures.updatePositionLeverage('usdt', 'BTC_USDT', '5'),
      order: async (c) => {
        const order = new GateApi.FuturesOrder();
        order.contract = 'BTC_USDT';
        order.size = 1;
        order.price = '60000';
        order.tif = GateApi.FuturesOrder.Tif.Gtc;
        const placed = await c.futures.createFuturesOrder('usdt', order);
        await c.futures.getFuturesOrder('usdt', String(placed.body.id));
        return c.futures.cancelFuturesOrder('usdt', String(placed.body.id));
      },
      funding: (c) => c.futures.listFuturesAccountBook('usdt', { type: 'fund', contract: 'BTC_USDT' }),
      fills: (c) => c.futures.getMyTrades('usdt', { contract: 'BTC_USDT' }),
    },
  },
  kucoin: {
    name: 'kucoin-universal-sdk',
    make: (k) => {
      const option = new Kucoin.ClientOptionBuilder().setKey(k.key).setSecret(k.secret).setPassphrase(k.passphrase)
        .setFuturesEndpoint(URLS.kucoin).setSpotEndpoint(URLS.kucoin).setBrokerEndpoint(URLS.kucoin)
        .setTransportOption(new Kucoin.TransportOptionBuilder().setTimeout(10000).build()).build();
      const service = new Kucoin.DefaultClient(option).restService();
      return { futures: service.getFuturesService(), account: service.getAccountService() };
    },
    check: (reply) => reply,
    families: {
      time: (c) => c.futures.getMarketApi().getServerTime(),
      balance: (c) => c.account.getAccountApi().getFuturesAccount({ currency: 'USDT' }),
      positions: (c) => c.futures.getPositionsApi().getPositionDetails(
        Kucoin.Futures.Positions.GetPositionDetailsReq.create({ symbol: 'XBTUSDTM' })),
      leverage: (c) => c.futures.getPositionsApi().modifyMarginLeverage(
        Kucoin.Futures.Positions.ModifyMarginLeverageReq.create({ symbol: 'XBTUSDTM', leverage: '5' })),
      order: async (c) => {
        const orders = c.futures.getOrderApi();
        const placed = await orders.addOrder(Kucoin.Futures.Order.AddOrderReq.create({ clientOid: 'peer-' + Date.now(),
          side: 'buy', symbol: 'XBTUSDTM', type: 'limit', price: '60000', size: 1, leverage: 5, timeInForce: 'GTC',
          marginMode: 'ISOLATED' }));
        await orders.getOrderByOrderId(Kucoin.Futures.Order.GetOrderByOrderIdReq.builder().setOrderId(placed.orderId)
          .build());
        return orders.cancelOrderById(Kucoin.Futures.Order.CancelOrderByIdReq.create({ orderId: placed.orderId }));
      },
      funding: (c) => c.futures.getFundingFeesApi().getPrivateFundingHistory(
        Kucoin.Futures.FundingFees.GetPrivateFundingHistoryReq.create({ symbol: 'XBTUSDTM',
          startAt: Date.now() - 86400000, endAt: Date.now(), maxCount: 10 })),
      fills: (c) => c.futures.getOrderApi().getTradeHistory(
        Kucoin.Futures.Order.GetTradeHistoryReq.create({ symbol: 'XBTUSDTM' })),
    },
  },
  bitget: {
    name: 'bitget-api',
    make: (k) => new BitgetClient({ apiKey: k.key, apiSecret: k.secret, apiPass: k.passphrase, baseUrl: URLS.bitget }),
    check: (reply) => reply,
    families: {
      time: (c) => c.getServerTime(),
      balance: (c) => c.getFuturesAccountAssets({ productType: 'USDT-FUTURES' }),
      positions: (c) => c.getFuturesPosition({ symbol: 'BTCUSDT', productType: 'USDT-FUTURES', marginCoin: 'USDT' }),
      leverage: (c) => c.setFuturesLeverage({ symbol: 'BTCUSDT', productType: 'USDT-FUTURES', marginCoin: 'USDT',
        leverage: '5' }),
      order: async (c) => {
        const placed = await c.futuresSubmitOrder({ symbol: 'BTCUSDT', productType: 'USDT-FUTURES',
          marginMode: 'isolated', marginCoin: 'USDT', size: '0.01', price: '60000', side: 'buy', orderType: 'limit',
          force: 'gtc' });
        await c.getFuturesOrder({ symbol: 'BTCUSDT', productType: 'USDT-FUTURES', orderId: placed.data.orderId });
        return c.futuresCancelOrder({ symbol: 'BTCUSDT', productType: 'USDT-FUTURES', orderId: placed.data.orderId });
      },
      funding: (c) => c.getFuturesAccountBills({ productType: 'USDT-FUTURES', symbol: 'BTCUSDT',
        businessType: 'contract_settle_fee' }),
      fills: (c) => c.getFuturesFills({ productType: 'USDT-FUTURES', symbol: 'BTCUSDT' }),
    },
  },
};

// ---- cases ------------------------------------------------------------------------------------

// variant -> what the sandbox must have done: accepted every request, or refused for the reason.
const VARIANTS = {
  right: { credentials: (k) => k, expect: 'accepted' },
  'wrong secret': { credentials: (k) => Object.assign({}, k, { secret: k.secret + 'x' }), expect: 'auth' },
  'wrong passphrase': { credentials: (k) => Object.assign({}, k, { passphrase: k.passphrase + 'x' }), expect: 'auth' },
  'stale clock': { credentials: (k) => k, expect: 'stale' },
};

function judge(exchange, variant, error, entries) {
  const private_ = entries.filter((e) => e.verdict !== 'accepted' || e.path.indexOf('time') < 0);
  if (entries.length === 0) return 'no request reached the sandbox' + (error ? ': ' + error : '');
  const codes = entries.map(replyCode);
  if (variant.expect === 'accepted') {
    const bad = entries.find((e) => e.verdict !== 'accepted' || e.status >= 400);
    if (bad) return `${bad.method} ${bad.path} ${bad.verdict} ${bad.status} ${bad.reply.slice(0, 160)}`;
    return error ? 'client failed: ' + error : '';
  }
  const refused = private_.find((e) => e.verdict === 'rejected');
  if (!refused) return 'not refused: ' + entries.map((e) => `${e.path} ${e.verdict}`).join(', ');
  const code = replyCode(refused);
  const seen = entries.map((e) => `${e.path} ${e.verdict} ${replyCode(e)}`).join(', ');
  if (variant.expect === 'stale' && code !== STALE_CODE[exchange]) return 'stale refused with ' + code + ': ' + seen;
  if (variant.expect === 'auth' && code === STALE_CODE[exchange]) return 'wrong key refused as stale';
  if (!error) return 'client reported success for a refusal (' + codes.join(',') + ')';
  return '';
}

async function runCase(rows, exchange, clientName, family, variantName, call) {
  const variant = VARIANTS[variantName];
  const offset = fs.statSync(LOG).size;
  if (variantName === 'stale clock') await control('clock', { offset_ms: STALE_MS });
  let error = '';
  try {
    await Promise.race([call(variant.credentials(KEYS[exchange])),
      new Promise((_, reject) => setTimeout(() => reject(new Error('timed out')), 15000))]);
  } catch (problem) {
    error = String((problem && (problem.message || problem.body && JSON.stringify(problem.body))) || problem)
      .replace(/\s+/g, ' ').slice(0, 160);
  } finally {
    // A client may still have requests in flight after its first refusal (ccxt sends some in
    // parallel): they belong to this case and meet the same clock.
    await new Promise((resolve) => setTimeout(resolve, SETTLE_MS));
    if (variantName === 'stale clock') await control('clock', { offset_ms: 0 });
  }
  const entries = logSince(offset).filter((e) => e.site === exchange || (exchange === 'okx' && e.site === 'okx'));
  const problem = judge(exchange, variant, error, entries);
  rows.push({ exchange, client: clientName, family, variant: variantName, requests: entries.length,
    result: problem ? 'FAIL' : 'pass', note: problem });
}

async function main() {
  const rows = [];
  const exchanges = Object.keys(URLS);
  for (const exchange of exchanges) {
    const sdk = SDKS[exchange];
    const clients = [['ccxt', (k) => makeCcxt(exchange, k), CCXT_FAMILIES, (r) => r]];
    if (sdk) clients.push([sdk.name, sdk.make, sdk.families, sdk.check]);
    for (const [name, make, families, check] of clients) {
      for (const [family, run] of Object.entries(families)) {
        await runCase(rows, exchange, name, family, 'right', async (k) => check(await run(make(k), { exchange, check })));
      }
      const variants = ['wrong secret', 'stale clock'].concat(KEYS[exchange].passphrase ? ['wrong passphrase'] : []);
      for (const variantName of variants) {
        await runCase(rows, exchange, name, 'balance', variantName,
          async (k) => check(await families.balance(make(k), { exchange, check })));
      }
    }
  }
  const widths = [8, 22, 10, 17, 4, 5];
  const line = (cells) => cells.map((cell, i) => String(cell).padEnd(widths[i] || 0)).join(' ').trimEnd();
  console.log(line(['exchange', 'client', 'family', 'variant', 'reqs', 'result']) + ' note');
  for (const row of rows) {
    console.log(line([row.exchange, row.client, row.family, row.variant, row.requests, row.result]) +
      (row.note ? ' ' + row.note : ''));
  }
  const passed = rows.filter((row) => row.result === 'pass').length;
  console.log(`${passed} passed, ${rows.length - passed} failed`);
  process.exitCode = passed === rows.length ? 0 : 1;
}

main().catch((problem) => {
  console.error(problem);
  process.exitCode = 2;
});
