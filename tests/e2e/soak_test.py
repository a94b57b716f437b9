#!/usr/bin/env python3
"""A soak: 50 tasks of 200 small images grabbed through the windows, one answer in twenty failing
or slow. Every image ends done or failed once, the stored rows agree with the files, no slot stays
stuck, and the program's private bytes and handles at the end are within 10 % of their value after
the first thousand images."""
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

DONE, FAILED = 2, 3
COMIC = "harbor"
TASKS, PAGES = 50, 200
# One page in twenty: the odd ones fail, the even ones are slow but whole.
EVERY = 20
SLOW_MS = "150"
STALL = 30  # seconds without one more image ended


class SoakTest(vxprogram.ProgramTest):
    def usage(self):
        """Private bytes and handles. Wine answers 0 for another process's private bytes and handle
        count, so the private bytes are the process's anonymous resident memory as Linux counts it,
        and the handles those of the system's process list, which the Wine server fills."""
        got = self.program.windowctl("usage", vxprogram.MAIN_CLASS, "10")
        self.assertEqual(got.returncode, 0, got.stderr)
        listed = dict(re.findall(r"(\w+)=(-?\d+)", got.stdout))
        pids = vxprogram.wine_pids(self.program.prefix, "Vellix.exe")
        self.assertEqual(len(pids), 1)
        with open("/proc/%d/status" % pids[0]) as f:
            anon = int(re.search(r"RssAnon:\s+(\d+) kB", f.read()).group(1)) * 1024
        usage = {"private": anon, "handles": int(listed["listed_handles"])}
        self.assertGreater(min(usage.values()), 0, "no usage read: %s" % got.stdout)
        return usage

    def ended(self):
        return dict(self.program.query("SELECT status, COUNT(*) FROM Image2 WHERE status IN (2, 3) GROUP BY status"))

    def test_soak(self):
        s, p = self.service, self.program
        failing, slow = set(), set()
        for t in range(TASKS):
            volume = s.control("add_volume", comic=COMIC, title="Soak %02d" % t, pages=",".join(["png"] * PAGES))["id"]
            for n in range(1 + t % EVERY, PAGES + 1, EVERY):
                path = "/img/%s/%s/%d.png" % (COMIC, volume, n)
                if (n // EVERY) % 2:
                    failing.add(path)
                    s.control("fail", path=path, server="site", status="503")
                else:
                    slow.add(path)
                    s.control("fail", path=path, server="site", delay_ms=SLOW_MS)
        total = TASKS * PAGES
        self.assertEqual(len(failing) + len(slow), total // EVERY)

        p.start()
        road = subprocess.Popen(
            [self.args.wine_run, p.prefix, self.args.road_steps, s.site + "/comic/%s.html" % COMIC, "Soak", str(TASKS + 3),
             str(int(self.args.bound) * 4)],
            env=p.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: road.poll() is None and road.kill())

        first = None
        last, last_change = -1, time.monotonic()
        while road.poll() is None:
            ended = sum(self.ended().values())
            if ended != last:
                last, last_change = ended, time.monotonic()
            self.assertLess(time.monotonic() - last_change, STALL, "no image ended for %d s at %d" % (STALL, ended))
            if first is None and ended >= 1000:
                first = self.usage()
            p.alive()
            time.sleep(0.5)
        out, err = road.communicate()
        self.assertEqual(road.returncode, 0, "the road did not end: %s %s" % (out, err))
        self.assertIsNotNone(first, "the usage after a thousand images was never read")
        us.wait_stored(self, p, total)
        end = self.usage()
        print("usage after 1000 images %s, at the end %s" % (first, end), file=sys.stderr)

        rows = p.query("SELECT Image2.url, Image2.target, Image2.status, Image2.ext, Task2.Path, Task2.Status "
                       "FROM Image2 JOIN Task2 ON Image2.parent = Task2.rowid")
        self.assertEqual(len(rows), total)
        by_path = {"/" + r[0].split("/", 3)[3]: r for r in rows}
        self.assertEqual(len(by_path), total, "an image was stored twice")
        wrong = {u for u, r in by_path.items() if (r[2] == FAILED) != (u in failing) or r[2] not in (DONE, FAILED)}
        self.assertEqual(wrong, set(), "\n".join(
            "%s: stored %s, the site answered %s" % (u, by_path[u], [e["status"] for e in s.log(u, "site")])
            for u in sorted(wrong)[:10]))
        self.assertEqual({r[5] for r in rows}, {2}, "a task did not finish")
        files = {os.path.join(d, f) for d, _, fs in os.walk(p.downloads) for f in fs}
        expected = set()
        for url, (_, target, status, ext, folder, _) in by_path.items():
            if status == DONE:
                folder = folder.replace("\\", "/")[2:] if folder[1:2] == ":" else folder
                expected.add(os.path.join(folder, target + ext))
        self.assertEqual(files, expected, "the files and the stored rows disagree")
        for key in ("private", "handles"):
            self.assertLessEqual(end[key], first[key] * 1.1, "%s grew: %s then %s" % (key, first, end))
        self.assertEqual(p.close(), 0, p.output())


if __name__ == "__main__":
    vxprogram.run_tests(road_steps=True)
