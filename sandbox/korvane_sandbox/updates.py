"""The update host: a settable manifest at /current/manifest.json and one disk image, served
signed or unsigned. The default manifest always carries the image's "sha256" (a keyed build needs
it) and, when one was given, the publisher's "ed25519" signature of the text
"korvane-connector-update:<version>:<sha256>", made by the publisher's tool (scripts/sign-update.sh)."""
import base64
import hashlib
import threading

from .signing import compact

DEFAULT_IMAGE = b'KORVANE-SANDBOX-DISK-IMAGE\n' * 64


class UpdateHost:
    def __init__(self):
        self.lock = threading.Lock()
        self.base_url = ''
        self.manifest_text = None  # None: the default manifest
        self.manifest_status = 200
        self.image = DEFAULT_IMAGE
        self.image_status = 200
        self.signature = None  # None: an unsigned image

    def default_manifest(self):
        members = {'version': '0.2.0', 'channel': 'stable',
                   'dmgUrl': self.base_url + '/downloads/Korvane-Connector-0.2.0.dmg',
                   'sha256': hashlib.sha256(self.image).hexdigest()}
        if self.signature is not None:
            members['ed25519'] = self.signature
        return compact(members)

    def configure(self, settings):
        """Control request: any of manifest (text), manifest_status, image (text), image_base64
        (the image's bytes in Base64), image_status, ed25519 (the signature of version 0.2.0 and the
        image's digest the default manifest publishes, made by the publisher's tool; null or
        absent: unsigned), reset."""
        with self.lock:
            if settings.get('reset'):
                self._reset()
            if 'manifest' in settings:
                self.manifest_text = settings['manifest']
            if 'manifest_status' in settings:
                self.manifest_status = int(settings['manifest_status'])
            if 'image' in settings:
                self.image = settings['image'].encode()
            if 'image_base64' in settings:
                self.image = base64.b64decode(settings['image_base64'], validate=True)
            if 'image_status' in settings:
                self.image_status = int(settings['image_status'])
            if 'ed25519' in settings:
                self.signature = settings['ed25519']

    def _reset(self):
        self.manifest_text, self.manifest_status = None, 200
        self.image, self.image_status = DEFAULT_IMAGE, 200
        self.signature = None

    def handle(self, request):
        with self.lock:
            if request.method == 'GET' and request.path == '/current/manifest.json':
                if self.manifest_status != 200:
                    return self.manifest_status, 'manifest unavailable', 'accepted'
                text = self.manifest_text if self.manifest_text is not None else self.default_manifest()
                return 200, text, 'accepted'
            if request.method == 'GET' and request.path.startswith('/downloads/') and request.path.endswith('.dmg'):
                if self.image_status != 200:
                    return self.image_status, 'image unavailable', 'accepted'
                return 200, self.image, 'accepted'
        return 404, 'not found', 'no_route'
