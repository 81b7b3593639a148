"""The sandbox's own clock: the machine's time moved by an offset, so tests can play an exchange whose
clock differs from the client's (or a client whose clock drifted)."""
import threading
import time


class SandboxClock:
    def __init__(self, offset_ms=0):
        self.lock = threading.Lock()
        self.start_offset_ms = int(offset_ms)
        self.offset_ms = int(offset_ms)

    def now_ms(self):
        """Returns the sandbox's time in milliseconds since the epoch."""
        with self.lock:
            offset = self.offset_ms
        return int(time.time() * 1000) + offset

    def set_offset(self, offset_ms):
        with self.lock:
            self.offset_ms = int(offset_ms)

    def reset(self):
        """Back to the offset the sandbox was started with."""
        self.set_offset(self.start_offset_ms)

    def __call__(self):
        return self.now_ms()
