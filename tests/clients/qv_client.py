"""What the Python client tests share: the checks they collect and the
server coordinates the CTest fixture writes (the file named by
QV_SERVER_ENV)."""
import os

failures = []


def check(what, got, want):
    if got != want:
        failures.append(f'{what}: got {got!r}, want {want!r}')


def server_env():
    env = {}
    with open(os.environ['QV_SERVER_ENV'], encoding='utf-8') as f:
        for line in f:
            key, sep, value = line.rstrip('\n').partition('=')
            if sep:
                env[key] = value
    return env
