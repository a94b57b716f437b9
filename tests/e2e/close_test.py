#!/usr/bin/env python3
"""Closing the main window with downloads unfinished asks first: "No" keeps the program and its
downloads going, "Yes" ends it cleanly, and the next start carries the tasks to their end with
every image whole and nothing left over."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

IDYES, IDNO = 6, 7
MESSAGE_TEXT = 65535  # the static text of a message box


class CloseTest(vxprogram.ProgramTest):
    DRIVEN = True

    def done_images(self):
        return self.program.query("SELECT COUNT(*) FROM Image2 WHERE status=?", (us.IMAGE_DONE,))[0][0]

    def ask_to_close(self, main):
        d = self.driver
        d.close(main)
        box = d.top("#32770")
        self.assertIn("not finished", d.text(d.child(box, MESSAGE_TEXT)))
        return box

    def test_closing_with_unfinished_downloads_asks(self):
        p, d = self.program, self.driver
        comic = us.COMICS["harbor"]
        images = sum(len(v["pages"]) for v in comic["volumes"])
        # One image that takes long keeps its task unfinished through both questions; the others are
        # slow enough to be seen coming in.
        last = comic["volumes"][-1]
        self.service.control("fail", path="/img/harbor/%s/%d.*" % (last["id"], len(last["pages"])), server="site",
                             delay_ms="60000")
        self.service.control("fail", path="/img/harbor/*", server="site", delay_ms="700")
        p.start()
        main = us.main_window(d)
        volumes, download = us.open_address(d, main, self.service.site + "/comic/harbor.html", len(comic["volumes"]))
        us.tick_all(d, volumes)
        d.click(download)
        vxprogram.wait_for("the tasks", lambda: len(p.query("SELECT * FROM Task2")) == len(comic["volumes"]),
                           self.args.bound, alive=p.alive)

        box = self.ask_to_close(main)
        d.command(box, IDNO)
        d.gone(box)
        before = self.done_images()
        vxprogram.wait_for("more images after No", lambda: self.done_images() > before, self.args.bound, alive=p.alive)
        self.assertTrue(d.visible(main))

        box = self.ask_to_close(main)
        d.command(box, IDYES)
        self.assertEqual(p.proc.wait(self.args.bound), 0, p.output())
        self.assertLess(self.done_images(), images)
        self.assertEqual(p.query("PRAGMA integrity_check"), [("ok",)])

        self.service.control("clear_failures")
        p.start()
        main = us.main_window(d, start_page=False)
        # The stored tasks wait for the user's Start.
        start = d.child(main, us.START_BUTTON)
        self.assertEqual(d.text(start), "Start")
        d.click(start)
        vxprogram.wait_for("the tasks to finish after the restart", lambda: us.tasks_done(p, len(comic["volumes"])),
                           self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, 1, [(comic, v) for v in comic["volumes"]], False)


if __name__ == "__main__":
    vxprogram.run_tests()
