#!/usr/bin/env python3
"""Images the site failed are fetched by the repair dialog once the site is healthy again: the
download view's Repair link, the dialog's OK, and every file whole."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

IMAGE_FAILED = 3
IDOK = 1
REPAIR_LIST = 1300


class RepairTest(vxprogram.ProgramTest):
    DRIVEN = True

    def test_failed_images_are_repaired_once_the_site_heals(self):
        p, d, s = self.program, self.driver, self.service
        comic = us.COMICS["harbor"]
        s.control("fail", path="/img/harbor/vol-1/2*", server="site", status="500")
        p.start()
        main = us.main_window(d)
        volumes, download = us.open_address(d, main, s.site + "/comic/harbor.html", len(comic["volumes"]))
        us.tick_all(d, volumes)
        d.click(download)

        def ended_with_failures():
            tasks = p.query("SELECT Status FROM Task2")
            states = [st for st, in p.query("SELECT status FROM Image2")]
            return (len(tasks) == len(comic["volumes"]) and all(t == us.TASK_FINISHED for t, in tasks)
                    and states and all(st in (us.IMAGE_DONE, IMAGE_FAILED) for st in states)
                    and IMAGE_FAILED in states)
        vxprogram.wait_for("the tasks to end with the failed pages", ended_with_failures, self.args.bound, alive=p.alive)
        failed = p.query("SELECT url FROM Image2 WHERE status=?", (IMAGE_FAILED,))
        self.assertTrue(all("/img/harbor/vol-1/2" in u for u, in failed), failed)

        s.control("clear_failures")
        page = d.page(main, "a[command=redownload]")
        d.clickin(page, "a[command=redownload]")
        dialog = d.top("#32770")
        listed = d.child(dialog, REPAIR_LIST)
        self.assertGreaterEqual(d.count(listed), len(failed))
        for i in range(d.count(listed)):
            d.tick(listed, i)
        d.command(dialog, IDOK)
        d.gone(dialog)
        vxprogram.wait_for("the repaired images", lambda: us.tasks_done(p, len(comic["volumes"])), self.args.bound,
                           alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, 1, [(comic, v) for v in comic["volumes"]], False)


if __name__ == "__main__":
    vxprogram.run_tests()
