"""The shipped program as a user runs it: unpacked from its zip, started under Wine against a
reference service of the test's own, driven from outside through its windows, stopped or killed.

Used by the end-to-end tests and the package test. Everything here waits with a bound: a program
that hangs fails the test instead of hanging ctest.
"""
import argparse
import json
import os
import shutil
import signal
import sqlite3
import subprocess
import sys
import time
import unittest
import urllib.parse
import urllib.request
import zipfile

MAIN_CLASS = "Vellix2Window"


def wine_env():
    """The environment of the Wine processes of a test: without DISPLAY, so that tools/wine-run.sh
    gives the test's prefix an Xvfb display of its own, which no other test's windows reach. The
    program's log (its debugger output) comes out on standard error, through Wine's seh warnings."""
    env = dict(os.environ, WINEDEBUG=os.environ.get("WINEDEBUG", "-all,err+module,warn+seh"))
    env.pop("DISPLAY", None)
    return env


def stop_prefix(wine_run, prefix):
    """Ends every Wine process of the prefix and the prefix's display."""
    subprocess.run([wine_run, "--stop", prefix], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)


def wait_for(what, check, bound, interval=0.1, alive=None):
    """check() until it gives a true value, which is returned; fails after bound seconds or when
    alive() (if given) raises."""
    deadline = time.monotonic() + bound
    while True:
        value = check()
        if value:
            return value
        if alive:
            alive()
        if time.monotonic() > deadline:
            raise AssertionError("timed out after %.0f s waiting for %s" % (bound, what))
        time.sleep(interval)


_LIVE_SERVICES = []


class Service:
    """The reference service and its demo site with the test control, on the given service port
    (the site's port is chosen by the system)."""

    def __init__(self, server_py, work, port, max_seconds=1500):
        self.ports_file = os.path.join(work, "ports-%d.json" % port)
        if os.path.exists(self.ports_file):
            os.remove(self.ports_file)
        self.proc = subprocess.Popen(
            [sys.executable, server_py, "--port", str(port), "--site-port", "0", "--test-control",
             "--port-file", self.ports_file, "--max-seconds", str(max_seconds), "--quiet"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        _LIVE_SERVICES.append(self.proc)
        deadline = time.monotonic() + 20
        while not os.path.exists(self.ports_file):
            if self.proc.poll() is not None:
                raise RuntimeError("the service ended with %s: is port %d taken?" % (self.proc.returncode, port))
            if time.monotonic() > deadline:
                raise RuntimeError("the service did not start within 20 s")
            time.sleep(0.05)
        with open(self.ports_file) as f:
            ports = json.load(f)
        self.port, self.site_port = ports["service"], ports["site"]
        self.root = "http://127.0.0.1:%d" % self.port
        self.site = "http://127.0.0.1:%d" % self.site_port

    def control(self, command, **params):
        """A test-control command; list values repeat the parameter (set_header=...)."""
        query = urllib.parse.urlencode(params, doseq=True)
        url = "%s/__control/%s%s" % (self.root, command, "?" + query if query else "")
        with urllib.request.urlopen(url, timeout=10) as r:
            return json.load(r)

    def log(self, path=None, server=None):
        params = {k: v for k, v in (("path", path), ("server", server)) if v}
        return self.control("log", **params)

    def stop(self):
        if self.proc in _LIVE_SERVICES:
            _LIVE_SERVICES.remove(self.proc)
        self.proc.terminate()
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait(10)


def unpack(zip_path, dest):
    """The zip unpacked by Python into dest; the program folder (dest/Vellix)."""
    with zipfile.ZipFile(zip_path) as z:
        bad = z.testzip()
        if bad:
            raise AssertionError("%s is damaged in %s" % (bad, zip_path))
        z.extractall(dest)
    return os.path.join(dest, "Vellix")


def patch_service_root(folder, old_root, new_root):
    """Points the program's compiled-in service root at the test's service; how many places."""
    old, new = old_root.encode() + b"\0", new_root.encode()
    if len(new) > len(old) - 1:
        raise AssertionError("the test's service root %s does not fit in %s" % (new_root, old_root))
    patched = 0
    for name in os.listdir(folder):
        if not name.lower().endswith((".exe", ".dll")):
            continue
        path = os.path.join(folder, name)
        with open(path, "rb") as f:
            data = f.read()
        count = data.count(old)
        if count:
            with open(path, "wb") as f:
                f.write(data.replace(old, new.ljust(len(old), b"\0")))
            patched += count
    if not patched:
        raise AssertionError("the service root %s is not in the program" % old_root)
    return patched


def wine_pids(prefix, image):
    """Linux ids of the Wine processes of prefix running image (a file name such as Vellix.exe)."""
    want_prefix = ("WINEPREFIX=" + prefix).encode()
    want_image = image.lower().encode()
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/cmdline" % entry, "rb") as f:
                cmdline = f.read()
            with open("/proc/%s/environ" % entry, "rb") as f:
                environ = f.read().split(b"\0")
        except OSError:
            continue
        if want_prefix not in environ:
            continue
        args = [a.replace(b"\\", b"/").rsplit(b"/", 1)[-1].lower() for a in cmdline.split(b"\0") if a]
        if want_image in args:
            found.append(int(entry))
    return found


class Program:
    """One program folder and its Wine prefix. start() may be called again after the program ended
    or was killed: the folder, its Vellix.dat and its downloads stay."""

    def __init__(self, args, work, service):
        self.args = args
        self.work = work
        self.service = service
        self.prefix = args.prefix
        self.folder = unpack(args.zip, os.path.join(work, "unpacked"))
        patch_service_root(self.folder, args.root, service.root)
        self.proc = None
        self.log_path = os.path.join(work, "program.log")
        self.env = wine_env()

    @property
    def database(self):
        return os.path.join(self.folder, "Vellix.dat")

    @property
    def downloads(self):
        return os.path.join(self.folder, "Download")

    def windows_path(self, path):
        return "Z:" + os.path.abspath(path).replace("/", "\\")

    def start(self, bound=None):
        """Starts Vellix.exe and waits for its visible main window."""
        if self.proc and self.proc.poll() is None:
            raise AssertionError("the program is still running")
        log = open(self.log_path, "a")
        self.proc = subprocess.Popen([self.args.wine_run, self.prefix, os.path.join(self.folder, "Vellix.exe")],
                                     cwd=self.folder, env=self.env, stdin=subprocess.DEVNULL, stdout=log,
                                     stderr=subprocess.STDOUT)
        log.close()
        waited = self.windowctl("wait", MAIN_CLASS, str(bound or self.args.bound))
        if waited.returncode != 0:
            raise AssertionError("no main window: %s %s" % (waited.stderr, self.output()))
        self.alive()

    def alive(self):
        if self.proc is None or self.proc.poll() is not None:
            raise AssertionError("the program ended with %s: %s"
                                 % (self.proc and self.proc.returncode, self.output()))

    def output(self):
        try:
            with open(self.log_path, errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""

    def run_tool(self, exe, *args, timeout=None):
        """A Windows tool of the tests in the program's prefix (so it sees the program's windows)."""
        return subprocess.run([self.args.wine_run, self.prefix, exe] + [str(a) for a in args], env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=timeout or self.args.bound + 30)

    def windowctl(self, *args):
        return self.run_tool(self.args.windowctl, *args)

    def press(self, button_id, bound=None):
        """Clicks a shown button of the main window (its views included) once it is there."""
        pressed = self.windowctl("press", MAIN_CLASS, str(button_id), str(bound or self.args.bound))
        if pressed.returncode != 0:
            raise AssertionError("button %d not pressed: %s" % (button_id, pressed.stderr))

    def close(self, bound=None):
        """Closes the main window as a user would and returns the exit code."""
        bound = bound or self.args.bound
        closed = self.windowctl("close", MAIN_CLASS, str(bound))
        if closed.returncode != 0:
            raise AssertionError("the main window did not close: %s" % closed.stderr)
        return self.proc.wait(bound)

    def kill9(self):
        """SIGKILL to the program's own process: no clean-up of any kind runs."""
        pids = wine_pids(self.prefix, "Vellix.exe")
        if not pids:
            raise AssertionError("no Vellix.exe process in %s" % self.prefix)
        for pid in pids:
            os.kill(pid, signal.SIGKILL)
        wait_for("the killed program to go", lambda: not wine_pids(self.prefix, "Vellix.exe"), 30)
        if self.proc:
            self.proc.wait(30)

    def query(self, sql, params=()):
        """Rows of Vellix.dat, read by Python's sqlite3 while the program may hold it open."""
        con = sqlite3.connect("file:%s?mode=ro" % self.database, uri=True, timeout=10)
        try:
            return con.execute(sql, params).fetchall()
        except sqlite3.OperationalError as e:
            # A killed program leaves a hot journal, which only a writer may roll back, as the
            # program's next start would.
            if "readonly" not in str(e) or (self.proc and self.proc.poll() is None):
                raise
        finally:
            con.close()
        con = sqlite3.connect(self.database, timeout=10)
        try:
            return con.execute(sql, params).fetchall()
        finally:
            con.close()

    def set_config(self, **values):
        """Config2 values written while the program is not running."""
        if self.proc and self.proc.poll() is None:
            raise AssertionError("settings are written only while the program is stopped")
        con = sqlite3.connect(self.database, timeout=10)
        try:
            with con:
                con.executemany("INSERT OR REPLACE INTO Config2(key, value) VALUES(?, ?)",
                                [(k, str(v)) for k, v in values.items()])
        finally:
            con.close()

    def shutdown(self):
        """Ends whatever is left, for the test's clean-up."""
        if self.proc and self.proc.poll() is None:
            for pid in wine_pids(self.prefix, "Vellix.exe"):
                try:
                    os.kill(pid, signal.SIGKILL)
                except OSError:
                    pass
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
        stop_prefix(self.args.wine_run, self.prefix)


def add_program_arguments(parser):
    """The arguments every end-to-end test gets from CMake."""
    parser.add_argument("--zip", required=True, help="the shipped zip")
    parser.add_argument("--windowctl", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--prefix", required=True, help="the Wine prefix of the test's own")
    parser.add_argument("--service", required=True, help="service/server.py")
    parser.add_argument("--root", required=True, help="the service root compiled into the program")
    parser.add_argument("--port", type=int, required=True, help="the test's service port")
    parser.add_argument("--bound", type=float, default=90, help="seconds for each wait")
    parser.add_argument("--driver", help="vxdriver.exe (tests/e2e/driver)")
    parser.add_argument("--shots", help="the folder of the screenshots")


def fresh_work(name):
    import tempfile
    work = tempfile.mkdtemp(prefix="vellix-%s-" % name)
    return work, lambda: shutil.rmtree(work, True)


def launch_only(program):
    """Starts Vellix.exe without waiting for its window; the Linux id of its process once it runs."""
    if program.proc and program.proc.poll() is None:
        raise AssertionError("the program is still running")
    log = open(program.log_path, "a")
    program.proc = subprocess.Popen([program.args.wine_run, program.prefix, os.path.join(program.folder, "Vellix.exe")],
                                    cwd=program.folder, env=program.env, stdin=subprocess.DEVNULL, stdout=log,
                                    stderr=subprocess.STDOUT)
    log.close()
    return wait_for("the Vellix.exe process", lambda: wine_pids(program.prefix, "Vellix.exe"), program.args.bound,
                    interval=0.01)


def answers(program, seconds=5):
    """Whether the program's main window answers a message within seconds (it is not hung)."""
    return program.windowctl("answers", MAIN_CLASS, str(seconds)).returncode == 0


ARGS = None  # the running script's arguments, parsed by run_tests


class ProgramTest(unittest.TestCase):
    """Each test in a work folder of its own, with its own reference service (self.service) and
    unpacked program (self.program); with DRIVEN also the driver (self.driver). A test that needs
    several program folders sets ONE_PROGRAM false and makes them with new_program."""
    DRIVEN = False
    ONE_PROGRAM = True

    def setUp(self):
        self.args = ARGS
        self.work, remove = fresh_work(type(self).__name__.lower())
        self.addCleanup(remove)
        self.service = Service(ARGS.service, self.work, ARGS.port)
        self.addCleanup(self.service.stop)
        if self.ONE_PROGRAM:
            self.program = self.new_program(self.work)
            if self.DRIVEN:
                self.driver = self.new_driver(self.program)

    def new_program(self, work):
        program = Program(ARGS, work, self.service)
        self.addCleanup(program.shutdown)
        self.addCleanup(self.report_failure, program)  # before the shutdown: the windows are still up
        return program

    def failed(self):
        outcome = getattr(self, "_outcome", None)
        result = getattr(outcome, "result", None)
        if result and any(test is self for test, _ in result.failures + result.errors):
            return True
        return any(error for _, error in getattr(outcome, "errors", []))

    def report_failure(self, program):
        """After a failure: a picture of the program's display and the ends of its and the driver's
        logs, so that the failure can be read without a rerun."""
        if not self.failed():
            return
        lines = []
        try:
            with open(program.prefix + ".display") as f:
                display = f.read().split()[0]
            shot = os.path.join(self.args.shots or program.work, "failed-%s.png" % self.id().split(".")[-1])
            os.makedirs(os.path.dirname(shot), exist_ok=True)
            taken = subprocess.run(["import", "-display", display, "-window", "root", shot], stdin=subprocess.DEVNULL,
                                   capture_output=True, text=True, timeout=30)
            lines.append("the display at the failure: %s" % (shot if taken.returncode == 0 else taken.stderr))
        except (OSError, IndexError, subprocess.TimeoutExpired) as e:
            lines.append("no picture of the display: %s" % e)
        for name, path in (("program", program.log_path), ("driver", os.path.join(program.work, "driver.log"))):
            try:
                with open(path, errors="replace") as f:
                    tail = f.readlines()[-80:]
            except OSError:
                continue
            lines.append("---- the end of the %s's log (%s)" % (name, path))
            lines.extend(line.rstrip("\n") for line in tail)
        print("\n".join(lines), file=sys.stderr)

    def new_driver(self, program):
        driver = Driver(program)
        self.addCleanup(driver.stop)
        return driver


def run_tests(road_steps=False):
    """Parses the harness's arguments into ARGS and runs the calling script's tests."""
    global ARGS
    parser = argparse.ArgumentParser()
    add_program_arguments(parser)
    if road_steps:
        parser.add_argument("--road-steps", required=True, help="road_steps.exe (bench/road)")
    ARGS, rest = parser.parse_known_args()

    # Stopped from outside (ctest, Ctrl-C on a script): the test's cleanups will not run, so what it
    # started ends here.
    def stopped(signum, _frame):
        stop_prefix(ARGS.wine_run, ARGS.prefix)
        for proc in _LIVE_SERVICES:
            proc.kill()
        os._exit(128 + signum)
    signal.signal(signal.SIGTERM, stopped)
    signal.signal(signal.SIGINT, stopped)
    unittest.main(module="__main__", argv=[sys.argv[0]] + rest, verbosity=2)


class DriverError(AssertionError):
    pass


class Driver:
    """tests/e2e/driver in the program's prefix: one command a line, one answer line each. Window
    handles are the numbers it answers with; every wait is bounded on both sides of the pipe."""

    def __init__(self, program, exe=None):
        self.program = program
        exe = exe or program.args.driver
        if not exe:
            raise AssertionError("the test needs --driver")
        self.log = open(os.path.join(program.work, "driver.log"), "a")
        self.proc = subprocess.Popen([program.args.wine_run, program.prefix, exe], env=program.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=self.log)
        self.buffer = b""

    @staticmethod
    def _field(value):
        return str(value).replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")

    @staticmethod
    def unescape(text):
        out, i = [], 0
        while i < len(text):
            c = text[i]
            if c == "\\" and i + 1 < len(text):
                i += 1
                c = {"t": "\t", "n": "\n"}.get(text[i], text[i])
            out.append(c)
            i += 1
        return "".join(out)

    def _line(self, bound):
        import select
        deadline = time.monotonic() + bound
        while b"\n" not in self.buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise DriverError("the driver did not answer within %.0f s" % bound)
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 65536)
                if not chunk:
                    raise DriverError("the driver ended with %s" % self.proc.poll())
                self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8", "replace").rstrip("\r")

    def call(self, command, *fields, bound=None, check=True):
        """The answer's value; a DriverError for "error ..." unless check is false (then None)."""
        waits = [float(f) for f in fields if isinstance(f, float)]
        line = "\t".join([command] + [self._field(f) for f in fields]) + "\n"
        self.proc.stdin.write(line.encode("utf-8"))
        self.proc.stdin.flush()
        answer = self._line((bound or 60) + (waits[0] if waits else 0) + 60)
        if answer == "ok" or answer.startswith("ok "):
            return answer[3:]
        if check:
            raise DriverError("%s %s: %s" % (command, " ".join(map(str, fields)), answer))
        return None

    def bound(self, seconds):
        return float(self.program.args.bound if seconds is None else seconds)

    def top(self, cls="", caption="", seconds=None):
        return int(self.call("top", cls, caption, self.bound(seconds)))

    def notop(self, cls="", caption="", seconds=None):
        self.call("notop", cls, caption, self.bound(seconds))

    def child(self, window, what, seconds=None, hidden=False, seen=False):
        """A descendant by control id or class: shown by its own style; any with hidden; on the
        screen with all its parents with seen."""
        showing = ["hidden"] if hidden else ["seen"] if seen else []
        return int(self.call("child", window, what, self.bound(seconds), *showing))

    def gone(self, window, seconds=None):
        self.call("gone", window, self.bound(seconds))

    def tops(self):
        fields = self.call("tops").split("\t")
        return [(int(fields[i]), self.unescape(fields[i + 1]), self.unescape(fields[i + 2]))
                for i in range(0, len(fields) - 2, 3)]

    def text(self, window):
        return self.unescape(self.call("text", window))

    def settext(self, window, text):
        self.call("settext", window, text)

    def visible(self, window):
        return self.call("visible", window) == "1"

    def enabled(self, window):
        return self.call("enabled", window) == "1"

    def shown(self, window):
        return self.call("shown", window) == "1"

    def click(self, window):
        self.call("click", window)

    def press(self, window):
        """A posted BM_CLICK: the button takes the click as from the mouse (a box changes its tick)."""
        self.post(window, 0x00F5)

    def command(self, window, ident):
        self.call("command", window, ident)

    def key(self, window, vk):
        self.call("key", window, vk)

    def close(self, window):
        self.call("close", window)

    def locate(self, window, selector):
        """Where the first element of the HTML page matching selector is, or None."""
        point = self.call("locate", window, selector, check=False)
        return tuple(map(int, point.split())) if point else None

    def page(self, window, selector, seconds=None):
        """The HTML page on the screen under window that holds an element matching selector."""
        return int(self.call("page", window, selector, self.bound(seconds)))

    def clickin(self, window, selector):
        self.call("clickin", window, selector)

    def post(self, window, msg, wparam=0, lparam=0):
        self.call("post", window, msg, wparam, lparam)

    def send(self, window, msg, wparam=0, lparam=0):
        return int(self.call("send", window, msg, wparam, lparam))

    def count(self, window):
        return int(self.call("count", window))

    def items(self, window, sub=0):
        return [self.unescape(self.call("item", window, i, sub)) for i in range(self.count(window))]

    def ticked(self, window, index):
        return self.call("ticked", window, index) == "1"

    def tick(self, window, index, on=True):
        self.call("tick", window, index, 1 if on else 0)

    def shot(self, window, name):
        """The window's picture as shots/NAME.png; its path, or None without --shots."""
        shots = self.program.args.shots
        if not shots:
            return None
        os.makedirs(shots, exist_ok=True)
        bmp = os.path.join(self.program.work, name + ".bmp")
        self.call("shot", window, self.program.windows_path(bmp))
        png = os.path.join(shots, name + ".png")
        bmp_to_png(bmp, png)
        os.remove(bmp)
        return png

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write(b"quit\n")
                self.proc.stdin.close()
                self.proc.wait(20)
            except (OSError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait(10)
        if self.proc.stdout:
            self.proc.stdout.close()
        self.log.close()


def bmp_to_png(bmp, png):
    """A 24-bit bottom-up BMP (the driver's pictures) as a PNG, written then renamed."""
    import struct
    import zlib
    with open(bmp, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or height <= 0:
        raise AssertionError("%s is no bottom-up 24-bit picture" % bmp)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride:offset + y * stride + width * 3]
        rgb = bytearray(len(row))
        rgb[0::3], rgb[1::3], rgb[2::3] = row[2::3], row[1::3], row[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)

    out = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
           chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
    with open(png + ".part", "wb") as f:
        f.write(out)
    os.replace(png + ".part", png)
