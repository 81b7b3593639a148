"""Pairing with the relay: every transition of the binding life, read from the two state files,
and the exact requests the relay receives."""
import json
import os
import re
import unittest

from harness import CLOSED_URL, DEVICE_LABEL, RELAY_LABEL, SandboxTestCase

WALLET = '0x1111222233334444555566667777888899990000'
PAIRING_KEYS = ['owner_wallet_address', 'pairing_status', 'server_account_ref', 'latest_bind_token',
                'latest_claimed_connector_id', 'platform_terms_accepted', 'wallet_approval_confirmed']


class BindingTest(SandboxTestCase):
    token_counter = 0

    def setUp(self):
        super().setUp()
        self.device = self.home.run('status').fields()['device_id']

    def tearDown(self):
        for path in ('/api/connector/claim-token', '/api/connector/bind-status', '/api/connector/bind'):
            self.sandbox.control('relay/script', {'path': path, 'body': None})

    def new_token(self):
        BindingTest.token_counter += 1
        token = 'token-%d' % BindingTest.token_counter
        self.sandbox.control('relay/token', {'token': token})
        return token

    def pairing(self):
        return self.home.record('pairing.env')

    def identity(self):
        return self.home.record('device_identity.env')

    def run_logged(self, *args, env=None):
        mark = self.sandbox.mark()
        result = self.home.run(*args, env=env)
        return result, self.sandbox.requests(since=mark, site='relay')

    def claim(self):
        token = self.new_token()
        result, _ = self.run_logged('claim-token', token)
        self.assertIn('"status":"pending_signature"', result.out)
        return token

    def script(self, path, body, status=200):
        self.sandbox.control('relay/script', {'path': path, 'body': body, 'status': status})

    def assert_unpaired(self):
        pairing, identity = self.pairing(), self.identity()
        self.assertEqual((pairing['owner_wallet_address'], pairing['pairing_status'], pairing['latest_bind_token'],
                          pairing['latest_claimed_connector_id'], pairing['platform_terms_accepted'],
                          pairing['wallet_approval_confirmed']), ('', 'unpaired', '', '', '0', '0'))
        self.assertEqual((identity['owner_wallet'], identity['paired']), ('', '0'))

    def test_fresh_installation_waits_for_a_token_without_asking_the_relay(self):
        result, requests = self.run_logged('bind-status')
        self.assertEqual(result.out, '{"status":"ok","bindState":"token_waiting","connectorId":"%s",'
                                     '"pairingStatus":"unpaired"}\n' % self.device)
        self.assertEqual(requests, [])

    def test_whole_binding_life(self):
        token = self.new_token()
        result, requests = self.run_logged('claim-token', token)
        self.assertEqual(result.out, requests[0]['reply'] + '\n')
        self.assertEqual((requests[0]['method'], requests[0]['path'], requests[0]['query']),
                         ('POST', '/api/connector/claim-token', ''))
        self.assertEqual(requests[0]['body'], '{"token":"%s","connectorId":"%s","connectorLabel":"%s"}'
                         % (token, self.device, DEVICE_LABEL))
        self.assertIn('Content-Type: application/json', self.header_lines(requests[0], ['Content-Type']))
        pairing = self.pairing()
        self.assertEqual((pairing['latest_bind_token'], pairing['latest_claimed_connector_id'],
                          pairing['pairing_status'], pairing['wallet_approval_confirmed']),
                         (token, self.device, 'pending_signature', '0'))
        self.assertEqual(self.identity()['paired'], '0')

        # While the owner has not signed, the answer is built locally after asking the claim again.
        result, requests = self.run_logged('bind-status')
        self.assertEqual(result.out, '{"status":"ok","bindState":"pending_signature","connectorId":"%s",'
                                     '"pairingStatus":"pending_signature"}\n' % self.device)
        self.assertEqual([r['path'] for r in requests], ['/api/connector/claim-token'])

        self.sandbox.control('relay/sign', {'token': token, 'wallet': WALLET})
        result, requests = self.run_logged('bind-status')
        self.assertEqual([r['path'] for r in requests], ['/api/connector/claim-token', '/api/connector/bind-status'])
        status_request = requests[1]
        self.assertEqual(status_request['query'], 'connectorId=' + self.device)
        self.assertEqual(self.header_lines(status_request, ['x-korvane-wallet']), ['x-korvane-wallet: ' + WALLET])
        self.assertEqual(result.out, status_request['reply'] + '\n')
        self.assertIn('"bindState":"authorized"', result.out)
        pairing, identity = self.pairing(), self.identity()
        self.assertEqual([pairing[k] for k in PAIRING_KEYS], [WALLET, 'bound', '', '', '', '1', '1'])
        self.assertEqual((identity['owner_wallet'], identity['paired']), (WALLET, '1'))
        status = self.home.run('status').fields()
        self.assertEqual((status['connector_health'], status['owner_wallet']), ('ready', WALLET))

        health, requests = self.run_logged('server-health')
        self.assertEqual(self.header_lines(requests[0], ['x-korvane-wallet']), [])
        self.assertEqual((requests[0]['method'], requests[0]['path']), ('GET', '/api/security/config'))
        self.assertEqual(json.loads(health.out)['wallet_address'], WALLET)
        self.assertEqual(json.loads(health.out)['message']['status'], 'ok')

        result = self.home.run('disconnect-binding')
        self.assertEqual(result.out, '{"status":"ok","state":"disconnected"}\n')
        self.assert_unpaired()
        self.assertEqual(self.home.run('status').fields()['connector_health'], 'pairing_required')
        self.assertIn('"bindState":"token_waiting"', self.home.run('bind-status').out)

    def test_lost_session_or_token_disconnects(self):
        for state in ('session_missing', 'token_missing'):
            with self.subTest(state=state):
                token = self.claim()
                self.sandbox.control('relay/sign', {'token': token, 'wallet': WALLET})
                self.home.run('bind-status')
                self.home.write('pairing.env', re.sub('server_account_ref=.*', 'server_account_ref=acct-1',
                                                      self.home.read('pairing.env')))
                self.sandbox.control('relay/state', {'connectorId': self.device, 'state': state})
                result = self.home.run('bind-status')
                self.assertEqual(result.out, '{"status":"ok","bindState":"token_waiting","connectorId":"%s",'
                                             '"pairingStatus":"unpaired"}\n' % self.device)
                self.assert_unpaired()
                self.assertEqual(self.pairing()['server_account_ref'], 'acct-1')

    def test_relay_still_pending_with_a_known_wallet(self):
        self.claim()
        self.home.run('set-wallet', WALLET)
        result, requests = self.run_logged('bind-status')
        self.assertEqual(result.out, requests[-1]['reply'] + '\n')
        pairing = self.pairing()
        self.assertEqual((pairing['pairing_status'], pairing['latest_claimed_connector_id'],
                          pairing['wallet_approval_confirmed']), ('pending_signature', self.device, '0'))
        self.assertEqual(self.identity()['paired'], '0')

    def test_claim_markers(self):
        # Markers count only as top-level members of a 2xx JSON reply.
        cases = [('{"status":"ok"}', 200, True), ('{"status":"pending_signature"}', 200, True),
                 ('{"waiting_for_signature":true}', 200, True), ('{"state":"waiting_for_signature"}', 200, False),
                 ('{"status":"queued"}', 200, False), ('{"status":"ok"}', 409, False),
                 ('{"status":"error","reason":"token_expired","state":"waiting_for_signature"}', 410, False),
                 ('{"result":{"status":"ok"}}', 200, False)]
        for answer, status, accepted in cases:
            with self.subTest(answer=answer, status=status):
                self.home.run('disconnect-binding')
                self.script('/api/connector/claim-token', answer, status=status)
                result = self.home.run('claim-token', 'scripted-token')
                self.assertEqual(result.out, answer + '\n')
                self.assertEqual(self.pairing()['latest_bind_token'], 'scripted-token' if accepted else '')

    def test_claim_errors_change_nothing(self):
        self.assertEqual(self.home.run('claim-token', '').out, '{"status":"error","reason":"token_missing"}\n')
        self.assertIn('"reason":"token_not_found"', self.home.run('claim-token', 'unknown-token').out)
        result = self.home.run('claim-token', 'x', env={'KORVANE_RELAY_URL': CLOSED_URL})
        self.assertEqual(result.out, '{"status":"error","reason":"claim_token_failed"}\n')
        self.assertFalse(os.path.exists(self.home.path('pairing.env')))

    def test_relay_wallet_must_be_the_users(self):
        self.home.run('set-wallet', WALLET)
        before = (self.home.read('pairing.env'), self.home.read('device_identity.env'))
        other = '0x' + 'ee' * 20
        mismatch = '{"status":"error","reason":"relay_wallet_mismatch","wallet":"%s","relay_wallet":"%%s"}\n' % WALLET
        # (answer, HTTP status, printed): none of these may bind or change the stored wallet.
        cases = [('{"status":"ok","bindState":"authorized","wallet":"0xBROKEN', 200, None),
                 ('{"status":"ok","bindState":"authorized","wallet":"%s"}' % other, 200, mismatch % other),
                 ('{"status":"ok","bindState":"authorized","wallet":"0xNEW"}', 200, mismatch % '0xNEW'),
                 ('{"status":"ok","bindState":"pending_signature","wallet":"0x1\\n"}', 200, mismatch % '0x1\\n'),
                 ('{"status":"error","reason":"wallet_mismatch","conflictingBinding":{"bindState":"authorized",'
                  '"wallet":"%s"}}' % other, 403, None),
                 ('{"status":"error","bindState":"authorized","wallet":"%s"}' % WALLET, 403, None)]
        for answer, status, printed in cases:
            with self.subTest(answer=answer, status=status):
                self.script('/api/connector/bind-status', answer, status=status)
                result = self.home.run('bind-status')
                if printed is not None:
                    self.assertEqual(result.out, printed)
                json.loads(result.out)
                self.assertEqual((self.home.read('pairing.env'), self.home.read('device_identity.env')), before)
        # The same address in other letter case binds; the address stays as the user entered it.
        mixed = '0xAbCdEf' + '0' * 34
        self.home.run('set-wallet', mixed)
        self.script('/api/connector/bind-status', '{"status":"ok","bindState":"authorized","wallet":"%s"}'
                    % mixed.lower())
        self.home.run('bind-status')
        self.assertEqual((self.pairing()['pairing_status'], self.pairing()['owner_wallet_address']), ('bound', mixed))

    def test_other_answers_change_nothing(self):
        self.home.run('set-wallet', WALLET)
        before = self.home.read('pairing.env')
        # A reply that is not JSON is quoted, never copied into the output.
        wrapped = '{"status":"error","reason":"invalid_response","kind":"bind_status","http_status":500,"body_text":%s}'
        for answer, printed in (('{"status":"ok","bindState":"revoked"}', '{"status":"ok","bindState":"revoked"}'),
                                ('<html>500</html>', wrapped % '"<html>500</html>"')):
            self.script('/api/connector/bind-status', answer, status=500)
            self.assertEqual(self.home.run('bind-status').out, printed + '\n')
            self.assertEqual(self.home.read('pairing.env'), before)
        result = self.home.run('bind-status', env={'KORVANE_RELAY_URL': CLOSED_URL})
        self.assertEqual(result.out, '{"status":"error","reason":"bind_status_failed"}\n')
        self.assertEqual(self.home.read('pairing.env'), before)

    def test_bind_wallet(self):
        self.assertEqual(self.home.run('bind-wallet').out, '{"status":"error","reason":"wallet_missing"}\n')
        self.home.run('set-wallet', WALLET)
        result = self.home.run('bind-wallet', env={'KORVANE_RELAY_URL': CLOSED_URL})
        self.assertEqual(result.out, '{"status":"error","reason":"bind_request_failed"}\n')
        self.assertEqual((self.identity()['paired'], self.pairing()['pairing_status']), ('0', 'unpaired'))
        self.script('/api/connector/bind', '{"status":"error","reason":"wallet_rejected"}', status=403)
        self.home.run('bind-wallet')
        self.assertEqual(self.identity()['paired'], '0')
        self.tearDown()

        result, requests = self.run_logged('bind-wallet')
        self.assertEqual(requests[0]['body'], '{"wallet":"%s","connectorId":"%s","connectorLabel":"%s"}'
                         % (WALLET, self.device, RELAY_LABEL))
        self.assertEqual(result.out, requests[0]['reply'] + '\n')
        self.assertEqual((self.identity()['paired'], self.pairing()['pairing_status'],
                          self.pairing()['wallet_approval_confirmed']), ('1', 'bound', '1'))

    def test_values_are_checked_before_they_are_sent_or_stored(self):
        for token in ('tok"en\\","connectorId":"evil', 'tok\nowner_wallet_address=0x33\npairing_status=bound',
                      'x' * 513, 'a b'):
            with self.subTest(token=token):
                result, requests = self.run_logged('claim-token', token)
                self.assertEqual((result.out, requests), ('{"status":"error","reason":"invalid_token"}\n', []))
        for wallet in ('0x"quoted', '0x' + '1' * 39, '0x' + 'g' * 40, WALLET + '\npaired=1', ' ' + WALLET):
            with self.subTest(wallet=wallet):
                result = self.home.run('set-wallet', wallet)
                self.assertEqual((result.code, result.out), (2, 'status=error\nreason=invalid_wallet\n'))
        self.assertFalse(os.path.exists(self.home.path('pairing.env')))
        # The longest token and every allowed character pass.
        token = 'Az09._~+/=-' + 'x' * 501
        self.sandbox.control('relay/token', {'token': token})
        _, requests = self.run_logged('claim-token', token)
        self.assertEqual(json.loads(requests[0]['body'])['token'], token)
        self.assertEqual(self.pairing()['latest_bind_token'], token)

    def test_relay_health(self):
        result, requests = self.run_logged('server-health', env={'KORVANE_RELAY_URL': ''})
        self.assertEqual(result.out, '{"status":"ok","relay_url":"","reachable":false,"health_status":"disconnected",'
                                     '"wallet_address":"","message":"relay url missing"}\n')
        self.assertEqual(requests, [])
        self.assertIn('relay_connected=false', self.home.run('status', env={'KORVANE_RELAY_URL': ''}).out)

        result = self.home.run('server-health', env={'KORVANE_RELAY_URL': CLOSED_URL})
        self.assertEqual(result.out, '{"status":"ok","relay_url":"%s","reachable":false,"health_status":"unreachable",'
                                     '"wallet_address":"","message":"relay health request failed"}\n' % CLOSED_URL)

        relay = self.sandbox.env['KORVANE_RELAY_URL']
        ws_url = relay.replace('http://', 'ws://') + '/base'
        result, requests = self.run_logged('server-health', env={'KORVANE_RELAY_URL': ws_url})
        self.assertEqual(requests[0]['path'], '/base/api/security/config')
        answer = json.loads(result.out)
        self.assertEqual((answer['reachable'], answer['health_status'], answer['relay_url']), (True, 'reachable', ws_url))
        self.assertEqual(answer['message'], json.loads(requests[0]['reply']))  # a 404 page still counts as reachable


if __name__ == '__main__':
    unittest.main()
