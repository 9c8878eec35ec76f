#!/usr/bin/env python3
"""Smoke tests of the 32-bit release build, quorvel.exe for i686, under 32-bit Wine.

Faults that only a 32-bit build has (a structure size, a calling convention, a
pointer squeezed into a WPARAM) show up here. Where 32-bit code runs through
an emulator every Windows process start takes about a minute, so everything
happens inside one e2e_driver.exe (the end-to-end tests' helper, built for
i686) and the program starts only twice: once with the virtual thermometer
plugged in, once without it.

Usage: smoke32.py --exe quorvel.exe --driver e2e_driver.exe --wine /usr/lib/wine/wine --work DIR
Needs DISPLAY and WINEPREFIX of a running 32-bit Wine session with the i686
virtual thermometer's driver in place (scripts/wine32-tests.sh does all that).
"""

import argparse
import datetime
import os
import sys
import threading
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import e2e_test as e2e  # noqa: E402

# Generous: under the emulator a process start alone takes about a minute.
START_MS = 300000
CHANGE_MS = 60000
FILES_S = 60.0


def ask(*words, limit=600):
    """e2e_test.ask, but a driver that stops answering is ended after `limit`
    seconds, so the test fails with a message instead of hanging."""
    timer = threading.Timer(limit, e2e.DRIVER.kill)
    timer.start()
    try:
        return e2e.ask(*words)
    finally:
        timer.cancel()


def plug(raw):
    """Plugs the thermometer in. The driver's own wait (20 s) can be too short
    the first time, while winedevice.exe loads the driver under the emulator:
    then the unit is waited for (plugging again would start the load anew)."""
    try:
        ask("plug", raw)
        return
    except AssertionError as error:
        print("\n  %s; waiting for the unit" % error, file=sys.stderr)
    deadline = time.monotonic() + 300
    while time.monotonic() < deadline:
        try:
            if ask("status")["plugged"] == "1":
                return
        except AssertionError:
            pass  # present, but its driver not answering yet
        time.sleep(2)
    raise AssertionError("the virtual thermometer did not appear")


def start_program(folder):
    since = datetime.datetime.now(datetime.timezone.utc)
    began = time.monotonic()
    ask("start", e2e.hexed(e2e.windows_path(folder).encode()), "-")
    first = ask("waitwindow", START_MS)
    print("\n  window shown %.0f s after the start, with %r"
          % (time.monotonic() - began, e2e.unhexed(first["text"])), file=sys.stderr)
    return since, first


def close_and_check(test, folder):
    closed = ask("closewait", CHANGE_MS)
    test.assertEqual(closed["code"], "0", "exit code after a close")
    print("\n  close took %.0f ms" % float(closed["ms"]), file=sys.stderr)
    e2e.assert_files_empty(test, folder)


class ReleaseBuildSmokeTest(unittest.TestCase):

    def tearDown(self):
        ask("kill")

    def test_1_plugged_in_reading_files_and_close(self):
        ask("unplugall", limit=900)  # the first answer waits for the driver's own start
        plug(294)
        folder = e2e.fresh_folder("smoke32-plugged")
        since, first = start_program(folder)
        self.assertIn(e2e.unhexed(first["text"]), (e2e.NO_READING, e2e.reading_text(21)))
        ask("waittext", e2e.hexed(e2e.reading_text(21)), CHANGE_MS)
        e2e.wait_files(self, folder, 294, since, timeout=FILES_S)

        # Below zero: the signed report value and the negative Fahrenheit.
        ask("setraw", 250)
        ask("waittext", e2e.hexed(e2e.reading_text(-23)), CHANGE_MS)
        e2e.wait_files(self, folder, 250, since, timeout=FILES_S)

        close_and_check(self, folder)
        ask("unplug")

    def test_2_without_thermometer_shows_no_reading(self):
        ask("unplugall")
        folder = e2e.fresh_folder("smoke32-unplugged")
        for name in e2e.FILES:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"left by someone else\r\n")
        before = e2e.read_files(folder)
        start_program(folder)
        self.assertEqual(e2e.window(self)["text"], e2e.NO_READING)
        # Two of the reader's 2-s searches: still no reading, files untouched.
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline:
            time.sleep(0.5)
        self.assertEqual(e2e.window(self)["text"], e2e.NO_READING)
        self.assertEqual(e2e.read_files(folder), before, "no reading: files untouched")
        close_and_check(self, folder)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--wine", default="/usr/lib/wine/wine")
    parser.add_argument("--work", default=os.getcwd())
    e2e.ARGS, rest = parser.parse_known_args()
    if not os.environ.get("DISPLAY"):
        print("smoke32: needs an X display (run inside xvfb-run)")
        return 1
    began = time.monotonic()
    e2e.start_driver()
    try:
        result = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False).result
    finally:
        e2e.stop_driver()
    print("smoke32: %.0f s in all" % (time.monotonic() - began), file=sys.stderr)
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
