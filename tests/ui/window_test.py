#!/usr/bin/env python3
"""The window under Wine and Xvfb: layout at a given DPI, and the user flow driven by xdotool.

Each scenario starts the program, reads its live controls with the inspector (a small Windows
program printing JSON), acts with xdotool, and checks what the user would see. The flow uses the
test build of the program, whose disk 9 is a USB drive backed by a drive file (the prefix's
`physicaldrive9` symlink). Every wait has a time limit; a failure prints the last state seen.

Usage: window_test.py --product EXE --app EXE --inspector EXE --source DIR --work DIR SCENARIO
Scenarios: layout-96, layout-120, layout-144, flow, failures, stop, close, tab-order, focus,
           keyboard, live-region, end-session, manifest, stray-end, replaced, high-contrast,
           product-window (the --product exe opens and quits), download --server URL (a release
           on the local update server; see download_test.sh).
"""
import argparse
import json
import os
import queue
import subprocess
import sys
import threading
import time
from xml.etree import ElementTree

# The panel in 96-DPI units, creation order: (class, id, text, style, x, y, width, height, font
# points, font weight). The drop-down's height is that of its open list.
HEADING = "Create an Orvelo installer"
EXPLANATION = ("Turns a USB drive into the Orvelo installer. Start any PC from it to install the "
               "newest Orvelo: it connects to Wi-Fi and downloads everything while it installs.")
WS_CHILD, WS_VISIBLE, WS_DISABLED, WS_VSCROLL = 0x40000000, 0x10000000, 0x8000000, 0x200000
CONTROLS = [
    ("Static", 0, HEADING, 0x81, 20, 112, 480, 34, 18),
    ("Static", 0, EXPLANATION, 0x81, 50, 150, 420, 60, 10),
    ("Static", 0, "USB drive", 0x80, 62, 222, 200, 20, 9),
    ("ComboBox", 100, None, 0x210003, 60, 244, 400, 300, 10),
    ("Static", 0, None, 0x80, 62, 282, 396, 20, 9),
    ("msctls_progress32", 0, "", 0, 62, 308, 396, 12, 9),
    # BS_NOTIFY (0x4000): the buttons tell the window when they get the focus.
    ("Button", 101, "Create Installer", 0x14001, 290, 362, 170, 32, 10),
    ("Button", 102, "Quit", 0x14000, 186, 362, 96, 32, 10),
]
TITLE, INTRO, DRIVE_LABEL, COMBO, STATUS, PROGRESS, CREATE, QUIT = range(8)

DRIVE_LABEL_TEXT = "Wine Test Drive"
READY_BOX = ("The Orvelo installer is ready",
             "\u201cWine Test Drive\u201d now installs Orvelo{}.\n\nPlug it into the PC, switch the "
             "PC on and pick the USB drive in its boot menu (usually F12, F11, F9 or Esc while it "
             "starts). Secure Boot must be off.")
FAILED_CAPTION = "The installer couldn't be made"
STOP_BOX = ("Stop making the installer?",
            "The drive won't be usable until you make the installer again.")
PLUG_IN = "Plug in a USB drive of 1 GB or more."
MIB = 1024 * 1024
SEM_FAILCRITICALERRORS = 1


class Failure(Exception):
    pass


def check(condition, message, state=None):
    if not condition:
        detail = "" if state is None else "\nlast state: " + json.dumps(state, indent=1)
        raise Failure(message + detail)


def scaled(dpi, value):
    return dpi * value // 96


class Harness:
    def __init__(self, args):
        self.args = args
        self.wine = os.path.join(args.source, "tools", "wine-exec")
        self.prefix = os.environ.get("WINEPREFIX")
        check(self.prefix and os.environ.get("DISPLAY"),
              "WINEPREFIX and DISPLAY must come from scripts/setup.sh's orvelo_start_wine")
        self.process = None
        self.drive_link = os.path.join(self.prefix, "dosdevices", "physicaldrive9")
        os.makedirs(args.work, exist_ok=True)

    # ---- Programs ----

    def run(self, command, timeout=60):
        return subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              stdin=subprocess.DEVNULL, timeout=timeout, check=False)

    def tool(self, what, *arguments, ok=(0,)):
        """Runs one of the tests' own Windows helpers (the inspector's read, reg, the theme
        switch), whose run may be repeated without changing anything. Wine has been seen, about
        once in a full run, to fail such a launch with exit code 1 and nothing printed; that says
        nothing about the program, so a failed run is tried again for up to 10 seconds. Each
        retry is logged in the work folder, and the last failure carries what Wine printed."""
        deadline = time.monotonic() + 10
        while True:
            result = self.run([self.wine, *arguments], timeout=30)
            if result.returncode in ok:
                return result
            printed = result.stderr.decode("utf-8", "replace")[-2000:]
            with open(os.path.join(self.args.work, "wine-retries.log"), "a") as log:
                log.write("%s: %s failed with %d\n%s\n" % (time.strftime("%H:%M:%S"), what,
                                                            result.returncode, printed))
            check(time.monotonic() < deadline,
                  "%s failed with %d; Wine printed:\n%s" % (what, result.returncode, printed))
            time.sleep(0.5)

    def state(self):
        """The window as it stood at one moment: the inspector repeats its reads until two in a
        row agree, and says when they never did within its 10 s; the read is then made anew."""
        deadline = time.monotonic() + 60
        while True:
            result = self.tool("the inspector", self.args.inspector, ok=(0, 3))
            if result.returncode == 3:
                return {"window": None}
            state = json.loads(result.stdout.decode("utf-8"))
            if state.pop("settled"):
                break
            check(time.monotonic() < deadline,
                  "the window never held still for two of the inspector's reads in a row", state)
        for box in state.get("boxes", []):
            box["text"] = box["text"].replace("\r\n", "\n")
        return state

    def wait_for(self, what, predicate, timeout=30):
        deadline = time.monotonic() + timeout
        state = None
        while time.monotonic() < deadline:
            state = self.state()
            try:
                if predicate(state):
                    return state
            except (KeyError, IndexError, TypeError):
                pass
            time.sleep(0.2)
        raise Failure("timed out waiting for " + what + "\nlast state: " +
                      json.dumps(state, indent=1))

    def start(self, exe, *arguments, delay_ms=0):
        """Starts the program and waits for its window and first scan. Wine has been seen, about
        once in several full runs, to end a launch at once without a window; that says nothing
        about the program, so a program that ended before its window showed is started once more.
        The retry is logged in the work folder with what Wine printed; a program that still runs
        without a window, or ends twice so, fails the test with its exit code and output."""
        check(self.state()["window"] is None, "a window of an earlier run is still open")
        env = dict(os.environ)
        env["ORVELO_TEST_DRIVE_DELAY_MS"] = str(delay_ms)
        printed_path = os.path.join(self.args.work, "program-output.log")
        for attempt in (1, 2):
            with open(printed_path, "wb") as printed:
                self.process = subprocess.Popen([self.wine, exe, *arguments], env=env,
                                                stdin=subprocess.DEVNULL, stdout=printed,
                                                stderr=subprocess.STDOUT)
            deadline = time.monotonic() + 60
            state = None
            while time.monotonic() < deadline:
                state = self.state()
                try:
                    if state["window"]["visible"] and controls(state)[STATUS]["text"] != "":
                        return state
                except (KeyError, IndexError, TypeError):
                    pass
                if self.process.poll() is not None and state["window"] is None:
                    break
                time.sleep(0.2)
            code = self.process.poll()
            with open(printed_path, "rb") as printed:
                output = printed.read().decode("utf-8", "replace")[-2000:]
            if code is None or attempt == 2:
                raise Failure("timed out waiting for the window and its first scan (%s)\n"
                              "last state: %s\nthe program printed:\n%s" %
                              ("the program still runs" if code is None else
                               "the program ended with %d" % code,
                               json.dumps(state, indent=1), output))
            with open(os.path.join(self.args.work, "wine-retries.log"), "a") as log:
                log.write("%s: %s ended with %d before its window showed\n%s\n" %
                          (time.strftime("%H:%M:%S"), exe, code, output))
            self.process = None

    def quit(self):
        """Presses Quit in the idle window; the process must end with exit code 0."""
        state = self.state()
        self.click(controls(state)[QUIT])
        self.ended_cleanly("Quit")

    def ended_cleanly(self, after):
        """The program ends by itself soon after `after`, with exit code 0."""
        try:
            code = self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after " + after)
        check(code == 0, "the program ended with exit code %d after %s" % (code, after))
        self.process = None

    def stop_program(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        self.process = None

    # ---- xdotool ----

    def xdotool(self, *arguments, timeout=20):
        result = subprocess.run(["xdotool", *arguments], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout, check=False)
        check(result.returncode == 0, "xdotool %s failed: %s" % (arguments, result.stderr))
        return result.stdout.decode()

    def click(self, control):
        x, y, width, height = control["screen"]
        self.xdotool("mousemove", "--sync", str(x + width // 2), str(y + height // 2))
        self.xdotool("click", "1")

    def keys_to(self, title, *keys):
        """Focuses the X window of the top-level window with this title and presses the keys."""
        found = self.xdotool("search", "--sync", "--onlyvisible", "--name",
                             "^" + title.replace("?", "\\?") + "$").split()
        check(found, "no X window titled " + title)
        self.xdotool("windowfocus", "--sync", found[-1])
        self.xdotool("key", "--delay", "100", *keys)

    def answer_box(self, caption, key):
        self.keys_to(caption, key)
        self.wait_for("the box %r to close" % caption,
                      lambda s: all(b["caption"] != caption for b in s["boxes"]))

    # ---- The drive ----

    def make_image(self, name, size_mib):
        path = os.path.join(self.args.work, name)
        subprocess.run(["bash", os.path.join(self.args.source, "tools", "make-gpt-image.sh"),
                        path, str(size_mib)], check=True, timeout=120)
        return path

    def attach_drive(self, size_bytes):
        path = os.path.join(self.args.work, "drive9.img")
        if os.path.exists(path):
            os.remove(path)
        with open(path, "wb") as drive:
            drive.truncate(size_bytes)
        self.detach_drive()
        os.symlink(path, self.drive_link)
        return path

    def detach_drive(self):
        if os.path.lexists(self.drive_link):
            os.remove(self.drive_link)

    def set_dpi(self, dpi):
        self.tool("setting LogPixels to %d" % dpi, "reg", "add", "HKCU\\Control Panel\\Desktop",
                  "/v", "LogPixels", "/t", "REG_DWORD", "/d", str(dpi), "/f")

    def screenshot(self, state, name):
        folder = os.path.join(self.args.work, "screenshots")
        os.makedirs(folder, exist_ok=True)
        x, y, width, height = state["window"]["client"]
        path = os.path.join(folder, name)
        subprocess.run(["import", "-window", "root", "-crop",
                        "%dx%d+%d+%d" % (width, height, x, y), "+repage", path],
                       check=True, timeout=60)
        return path


def controls(state):
    return state["window"] and state["controls"]


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def pixel(path, x, y):
    out = subprocess.run(["convert", path, "-format", "%[fx:int(255*r)],%[fx:int(255*g)],"
                          "%[fx:int(255*b)]", "-crop", "1x1+%d+%d" % (x, y), "info:"],
                         stdout=subprocess.PIPE, check=True, timeout=60).stdout.decode()
    return tuple(int(v) for v in out.split(","))


def idle_with_drive(state):
    c = controls(state)
    return (c[COMBO]["enabled"] and c[CREATE]["enabled"] and c[QUIT]["text"] == "Quit" and
            not c[PROGRESS]["visible"] and
            c[STATUS]["text"] == "Everything on the drive will be erased." and not state["boxes"])


def after_box_opened(h):
    """The window as it stands behind an open outcome box. One read of the inspector is not a
    snapshot: it reads the controls before it looks for boxes, so the read that first sees a box
    may hold the controls from just before the window wrote its outcome line and opened the box.
    The box is modal and stays until answered, so a read that starts after it was seen shows
    everything written before it opened."""
    return h.state()


def box_with(caption):
    return lambda s: any(b["caption"] == caption for b in s["boxes"])


def the_box(state, caption):
    return next(b for b in state["boxes"] if b["caption"] == caption)


# ---- Scenarios ----

def layout(h, dpi):
    """Client size, centring, every control's place, style and font at one DPI; a screenshot."""
    h.detach_drive()
    h.set_dpi(dpi)
    try:
        state = h.start(h.args.app)
        window = state["window"]
        check(window["title"] == "Orvelo Installer", "title", state)
        check(window["style"] & 0xFFFF0000 == 0x14CA0000, "caption, system menu, minimise box, "
              "visible; no sizing border, no maximise box", state)
        check(window["client"][2:] == [scaled(dpi, 520), scaled(dpi, 420)],
              "client size at %d DPI" % dpi, state)
        frame = window["frame"]
        screen_width, screen_height = window["screen_size"]
        check(frame[0] == (screen_width - frame[2]) // 2 and
              frame[1] == (screen_height - frame[3]) // 2, "centred by its whole frame", state)
        c = controls(state)
        check(len(c) == 8, "eight controls", state)
        for i, (kind, ident, text, style, x, y, width, height, points) in enumerate(CONTROLS):
            got = c[i]
            what = "control %d (%s)" % (i, kind)
            check(got["class"] == kind and got["id"] == ident, what + ": class and id", state)
            if text is not None:
                check(got["text"] == text, what + ": text", state)
            expected_rect = [scaled(dpi, x), scaled(dpi, y), scaled(dpi, width),
                             scaled(dpi, height)]
            rect = got["dropped_rect"] if kind == "ComboBox" else got["rect"]
            if kind == "ComboBox":
                # The closed box has the height the control gives itself for its font.
                check(got["rect"][:3] == expected_rect[:3], what + ": closed box", state)
                # Windows gives the whole height in the dropped rectangle; Wine the list below
                # the closed box, rounded down to whole items.
                closed = got["rect"][3]
                check(expected_rect[3] - 2 * closed <= rect[3] <= expected_rect[3],
                      what + ": the height given for the box and its open list", state)
            else:
                check(rect == expected_rect, what + ": %s, expected %s" % (rect, expected_rect),
                      state)
            check(got["font_height"] == -(points * dpi // 72), what + ": font height", state)
            base = got["style"] & ~(WS_VISIBLE | WS_DISABLED)
            if kind == "Button":  # the dialog manager moves the default state between buttons
                check(base & ~0xF == WS_CHILD | (style & ~0xF), what + ": style", state)
            elif kind == "ComboBox":
                # The combo box hands WS_VSCROLL on to its open list, which shows the scroll bar
                # (and the style bit) only when its items need it.
                check(base | WS_VSCROLL == WS_CHILD | style, what + ": style %x" % base, state)
            else:
                check(base == WS_CHILD | style, what + ": style %x" % base, state)
        # No drive: the drop-down asks for one; it and Create are disabled.
        check(c[COMBO]["items"] == ["Insert a USB drive\u2026"] and c[COMBO]["selected"] == 0,
              "the drop-down without drives", state)
        check(not c[COMBO]["enabled"] and not c[CREATE]["enabled"] and c[QUIT]["enabled"],
              "enabled states without drives", state)
        check(c[STATUS]["text"] == PLUG_IN, "status", state)
        check(not c[PROGRESS]["visible"] and c[PROGRESS]["range"] == 1000, "progress bar", state)
        check(state["error_mode"] & SEM_FAILCRITICALERRORS,
              "critical errors fail without a box: error mode %d" % state["error_mode"], state)
        # The class icons at the system DPI: the large one as big as the painted one, the small
        # one at the system's small-icon size for that DPI (16 at 96, 20 at 120, 24 at 144).
        check(state["class_icon_widths"] == [scaled(dpi, 72), scaled(dpi, 16)],
              "class icon widths %s" % state["class_icon_widths"], state)
        shot = h.screenshot(state, "layout-%d.png" % dpi)
        # The icon is painted centred at the top: the drive's body is below its middle.
        size = scaled(dpi, 72)
        left, top = (scaled(dpi, 520) - size) // 2, scaled(dpi, 30)
        r, g, b = pixel(shot, left + size // 3, top + size * 70 // 100)
        check(b > r + 40 and b > 80, "the icon's drive body at (%d, %d): %s" % (
            left + size // 3, top + size * 70 // 100, (r, g, b)))
        r, g, b = pixel(shot, left + size // 2, top + size // 4)
        check(r > 200 and 100 < g < 200 and b < 100, "the icon's arrow: %s" % ((r, g, b),))
        h.quit()
        # The product itself, over the real system: same window, same size, ends with code 0.
        state = h.start(h.args.product)
        check(state["window"]["client"][2:] == [scaled(dpi, 520), scaled(dpi, 420)],
              "the product's client size", state)
        check(controls(state)[STATUS]["text"] == PLUG_IN,
              "the product finds no drive under Wine", state)
        h.quit()
    finally:
        h.stop_program()
        h.set_dpi(96)


def start_job(h, state):
    """Create, then Yes on the erase question."""
    h.click(controls(state)[CREATE])
    h.wait_for("the erase question", box_with("Erase this drive?"))
    h.answer_box("Erase this drive?", "y")


def flow(h):
    """Pick, Create, No, Create, Yes, the progress, the success box; the drive passes sgdisk."""
    image = h.make_image("flow.img", 16)
    drive = h.attach_drive(64 * MIB)
    # Each phase lasts a few of the inspector's reads even on a loaded machine: 16 transfers of
    # 150 ms each for writing, and as many for checking.
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=150)
    state = h.wait_for("the drive", idle_with_drive)
    c = controls(state)
    check(c[COMBO]["items"] == ["Wine Test Drive \u2014 67 MB (disk 9)"], "the drive's item",
          state)
    # Pick it: open the list with a click and take the item with the keyboard.
    h.click(c[COMBO])
    h.keys_to("Orvelo Installer", "Return")
    state = h.wait_for("the pick", lambda s: controls(s)[COMBO]["selected"] == 0 and
                       idle_with_drive(s))
    before = controls(state)

    h.click(before[CREATE])
    state = h.wait_for("the erase question", box_with("Erase this drive?"))
    box = the_box(state, "Erase this drive?")
    check(box["text"] == "Everything on \u201cWine Test Drive\u201d (67 MB) will be deleted and "
          "replaced with the Orvelo installer.\n\nMake sure it isn't a drive you still need.",
          "the erase question's text", state)
    check(box["buttons"] == ["&Yes", "&No"], "Yes and No", state)
    h.answer_box("Erase this drive?", "Return")  # No is the default button
    state = h.state()
    for control in ("text", "enabled", "visible"):
        check([x[control] for x in controls(state)] == [x[control] for x in before],
              "No changes nothing (%s)" % control, state)
    check(open(drive, "rb").read(MIB) == bytes(MIB), "No leaves the drive alone")

    start_job(h, state)
    seen = set()
    deadline = time.monotonic() + 120
    while True:
        check(time.monotonic() < deadline, "the job did not end", state)
        state = h.state()
        c = controls(state)
        if state["boxes"]:
            break
        check(c[QUIT]["text"] == "Stop" and not c[COMBO]["enabled"] and
              not c[CREATE]["enabled"] and c[PROGRESS]["visible"], "the running look", state)
        status, position = c[STATUS]["text"], c[PROGRESS]["position"]
        if status.startswith("Writing the installer\u2026 "):
            percent = int(status.split()[-1].rstrip("%"))
            check(400 <= position <= 800 and percent <= 100, "writing's bar", state)
            if "writing" not in seen:
                h.screenshot(state, "flow-writing-96.png")
            seen.add("writing")
        elif status.startswith("Checking the drive\u2026 "):
            check(800 <= position <= 1000, "checking's bar", state)
            seen.add("checking")
        elif status == "Preparing the drive\u2026":
            seen.add("preparing")
        else:
            check(status in ("Starting\u2026", "The installer is ready. You can remove the drive."),
                  "an expected status line", state)
    check({"writing", "checking"} <= seen, "the writing and checking phases were shown: %s" %
          sorted(seen))
    state = after_box_opened(h)
    box = the_box(state, READY_BOX[0])
    check(box["text"] == READY_BOX[1].format(""), "the local image's success text", state)
    check(box["buttons"] == ["OK"], "one OK button", state)
    c = controls(state)
    check(c[STATUS]["text"] == "The installer is ready. You can remove the drive." and
          c[QUIT]["text"] == "Stop", "behind the open box", state)
    h.answer_box(READY_BOX[0], "Return")
    state = h.wait_for("idle again", idle_with_drive)
    check(controls(state)[COMBO]["selected"] == 0, "the first drive is selected", state)
    h.quit()
    verdict = subprocess.run(["sgdisk", "-v", drive], stdout=subprocess.PIPE, timeout=60,
                             check=False).stdout.decode()
    check("No problems found" in verdict, "sgdisk -v on the written drive:\n" + verdict)
    with open(image, "rb") as source, open(drive, "rb") as written:
        source.seek(2048 * 512)
        written.seek(2048 * 512)
        check(source.read(6 * MIB) == written.read(6 * MIB), "the partitions' bytes")


def failures(h):
    """A job's failure text reaches the failure box; afterwards the window is idle again."""
    image = h.make_image("failures.img", 16)
    cases = [
        ("a drive too small", image, 8 * MIB, "This drive is too small for the installer."),
        ("an unreadable image", image + ".missing", 64 * MIB,
         windows_path(image + ".missing") + " can't be read."),
    ]
    for name, path, drive_bytes, text in cases:
        h.attach_drive(drive_bytes)
        h.start(h.args.app, "--image", windows_path(path))
        state = h.wait_for("the drive", idle_with_drive)
        start_job(h, state)
        h.wait_for(name + ": the failure box", box_with(FAILED_CAPTION))
        state = after_box_opened(h)
        check(the_box(state, FAILED_CAPTION)["text"] == text, name + ": the box's text", state)
        check(controls(state)[STATUS]["text"] == "The installer wasn't made.", name, state)
        h.answer_box(FAILED_CAPTION, "Return")
        h.wait_for(name + ": idle again", idle_with_drive)
        h.quit()


def wait_for_writing(h):
    return h.wait_for("the writing phase", lambda s: controls(s)[STATUS]["text"].startswith(
        "Writing the installer\u2026 "), timeout=60)


def stopped_without_box(h, what):
    """Waits for the stopped job to be handled; no box may show meanwhile. Gives the window as
    it stands afterwards: the inspector reads Quit's text after the status line and the progress
    bar, so the read that first sees "Quit" may still hold their look from before the end; the
    next read holds what the window wrote before it."""
    deadline = time.monotonic() + 60
    while True:
        state = h.state()
        check(not state["boxes"], what + ": no box after a stop", state)
        c = controls(state)
        if c[QUIT]["text"] == "Quit":
            state = h.state()
            check(not state["boxes"], what + ": no box after a stop", state)
            return state
        check(time.monotonic() < deadline, what + ": the stopped job did not end", state)
        time.sleep(0.2)


def stop(h):
    """Stop asks nothing and shows no box; a second job after it runs to the end."""
    image = h.make_image("stop.img", 16)
    drive = h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=250)
    state = h.wait_for("the drive", idle_with_drive)
    start_job(h, state)
    state = wait_for_writing(h)
    # Unplugged while the job runs (the job keeps its open handle): the rescan after the job
    # finds nothing, so the outcome's status line stays.
    h.detach_drive()
    h.click(controls(state)[QUIT])
    state = stopped_without_box(h, "stop")
    c = controls(state)
    check(c[STATUS]["text"] == "The installer wasn't made." and not c[COMBO]["enabled"] and
          not c[CREATE]["enabled"] and not c[PROGRESS]["visible"] and
          c[COMBO]["items"] == ["Wine Test Drive \u2014 67 MB (disk 9)"],
          "after a stop with no drive left", state)
    with open(drive, "rb") as written:
        check(written.read(17408) == bytes(17408), "stopped before the head was written")
    # Plugged in again: the next scan lists it, and a second job runs to its end.
    os.symlink(drive, h.drive_link)
    state = h.wait_for("the drive again", idle_with_drive)
    start_job(h, state)
    state = h.wait_for("the second job's success box", box_with(READY_BOX[0]), timeout=120)
    h.answer_box(READY_BOX[0], "Return")
    h.wait_for("idle again", idle_with_drive)
    h.quit()


def close(h):
    """Closing during a job asks; the window stays after No and after Yes."""
    image = h.make_image("close.img", 16)
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=500)
    state = h.wait_for("the drive", idle_with_drive)
    start_job(h, state)
    wait_for_writing(h)
    for answer in ("Return", "y"):  # No (the default), then Yes
        h.keys_to("Orvelo Installer", "alt+F4")
        state = h.wait_for("the stop question", box_with(STOP_BOX[0]))
        check(the_box(state, STOP_BOX[0])["text"] == STOP_BOX[1], "the stop question", state)
        h.answer_box(STOP_BOX[0], answer)
        state = h.state()
        check(state["window"] is not None and state["window"]["visible"],
              "the window stays after " + answer, state)
        if answer == "Return":
            check(controls(state)[QUIT]["text"] == "Stop", "the job goes on after No", state)
            status = controls(state)[STATUS]["text"]
            h.wait_for("progress after No", lambda s: controls(s)[STATUS]["text"] != status)
    state = stopped_without_box(h, "close")
    check(state["window"]["visible"], "the window is still open", state)
    h.wait_for("idle again", idle_with_drive)
    h.quit()


def replaced(h):
    """Disk 9 changes size between the scan and the job (the erase question was open): the job
    finds another drive under the number and writes nothing."""
    image = h.make_image("replaced.img", 16)
    drive = h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image))
    state = h.wait_for("the drive", idle_with_drive)
    h.click(controls(state)[CREATE])
    h.wait_for("the erase question", box_with("Erase this drive?"))
    os.truncate(drive, 96 * MIB)
    h.answer_box("Erase this drive?", "y")
    state = h.wait_for("the failure box", box_with(FAILED_CAPTION), timeout=60)
    check(the_box(state, FAILED_CAPTION)["text"] ==
          "Wine Test Drive was unplugged or replaced. Pick the drive again.",
          "the replaced drive's text", state)
    h.answer_box(FAILED_CAPTION, "Return")
    state = h.wait_for("idle with the new drive listed", lambda s: idle_with_drive(s) and
                       controls(s)[COMBO]["items"] == ["Wine Test Drive \u2014 100 MB (disk 9)"])
    h.quit()
    with open(drive, "rb") as written:
        check(written.read() == bytes(96 * MIB), "nothing was written to the other drive")


def post_end(h):
    result = h.run([h.wine, h.args.inspector, "post-end"], timeout=30)
    check(result.returncode == 0, "posting the end message failed")


def unchanged_for(h, what, predicate, seconds=2.0):
    """The state keeps satisfying the predicate for a while; gives the last state."""
    deadline = time.monotonic() + seconds
    while True:
        state = h.state()
        check(predicate(state), what, state)
        if time.monotonic() >= deadline:
            return state
        time.sleep(0.2)


def stray_end(h):
    """The end message counts only as the end of a running job that has ended: posted to the
    idle window, to a running one and again while the outcome box is open, it changes nothing."""
    image = h.make_image("stray.img", 16)
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=250)
    h.wait_for("the drive", idle_with_drive)
    post_end(h)
    state = unchanged_for(h, "idle: no box and nothing changes after a stray end message",
                          idle_with_drive)

    start_job(h, state)
    wait_for_writing(h)
    post_end(h)

    def still_running(s):
        c = controls(s)
        return (not s["boxes"] and c[QUIT]["text"] == "Stop" and not c[COMBO]["enabled"] and
                not c[CREATE]["enabled"] and c[PROGRESS]["visible"])
    unchanged_for(h, "running: no box, Create stays disabled after a stray end message",
                  still_running)
    state = h.wait_for("the success box", box_with(READY_BOX[0]), timeout=120)
    post_end(h)
    unchanged_for(h, "one outcome box only, however many end messages come",
                  lambda s: len(s["boxes"]) == 1 and s["boxes"][0]["caption"] == READY_BOX[0] and
                  controls(s)[QUIT]["text"] == "Stop")
    h.answer_box(READY_BOX[0], "Return")
    h.wait_for("idle again", idle_with_drive)
    post_end(h)
    unchanged_for(h, "idle after the job: a repeated end message changes nothing",
                  idle_with_drive)
    h.quit()


def tab_order(h):
    """Tab moves among the drop-down, Create Installer and Quit, those that are enabled."""
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app)
    h.wait_for("the drive", idle_with_drive)
    h.keys_to("Orvelo Installer", "Tab")
    first = h.wait_for("a focused control", lambda s: s["focus_id"] in (100, 101, 102))["focus_id"]
    order = [100, 101, 102]
    expected = order[order.index(first):] + order[:order.index(first)]
    # Wine handles a key some time after xdotool sent it: each step waits for the control it
    # expects, and a wrong order times out with the focus where it went instead.
    for step, focus_id in enumerate(expected[1:] + expected[:2]):
        h.keys_to("Orvelo Installer", "Tab")
        focus_is(h, "Tab %d of the order %s" % (step + 1, expected), focus_id)
    h.keys_to("Orvelo Installer", "shift+Tab")
    focus_is(h, "Shift+Tab goes back", expected[0])
    h.quit()
    # Without a drive only Quit is enabled: Tab stays on it.
    h.detach_drive()
    h.start(h.args.app)
    for _ in range(3):
        h.keys_to("Orvelo Installer", "Tab")
        focus_is(h, "Tab without drives stays on Quit", 102)
    h.quit()


def focus(h):
    """Enter on Create starts the job with the focus on Stop, where Tab still works; when the job
    ends, after a box or after a stop, the focus is back on Create."""
    image = h.make_image("focus.img", 16)
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=250)
    h.wait_for("the drive", idle_with_drive)
    for ending in ("success", "stop"):
        h.keys_to("Orvelo Installer", "Tab")
        state = h.wait_for("a focused control", lambda s: s["focus_id"] in (100, 101, 102))
        for _ in range(3):
            if state["focus_id"] == 101:
                break
            moved_from = state["focus_id"]
            h.keys_to("Orvelo Installer", "Tab")
            state = h.wait_for("Tab moves the focus on",
                               lambda s, moved_from=moved_from: s["focus_id"] != moved_from,
                               timeout=30)
        check(state["focus_id"] == 101, "Tab reaches Create", state)
        h.keys_to("Orvelo Installer", "Return")
        h.wait_for("the erase question", box_with("Erase this drive?"))
        h.answer_box("Erase this drive?", "y")
        # The inspector reads the focus before the controls, so one read may see Stop's new text
        # with the focus from before the window moved it; a focus that never reaches Stop times
        # out here.
        h.wait_for(ending + ": the focus on Stop while Create is disabled",
                   lambda s: controls(s)[QUIT]["text"] == "Stop" and
                   not controls(s)[CREATE]["enabled"] and s["focus_id"] == 102)
        h.keys_to("Orvelo Installer", "Tab")
        check(h.state()["focus_id"] == 102, ending + ": Tab keeps the focus on Stop")
        if ending == "success":
            state = h.wait_for("the success box", box_with(READY_BOX[0]), timeout=120)
            h.answer_box(READY_BOX[0], "Return")
        else:
            wait_for_writing(h)
            h.keys_to("Orvelo Installer", "space")  # presses the focused Stop button
            stopped_without_box(h, "focus")
        # The window gives Create the focus after it enabled it, and the inspector reads the
        # focus first: both are waited for together.
        h.wait_for(ending + ": idle again, the focus back on Create",
                   lambda s: idle_with_drive(s) and s["focus_id"] == 101)
    h.quit()


OTHER_TITLE = "Orvelo Test Other"


def focus_is(h, what, focus_id, default_button=None):
    """Waits for the focus on the control; with `default_button`, for that button to have the
    default style and the other not. The window restyles the buttons as it handles the focus
    change, after the inspector may already have read the new focus."""
    def reached(s):
        if s["focus_id"] != focus_id:
            return False
        if default_button is None:
            return True
        other = QUIT if default_button == CREATE else CREATE
        c = controls(s)
        return c[default_button]["style"] & 0xF == 1 and c[other]["style"] & 0xF == 0
    return h.wait_for(what, reached, timeout=30)


def keyboard(h):
    """The focus is never lost: on a control right after start, back on the same control after
    another window had the focus, moved to Quit when a scan disables the focused drop-down. Enter
    on the drop-down presses Create (the window answers DM_GETDEFID); Enter on Quit presses Quit,
    which takes the default-button style while it has the focus."""
    h.attach_drive(64 * MIB)
    h.start(h.args.app)
    h.wait_for("the drive", idle_with_drive)
    # Activated at start: the first enabled tab stop, the drop-down, without any key.
    focus_is(h, "the focus on the drop-down after start", 100)
    h.keys_to("Orvelo Installer", "Tab")
    focus_is(h, "Tab to Create", 101)

    # Another window takes the focus: a click on it (without a window manager, Wine activates
    # windows on clicks, not on X focus changes). Then a click on the installer's background,
    # where no control is, activates it again.
    other = subprocess.Popen([h.wine, h.args.inspector, "other-window", "30"],
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        found = h.xdotool("search", "--sync", "--onlyvisible", "--name", "^" + OTHER_TITLE + "$")
        check(found.split(), "the other window is shown")
        h.xdotool("mousemove", "--sync", "170", "120")
        h.xdotool("click", "1")
        h.wait_for("the installer deactivated", lambda s: s["focus_id"] == -1, timeout=30)
        x, y, width, _ = h.state()["window"]["client"]
        h.xdotool("mousemove", "--sync", str(x + width // 2), str(y + 8))
        h.xdotool("click", "1")
        focus_is(h, "the focus back on Create after reactivation", 101)
        h.keys_to("Orvelo Installer", "Tab")
        focus_is(h, "Tab on to Quit", 102)
        h.keys_to("Orvelo Installer", "shift+Tab")
        focus_is(h, "Shift+Tab back to Create", 101)
    finally:
        other.kill()
        other.wait(timeout=30)

    # A scan that empties the list while the drop-down has the focus.
    h.keys_to("Orvelo Installer", "shift+Tab")
    focus_is(h, "the focus on the drop-down", 100)
    h.detach_drive()
    # A focus that was lost on the way (the drop-down disabled while it had it) never comes back
    # by itself: waiting for it on Quit times out then.
    h.wait_for("the empty list, the focus moved to Quit before the drop-down was disabled",
               lambda s: controls(s)[STATUS]["text"] == PLUG_IN and s["focus_id"] == 102 and
               not controls(s)[COMBO]["enabled"], timeout=30)
    h.keys_to("Orvelo Installer", "Tab")
    focus_is(h, "Tab keeps working on Quit", 102)

    # Enter on the drop-down presses Create.
    h.attach_drive(64 * MIB)
    h.wait_for("the drive again", idle_with_drive)
    h.keys_to("Orvelo Installer", "Tab")
    focus_is(h, "Tab from Quit to the drop-down, Create the default button", 100,
             default_button=CREATE)
    h.keys_to("Orvelo Installer", "Return")
    h.wait_for("Enter on the drop-down: the erase question", box_with("Erase this drive?"))
    h.answer_box("Erase this drive?", "Return")  # No
    focus_is(h, "the focus back on the drop-down after the question", 100)

    # Enter on Quit presses Quit: the program ends.
    h.keys_to("Orvelo Installer", "shift+Tab")
    focus_is(h, "Shift+Tab to Quit, the focused Quit the default button", 102,
             default_button=QUIT)
    h.keys_to("Orvelo Installer", "Return")
    h.ended_cleanly("Enter on Quit")


class LiveWatcher:
    """The inspector's WinEvent hook on the running program. Its lines, one an event, are read
    as they come, so a test can wait for the next event before it acts again."""

    def __init__(self, h, seconds):
        self.process = subprocess.Popen([h.wine, h.args.inspector, "watch-live", str(seconds)],
                                        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.lines = queue.Queue()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        try:
            ready = self.lines.get(timeout=30)
        except queue.Empty:
            ready = ""
        check('"watching":true' in ready, "the WinEvent hook was not set: %r" % ready)

    def _read(self):
        for line in self.process.stdout:
            self.lines.put(line.decode("utf-8"))

    def next_text(self, what, timeout=30):
        """The text the status line had when its next event was handled."""
        try:
            line = self.lines.get(timeout=timeout)
        except queue.Empty:
            raise Failure("no live-region event: " + what)
        return json.loads(line)["text"]

    def until(self, text, what, timeout=60):
        """The events up to and including the first whose text is `text`, as they come: the
        hook runs in a process of its own, and on a loaded machine its lines may come late."""
        events = []
        deadline = time.monotonic() + timeout
        while not events or events[-1]["text"] != text:
            try:
                line = self.lines.get(timeout=max(0.1, deadline - time.monotonic()))
            except queue.Empty:
                raise Failure("no live-region event with %r (%s); seen: %s" % (text, what, events))
            if line.strip():
                events.append(json.loads(line))
        return events

    def rest(self):
        """Ends the hook; gives the events not read yet."""
        self.process.kill()
        self.process.wait(timeout=30)
        self.reader.join(timeout=30)
        events = []
        while not self.lines.empty():
            line = self.lines.get()
            if line.strip():
                events.append(json.loads(line))
        return events


def live_region(h):
    """The status line raises EVENT_OBJECT_LIVEREGIONCHANGED when the phase changes, at most
    every ten percent of writing and of checking, and for the outcome, after a success and
    after a stop; never on the ticks in between. A drive pulled out or plugged in changes the
    line too, and that is announced."""
    image = h.make_image("live.img", 16)
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=60)
    state = h.wait_for("the drive", idle_with_drive)
    # Each change is waited for before the next, so that the hook, which reads the text after
    # the event, reads the one announced.
    watcher = LiveWatcher(h, 120)
    h.detach_drive()
    text = watcher.next_text("the drive pulled out")
    check(text == PLUG_IN, "the drive pulled out was announced: %r" % text)
    h.attach_drive(64 * MIB)
    text = watcher.next_text("the drive plugged in")
    check(text == "Everything on the drive will be erased.",
          "the drive plugged in was announced: %r" % text)
    state = h.wait_for("the drive back", idle_with_drive)
    time.sleep(3)  # more than one scan's period
    events = watcher.rest()
    check(not events, "a scan that changes nothing announces nothing: %s" % events)
    for ending in ("success", "stop"):
        watcher = LiveWatcher(h, 200)
        start_job(h, state)
        if ending == "success":
            h.wait_for("the success box", box_with(READY_BOX[0]), timeout=120)
            h.answer_box(READY_BOX[0], "Return")
            outcome = "The installer is ready. You can remove the drive."
        else:
            wait_for_writing(h)
            # Unplugged first, so that no rescan replaces the outcome's line before the hook,
            # which runs after the event, reads it.
            h.detach_drive()
            h.click(controls(h.state())[QUIT])
            stopped_without_box(h, "live-region")
            outcome = "The installer wasn't made."
        if ending == "success":
            state = h.wait_for("idle again", idle_with_drive)
        events = watcher.until(outcome, ending) + watcher.rest()
        texts = [e["text"] for e in events]
        check(events and all(e["id"] == 0 for e in events), "only the status line raises them: "
              "%s" % events)
        # The hook reads the text after the event: a later text may stand in for an earlier
        # one, never the other way round; the outcome is the last change of all.
        check(outcome in texts, ending + ": the outcome was announced: %s" % texts)
        writing = [t for t in texts if t.startswith("Writing the installer\u2026 ")]
        checking = [t for t in texts if t.startswith("Checking the drive\u2026 ")]
        check(writing, ending + ": writing was announced: %s" % texts)
        check(len(writing) <= 11 and len(checking) <= 11,
              ending + ": at most every ten percent: %s" % texts)
        # Ticks come every 250 ms; announcing each would give far more than the phases do.
        check(len(events) <= 2 + 11 + 11 + 2, ending + ": not one per tick: %s" % texts)
    h.quit()


def end_session(h):
    """Windows asks before ending the session: the window keeps it (FALSE) while a job works
    on the drive, and lets it end (TRUE) when idle and once the job has ended."""
    def answer():
        result = h.tool("the inspector's query-end", h.args.inspector, "query-end")
        return json.loads(result.stdout.decode())["answer"]

    image = h.make_image("session.img", 16)
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--image", windows_path(image), delay_ms=250)
    state = h.wait_for("the drive", idle_with_drive)
    check(answer() == 1, "idle: the session may end")
    start_job(h, state)
    wait_for_writing(h)
    check(answer() == 0, "during the job: the session is kept")
    check(controls(h.state())[QUIT]["text"] == "Stop", "the job goes on after the question")
    h.wait_for("the success box", box_with(READY_BOX[0]), timeout=120)
    check(answer() == 1, "the drive released, the outcome shown: the session may end")
    h.answer_box(READY_BOX[0], "Return")
    h.wait_for("idle again", idle_with_drive)
    check(answer() == 1, "idle again: the session may end")

    # The session ends anyway during a job: the window stops the job and answers only once the
    # job has released the drive, before the head of the image was written.
    drive = os.path.join(h.args.work, "drive9.img")
    with open(drive, "r+b") as written:
        written.write(bytes(17408))
    start_job(h, state)
    wait_for_writing(h)
    result = h.tool("the inspector's end-session", h.args.inspector, "end-session")
    check(json.loads(result.stdout.decode())["answered"], "WM_ENDSESSION was answered")
    with open(drive, "rb") as written:
        check(written.read(17408) == bytes(17408), "stopped before the head was written")
    stopped_without_box(h, "end-session")
    check(answer() == 1, "the stopped job's end handled: the session may end")
    h.quit()


def manifest(h):
    """The application manifest as both programs carry it, read back out of each exe."""
    namespaces = {
        "asm1": "urn:schemas-microsoft-com:asm.v1",
        "asm3": "urn:schemas-microsoft-com:asm.v3",
        "ws2005": "http://schemas.microsoft.com/SMI/2005/WindowsSettings",
        "ws2016": "http://schemas.microsoft.com/SMI/2016/WindowsSettings",
    }
    for exe in (h.args.product, h.args.app):
        result = h.run([h.wine, h.args.inspector, "manifest", windows_path(exe)])
        check(result.returncode == 0, "no manifest resource in " + exe)
        root = ElementTree.fromstring(result.stdout)
        settings = "asm3:application/asm3:windowsSettings/"
        # Windows 10 builds without Per Monitor V2 ignore true/pm once dpiAwareness is present,
        # so the list must name their form too.
        awareness = root.find(settings + "ws2016:dpiAwareness", namespaces)
        check(awareness is not None and awareness.text == "PerMonitorV2, PerMonitor",
              "dpiAwareness in %s: %r" % (exe, None if awareness is None else awareness.text))
        aware = root.find(settings + "ws2005:dpiAware", namespaces)
        check(aware is not None and aware.text == "true/pm", "dpiAware in " + exe)
        level = root.find("asm3:trustInfo/asm3:security/asm3:requestedPrivileges/"
                          "asm3:requestedExecutionLevel", namespaces)
        check(level is not None and level.get("level") == "requireAdministrator" and
              level.get("uiAccess") == "false", "requested execution level in " + exe)


HIGH_CONTRAST_KEY = "HKCU\\Control Panel\\Accessibility\\HighContrast"
GREY = (96, 96, 96)


def colour_counts(path, dpi, control_index, colours):
    """How many pixels of each colour lie in a control's rectangle of a client-area shot."""
    _, _, _, _, x, y, width, height, _ = CONTROLS[control_index]
    raw = subprocess.run(["convert", path, "-crop", "%dx%d+%d+%d" % (
        scaled(dpi, width), scaled(dpi, height), scaled(dpi, x), scaled(dpi, y)), "+repage",
        "-depth", "8", "rgb:-"], stdout=subprocess.PIPE, check=True, timeout=60).stdout
    pixels = [tuple(raw[i:i + 3]) for i in range(0, len(raw), 3)]
    return [pixels.count(colour) for colour in colours]


def high_contrast(h):
    """The explanation and the status line are grey. Switched to high contrast while the
    window is open, they take the window-text colour at once, like the title: on the setting's
    WM_SETTINGCHANGE, and back to grey on WM_SYSCOLORCHANGE after the switch is off again. (A
    running Wine process keeps the system colours it started with, so the dark theme's own
    colours are seen by the next start.) Under a dark high-contrast theme from the start, they
    are the theme's yellow on black."""
    h.detach_drive()
    switch = os.path.join(os.path.dirname(h.args.inspector), "orvelo_theme_switch.exe")
    yellow, black, white = (255, 255, 0), (0, 0, 0), (255, 255, 255)

    def set_switch(on):
        h.tool("setting the high-contrast switch", "reg", "add", HIGH_CONTRAST_KEY, "/v", "Flags",
               "/t", "REG_SZ", "/d", "127" if on else "126", "/f")

    def theme(*arguments):
        h.tool("theme switch %s" % (arguments,), switch, *arguments)

    def wait_for_colours(what, name, text, absent):
        """Until the title, the explanation and the status line show `text` and no `absent`."""
        deadline = time.monotonic() + 30
        while True:
            shot = h.screenshot(h.state(), name)
            counts = [colour_counts(shot, 96, c, [text, absent]) for c in (TITLE, INTRO, STATUS)]
            if all(present > 20 and other == 0 for present, other in counts):
                return
            check(time.monotonic() < deadline, "%s: pixels (text colour, %s) of the title, the "
                  "explanation and the status line: %s" % (what, absent, counts))
            time.sleep(0.5)

    try:
        set_switch(False)
        h.start(h.args.app)
        shot = h.screenshot(h.state(), "contrast-off.png")
        for control in (INTRO, STATUS):
            grey, dark = colour_counts(shot, 96, control, [GREY, black])
            check(grey > 20 and dark == 0, "control %d without high contrast: %d grey and %d "
                  "black pixels" % (control, grey, dark))
        set_switch(True)
        theme("announce")
        wait_for_colours("switched on", "contrast-switched-on.png", black, GREY)
        set_switch(False)
        theme("colours", "ffffff", "000000")
        shot = None
        deadline = time.monotonic() + 30
        while True:
            shot = h.screenshot(h.state(), "contrast-switched-off.png")
            counts = [colour_counts(shot, 96, c, [GREY]) for c in (INTRO, STATUS)]
            if all(grey > 20 for (grey,) in counts):
                break
            check(time.monotonic() < deadline, "switched off: grey pixels %s" % counts)
            time.sleep(0.5)
        h.quit()
        set_switch(True)
        theme("colours", "000000", "ffff00")
        h.start(h.args.app)
        wait_for_colours("a dark theme", "contrast-dark.png", yellow, GREY)
        shot = h.screenshot(h.state(), "contrast-dark.png")
        check(colour_counts(shot, 96, STATUS, [white]) == [0], "the dark theme's background")
        h.quit()
    finally:
        h.stop_program()
        theme("colours", "ffffff", "000000")
        h.run([h.wine, "reg", "delete", HIGH_CONTRAST_KEY, "/v", "Flags", "/f"])


def product_window(h):
    """The --product exe as shipped opens its window over the real system and ends with exit
    code 0 on Quit."""
    h.detach_drive()
    state = h.start(h.args.product)
    check(state["window"]["title"] == "Orvelo Installer", "title", state)
    check(state["window"]["client"][2:] == [scaled(96, 520), scaled(96, 420)], "client size",
          state)
    h.quit()


def download(h, server):
    """A downloaded release: the success box names the release's version (1.2 on the test
    server, which serves a release signed with the development key: download_test.sh)."""
    h.attach_drive(64 * MIB)
    state = h.start(h.args.app, "--server", server, "--dev")
    state = h.wait_for("the drive", idle_with_drive)
    h.screenshot(state, "download-ready.png")
    start_job(h, state)
    state = h.wait_for("the success box", box_with(READY_BOX[0]), timeout=300)
    h.screenshot(state, "download-success.png")
    check(the_box(state, READY_BOX[0])["text"] ==
          READY_BOX[1].format(" (it fetches the newest version, 1.2 today)"),
          "the downloaded release's success text", state)
    h.answer_box(READY_BOX[0], "Return")
    h.wait_for("idle again", idle_with_drive)
    h.quit()


def main():
    parser = argparse.ArgumentParser()
    for option in ("--product", "--app", "--inspector", "--source", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--server")
    parser.add_argument("scenario")
    args = parser.parse_args()
    for name in ("product", "app", "inspector", "source", "work"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    h = Harness(args)
    scenarios = {
        "layout-96": lambda: layout(h, 96),
        "layout-120": lambda: layout(h, 120),
        "layout-144": lambda: layout(h, 144),
        "flow": lambda: flow(h),
        "failures": lambda: failures(h),
        "stop": lambda: stop(h),
        "close": lambda: close(h),
        "tab-order": lambda: tab_order(h),
        "focus": lambda: focus(h),
        "keyboard": lambda: keyboard(h),
        "live-region": lambda: live_region(h),
        "end-session": lambda: end_session(h),
        "manifest": lambda: manifest(h),
        "stray-end": lambda: stray_end(h),
        "replaced": lambda: replaced(h),
        "high-contrast": lambda: high_contrast(h),
        "product-window": lambda: product_window(h),
        "download": lambda: download(h, args.server),
    }
    try:
        scenarios[args.scenario]()
    except Failure as failure:
        print("FAILED: %s" % failure)
        if isinstance(failure.__context__, Failure):
            print("(while cleaning up after: %s)" % failure.__context__)
        return 1
    finally:
        h.stop_program()
        h.detach_drive()
    print("%s: passed" % args.scenario)
    return 0


if __name__ == "__main__":
    sys.exit(main())
