#!/usr/bin/env python3
"""Timings of quorvel.exe under Wine, printed for people (scripts/bench.sh runs it).

Measures, over several program starts with the virtual thermometer plugged in:
start -> first reading shown; a value change at the device -> all four files
rewritten; the CPU time used over 60 s idle; the close time with the reader
running and the CPU burnt meanwhile. Reuses the end-to-end tests' driver.
"""

import argparse
import os
import random
import statistics
import sys
import time

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import e2e_test as e2e  # noqa: E402


def summary(name, values, unit="ms"):
    if not values:
        print("%-44s no data" % name)
        return
    print("%-44s median %7.0f %s   min %7.0f   max %7.0f   (n=%d)" % (
        name, statistics.median(values), unit, min(values), max(values), len(values)))


def program_unix_pids():
    """The Linux processes running quorvel.exe under Wine."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                argv0 = f.read().split(b"\0")[0].decode(errors="replace")
        except OSError:
            continue
        if argv0.replace("\\", "/").split("/")[-1].lower() == "quorvel.exe":
            pids.append(int(entry))
    return pids


def unix_cpu_ms(pids):
    """User plus system time of the processes as Linux counts it, in ms."""
    total = 0
    for pid in pids:
        try:
            with open("/proc/%d/stat" % pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except (OSError, IndexError, ValueError):
            pass
    return total * 1000.0 / os.sysconf("SC_CLK_TCK")


def wait_all_files(folder, raw, timeout=10.0):
    """Seconds until the four files all hold the reading for raw; None on time-out."""
    want = e2e.files_for(raw)
    begun = time.monotonic()
    while time.monotonic() - begun < timeout:
        got = e2e.read_files(folder)
        if all(got[n] == want[n] for n in e2e.FILES[:3]) and (got["ui-view.txt"] or b"").endswith(
                want["ui-view.txt"]):
            return time.monotonic() - begun
        time.sleep(0.002)
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--driver", required=True)
    parser.add_argument("--wine", default="/usr/lib/wine/wine64")
    parser.add_argument("--work", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle-seconds", type=int, default=60)
    parser.add_argument("--sizes", nargs="*", default=[])
    e2e.ARGS = parser.parse_args()
    args = e2e.ARGS

    e2e.start_driver()
    window_ms, reading_ms, change_ms, close_ms, close_cpu = [], [], [], [], []
    idle_cpu = idle_unix_cpu = None
    try:
        e2e.ask("unplugall")
        e2e.ask("plug", 294)
        for run in range(args.runs):
            folder = e2e.fresh_folder("bench-%d" % run)
            e2e.move_mouse_away()
            e2e.ask("start", e2e.hexed(e2e.windows_path(folder).encode()), "-")
            window_ms.append(float(e2e.ask("waitwindow", 20000)["ms"]))
            reading_ms.append(float(e2e.ask("waittext", e2e.hexed(e2e.reading_text(21)), 10000)["total"]))
            # Changes at the device; the reader polls every 2 s, so the phase varies.
            raw = 294
            for _ in range(3):
                # At a random point of the reader's 2-second cycle.
                time.sleep(random.uniform(0.0, 2.0))
                raw = 295 if raw == 294 else 294
                e2e.ask("setraw", raw)
                took = wait_all_files(folder, raw)
                if took is not None:
                    change_ms.append(took * 1000)
            if run == 0 and args.idle_seconds > 0:
                pids = program_unix_pids()
                before, unix_before = float(e2e.ask("cpu")["ms"]), unix_cpu_ms(pids)
                time.sleep(args.idle_seconds)
                idle_cpu = float(e2e.ask("cpu")["ms"]) - before
                idle_unix_cpu = unix_cpu_ms(pids) - unix_before
            closed = e2e.ask("closewait", 15000)
            close_ms.append(float(closed["ms"]))
            close_cpu.append(float(closed["cpu"]))
            e2e.ask("setraw", 294)
        e2e.ask("unplugall")
    finally:
        e2e.stop_driver()

    print()
    print("quorvel.exe under Wine (%d runs, thermometer at 294 K)" % args.runs)
    summary("start -> window shown", window_ms)
    summary("start -> first reading shown", reading_ms)
    summary("value change -> all four files rewritten", change_ms)
    if idle_cpu is not None:
        print("%-44s %7.0f ms over %d s (%.3f %% of one core)" % (
            "CPU time while idle with the thermometer", idle_cpu, args.idle_seconds,
            idle_cpu / (args.idle_seconds * 10.0)))
        print("%-44s %7.0f ms over %d s (Linux's count of the process)" % (
            "  the same from /proc", idle_unix_cpu, args.idle_seconds))
    summary("close with the reader running -> exit", close_ms)
    summary("CPU used during that close", close_cpu)
    for path in args.sizes:
        if os.path.exists(path):
            print("%-44s %7d bytes" % ("size of " + os.path.relpath(path), os.path.getsize(path)))
        else:
            print("%-44s not built" % ("size of " + os.path.relpath(path)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
