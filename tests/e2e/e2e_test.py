#!/usr/bin/env python3
"""End-to-end tests of quorvel.exe as a person uses it, under Wine and an X server.

The tray icon is clicked and hovered through the X server (xdotool) and its
colour is read from screenshots (ImageMagick's import); the four files are read
from disk; the window's text and visibility, the exit code and the virtual
thermometer go through e2e_driver.exe, a helper that runs inside Wine and
answers one command line at a time.

Usage: e2e_test.py --exe quorvel.exe --driver e2e_driver.exe --wine wine64 --work DIR
Needs DISPLAY and WINEPREFIX of a running Wine session with the virtual
thermometer installed. Standard library only.
"""

import argparse
import datetime
import os
import shutil
import subprocess
import sys
import time
import unittest

ARGS = None
DRIVER = None  # the e2e_driver process, one for the whole run

DEGREE = b"\xb0"  # Windows-1252
NO_READING = b"***"
FILES = ("temperature.txt", "celsius.txt", "fahrenheit.txt", "ui-view.txt")
# A half-hour offset catches a date line written in UTC or with a wrong minute.
TIME_ZONE = "IST-5:30"
ZONE_OFFSET = datetime.timezone(datetime.timedelta(hours=5, minutes=30))
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")
COLOURS = {"red": (255, 0, 0), "blue": (0, 0, 255), "grey": (128, 128, 128)}


# --- The driver inside Wine -------------------------------------------------

def start_driver():
    global DRIVER
    env = dict(os.environ, TZ=TIME_ZONE)
    DRIVER = subprocess.Popen([ARGS.wine, ARGS.driver, windows_path(ARGS.exe)], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)


def stop_driver():
    if DRIVER and DRIVER.poll() is None:
        try:
            DRIVER.stdin.write(b"quit\n")
            DRIVER.stdin.flush()
            DRIVER.wait(timeout=20)
        except (OSError, subprocess.TimeoutExpired):
            DRIVER.kill()


def ask(*words):
    """Sends one command; returns the answer's key=value pairs, or raises on 'err'."""
    line = " ".join(str(w) for w in words)
    DRIVER.stdin.write(line.encode() + b"\n")
    DRIVER.stdin.flush()
    answer = DRIVER.stdout.readline().decode(errors="replace").strip()
    if not answer.startswith("ok"):
        raise AssertionError("driver: %s -> %s" % (line, answer or "no answer"))
    fields = {}
    for item in answer.split()[1:]:
        key, _, value = item.partition("=")
        fields[key] = value
    return fields


def hexed(data):
    return data.hex() if data else "-"


def unhexed(text):
    return b"" if text in ("-", "") else bytes.fromhex(text)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def reading_text(celsius):
    return str(celsius).encode() + b" " + DEGREE + b"C"


# --- Screen and mouse ---------------------------------------------------------

def xdotool(*args):
    subprocess.run(["xdotool"] + [str(a) for a in args], check=True)


LAST_CLICK = [0.0]


def click(x, y, button=1):
    """Clicks like a person: two clicks never close enough to make a double click."""
    gap = 0.7 - (time.monotonic() - LAST_CLICK[0])  # the double-click time is 0.5 s
    if gap > 0:
        time.sleep(gap)
    xdotool("mousemove", x, y, "click", button)
    LAST_CLICK[0] = time.monotonic()


def move_mouse_away():
    """Parks the pointer in a corner, away from the tray and the window."""
    xdotool("mousemove", 1000, 740)


def screenshot(name):
    path = os.path.join(ARGS.work, "shots", name + ".png")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    subprocess.run(["import", "-window", "root", path], check=True)
    return path


def pixels(left, top, right, bottom):
    raw = subprocess.run(["import", "-window", "root", "-crop",
                          "%dx%d+%d+%d" % (right - left, bottom - top, left, top), "-depth", "8", "rgb:-"],
                         check=True, stdout=subprocess.PIPE).stdout
    return [tuple(raw[i:i + 3]) for i in range(0, len(raw) - 2, 3)]


def tray_icons():
    tray = ask("tray")
    icons = []
    for i in range(int(tray["icons"])):
        icons.append(tuple(int(v) for v in tray["icon%d" % i].split(",")))
    return tray, icons


def the_tray_icon(test, timeout=5.0):
    """The one tray icon on screen, once the tray shows it."""
    deadline = time.monotonic() + timeout
    while True:
        tray, icons = tray_icons()
        if tray.get("visible") == "1" and len(icons) == 1:
            return icons[0]
        if time.monotonic() > deadline:
            screenshot("no-tray-icon")
            test.fail("expected one tray icon on screen, found %r" % (icons,))
        time.sleep(0.05)


def icon_colours(rect):
    counts = {name: 0 for name in COLOURS}
    for p in pixels(*rect):
        for name, rgb in COLOURS.items():
            if p == rgb:
                counts[name] += 1
    return counts


def wait_icon_colour(test, colour, timeout=5.0):
    """Waits until the tray icon shows the colour (and none of the other two)."""
    deadline = time.monotonic() + timeout
    counts = None
    while time.monotonic() < deadline:
        _, icons = tray_icons()
        if len(icons) == 1:
            counts = icon_colours(icons[0])
            others = [n for n in COLOURS if n != colour and counts[n]]
            if counts[colour] >= 8 and not others:
                return
        time.sleep(0.1)
    screenshot("icon-not-" + colour)
    test.fail("tray icon is not %s: colour counts %s" % (colour, counts))


def centre(rect):
    left, top, right, bottom = rect
    return (left + right) // 2, (top + bottom) // 2


def hover_tray_icon(test):
    x, y = centre(the_tray_icon(test))
    xdotool("mousemove", x + 40, y + 40)
    xdotool("mousemove", x, y)


def left_click_tray_icon(test):
    x, y = centre(the_tray_icon(test))
    click(x, y)


def open_tray_menu(test):
    """Right-clicks the tray icon until the popup menu shows; returns its rect."""
    for _ in range(4):
        the_tray_icon(test)
        tray, icons = tray_icons()
        # Wine's tray takes the focus on a click, which may cancel a menu that
        # has just opened: give it the focus first on an empty part.
        click(int(tray["right"]) - 12, int(tray["bottom"]) - 8)
        x, y = centre(icons[0])
        click(x, y, 3)
        try:
            menu = ask("waitmenu", 1, 2000)
            return int(menu["left"]), int(menu["top"]), int(menu["right"]), int(menu["bottom"])
        except AssertionError:
            continue
    screenshot("no-menu")
    test.fail("the tray menu did not open")


def choose_menu_item(test, item):
    """Clicks "Show/hide" (first item) or "Close" (last item, below the separator)."""
    left, top, right, bottom = open_tray_menu(test)
    screenshot("menu")
    height = bottom - top
    y = top + height * 22 // 100 if item == "Show/hide" else bottom - height * 22 // 100
    click((left + right) // 2, y)
    clicked = time.monotonic()
    ask("waitmenu", 0, 3000)
    return clicked


# --- Files ----------------------------------------------------------------------

def read_files(folder):
    out = {}
    for name in FILES:
        try:
            with open(os.path.join(folder, name), "rb") as f:
                out[name] = f.read()
        except FileNotFoundError:
            out[name] = None
    return out


def file_times(folder):
    return {name: os.stat(os.path.join(folder, name)).st_mtime_ns for name in FILES}


def date_lines(before, after):
    """The date lines the program may write between two moments, in the test's zone."""
    lines = set()
    moment = before.astimezone(ZONE_OFFSET).replace(second=0, microsecond=0)
    while moment <= after:
        lines.add(("%s %02d %04d %02d:%02d\r\n" % (MONTHS[moment.month - 1], moment.day, moment.year,
                                                  moment.hour, moment.minute)).encode())
        moment += datetime.timedelta(minutes=1)
    return lines


def files_for(raw, template=None):
    """The four files for a raw kelvin value (0: no reading); ui-view's second line only."""
    if raw == 0:
        return {"temperature.txt": b"", "celsius.txt": b"", "fahrenheit.txt": b"", "ui-view.txt": b"000/000t...\r\n"}
    celsius = raw - 273
    fahrenheit = FAHRENHEIT.get(raw, int(celsius * 1.8 + 32.0))  # truncated toward zero
    line = template(celsius, fahrenheit) if template else ("Temperature: %dC (%dF).\r\n" % (celsius, fahrenheit)).encode()
    return {"temperature.txt": line, "celsius.txt": str(celsius).encode(),
            "fahrenheit.txt": str(fahrenheit).encode(), "ui-view.txt": ("000/000t%03d\r\n" % fahrenheit).encode()}


# Fahrenheit values of the kelvins used here, worked out by hand.
FAHRENHEIT = {250: -9, 273: 32, 274: 33, 290: 62, 294: 69}


def wait_files(test, folder, raw, since, template=None, timeout=6.0):
    """Waits until the four files hold the reading (or the no-reading form); checks the date line."""
    want = files_for(raw, template)
    deadline = time.monotonic() + timeout
    got = None
    while time.monotonic() < deadline:
        got = read_files(folder)
        if all(got[n] == want[n] for n in FILES[:3]) and got["ui-view.txt"] and \
                got["ui-view.txt"].endswith(b"\r\n" + want["ui-view.txt"]):
            date_line = got["ui-view.txt"][:-len(want["ui-view.txt"])]
            test.assertIn(date_line, date_lines(since, datetime.datetime.now(datetime.timezone.utc)),
                          "date line of ui-view.txt (zone %s)" % TIME_ZONE)
            return got
        time.sleep(0.02)
    test.fail("files for raw %d not written: %r" % (raw, got))


def assert_files_empty(test, folder):
    test.assertEqual(read_files(folder), {n: b"" for n in FILES})


# --- The program ---------------------------------------------------------------

def fresh_folder(name):
    folder = os.path.join(ARGS.work, "runs", name)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    return folder


def start_program(folder, tail=b""):
    move_mouse_away()
    since = datetime.datetime.now(datetime.timezone.utc)
    ask("start", hexed(windows_path(folder).encode()), hexed(tail))
    first = ask("waitwindow", 20000)
    return since, first


def window(test):
    state = ask("window")
    test.assertEqual(state["found"], "1", "the program's window exists")
    return {"text": unhexed(state["text"]), "visible": state["visible"] == "1", "iconic": state["iconic"] == "1",
            "rect": tuple(int(state[k]) for k in ("left", "top", "right", "bottom")),
            "screen": (int(state["screenw"]), int(state["screenh"]))}


def wait_text(test, text, timeout_ms=8000):
    return float(ask("waittext", hexed(text), timeout_ms)["ms"])


def wait_visible(visible, timeout_ms=8000):
    return ask("waitvisible", 1 if visible else 0, timeout_ms)


def close_from_menu_and_wait(test, limit_ms):
    clicked = choose_menu_item(test, "Close")
    exited = ask("waitexit", 15000)
    took_ms = (time.monotonic() - clicked) * 1000
    test.assertEqual(exited["code"], "0", "exit code")
    test.assertLess(took_ms, limit_ms, "time from Close to exit")
    return took_ms


def assert_tray_icon_gone(test):
    _, icons = tray_icons()
    test.assertEqual(icons, [], "the tray icon is removed")


def settled_handle_count(test):
    """The program's handle count once the reader has ended (it sleeps 2 s
    between polls) and nothing has changed for a second."""
    time.sleep(2.6)
    deadline = time.monotonic() + 10
    last, same = None, 0
    while time.monotonic() < deadline:
        count = int(ask("handles")["count"])
        same = same + 1 if count == last else 0
        last = count
        if same >= 4:
            return count
        time.sleep(0.25)
    test.fail("handle count never settled (last %s)" % last)


def unplug_all():
    ask("unplugall")


# --- The scenarios --------------------------------------------------------------

class ProgramTest(unittest.TestCase):
    """Each test starts one instance of the program in its own folder."""

    def tearDown(self):
        ask("kill")

    def test_1_plugged_in_readings_changes_unplug_and_close_while_reading(self):
        folder = fresh_folder("plugged")
        unplug_all()
        ask("plug", 290)
        since, first = start_program(folder)
        self.assertIn(unhexed(first["text"]), (NO_READING, reading_text(17)), "the label starts as ***")
        shown_at = float(first["ms"])
        reading_at = float(ask("waittext", hexed(reading_text(17)), 5000)["total"])
        print("\n  window shown %.0f ms after start with %r, first reading %.0f ms later"
              % (shown_at, unhexed(first["text"]), reading_at - shown_at), file=sys.stderr)
        self.assertLess(reading_at - shown_at, 1000, "first reading shown soon after the window")
        state = window(self)
        left, top, right, bottom = state["rect"]
        width, height = state["screen"]
        self.assertLessEqual(abs((left + right) / 2 - width / 2), 2, "window centred horizontally")
        self.assertLessEqual(abs((top + bottom) / 2 - height / 2), 2, "window centred vertically")
        self.assertTrue(window(self)["visible"])
        screenshot("plugged-start")
        wait_icon_colour(self, "red")
        wait_files(self, folder, 290, since)

        # The window hides itself 3 s after start.
        hidden = ask("waitvisible", 0, 10000)
        self.assertGreaterEqual(float(hidden["total"]), 3000, "not hidden before 3 s")
        self.assertLess(float(hidden["total"]) - shown_at, 5000, "hidden about 3 s after start")

        # 273 K is 0 degrees C: blue; 274 K is 1 degree C: red.
        ask("setraw", 273)
        wait_text(self, reading_text(0))
        wait_icon_colour(self, "blue")
        wait_files(self, folder, 273, since)
        ask("setraw", 274)
        wait_text(self, reading_text(1))
        wait_icon_colour(self, "red")
        screenshot("reading-274")
        after_change = wait_files(self, folder, 274, since)

        # The same value again and again: nothing is rewritten.
        times = file_times(folder)
        reports = int(ask("status")["reports"])
        deadline = time.monotonic() + 4.5  # two more polls of the reader at least
        while time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertGreater(int(ask("status")["reports"]), reports, "the device kept reporting")
        self.assertEqual(file_times(folder), times, "same reading: no file rewritten")
        self.assertEqual(read_files(folder), after_change)
        self.assertEqual(window(self)["text"], reading_text(1))

        # Unplugged: the no-reading state at once, without waiting for the reader.
        ask("unplug")
        ms = wait_text(self, NO_READING, 5000)
        self.assertLess(ms, 1000, "*** shown at once on unplug")
        wait_icon_colour(self, "grey")
        wait_files(self, folder, 0, since, timeout=1.0)

        # Plugged in again: readings come back.
        ask("plug", 290)
        wait_text(self, reading_text(17), 10000)
        wait_icon_colour(self, "red")
        wait_files(self, folder, 290, since)

        # Close from the tray menu while the reader runs.
        close_ms = close_from_menu_and_wait(self, 3000)
        print("\n  close while reading: %.0f ms" % close_ms, file=sys.stderr)
        assert_files_empty(self, folder)
        assert_tray_icon_gone(self)

    def test_2_without_thermometer_tray_clicks_menu_and_close(self):
        folder = fresh_folder("unplugged")
        unplug_all()
        for name in FILES:
            with open(os.path.join(folder, name), "wb") as f:
                f.write(b"left by someone else\r\n")
        before = file_times(folder)
        _, first = start_program(folder)
        # Any tray mouse message in the first 3 s cancels the auto-hide.
        hover_tray_icon(self)
        self.assertEqual(window(self)["text"], NO_READING)
        wait_icon_colour(self, "grey")
        screenshot("unplugged-start")
        normal = window(self)["rect"]
        ask("stayvisible", int(float(first["ms"])) + 4500)

        # Left click toggles.
        left_click_tray_icon(self)
        wait_visible(False)
        left_click_tray_icon(self)
        wait_visible(True)

        # The minimise button hides the window; the tray icon brings it back at its normal size.
        button = ask("button", 8)  # HTMINBUTTON
        click(int(button["x"]), int(button["y"]))
        wait_visible(False)
        left_click_tray_icon(self)
        wait_visible(True)
        state = window(self)
        self.assertFalse(state["iconic"], "restored, not minimised")
        self.assertEqual(state["rect"], normal, "restored at its normal size and place")
        screenshot("restored")

        # The menu: Show/hide toggles; dismissing it changes nothing.
        choose_menu_item(self, "Show/hide")
        wait_visible(False)
        choose_menu_item(self, "Show/hide")
        wait_visible(True)
        open_tray_menu(self)
        click(900, 700)
        ask("waitmenu", 0, 3000)
        self.assertTrue(window(self)["visible"], "dismissed menu: window as it was")
        self.assertEqual(window(self)["text"], NO_READING)
        self.assertEqual(file_times(folder), before, "no reading: files untouched")

        # Close with no reader: at once, icon gone, the four files emptied.
        close_ms = close_from_menu_and_wait(self, 1500)
        print("\n  close with no reader: %.0f ms" % close_ms, file=sys.stderr)
        assert_tray_icon_gone(self)
        assert_files_empty(self, folder)

    def test_3_template_plug_unplug_cycles_leak_nothing(self):
        folder = fresh_folder("template")
        unplug_all()
        # Escapes \r and \n become CR and LF, everything else stays as typed
        # (quotes, \t, a doubled percent sign); a line feed is appended.
        tail = b'"T=%d\\r\\n%dF 50%% \\t \\\\n"'
        since, _ = start_program(folder, tail)
        self.assertEqual(window(self)["text"], NO_READING)
        wait_icon_colour(self, "grey")
        self.assertEqual(read_files(folder), {n: None for n in FILES}, "no reading at start: no files")

        ask("plug", 290)
        wait_text(self, reading_text(17), 10000)
        wait_icon_colour(self, "red")
        files = wait_files(self, folder, 290, since,
                           template=lambda c, f: b'"T=%d\r\r\n%dF 50%% \\t \\\r\n"\r\n' % (c, f))
        self.assertEqual(files["temperature.txt"], b'"T=17\r\r\n62F 50% \\t \\\r\n"\r\n')

        ask("unplug")
        self.assertLess(wait_text(self, NO_READING, 5000), 1000, "*** at once on unplug")
        wait_icon_colour(self, "grey")
        wait_files(self, folder, 0, since, timeout=1.0)

        # Plugging and unplugging again and again leaks no handle.
        counts = [settled_handle_count(self)]
        for _ in range(3):
            ask("plug", 290)
            wait_text(self, reading_text(17), 10000)
            ask("unplug")
            wait_text(self, NO_READING, 5000)
            counts.append(settled_handle_count(self))
        print("\n  handles after each unplug: %s" % counts, file=sys.stderr)
        self.assertLessEqual(counts[-1], counts[1], "handles after plug/unplug cycles: %s" % counts)

        # The caption's close button closes as the menu does.
        left_click_tray_icon(self)
        wait_visible(True)
        button = ask("button", 20)  # HTCLOSE
        click(int(button["x"]), int(button["y"]))
        exited = ask("waitexit", 15000)
        self.assertEqual(exited["code"], "0")
        assert_tray_icon_gone(self)
        assert_files_empty(self, folder)

    def test_9_explorer_restart_brings_the_icon_back(self):
        # Last: afterwards the driver itself is the shell's tray.
        folder = fresh_folder("explorer")
        unplug_all()
        ask("plug", 250)
        start_program(folder)
        wait_text(self, reading_text(-23), 5000)
        wait_icon_colour(self, "blue")
        restarted = ask("restartexplorer")
        self.assertEqual(restarted["oldtray"], "1", "Wine's tray was there and has been ended")
        self.assertGreaterEqual(int(restarted["requests"]), 1, "the program added its icon to the new tray")
        wait_icon_colour(self, "blue")
        screenshot("after-explorer-restart")
        # The icon is the program's, reachable as before.
        wait_visible(False, 10000)
        left_click_tray_icon(self)
        wait_visible(True)
        close_from_menu_and_wait(self, 3500)
        assert_files_empty(self, folder)


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--work", default=os.getcwd())
    ARGS, rest = parser.parse_known_args()
    for tool in ("xdotool", "import"):
        if not shutil.which(tool):
            print("e2e: %s is missing (scripts/setup.sh installs it)" % tool)
            return 1
    if not os.environ.get("DISPLAY"):
        print("e2e: needs an X display (run inside xvfb-run)")
        return 1
    start_driver()
    try:
        result = unittest.main(argv=[sys.argv[0], "-v"] + rest, exit=False).result
    finally:
        stop_driver()
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
