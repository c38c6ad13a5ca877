"""`kestrel serve` on a fresh device, for the tests of the simulator's server and page:
start it on a free port, talk to it over HTTP, stop it as Ctrl-C would and check that
nothing of the device is left running."""

import http.client
import json
import os
import re
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../../reliability"))
import devicerig  # noqa: E402  (shared with the reliability scripts)


class ServedDevice:
    def __init__(self, kestrel, extra=(), companion=False):
        self.kestrel = devicerig.find_kestrel(kestrel)
        self.root = devicerig.make_device(self.kestrel, companion=companion)
        self.process = subprocess.Popen(
            [self.kestrel, "serve", self.root, "--port", "0", *extra],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        )
        self.errors = []
        line = self.process.stdout.readline()
        match = re.search(r"http://127\.0\.0\.1:(\d+)/", line)
        if not match:
            self.process.kill()
            raise RuntimeError(f"kestrel serve printed no URL: {line!r} {self.process.stderr.read()!r}")
        self.port = int(match.group(1))
        self.url = f"http://127.0.0.1:{self.port}/"
        # With --compare, the stock device beside it: where it was laid out.
        self.stock_root = None
        if "--compare" in extra:
            beside = re.search(r"stock device at (\S+) ", self.process.stdout.readline())
            self.stock_root = beside.group(1) if beside else None
        # Keep the pipes drained so the server never blocks on them.
        threading.Thread(target=self.process.stdout.read, daemon=True).start()
        threading.Thread(target=self._read_errors, daemon=True).start()

    def _read_errors(self):
        # LeakSanitizer's summary of the suppressions it used is no error of the server's.
        summary = False
        for line in self.process.stderr:
            if line.startswith("Suppressions used:"):
                summary = True
                if self.errors and set(self.errors[-1].strip()) == {"-"}:
                    self.errors.pop()
            elif summary and (not line.strip() or line.startswith(("  ", "-----"))):
                continue
            else:
                summary = False
                self.errors.append(line)

    @property
    def pid(self):
        return self.process.pid

    def request(self, method, path, body=None, headers=None, raw=None, timeout=30, content_type="application/json"):
        """(status, headers, body bytes). body: a JSON value; raw: bytes sent as they are."""
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        sent = {"Content-Type": content_type} if content_type and (body is not None or raw is not None) else {}
        sent.update(headers or {})
        data = raw if raw is not None else (json.dumps(body).encode() if body is not None else None)
        connection.request(method, path, body=data, headers=sent)
        response = connection.getresponse()
        answer = (response.status, dict(response.getheaders()), response.read())
        connection.close()
        return answer

    def json(self, method, path, body=None, **options):
        status, _, data = self.request(method, path, body, **options)
        return status, json.loads(data)

    def command(self, text):
        return self.json("POST", "/api/command", {"command": text})

    def state(self):
        return self.json("GET", "/api/state")[1]

    def stop(self, checks=None, sig=signal.SIGTERM):
        """Stops the server by signal; returns its exit code. With checks, also checks that
        no process of the device is left and that kestrel left no zombie child."""
        if self.process.poll() is None:
            self.process.send_signal(sig)
        try:
            code = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = self.process.wait()
        if checks is not None:
            time.sleep(0.2)
            devicerig.end_strays(self.root, checks)
        return code

    def remove(self):
        devicerig.remove_device(self.root)
