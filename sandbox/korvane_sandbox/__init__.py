"""Local stand-ins for the exchanges, the relay and the update host, on 127.0.0.1."""
