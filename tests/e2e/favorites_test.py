#!/usr/bin/env python3
"""A favourite added from the comic view is still one after a restart; a volume the site gains
later is found by the update check and grabbed from it to its files."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

IDOK = 1
COMIC_PAGE = 1110
ID_FAV_CHECK_UPDATE = 41000
CHECK_ALL = 1372
NEW_CATEGORY = 1233
INPUT_EDIT = 1320


class FavoritesTest(vxprogram.ProgramTest):
    DRIVEN = True

    def open_comic(self, main, comic):
        d = self.driver
        us.open_address(d, main, "%s/comic/%s.html" % (self.service.site, comic["id"]), len(comic["volumes"]))
        page = d.child(main, COMIC_PAGE)
        vxprogram.wait_for("the comic page's commands",
                           lambda: d.locate(page, "#add-fav") or d.locate(page, "#edit-fav"), self.args.bound)
        return page

    def another_dialog(self, than):
        return next((w for w, cls, _ in self.driver.tops() if cls == "#32770" and w != than), None)

    def test_a_favourite_survives_a_restart_and_its_new_volume_is_grabbed(self):
        p, d = self.program, self.driver
        comic = us.COMICS["kite"]
        p.start()
        main = us.main_window(d)
        page = self.open_comic(main, comic)
        self.assertIsNone(d.locate(page, "#edit-fav"))
        d.clickin(page, "#add-fav")
        dialog = d.top("#32770")
        # The first favourite needs a category first.
        d.press(d.child(dialog, NEW_CATEGORY))
        ask = vxprogram.wait_for("the category's name dialog", lambda: self.another_dialog(dialog), self.args.bound)
        d.settext(d.child(ask, INPUT_EDIT), "Reading")
        d.press(d.child(ask, IDOK))
        d.gone(ask)
        ok = d.child(dialog, IDOK)
        vxprogram.wait_for("OK enabled", lambda: d.enabled(ok), self.args.bound)
        d.shot(dialog, "favorite")
        d.press(ok)
        d.gone(dialog)
        vxprogram.wait_for("the comic view to show the favourite", lambda: d.locate(page, "#edit-fav"), self.args.bound)
        self.assertEqual(p.close(), 0, p.output())

        p.start()
        main = us.main_window(d)
        page = self.open_comic(main, comic)
        self.assertTrue(d.locate(page, "#edit-fav"))
        self.assertIsNone(d.locate(page, "#add-fav"))

        self.service.control("add_volume", comic=comic["id"], title="Epilogue", pages="png,jpg")
        d.command(main, ID_FAV_CHECK_UPDATE)
        check = d.top("#32770", "Check for Updates")
        ok = d.child(check, IDOK)
        vxprogram.wait_for("the update check to end", lambda: d.enabled(ok), self.args.bound, alive=p.alive)
        d.shot(check, "update-check")
        d.press(d.child(check, CHECK_ALL))
        d.press(ok)
        d.gone(check)
        vxprogram.wait_for("the new volume's task to finish", lambda: us.tasks_done(p, 1), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        added = {"title": "Epilogue", "pages": ["png", "jpg"]}
        names = [n for n, in p.query("SELECT Name FROM Task2")]
        self.assertEqual(len(names), 1)
        self.assertIn("Epilogue", names[0])
        us.check_downloads(self, p, 1, [(comic, added)], False)


if __name__ == "__main__":
    vxprogram.run_tests()
