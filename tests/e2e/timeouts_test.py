#!/usr/bin/env python3
"""Answers that come later than the program waits: the configuration at start-up, a comic page and
a volume's page while its images are extracted (two minutes each), and an image (five minutes). The program gives up when its time-out is over,
not before, says so, answers throughout, and the rest of the work is unharmed."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

IDOK, IDCANCEL, IDNO = 1, 2, 7
MESSAGE_TEXT = 65535
GRABFAILED_INFO = 1360
STEP_TIMEOUT, IMAGE_TIMEOUT = 120, 300
LATE_MS = 400 * 1000    # later than every time-out
SLACK = 60              # for the program to act once its time-out is over
COMIC = us.COMICS["harbor"]
IMAGE_FAILED = 3


class TimeoutsTest(vxprogram.ProgramTest):
    DRIVEN = True

    def late_dialog(self, caption, asked, timeout):
        """The dialog that ends a wait of timeout seconds, which began at asked: it comes neither
        before the time-out nor long after, and the window answers while it waits."""
        d, p = self.driver, self.program
        vxprogram.wait_for("half of the time-out", lambda: time.monotonic() - asked >= timeout / 2, timeout)
        self.assertTrue(vxprogram.answers(p), "the window does not answer while the answer is awaited")
        self.assertFalse([t for t in d.tops() if t[1:] == ("#32770", caption)], "gave up before its time-out")
        dialog = d.top("#32770", caption, seconds=timeout / 2 + SLACK)
        waited = time.monotonic() - asked
        self.assertGreaterEqual(waited, timeout - 5, "gave up after %.0f s" % waited)
        return dialog

    def late_box(self, caption, text, asked, timeout):
        """late_dialog for a message box that says text."""
        d = self.driver
        box = self.late_dialog(caption, asked, timeout)
        self.assertTrue(d.text(d.child(box, MESSAGE_TEXT)).startswith(text), d.text(d.child(box, MESSAGE_TEXT)))
        return box

    def test_start_up_and_a_comic_page_past_their_time_out(self):
        p, d, s = self.program, self.driver, self.service
        s.control("fail", path="/v2/config.php", server="service", delay_ms=str(LATE_MS))
        p.start()
        vxprogram.wait_for("the configuration request", lambda: s.log("/v2/config.php"), self.args.bound, alive=p.alive)
        asked = time.monotonic()
        box = self.late_box("Error", "Failed to initialize", asked, STEP_TIMEOUT)
        d.command(box, IDOK)
        self.assertEqual(p.proc.wait(self.args.bound), 0, p.output())

        s.control("clear_failures")
        page = "/comic/%s.html" % COMIC["id"]
        s.control("fail", path=page, server="site", delay_ms=str(LATE_MS))
        p.start()
        main = us.main_window(d)
        us.type_address(d, main, s.site + page, lambda: s.log(page, server="site"))
        box = self.late_box("Vellix", "Vellix cannot get this web page.", time.monotonic(), STEP_TIMEOUT)
        d.command(box, IDNO)
        d.gone(box)
        s.control("clear_failures")
        us.open_address(d, main, s.site + page, len(COMIC["volumes"]))
        self.assertEqual(p.close(), 0, p.output())

    def test_a_volume_page_past_its_time_out_fails_the_volume(self):
        p, d, s = self.program, self.driver, self.service
        volume = COMIC["volumes"][1]
        late = "/comic/%s/%s.html" % (COMIC["id"], volume["id"])
        p.start()
        main = us.main_window(d)
        volumes, download = us.open_address(d, main, "%s/comic/%s.html" % (s.site, COMIC["id"]),
                                            len(COMIC["volumes"]))
        s.control("fail", path=late, server="site", delay_ms=str(LATE_MS))
        for i, title in enumerate(d.items(volumes)):
            d.tick(volumes, i, volume["title"] in title)
        d.click(download)
        vxprogram.wait_for("the late volume page asked", lambda: s.log(late, server="site"), self.args.bound,
                           alive=p.alive)
        dialog = self.late_dialog("Extracting Failed", time.monotonic(), STEP_TIMEOUT)
        self.assertIn(volume["title"], d.text(d.child(dialog, GRABFAILED_INFO)))
        d.command(dialog, IDCANCEL)
        d.gone(dialog)
        self.assertEqual(p.query("SELECT COUNT(*) FROM Task2"), [(0,)])

        s.control("clear_failures")
        for i, title in enumerate(d.items(volumes)):
            d.tick(volumes, i, volume["title"] in title)
        d.click(download)
        vxprogram.wait_for("the volume's task", lambda: us.tasks_done(p, 1), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, 1, [(COMIC, volume)], False)

    def test_an_image_past_its_time_out_fails_alone(self):
        p, d, s = self.program, self.driver, self.service
        volume = COMIC["volumes"][0]
        late = "/img/%s/%s/2.*" % (COMIC["id"], volume["id"])
        s.control("fail", path=late, server="site", delay_ms=str(LATE_MS))
        p.start()
        main = us.main_window(d)
        volumes, download = us.open_address(d, main, "%s/comic/%s.html" % (s.site, COMIC["id"]),
                                            len(COMIC["volumes"]))
        for i, title in enumerate(d.items(volumes)):
            d.tick(volumes, i, volume["title"] in title)
        d.click(download)
        vxprogram.wait_for("the late image asked", lambda: s.log(late, server="site"), self.args.bound, alive=p.alive)
        asked = time.monotonic()

        def states():
            return sorted(st or 0 for st, in p.query("SELECT status FROM Image2"))
        vxprogram.wait_for("the other images", lambda: states().count(us.IMAGE_DONE) == len(volume["pages"]) - 1,
                           self.args.bound, alive=p.alive)
        vxprogram.wait_for("half of the time-out", lambda: time.monotonic() - asked >= IMAGE_TIMEOUT / 2,
                           IMAGE_TIMEOUT)
        self.assertTrue(vxprogram.answers(p), "the window does not answer while the image is awaited")
        self.assertNotIn(IMAGE_FAILED, states(), "the image failed before its time-out")

        def ended():
            return p.query("SELECT Status FROM Task2") == [(us.TASK_FINISHED,)]
        vxprogram.wait_for("the task to end", ended, IMAGE_TIMEOUT / 2 + SLACK, alive=p.alive)
        waited = time.monotonic() - asked
        self.assertGreaterEqual(waited, IMAGE_TIMEOUT - 5, "gave up after %.0f s" % waited)
        self.assertEqual(states(), [us.IMAGE_DONE] * (len(volume["pages"]) - 1) + [IMAGE_FAILED])
        (target, ext, path), = p.query("SELECT target, ext, Task2.Path FROM Image2 JOIN Task2 "
                                       "ON Image2.parent = Task2.rowid WHERE Image2.status=?", (IMAGE_FAILED,))
        folder = us.linux_path(path)
        self.assertEqual([f for f in os.listdir(folder) if f.startswith(target)], [], "the late image left a file")
        self.assertTrue(vxprogram.answers(p))
        self.assertEqual(p.close(), 0, p.output())


if __name__ == "__main__":
    vxprogram.run_tests()
