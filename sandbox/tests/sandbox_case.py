"""A test class sharing one in-process sandbox started from the sample accounts file."""
import json
import os
import tempfile
import unittest
import urllib.request

from korvane_sandbox.server import SAMPLE_ACCOUNTS, Sandbox, load_accounts

from tests.client import Client


class SandboxCase(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.workdir = tempfile.TemporaryDirectory()
        cls.sandbox = Sandbox(load_accounts(SAMPLE_ACCOUNTS), os.path.join(cls.workdir.name, 'log.jsonl'))
        cls.sandbox.start('127.0.0.1', 0)
        cls.env = dict(cls.sandbox.environment())
        cls.client = Client(cls.env)

    @classmethod
    def tearDownClass(cls):
        cls.sandbox.stop()
        cls.workdir.cleanup()

    def setUp(self):
        self.client.skew_ms = 0
        self.addCleanup(self.control, 'reset', {})

    def control(self, command, value):
        request = urllib.request.Request(self.env['KORVANE_SANDBOX_CONTROL'] + '/' + command,
                                         data=json.dumps(value).encode(), method='POST')
        try:
            with urllib.request.urlopen(request, timeout=10) as response:
                return response.status, json.loads(response.read())
        except urllib.error.HTTPError as error:
            return error.code, json.loads(error.read())

    def log_entries(self):
        with open(self.sandbox.log.path, encoding='utf-8') as handle:
            return [json.loads(line) for line in handle]
