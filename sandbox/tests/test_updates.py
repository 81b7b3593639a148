"""The update host's signed and unsigned images, driven through its control settings."""
import base64
import hashlib
import json
import types
import unittest

from korvane_sandbox.updates import DEFAULT_IMAGE, UpdateHost


def get(host, path):
    return host.handle(types.SimpleNamespace(method='GET', path=path))


class UpdateHostTest(unittest.TestCase):
    def setUp(self):
        self.host = UpdateHost()
        self.host.base_url = 'http://127.0.0.1:1'

    def manifest(self):
        status, text, _ = get(self.host, '/current/manifest.json')
        self.assertEqual(status, 200)
        return json.loads(text)

    def test_signature_is_published_only_when_set(self):
        self.assertNotIn('ed25519', self.manifest())
        self.host.configure({'ed25519': 'c2lnbmF0dXJl'})
        self.assertEqual(self.manifest()['ed25519'], 'c2lnbmF0dXJl')
        self.host.configure({'ed25519': None})
        self.assertNotIn('ed25519', self.manifest())
        # A reset in the same request comes first, so it can start a signed setting afresh.
        self.host.configure({'ed25519': 'b2xk'})
        self.host.configure({'reset': True, 'image': 'new'})
        self.assertEqual((self.host.image, 'ed25519' in self.manifest()), (b'new', False))
        self.host.configure({'reset': True})
        self.assertEqual(self.host.image, DEFAULT_IMAGE)

    def test_binary_image_is_served_as_given(self):
        image = bytes(range(256)) * 4
        self.host.configure({'image_base64': base64.b64encode(image).decode(), 'ed25519': 'AA=='})
        manifest = self.manifest()
        self.assertEqual(manifest['sha256'], hashlib.sha256(image).hexdigest())
        status, body, _ = get(self.host, '/downloads/Korvane-Connector-0.2.0.dmg')
        self.assertEqual((status, body), (200, image))
        with self.assertRaises(ValueError):
            self.host.configure({'image_base64': 'not base64!'})
        # A manifest set as text wins over the default one, signature or not.
        self.host.configure({'manifest': '{"version":"9"}'})
        self.assertEqual(self.manifest(), {'version': '9'})


if __name__ == '__main__':
    unittest.main()
