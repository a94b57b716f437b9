#!/usr/bin/env python3
"""The shipped zip, unpacked by a second reader into an empty folder, starts and ends cleanly.

Checks that every DLL imported by a program file of the zip (read from the PE import and delay
import tables here, not through the packing script's objdump) is in the zip or provided by
Windows, then starts Vellix.exe from the unpacked folder under Wine against the reference service,
waits for its visible main window, closes it and expects exit code 0, a service configuration
request and a database beside the program.
"""
import argparse
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from vxprogram import MAIN_CLASS, Service, patch_service_root, stop_prefix, wine_env  # noqa: E402

ARGS = None
RUNTIME_PREFIXES = ("libgcc_s_", "libstdc++", "libwinpthread", "lua5")


def pe_imports(data):
    """Names of the DLLs in the import and delay import tables of a PE image."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    sections_count, = struct.unpack_from("<H", data, pe + 6)
    opt_size, = struct.unpack_from("<H", data, pe + 20)
    opt = pe + 24
    magic, = struct.unpack_from("<H", data, opt)
    if magic == 0x10B:
        image_base, = struct.unpack_from("<I", data, opt + 28)
        dirs = opt + 96
    elif magic == 0x20B:
        image_base, = struct.unpack_from("<Q", data, opt + 24)
        dirs = opt + 112
    else:
        raise ValueError("optional header magic %#x" % magic)
    sections = []
    for i in range(sections_count):
        s = opt + opt_size + 40 * i
        vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, s + 8)
        sections.append((vaddr, max(vsize, rsize), raw))

    def offset(rva):
        for vaddr, size, raw in sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("RVA %#x outside the sections" % rva)

    def cstring(rva):
        o = offset(rva)
        return data[o:data.index(b"\0", o)].decode("ascii")

    names = []
    rva, _ = struct.unpack_from("<II", data, dirs + 8 * 1)
    if rva:
        o = offset(rva)
        while True:
            fields = struct.unpack_from("<IIIII", data, o)
            if not any(fields):
                break
            names.append(cstring(fields[3]))
            o += 20
    rva, _ = struct.unpack_from("<II", data, dirs + 8 * 13)
    if rva:
        o = offset(rva)
        while True:
            attributes, name = struct.unpack_from("<II", data, o)
            if not attributes and not name:
                break
            # Old-style descriptors hold addresses, not RVAs.
            names.append(cstring(name if attributes & 1 else name - image_base))
            o += 32
    return names


class PackageTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="vellix-package-")
        self.addCleanup(shutil.rmtree, self.work, True)
        self.folder = os.path.join(self.work, "unpacked")
        os.mkdir(self.folder)
        with zipfile.ZipFile(ARGS.zip) as z:
            self.assertIsNone(z.testzip())
            z.extractall(self.folder)
        self.program = os.path.join(self.folder, "Vellix")

    def files(self):
        return {n.lower(): os.path.join(self.program, n) for n in os.listdir(self.program)}

    def test_contents(self):
        files = self.files()
        for name in ("vellix.exe", "quillet.dll", "dornet.dll", "tessara.dll", "htmlayout.dll", "faultkeep.dll",
                     "lua52.dll", "libstdc++-6.dll", "libwinpthread-1.dll"):
            self.assertIn(name, files)
        self.assertTrue(any(n.startswith("libgcc_s_") for n in files), sorted(files))
        for lang in ("en.ini", "zh-cn.ini"):
            self.assertGreater(os.path.getsize(os.path.join(self.program, "Languages", lang)), 0)

    def test_every_import_is_shipped_or_windows(self):
        # What Wine provides as Windows DLLs, in a prefix of the program's architecture.
        self.addCleanup(stop_prefix, ARGS.wine_run, ARGS.prefix)
        run = subprocess.run([ARGS.wine_run, ARGS.prefix, ARGS.windowctl], env=wine_env(), stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=120)
        self.assertEqual(run.returncode, 2, run.stderr)  # its usage answer: the prefix exists
        system_dir = os.path.join(ARGS.prefix, "drive_c", "windows", "system32")
        system = {n.lower() for n in os.listdir(system_dir)}
        self.assertIn("kernel32.dll", system)
        files = self.files()
        problems = []
        for name, path in sorted(files.items()):
            if not name.endswith((".exe", ".dll")):
                continue
            with open(path, "rb") as f:
                for dll in pe_imports(f.read()):
                    key = dll.lower()
                    if key in files:
                        continue
                    if key in system and not key.startswith(RUNTIME_PREFIXES):
                        continue
                    problems.append("%s needs %s" % (name, dll))
        self.assertEqual(problems, [])
        with open(files["vellix.exe"], "rb") as f:
            imported = {d.lower() for d in pe_imports(f.read())}
        # The reader itself must see the program's own libraries, or an empty result proves nothing.
        self.assertTrue({"quillet.dll", "dornet.dll", "tessara.dll"} <= imported, sorted(imported))

    def test_starts_shows_its_window_and_closes(self):
        # The compiled-in root names a fixed port that a running copy of the program's service may
        # hold; this copy of the program talks to the test's own service instead.
        patch_service_root(self.program, ARGS.root, "http://127.0.0.1:%d" % ARGS.port)

        service = Service(ARGS.service, self.work, ARGS.port)
        self.addCleanup(service.stop)
        prefix = ARGS.prefix
        self.addCleanup(stop_prefix, ARGS.wine_run, prefix)
        env = wine_env()
        program_log = open(os.path.join(self.work, "program.log"), "w+")
        self.addCleanup(program_log.close)
        program = subprocess.Popen([ARGS.wine_run, prefix, os.path.join(self.program, "Vellix.exe")],
                                   cwd=self.program, env=env, stdin=subprocess.DEVNULL, stdout=program_log,
                                   stderr=subprocess.STDOUT)

        def kill_program():
            if program.poll() is None:
                program.kill()
                program.wait(10)
        self.addCleanup(kill_program)

        def windowctl(*args):
            return subprocess.run([ARGS.wine_run, prefix, ARGS.windowctl] + list(args), env=env,
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=ARGS.bound + 30)

        def program_output():
            program_log.seek(0)
            return program_log.read()

        waited = windowctl("wait", MAIN_CLASS, str(ARGS.bound))
        self.assertEqual(waited.returncode, 0, waited.stderr + program_output())
        self.assertIsNone(program.poll(), "the window is not the program's: it ended with %s" % program.returncode)
        # The frame is shown before its start-up job asks the service for the configuration.
        deadline = time.monotonic() + ARGS.bound
        while not [r for r in service.log("/v2/config.php") if r["status"] == 200]:
            self.assertIsNone(program.poll(), "the program ended with %s before asking the service: %s"
                              % (program.returncode, program_output()))
            self.assertLess(time.monotonic(), deadline, "the program did not ask the test's service")
            time.sleep(0.1)
        closed = windowctl("close", MAIN_CLASS, str(ARGS.bound))
        self.assertEqual(closed.returncode, 0, closed.stderr)
        self.assertEqual(program.wait(ARGS.bound), 0, program_output())
        self.assertTrue(os.path.isfile(os.path.join(self.program, "Vellix.dat")), sorted(self.files()))


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--zip", required=True)
    p.add_argument("--windowctl", required=True)
    p.add_argument("--wine-run", required=True)
    p.add_argument("--prefix", required=True)
    p.add_argument("--service", required=True)
    p.add_argument("--root", required=True, help="the service root compiled into the program")
    p.add_argument("--port", type=int, required=True)
    p.add_argument("--bound", type=float, default=90, help="seconds for each wait")
    ARGS, rest = p.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
