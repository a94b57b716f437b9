#!/usr/bin/env python3
"""The road a user walks: the comic's address typed into the address box, its volumes ticked in
the comic view, Download, the grab dialog to its end, the download view's tasks finished; every
image lies where "RenameType" puts it, Task2 and Image2 agree with the files, and with
"AutoPacking" every task's archive holds exactly its images."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402


# comic, "RenameType", "AutoPacking", screenshots of the steps
CASES = [
    ("harbor", 2, 1, True),   # a volume title with ':' in it, three image formats
    ("yuexia", 0, 0, False),  # a GBK site: Chinese names in the files
    ("kite", 3, 1, False),    # a Content-Type that names no image type
]


class RoadTest(vxprogram.ProgramTest):
    ONE_PROGRAM = False

    def program(self, case):
        work = os.path.join(self.work, case)
        os.makedirs(work)
        program = self.new_program(work)
        return program, self.new_driver(program)

    def test_the_road_for_every_naming_and_packing(self):
        for comic_id, rename_type, packing, shots in CASES:
            with self.subTest(comic=comic_id, rename_type=rename_type, packing=packing):
                self.road(comic_id, rename_type, packing, shots)

    def road(self, comic_id, rename_type, packing, shots):
        p, d = self.program(comic_id)
        try:
            self.walk(p, d, us.COMICS[comic_id], rename_type, packing, shots)
        finally:
            d.stop()
            p.shutdown()

    def walk(self, p, d, comic, rename_type, packing, shots):
        comic_id = comic["id"]
        p.start()
        self.assertEqual(p.close(), 0, p.output())
        p.set_config(RenameType=rename_type, AutoPacking=packing)
        # The grab takes a while, as on a real site, so that its dialog is seen at work.
        self.service.control("fail", path="/comic/%s/*" % comic_id, server="site", delay_ms="400")
        p.start()

        main = us.main_window(d)
        if shots:
            d.shot(main, "start")
        volumes, download = us.open_address(d, main, "%s/comic/%s.html" % (self.service.site, comic_id),
                                            len(comic["volumes"]))
        names = us.tick_all(d, volumes)
        self.assertEqual(names, [v["title"] for v in comic["volumes"]])
        if shots:
            d.shot(main, "comic")
        d.click(download)
        grab = d.top("#32770", "")
        self.assertTrue(d.text(grab).startswith("Extracting Images"), d.text(grab))
        if shots:
            d.shot(grab, "grab")
        d.gone(grab)

        count = len(comic["volumes"])
        vxprogram.wait_for("the tasks to finish", lambda: us.tasks_done(p, count), self.args.bound, alive=p.alive)
        start = d.child(main, us.START_BUTTON, hidden=True)
        vxprogram.wait_for("the download view's Start button to go", lambda: not d.shown(start), self.args.bound)
        if packing:
            archives = [us.clean(name) + ".zip" for name, in p.query("SELECT Name FROM Task2")]
            vxprogram.wait_for("the archives", lambda: all(os.path.isfile(os.path.join(p.downloads, a))
                                                           for a in archives), self.args.bound, alive=p.alive)
        if shots:
            d.shot(main, "downloads")
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, rename_type, [(comic, v) for v in comic["volumes"]], packing)


if __name__ == "__main__":
    vxprogram.run_tests()
