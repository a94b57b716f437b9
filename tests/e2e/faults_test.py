#!/usr/bin/env python3
"""The service and the site failing in each way the test control offers: at start-up the program
either says it cannot start and ends, or comes up and answers; while downloading, each broken answer fails its image (and only its
image), no broken file stands under an image's final name, and the window answers throughout."""
import os
import subprocess
import sys
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

DONE, FAILED = 2, 3
COMIC = "yuexia"

# Each way of failing, as the test control's parameters.
FAILURES = [
    ("status 500", {"status": "500"}),
    ("status 404", {"status": "404"}),
    ("dropped connection", {"drop": "1"}),
    ("truncated body", {"truncate": "40"}),
    ("error page", {"body": "<html><body>busy</body></html>", "set_header": "Content-Type:text/html"}),
    ("empty body", {"body": ""}),
]
# Slow answers that still come whole: their images are done.
SLOW = {"delay_ms": "1500"}
HEALTHY = 3
# Without a whole answer at start-up the program cannot start; a whole one, even without a
# catalogue in it, lets it start.
START_UP_REFUSED = {"status 500", "status 404", "dropped connection", "truncated body"}
IDOK = 1
MESSAGE_TEXT = 65535


class FaultsTest(vxprogram.ProgramTest):
    DRIVEN = True

    def test_start_up_with_the_service_failing(self):
        s, p, d = self.service, self.program, self.driver
        for name, params in FAILURES + [("slow", {"delay_ms": "3000"})]:
            with self.subTest(name):
                s.control("clear_failures")
                s.control("clear_log")
                s.control("fail", path="/v2/*", server="service", **params)
                p.start()
                vxprogram.wait_for("the configuration request", lambda: s.log("/v2/config.php"), self.args.bound,
                                   alive=p.alive)
                self.assertTrue(vxprogram.answers(p), "the window does not answer with the service's %s" % name)
                if name in START_UP_REFUSED:
                    box = d.top("#32770", "Error")
                    self.assertTrue(d.text(d.child(box, MESSAGE_TEXT)).startswith("Failed to initialize"))
                    d.command(box, IDOK)
                    self.assertEqual(p.proc.wait(self.args.bound), 0, p.output())
                    continue
                us.main_window(d)
                self.assertTrue(vxprogram.answers(p))
                self.assertEqual(p.close(), 0, p.output())
        self.assertEqual(p.query("PRAGMA integrity_check"), [("ok",)])

    def test_downloading_with_the_site_failing(self):
        s, p = self.service, self.program
        kinds = len(FAILURES) + 1 + HEALTHY
        volume = s.control("add_volume", comic=COMIC, title="Faults", pages=",".join(["jpg"] * kinds))["id"]
        path = "/img/%s/%s/%%d.jpg" % (COMIC, volume)
        broken = {}
        for n, (name, params) in enumerate(FAILURES, 1):
            s.control("fail", path=path % n, server="site", **params)
            broken[path % n] = name
        slow = path % (len(FAILURES) + 1)
        s.control("fail", path=slow, server="site", **SLOW)

        p.start()
        road = subprocess.Popen(
            [self.args.wine_run, p.prefix, self.args.road_steps, s.site + "/comic/%s.html" % COMIC, "Faults", "3",
             str(int(self.args.bound))],
            env=p.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: road.poll() is None and road.kill())
        # While the slow answer is awaited the window still answers.
        vxprogram.wait_for("the slow image asked", lambda: s.log(slow), self.args.bound, alive=p.alive)
        self.assertTrue(vxprogram.answers(p), "the window does not answer during the download")
        out, err = road.communicate(timeout=self.args.bound + 60)
        self.assertEqual(road.returncode, 0, "the road did not end: %s %s" % (out, err))
        self.assertTrue(vxprogram.answers(p))
        us.wait_stored(self, p, kinds)

        rows = p.query("SELECT Image2.url, Image2.ref, Image2.target, Image2.status, Image2.ext, Task2.Path, "
                       "Task2.Cookie FROM Image2 JOIN Task2 ON Image2.parent = Task2.rowid")
        self.assertEqual(len(rows), kinds)
        got = {"/" + r[0].split("/", 3)[3]: r for r in rows}
        failed = {u for u, r in got.items() if r[3] == FAILED}
        done = {u for u, r in got.items() if r[3] == DONE}
        self.assertEqual(failed, set(broken), "failed images: %s" % sorted(broken[u] for u in failed if u in broken))
        self.assertEqual(done | failed, set(got), "an image neither done nor failed")
        # Every file under a final name is the site's bytes; a failed image has none.
        s.control("clear_failures")
        for url, (full, ref, target, status, ext, folder, cookie) in got.items():
            folder = folder.replace("\\", "/")[2:] if folder[1:2] == ":" else folder
            final = os.path.join(folder, target + ".jpg")
            if status == FAILED:
                self.assertFalse(os.path.exists(final), "%s left %s" % (broken[url], final))
                continue
            self.assertEqual(ext, ".jpg")
            request = urllib.request.Request(full, headers={"Referer": ref, "Cookie": cookie})
            with urllib.request.urlopen(request, timeout=10) as r, open(final, "rb") as f:
                self.assertEqual(f.read(), r.read(), final)
        leftovers = [f for d, _, fs in os.walk(p.downloads) for f in fs if not f.endswith(".jpg")]
        self.assertEqual(leftovers, [], "unfinished files left")
        self.assertEqual(p.close(), 0, p.output())


if __name__ == "__main__":
    vxprogram.run_tests(road_steps=True)
