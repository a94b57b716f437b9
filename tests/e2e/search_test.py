#!/usr/bin/env python3
"""A keyword typed into the address box searches the service; a result opened in the search tab
shows its comic, whose volumes are grabbed to their files."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402


class SearchTest(vxprogram.ProgramTest):
    DRIVEN = True

    def test_a_result_of_a_keyword_is_opened_and_grabbed(self):
        p, d, service = self.program, self.driver, self.service
        comic = us.COMICS["kite"]
        p.start()
        main = us.main_window(d)
        us.type_address(d, main, "kite", lambda: service.log("/v2/search.php"))
        self.assertEqual([r["form"].get("q") for r in service.log("/v2/search.php")], ["kite"])
        # The search tab is the page on the screen once its result is there.
        results = d.page(main, ".item .title a")
        d.shot(main, "search")
        d.clickin(results, ".item .title a")
        volumes, download = us.wait_volumes(d, main, len(comic["volumes"]))
        self.assertEqual(us.tick_all(d, volumes), [v["title"] for v in comic["volumes"]])
        d.click(download)
        vxprogram.wait_for("the tasks to finish", lambda: us.tasks_done(p, len(comic["volumes"])), self.args.bound,
                           alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        us.check_downloads(self, p, 1, [(comic, v) for v in comic["volumes"]], False)


if __name__ == "__main__":
    vxprogram.run_tests()
