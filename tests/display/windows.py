#!/usr/bin/python3
"""What a user would see of a launch: every window mapped on a virtual X display.

Under an X server, Wine shows every window a Windows program maps as an X window, and the Linux
JDK draws JavaFX windows on the same server, so a window on the screen is a window mapped on the
display's root.

  windows.py xvfb-start DIR        starts Xvfb on a free display; DIR keeps its number and pid
  windows.py xvfb-stop DIR         ends it
  windows.py record [--display-from DIR] [--application [--screenshot PNG]] [--expect-shown]
                    [--deadline SECONDS] LOG -- COMMAND...

record logs every window created and mapped on the display from before COMMAND starts until it
has ended, into LOG and on standard output. With --application it also waits for the sample
application's window (tests/jvm) to be mapped, until it shows the colours the application paints,
saves the whole display as PNG at that moment, and asks the window to close. It fails when any
other window was mapped but the window watch's canary and the stand-in runtime's window, which
stands in for the application's; when the application's window never showed what it should;
when no window was created at all (then Wine drew elsewhere); or when COMMAND failed. With
--expect-shown, the launch is one built to show a window, and the recorder fails when it saw none.
COMMAND is ended at the deadline, 180 s unless given.
"""

import argparse
import os
import select
import signal
import struct
import subprocess
import sys
import time
import zlib

# Bounds only, never speed targets: a launch under emulation, beside a whole test suite, can take
# most of a minute.
DEADLINE = 180.0
POLL = 0.1

# The sample application's window class, and the colours it paints at two points, as fractions of
# its width and height: its amber mark in the middle, its green field near a corner.
APPLICATION = "com.varkelund.orbiskapp.Main"
APPLICATION_SHOWS = [((0.5, 0.5), (0xF2, 0xB3, 0x3D)), ((0.1, 0.1), (0x1E, 0x6B, 0x52))]
# The window watch (watch/) shows this one-pixel window from a process of its own before it
# watches a launch, to prove that it can see the screen at all.
CANARY = "Dunvelt window watch canary"
# The window the stand-in runtime (tests/wine/java_standin.cpp) shows in the application's place;
# the doctor's tests show one more, whose title begins the same, as another program's.
STAND_IN = "Dunvelt stand-in runtime"


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def xvfb_start(folder):
    os.makedirs(folder, exist_ok=True)
    xvfb_stop(folder)
    read, write = os.pipe()
    with open(os.path.join(folder, "xvfb.log"), "wb") as log:
        try:
            server = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write), "-screen", "0", "800x600x24", "-nolisten",
                 "tcp"], pass_fds=[write], stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                start_new_session=True)
        except FileNotFoundError:
            fail("Xvfb is not installed: install Debian's xvfb (scripts/install-deps.sh does it).")
    os.close(write)
    # Xvfb writes the display's number once it accepts clients, then a line end, in two writes; it
    # dies when the second finds the pipe closed, so the line is read to its end.
    deadline = time.monotonic() + DEADLINE
    written = b""
    while not written.endswith(b"\n") and time.monotonic() < deadline:
        ready, _, _ = select.select([read], [], [], deadline - time.monotonic())
        more = os.read(read, 16) if ready else b""
        if not more:
            break
        written += more
    os.close(read)
    number = written.decode().strip() if written.endswith(b"\n") else ""
    if not number:
        server.kill()
        with open(os.path.join(folder, "xvfb.log")) as log:
            fail("Xvfb did not start: " + log.read())
    with open(os.path.join(folder, "pid"), "w") as out:
        out.write(str(server.pid))
    with open(os.path.join(folder, "display"), "w") as out:
        out.write(":" + number)
    print("Xvfb on :" + number)


def xvfb_stop(folder):
    try:
        with open(os.path.join(folder, "pid")) as pid_file:
            pid = int(pid_file.read())
        os.remove(os.path.join(folder, "pid"))
        os.kill(pid, signal.SIGTERM)
    except (OSError, ValueError):
        pass


def png(width, height, rgb):
    rows = b"".join(b"\0" + rgb[y * width * 3:(y + 1) * width * 3] for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


class Recorder:
    def __init__(self, name, options):
        from Xlib import X, display, error, protocol
        self.X, self.error, self.protocol = X, error, protocol
        self.display = display.Display(name)
        self.root = self.display.screen().root
        self.options = options
        self.start = time.monotonic()
        self.lines = []
        self.created = 0         # windows created, shown or not
        self.shown = []          # every window mapped but the application's and the canary
        self.canaries = 0        # the window watch's canaries mapped
        self.stand_ins = 0       # windows of the stand-in runtime, in the application's place
        self.application = None  # its window, once mapped
        self.application_title = None
        self.matched = False     # it showed what it should, and was asked to close
        self.closed = False      # it has been unmapped or destroyed since
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.display.sync()

    def atom(self, name):
        return self.display.intern_atom(name)

    def describe(self, window):
        """Class, title, size and process of a window, as far as it still exists."""
        try:
            wm_class = window.get_wm_class()
            title = window.get_full_property(self.atom("_NET_WM_NAME"), self.atom("UTF8_STRING"))
            title = title.value.decode("utf-8", "replace") if title else window.get_wm_name()
            geometry = window.get_geometry()
            pid = window.get_full_property(self.atom("_NET_WM_PID"), self.X.AnyPropertyType)
        except self.error.XError:
            return None, None, "(gone)"
        wm_class = wm_class[1] if wm_class else None
        text = '%s "%s" %dx%d' % (wm_class or "(no class)", title or "", geometry.width,
                                  geometry.height)
        return wm_class, title, text + (" pid %d" % pid.value[0] if pid else "")

    def log(self, text):
        self.lines.append("%7.2f s  %s" % (time.monotonic() - self.start, text))

    def handle(self, event):
        X = self.X
        if getattr(event, "send_event", False):
            return  # a client's own notice, such as a toolkit withdrawing its window
        if event.type == X.CreateNotify:
            self.created += 1
            self.log("created  0x%x %dx%d" % (event.window.id, event.width, event.height))
        elif event.type == X.MapNotify:
            wm_class, title, text = self.describe(event.window)
            self.log("mapped   0x%x %s" % (event.window.id, text))
            if self.options.application and wm_class == APPLICATION:
                self.application = event.window
                self.application_title = title or wm_class
            elif title == CANARY:
                self.canaries += 1
            elif title and title.startswith(STAND_IN):
                self.stand_ins += 1
            else:
                self.shown.append(text)
        elif event.type in (X.UnmapNotify, X.DestroyNotify):
            if event.type == X.UnmapNotify:
                self.log("unmapped 0x%x" % event.window.id)
            if self.application is not None and event.window.id == self.application.id:
                self.closed = True

    def check_application(self):
        """Once its window shows what it should: the screenshot, then a request to close."""
        X = self.X
        screen = self.display.screen()
        width, height = screen.width_in_pixels, screen.height_in_pixels
        try:
            origin = self.root.translate_coords(self.application, 0, 0)
            size = self.application.get_geometry()
            image = self.root.get_image(0, 0, width, height, X.ZPixmap, 0xFFFFFFFF)
        except self.error.XError:
            return
        data = image.data
        stride = len(data) // height
        for point, colour in APPLICATION_SHOWS:
            x = origin.x + min(int(point[0] * size.width), size.width - 1)
            y = origin.y + min(int(point[1] * size.height), size.height - 1)
            blue, green, red = data[y * stride + x * 4:y * stride + x * 4 + 3]
            if (red, green, blue) != colour:
                return
        self.log("the application's window shows what it should")
        if self.options.screenshot:
            rgb = bytearray(width * height * 3)
            pixels = b"".join(data[y * stride:y * stride + width * 4] for y in range(height))
            rgb[0::3], rgb[1::3], rgb[2::3] = pixels[2::4], pixels[1::4], pixels[0::4]
            with open(self.options.screenshot, "wb") as out:
                out.write(png(width, height, bytes(rgb)))
            self.log("screenshot %s (%dx%d)" % (self.options.screenshot, width, height))
        self.matched = True
        message = self.protocol.event.ClientMessage(
            window=self.application, client_type=self.atom("WM_PROTOCOLS"),
            data=(32, [self.atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0]))
        self.application.send_event(message)
        self.display.flush()

    def run(self, command):
        child = subprocess.Popen(command)
        deadline = time.monotonic() + self.options.deadline
        status = None
        while True:
            while self.display.pending_events():
                self.handle(self.display.next_event())
            if self.application is not None and not self.matched and not self.closed:
                self.check_application()
            if status is None:
                status = child.poll()
            # Every process of the launch has ended when COMMAND has, but for the application,
            # which ends when its window closes, and which a failed COMMAND no longer waits for.
            if status is not None and (status != 0 or not self.options.application or self.closed):
                break
            if time.monotonic() > deadline:
                self.log("the deadline came before the launch had ended")
                break
            select.select([self.display], [], [], POLL)
        if status is None:
            child.kill()
            status = child.wait()
        self.display.sync()
        while self.display.pending_events():
            self.handle(self.display.next_event())
        return status

    def verdict(self):
        """The summary lines, and whether what was shown is all that may be shown."""
        good = True
        names = ["%s (the application)" % self.application_title] if self.application else []
        for count, name in ((self.stand_ins, "the stand-in runtime's window"),
                            (self.canaries, "the window watch's canary")):
            if count:
                names.append(name + (" (%d times)" % count if count > 1 else ""))
        lines = ["Windows shown: %s." % (", ".join(names + self.shown) or "none")]
        if self.options.expect_shown:
            if self.shown:
                lines.append("Shown, as this launch must show a window.")
            else:
                lines.append("FAILED: nothing besides the application's window was shown, though"
                             " this launch shows a window.")
                good = False
        elif self.shown:
            lines.append("FAILED: a window besides the application's was shown.")
            good = False
        else:
            lines.append("None of the launcher, the interpreter or a console.")
        # Even hidden, the interpreter's console has a window: without one, nothing of the launch
        # drew on this display, and nothing shown proves nothing.
        if not self.created:
            lines.append("FAILED: no window at all was created on the display: Wine drew"
                         " elsewhere, as it does when its desktop started without this display.")
            good = False
        if self.options.application and not self.matched:
            lines.append("FAILED: no window of class %s showed the expected colours." % APPLICATION)
            good = False
        return lines, good


def record(arguments):
    parser = argparse.ArgumentParser(prog="windows.py record")
    parser.add_argument("--display-from")
    parser.add_argument("--application", action="store_true")
    parser.add_argument("--screenshot")
    parser.add_argument("--expect-shown", action="store_true")
    parser.add_argument("--deadline", type=float, default=DEADLINE)
    parser.add_argument("log")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args(arguments)
    if options.display_from:
        with open(os.path.join(options.display_from, "display")) as number:
            os.environ["DISPLAY"] = number.read().strip()
    try:
        recorder = Recorder(os.environ.get("DISPLAY"), options)
    except ImportError:
        fail("python3-xlib is not installed: install Debian's python3-xlib (scripts/install-deps.sh"
             " does it).")
    except Exception as problem:  # the display cannot be reached: say which, and why
        fail("Cannot open the display %s: %s" % (os.environ.get("DISPLAY"), problem))
    status = recorder.run(options.command)
    lines, good = recorder.verdict()
    with open(options.log, "w") as log:
        log.write("\n".join(recorder.lines + lines) + "\n")
    print("\n".join(["Windows on %s:" % os.environ["DISPLAY"]] + recorder.lines + lines))
    return status if status != 0 else (0 if good else 1)


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "xvfb-start":
        xvfb_start(sys.argv[2])
    elif len(sys.argv) == 3 and sys.argv[1] == "xvfb-stop":
        xvfb_stop(sys.argv[2])
    elif len(sys.argv) > 2 and sys.argv[1] == "record":
        sys.exit(record(sys.argv[2:]))
    else:
        print(__doc__, file=sys.stderr)
        sys.exit(2)


if __name__ == "__main__":
    main()
