#!/usr/bin/env python3
"""browser_driving: the waits of the browser drivers give what they waited
for, retry only what counts as "not yet", end in time naming what they waited
for, and a browser that ignores the request to end is killed."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from browser_driving import stop, wait_for  # noqa: E402


class WaitFor(unittest.TestCase):
    def test_gives_the_first_true_value(self):
        answers = iter([None, 0, "", ["tab"], ["later"]])
        self.assertEqual(wait_for("the tab", lambda: next(answers), seconds=5), ["tab"])
        self.assertEqual(next(answers), ["later"])  # no call after the answer

    def test_not_yet_errors_are_retried_and_others_are_not(self):
        calls = []

        def flaky():
            calls.append(1)
            if len(calls) < 3:
                raise OSError("connection refused")
            return "connected"

        self.assertEqual(wait_for("the port", flaky, seconds=5, not_yet=(OSError,)), "connected")
        self.assertEqual(len(calls), 3)
        calls.clear()
        with self.assertRaises(OSError):
            wait_for("the port", flaky, seconds=5)
        self.assertEqual(len(calls), 1)

    def test_times_out_naming_what_it_waited_for(self):
        calls = []
        started = time.monotonic()
        with self.assertRaisesRegex(RuntimeError, "timed out waiting for the page"):
            wait_for("the page", lambda: calls.append(1), seconds=0.5)
        self.assertGreaterEqual(time.monotonic() - started, 0.5)
        self.assertLess(time.monotonic() - started, 20)  # generous: a loaded machine
        self.assertGreaterEqual(len(calls), 2)


class Stop(unittest.TestCase):
    def test_a_browser_that_ends_when_asked(self):
        process = subprocess.Popen(["sleep", "60"])
        stop(process, 20)
        self.assertEqual(process.returncode, -15)

    def test_a_browser_that_ignores_the_request_is_killed(self):
        deaf = ("import signal, time; signal.signal(signal.SIGTERM, signal.SIG_IGN);"
                " print('ready', flush=True); time.sleep(60)")
        process = subprocess.Popen([sys.executable, "-c", deaf], stdout=subprocess.PIPE)
        self.assertEqual(process.stdout.readline(), b"ready\n")
        stop(process, 0.5)
        process.stdout.close()
        self.assertEqual(process.returncode, -9)


if __name__ == "__main__":
    unittest.main()
