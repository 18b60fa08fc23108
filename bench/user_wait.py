#!/usr/bin/python3
"""The user's wait: from a start to the application's window mapped on an X display.

  user_wait.py [--rounds N] [--warmup N] [--seed N] [--raw TSV] [--ratio A/B]... [--watch NAME]...
               [--keep-running COMMAND] --start LABEL FOLDER COMMAND...

Each round starts every COMMAND once, in a shuffled order, in its FOLDER, and times it from
just before the start until a window of the application's class (tests/jvm: the test module's
main class) is mapped on the display in DISPLAY. It then asks that window to close and waits
until the runtime that drew it and every process COMMAND started have ended, so that no start
overlaps another: the processes named by --watch among them. COMMAND is split as a POSIX shell
splits words. --keep-running starts one COMMAND before the first round and ends it after the
last, its input left open: under Wine, a program that waits for input keeps Wine's desktop and
services up, so that no start pays for starting them. It prints, tab-separated, one "stat" line a label
(median, p10, p90, min, max in ms) and one "ratio" line each --ratio (the median of the per-round
ratios A/B, its 95 % bootstrap interval, the p10 and p90 of the ratios, the median difference in
ms and its 95 % bootstrap interval). A start that shows no window within 120 s, or leaves a process behind for as long, stops
the run.
"""

import argparse
import os
import random
import select
import shlex
import subprocess
import sys
import time

APPLICATION = "com.varkelund.orbiskapp.Main"
# Bounds only: a start under emulation, on a busy machine, can take most of a minute.
BOUND = 120.0
BOOTSTRAP = 2000


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def quantile(values, fraction):
    ordered = sorted(values)
    place = fraction * (len(ordered) - 1)
    low = int(place)
    high = min(low + 1, len(ordered) - 1)
    return ordered[low] + (ordered[high] - ordered[low]) * (place - low)


def median(values):
    return quantile(values, 0.5)


class Display:
    def __init__(self):
        from Xlib import X, display, error, protocol
        self.X, self.error, self.protocol = X, error, protocol
        self.display = display.Display()
        self.root = self.display.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def atom(self, name):
        return self.display.intern_atom(name)

    def events(self, timeout):
        """The events that come within TIMEOUT seconds, as soon as there are any."""
        if not self.display.pending_events():
            select.select([self.display], [], [], timeout)
        while self.display.pending_events():
            yield self.display.next_event()

    def application_window(self, event):
        if event.type != self.X.MapNotify or getattr(event, "send_event", False):
            return None
        try:
            wm_class = event.window.get_wm_class()
            pid = event.window.get_full_property(self.atom("_NET_WM_PID"), self.X.AnyPropertyType)
        except self.error.XError:
            return None
        if not wm_class or wm_class[1] != APPLICATION:
            return None
        return event.window, pid.value[0] if pid else None

    def close(self, window):
        message = self.protocol.event.ClientMessage(
            window=window, client_type=self.atom("WM_PROTOCOLS"),
            data=(32, [self.atom("WM_DELETE_WINDOW"), self.X.CurrentTime, 0, 0, 0]))
        try:
            window.send_event(message)
            self.display.flush()
        except self.error.XError:
            pass


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (OSError, IndexError):
        return False


def launch_processes(names):
    """Process ids whose name is any of NAMES: what a launch may still be running."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/comm" % entry) as comm:
                name = comm.read().strip().lower()
        except OSError:
            continue
        if name in names and alive(int(entry)):
            found.append("%s (%s)" % (name, entry))
    return found


def start_once(screen, label, folder, command, watched):
    begin = time.monotonic()
    child = subprocess.Popen(command, cwd=folder, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    found = None
    while found is None:
        for event in screen.events(0.05):
            found = found or screen.application_window(event)
        if found is None and time.monotonic() - begin > BOUND:
            child.kill()
            fail("%s: no window of the application within %.0f s" % (label, BOUND))
    wait_ms = (time.monotonic() - begin) * 1000
    window, pid = found
    screen.close(window)
    deadline = time.monotonic() + BOUND
    while (child.poll() is None or (pid and alive(pid)) or launch_processes(watched)):
        if time.monotonic() > deadline:
            fail("%s: the launch was still running %.0f s after its window was closed: %s"
                 % (label, BOUND, launch_processes(watched)))
        for _ in screen.events(0.05):
            pass
    return wait_ms


def bootstrap_interval(ratios, generator):
    medians = sorted(median([generator.choice(ratios) for _ in ratios]) for _ in range(BOOTSTRAP))
    return quantile(medians, 0.025), quantile(medians, 0.975)


def main():
    parser = argparse.ArgumentParser(prog="user_wait.py")
    parser.add_argument("--rounds", type=int, default=15)
    parser.add_argument("--warmup", type=int, default=1)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--raw")
    parser.add_argument("--ratio", action="append", default=[])
    parser.add_argument("--watch", action="append", default=[],
                        help="the name of a process the launch starts, which must have ended before the next")
    parser.add_argument("--keep-running")
    parser.add_argument("--start", nargs=3, action="append", required=True,
                        metavar=("LABEL", "FOLDER", "COMMAND"))
    options = parser.parse_args()
    entries = [(label, folder, shlex.split(command)) for label, folder, command in options.start]
    labels = [label for label, _, _ in entries]
    for ratio in options.ratio:
        if any(part not in labels for part in ratio.split("/")) or ratio.count("/") != 1:
            fail("a ratio names labels that were not given: " + ratio)
    try:
        screen = Display()
    except ImportError:
        fail("python3-xlib is not installed: run scripts/install-deps.sh")
    except Exception as problem:
        fail("Cannot open the display %s: %s" % (os.environ.get("DISPLAY"), problem))
    watched = [name.lower() for name in options.watch]
    order = random.Random(options.seed)
    samples = {label: [] for label in labels}
    kept = None
    if options.keep_running:
        kept = subprocess.Popen(shlex.split(options.keep_running), stdin=subprocess.PIPE,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for round_number in range(options.warmup + options.rounds):
        shuffled = list(entries)
        order.shuffle(shuffled)
        for label, folder, command in shuffled:
            wait_ms = start_once(screen, label, folder, command, watched)
            if round_number >= options.warmup:
                samples[label].append(wait_ms)
        print("round %d of %d done" % (round_number + 1, options.warmup + options.rounds),
              file=sys.stderr)
    if kept:
        kept.stdin.close()
        kept.kill()
        kept.wait()
    if options.raw:
        with open(options.raw, "w") as raw:
            raw.write("round\t" + "\t".join(labels) + "\n")
            for index in range(options.rounds):
                raw.write("%d\t%s\n" % (index, "\t".join("%.1f" % samples[label][index]
                                                         for label in labels)))
    for label in labels:
        values = samples[label]
        print("stat\t%s\t%.0f\t%.0f\t%.0f\t%.0f\t%.0f" % (
            label, median(values), quantile(values, 0.1), quantile(values, 0.9), min(values),
            max(values)))
    generator = random.Random(options.seed)
    for ratio in options.ratio:
        a, b = ratio.split("/")
        ratios = [x / y for x, y in zip(samples[a], samples[b])]
        low, high = bootstrap_interval(ratios, generator)
        differences = [x - y for x, y in zip(samples[a], samples[b])]
        difference_low, difference_high = bootstrap_interval(differences, generator)
        print("ratio\t%s\t%s\t%.3f\t%.3f\t%.3f\t%.3f\t%.3f\t%.0f\t%.0f\t%.0f" % (
            a, b, median(ratios), low, high, quantile(ratios, 0.1), quantile(ratios, 0.9),
            median(differences), difference_low, difference_high))


if __name__ == "__main__":
    main()
