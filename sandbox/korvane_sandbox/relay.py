"""The relay's connector API with a scripted binding life, plus control requests that play the
browser side (the wallet signature) and provoke the failure answers."""
import json
import threading

from .signing import compact


class Relay:
    def __init__(self, tokens=()):
        self.lock = threading.Lock()
        self.tokens = {token: {'wallet': None, 'connector': None} for token in tokens}
        self.bindings = {}  # connector id -> {'state': ..., 'wallet': ..., 'token': ...}
        self.scripted = {}  # path -> (status, body) answered instead of the real logic

    # -- control (the browser and the test) --------------------------------------------------
    def issue_token(self, token):
        with self.lock:
            self.tokens.setdefault(token, {'wallet': None, 'connector': None})

    def sign(self, token, wallet):
        """The owner signs in the browser: the claim under `token` becomes authorized."""
        with self.lock:
            entry = self.tokens.get(token)
            if entry is None or entry['connector'] is None:
                return False
            entry['wallet'] = wallet
            self.bindings[entry['connector']] = {'state': 'authorized', 'wallet': wallet, 'token': token}
            return True

    def set_state(self, connector, state):
        """`state` is 'session_missing' or 'token_missing'."""
        with self.lock:
            self.bindings.setdefault(connector, {'wallet': None, 'token': None})['state'] = state

    def script(self, path, status, body):
        """Answers `path` with `body` from now on; a None body restores the real logic."""
        with self.lock:
            if body is None:
                self.scripted.pop(path, None)
            else:
                self.scripted[path] = (status, body)

    # -- the connector API --------------------------------------------------------------------
    def handle(self, request):
        with self.lock:
            scripted = self.scripted.get(request.path)
        if scripted is not None:
            return scripted[0], scripted[1], 'scripted'
        if request.method == 'GET' and request.path == '/api/security/config':
            return 200, compact({'status': 'ok', 'walletAuth': 'eip4361', 'chainId': 1,
                                 'connectorApi': 'v1'}), 'accepted'
        if request.method == 'POST' and request.path in ('/api/connector/claim-token', '/api/connector/bind'):
            if (request.header('Content-Type') or '') != 'application/json':
                return 415, compact({'status': 'error', 'reason': 'unsupported_media_type'}), 'rejected'
            try:
                body = json.loads(request.body)
            except ValueError:
                return 400, compact({'status': 'error', 'reason': 'invalid_json'}), 'rejected'
            if not isinstance(body, dict) or set(body) != self.expected_members(request.path):
                return 400, compact({'status': 'error', 'reason': 'invalid_request'}), 'rejected'
            if request.path.endswith('claim-token'):
                return self.claim(body)
            return self.bind(body)
        if request.method == 'GET' and request.path == '/api/connector/bind-status':
            query = dict(part.split('=', 1) for part in request.query.split('&') if '=' in part)
            return self.status(query.get('connectorId', ''), request.header('x-korvane-wallet'))
        return 404, compact({'status': 'error', 'reason': 'not_found'}), 'no_route'

    @staticmethod
    def expected_members(path):
        if path.endswith('claim-token'):
            return {'token', 'connectorId', 'connectorLabel'}
        return {'wallet', 'connectorId', 'connectorLabel'}

    def claim(self, body):
        with self.lock:
            entry = self.tokens.get(body['token'])
            if entry is None:
                return 404, compact({'status': 'error', 'reason': 'token_not_found'}), 'rejected'
            connector = body['connectorId']
            if entry['connector'] not in (None, connector):
                return 409, compact({'status': 'error', 'reason': 'token_already_claimed'}), 'rejected'
            entry['connector'] = connector
            if entry['wallet']:
                return 200, compact({'status': 'ok', 'bindState': 'authorized', 'wallet': entry['wallet'],
                                     'connectorId': connector}), 'accepted'
            self.bindings.setdefault(connector, {'state': 'pending_signature', 'wallet': None,
                                                 'token': body['token']})
            return 200, compact({'status': 'pending_signature', 'bindState': 'pending_signature',
                                 'connectorId': connector, 'waiting_for_signature': True}), 'accepted'

    def bind(self, body):
        with self.lock:
            self.bindings[body['connectorId']] = {'state': 'authorized', 'wallet': body['wallet'], 'token': None}
        return 200, compact({'status': 'ok', 'bindState': 'authorized', 'wallet': body['wallet'],
                             'connectorId': body['connectorId']}), 'accepted'

    def status(self, connector, wallet):
        with self.lock:
            binding = self.bindings.get(connector)
            if binding is None or binding['state'] == 'session_missing':
                return 401, compact({'status': 'error', 'reason': 'session_missing'}), 'accepted'
            if binding['state'] == 'token_missing':
                return 200, compact({'status': 'ok', 'bindState': 'token_missing', 'connectorId': connector}), 'accepted'
            if binding['state'] == 'authorized' and binding['wallet'] and wallet and \
                    binding['wallet'].lower() != wallet.lower():
                return 403, compact({'status': 'error', 'reason': 'wallet_mismatch'}), 'rejected'
            answer = {'status': 'ok', 'bindState': binding['state'], 'connectorId': connector}
            if binding['wallet']:
                answer['wallet'] = binding['wallet']
            return 200, compact(answer), 'accepted'
