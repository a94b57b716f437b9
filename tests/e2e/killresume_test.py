#!/usr/bin/env python3
"""A download killed with SIGKILL halfway resumes at the next start with nothing lost: every image
ends done once, no file under its final name is short, no unfinished file counts as done, and the
files are the bytes the site serves."""
import os
import subprocess
import sys
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vxprogram  # noqa: E402

COMIC = "kite"
VOLUMES = 3
PAGES = 40
PAGE_BYTES = 60000
DONE, FAILED = 2, 3
START_BUTTON = 1102  # the download view's Start / Pause


class KillResumeTest(vxprogram.ProgramTest):
    def images(self):
        return self.program.query("SELECT Image2.url, Image2.ref, Image2.target, Image2.status, Image2.ext, Task2.Path, Task2.Cookie FROM Image2 "
                                  "JOIN Task2 ON Image2.parent = Task2.rowid ORDER BY Image2.url")

    def files(self):
        return {os.path.join(d, f) for d, _, fs in os.walk(self.program.downloads) for f in fs}

    def served(self, url, ref, cookie):
        request = urllib.request.Request(url, headers={"Referer": ref, "Cookie": cookie})
        with urllib.request.urlopen(request, timeout=10) as r:
            return r.read()

    def final_path(self, row):
        _, _, target, _, ext, path, _ = row
        # The task's folder is stored the Windows way, on the drive that maps the Linux root.
        folder = path.replace("\\", "/")
        if folder[1:3] == ":/":
            folder = folder[2:]
        # An image not done has no stored extension yet; the demo pages' addresses carry theirs.
        return os.path.join(folder, target + (ext or os.path.splitext(row[0])[1]))

    def check_files(self, rows):
        """Every image stored as done has its whole file under its final name, and a final file of an
        image not done yet (saved whole, its state not yet stored when the kill came) is whole too.
        Returns the final paths of the done images."""
        done, finals = set(), {f for f in self.files() if f.endswith(".jpg")}
        for row in rows:
            path = self.final_path(row)
            if row[3] != DONE and path not in finals:
                continue
            self.assertTrue(os.path.isfile(path), "done without a file: %s" % row[0])
            with open(path, "rb") as f:
                self.assertEqual(f.read(), self.served(row[0], row[1], row[6]), "%s is not what the site serves" % path)
            if row[3] == DONE:
                done.add(path)
        known = {self.final_path(r) for r in rows}
        self.assertEqual(finals - known, set(), "final files that are no image's")
        return done

    def test_a_killed_download_resumes_with_every_image_once(self):
        s, p = self.service, self.program
        for v in range(VOLUMES):
            s.control("add_volume", comic=COMIC, title="Kill %d" % (v + 1), pages=",".join(["jpg"] * PAGES),
                      page_bytes=str(PAGE_BYTES))
        total = VOLUMES * PAGES
        slow = s.control("fail", path="/img/%s/*" % COMIC, server="site", delay_ms="150")
        self.assertIn("id", slow)

        p.start()
        road = subprocess.Popen(
            [self.args.wine_run, p.prefix, self.args.road_steps, s.site + "/comic/%s.html" % COMIC, "Kill",
             str(VOLUMES + 1), str(int(self.args.bound))],
            env=p.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: road.poll() is None and road.kill())

        def done_count():
            return sum(1 for r in p.query("SELECT status FROM Image2") if r[0] == DONE)
        vxprogram.wait_for("half of the images", lambda: done_count() >= total // 2, self.args.bound, alive=p.alive)
        p.kill9()
        road.wait(60)
        asked_before = len(s.log("/img/%s/*" % COMIC))

        rows = self.images()
        self.assertEqual(len(rows), total, "the grab stored every image once before the kill")
        self.assertEqual(len({r[0] for r in rows}), total)
        before = self.check_files(rows)
        self.assertLess(len(before), total, "the kill came after the end: nothing was left to resume")

        s.control("clear_failures")
        s.control("clear_log")  # the test's own reads of the served files are not the program's
        p.start()

        def settled():
            states = [r[0] for r in p.query("SELECT status FROM Image2")]
            return len(states) == total and all(st in (DONE, FAILED) for st in states)
        # The stored tasks wait for the user, as after any start: the download view's Start.
        p.press(START_BUTTON)
        try:
            vxprogram.wait_for("every image to end", settled, self.args.bound, alive=p.alive)
        except AssertionError:
            raise AssertionError("tasks %s, images %s" % (
                p.query("SELECT rowid, Status FROM Task2"),
                p.query("SELECT parent, status, COUNT(*) FROM Image2 GROUP BY parent, status")))
        asked_after = len(s.log("/img/%s/*" % COMIC))
        rows = self.images()
        self.assertEqual(len(rows), total)
        self.assertEqual(len({r[0] for r in rows}), total, "an image was stored twice")
        self.assertEqual([r[0] for r in rows if r[3] != DONE], [], "a healthy site leaves no image failed")
        after = self.check_files(rows)
        self.assertEqual(len(after), total)
        # What was done before the kill is not fetched again; only the five slots' requests that
        # the kill cut off are asked twice.
        self.assertLessEqual(asked_before + asked_after, total + 5, "images done before the kill were fetched again")
        self.assertEqual(p.close(), 0, p.output())
        self.assertEqual({f for f in self.files() if not f.endswith(".jpg")}, set(),
                         "unfinished files were left behind")


if __name__ == "__main__":
    vxprogram.run_tests(road_steps=True)
