#!/usr/bin/env python3
"""The service and the site failing while a comic page loads and while a volume's images are extracted: the
program says so in the dialog a user meets, the window answers throughout, nothing half-made is
stored, and once the site is healthy the same steps succeed."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

IDOK, IDCANCEL, IDCLOSE, IDNO = 1, 2, 8, 7
MESSAGE_TEXT = 65535   # the text of a message box
GRABFAILED_INFO = 1360
GET_FAILED = "Vellix cannot get this web page."
SCRIPT_FAILED = "The script of this site could not be loaded."
PARSE_FAILED = "Parse Failed"    # the example dialog's caption: the page came but says nothing
COMIC = us.COMICS["harbor"]

# Each way of failing, as the test control's parameters, and whether the page still arrives.
FAILURES = [
    ("status 500", {"status": "500"}, False),
    ("status 404", {"status": "404"}, False),
    ("dropped connection", {"drop": "1"}, False),
    ("truncated body", {"truncate": "40"}, True),
    ("error page", {"body": "<html><body>busy</body></html>", "set_header": "Content-Type:text/html"}, True),
    ("empty body", {"body": ""}, True),
]


class PageFaultsTest(vxprogram.ProgramTest):
    DRIVEN = True

    def address(self, path=""):
        return "%s/comic/%s%s.html" % (self.service.site, COMIC["id"], path)

    def answered(self, what):
        self.assertTrue(vxprogram.answers(self.program), "the window does not answer after %s" % what)

    def dismiss_message(self, expected):
        """The program's message box; its text starts with expected; answered No."""
        d = self.driver
        box = d.top("#32770", "Vellix")
        self.assertTrue(d.text(d.child(box, MESSAGE_TEXT)).startswith(expected), d.text(d.child(box, MESSAGE_TEXT)))
        d.command(box, IDNO)
        d.gone(box)

    def test_a_comic_page_failing_is_reported_and_opens_once_healed(self):
        p, d, s = self.program, self.driver, self.service
        p.start()
        main = us.main_window(d)
        page = "/comic/%s.html" % COMIC["id"]
        # The site's script comes from the service the first time.
        script = "/v2/get_script.php"
        for name, params in [("script status 500", {"status": "500"}), ("script dropped", {"drop": "1"})]:
            with self.subTest(name):
                s.control("clear_failures")
                s.control("fail", path=script, server="service", **params)
                before = len(s.log(script))
                us.type_address(d, main, self.address(), lambda: len(s.log(script)) > before)
                box = d.top("#32770", "Vellix")
                self.assertEqual(d.text(d.child(box, MESSAGE_TEXT)), SCRIPT_FAILED)
                d.command(box, IDOK)
                d.gone(box)
                self.answered(name)
                self.assertFalse(s.log(page, server="site"), "a page asked for without a script")
        for name, params, arrives in FAILURES:
            with self.subTest(name):
                s.control("clear_failures")
                s.control("fail", path=page, server="site", **params)
                before = len(s.log(page, server="site"))
                us.type_address(d, main, self.address(), lambda: len(s.log(page, server="site")) > before)
                if arrives:
                    dialog = d.top("#32770", PARSE_FAILED)
                    d.command(dialog, IDCLOSE)
                    d.gone(dialog)
                else:
                    self.dismiss_message(GET_FAILED)
                self.answered(name)
                self.assertFalse(self.has_volume_list(main), "a comic view opened on %s" % name)

        # A slow page within the time-out is awaited, the window answering meanwhile.
        s.control("clear_failures")
        s.control("fail", path=page, server="site", delay_ms="4000")
        before = len(s.log(page, server="site"))
        us.type_address(d, main, self.address(), lambda: len(s.log(page, server="site")) > before)
        self.answered("a slow page was asked for")
        us.wait_volumes(d, main, len(COMIC["volumes"]))
        self.assertEqual(p.close(), 0, p.output())

    def has_volume_list(self, main):
        try:
            self.driver.child(main, us.VOLUME_LIST, seconds=0, hidden=True)
            return True
        except vxprogram.DriverError:
            return False

    def grab(self, volumes, download, titles):
        d = self.driver
        listed = d.items(volumes)
        for i, title in enumerate(listed):
            d.tick(volumes, i, any(t in title for t in titles))
        d.click(download)

    def grab_failed(self, volume_title, keeps):
        """The grab-failed dialog names the volume; its button keeps the volumes before, when any."""
        d = self.driver
        dialog = d.top("#32770", "Extracting Failed")
        self.assertIn(volume_title, d.text(d.child(dialog, GRABFAILED_INFO)))
        keep = d.child(dialog, IDOK, hidden=True)
        self.assertEqual(d.visible(keep), keeps)
        d.command(dialog, IDOK if keeps else IDCANCEL)
        d.gone(dialog)

    def test_a_volume_failing_while_extracting_keeps_the_volumes_before_it(self):
        p, d, s = self.program, self.driver, self.service
        first, failing, last = COMIC["volumes"]
        volume_page = "/comic/%s/%s.html" % (COMIC["id"], failing["id"])
        p.start()
        main = us.main_window(d)
        volumes, download = us.open_address(d, main, self.address(), len(COMIC["volumes"]))
        broken = [(name, volume_page, params) for name, params, _ in FAILURES]
        broken.append(("truncated page list", "/api/%s/%s.json" % (COMIC["id"], failing["id"]), {"truncate": "20"}))
        for name, path, params in broken:
            with self.subTest(name):
                s.control("clear_failures")
                s.control("fail", path=path, server="site", **params)
                before = len(s.log(path, server="site"))
                self.grab(volumes, download, [failing["title"]])
                self.grab_failed(failing["title"], keeps=False)
                self.assertGreater(len(s.log(path, server="site")), before, "%s was not asked for" % path)
                self.answered(name)
                self.assertEqual(p.query("SELECT COUNT(*) FROM Task2"), [(0,)], "a task from a failed grab")

        # The volume before the failing one is kept; the rest come once the site heals.
        s.control("clear_failures")
        s.control("fail", path=volume_page, server="site", status="503")
        self.grab(volumes, download, [v["title"] for v in COMIC["volumes"]])
        self.grab_failed(failing["title"], keeps=True)
        vxprogram.wait_for("the first volume's task", lambda: us.tasks_done(p, 1), self.args.bound, alive=p.alive)
        kept = {u.split("/")[-2] for u, in p.query("SELECT url FROM Image2")}
        self.assertEqual(kept, {first["id"]})
        s.control("clear_failures")
        self.grab(volumes, download, [failing["title"], last["title"]])
        vxprogram.wait_for("every volume's task", lambda: us.tasks_done(p, 3), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, 1, [(COMIC, v) for v in COMIC["volumes"]], False)


if __name__ == "__main__":
    vxprogram.run_tests()
