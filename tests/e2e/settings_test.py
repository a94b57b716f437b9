#!/usr/bin/env python3
"""Settings changed in the settings sheet are stored, shown again by the sheet after a restart, and
in force: no start page when it is switched off, downloads into the new folder, named and packed
as chosen."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import usersteps as us  # noqa: E402
import vxprogram  # noqa: E402

ID_SETTINGS = 40003
IDOK, IDCANCEL = 1, 2
PSM_SETCURSEL = 0x0400 + 101
BM_GETCHECK = 0x00F0
SHOW_HOT, MIN_TRAY = 1257, 1250
FOLDER, CLASSIFY, PER_VOLUME, COMIC_VOLUME, PER_COMIC, AUTO_ZIP = 1242, 1244, 1245, 1246, 1247, 1251

# The boxes and buttons clicked, and what each page shows afterwards.
CHECKS_AFTER = {SHOW_HOT: 0, MIN_TRAY: 0, CLASSIFY: 1, PER_VOLUME: 0, COMIC_VOLUME: 0, PER_COMIC: 1, AUTO_ZIP: 1}


class SettingsTest(vxprogram.ProgramTest):
    DRIVEN = True

    def open_sheet(self, main):
        d = self.driver
        d.command(main, ID_SETTINGS)
        sheet = d.top("#32770", "Settings")
        return sheet

    def page(self, sheet, index, control):
        d = self.driver
        d.post(sheet, PSM_SETCURSEL, index, 0)
        found = d.child(sheet, control)
        vxprogram.wait_for("page %d" % index, lambda: d.visible(found), self.args.bound)
        return found

    def checks(self, sheet):
        d = self.driver
        shown = {}
        for index, ids in ((0, (SHOW_HOT, MIN_TRAY)), (1, (CLASSIFY, PER_VOLUME, COMIC_VOLUME, PER_COMIC, AUTO_ZIP))):
            self.page(sheet, index, ids[0])
            for i in ids:
                shown[i] = d.send(d.child(sheet, i), BM_GETCHECK)
        return shown

    def test_settings_stay_after_a_restart(self):
        p, d = self.program, self.driver
        folder = os.path.join(self.work, "Comics")
        p.start()
        main = us.main_window(d)
        sheet = self.open_sheet(main)
        before = self.checks(sheet)
        self.assertEqual(before, {SHOW_HOT: 1, MIN_TRAY: 0, CLASSIFY: 1, PER_VOLUME: 1, COMIC_VOLUME: 0,
                                  PER_COMIC: 0, AUTO_ZIP: 0})
        self.page(sheet, 0, SHOW_HOT)
        d.shot(sheet, "settings")
        d.press(d.child(sheet, SHOW_HOT))
        self.page(sheet, 1, PER_COMIC)
        d.press(d.child(sheet, PER_COMIC))
        d.press(d.child(sheet, AUTO_ZIP))
        d.settext(d.child(sheet, FOLDER), p.windows_path(folder))
        self.assertEqual(self.checks(sheet), CHECKS_AFTER)
        d.press(d.child(sheet, IDOK))
        d.gone(sheet)
        # The database worker writes them a moment after the sheet is gone.
        wanted = {"ShowRecommended": "0", "RenameType": "3", "AutoPacking": "1",
                  "DownloadFolder": p.windows_path(folder) + "\\"}
        stored = lambda: {k: v for k, v in p.query("SELECT key, value FROM Config2") if k in wanted}
        vxprogram.wait_for("the settings stored", lambda: stored() == wanted, self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())

        self.service.control("clear_log")
        p.start()
        main = us.main_window(d, start_page=False)
        sheet = self.open_sheet(main)
        self.assertEqual(self.checks(sheet), CHECKS_AFTER)
        self.assertEqual(d.text(d.child(sheet, FOLDER)), p.windows_path(folder) + "\\")
        d.press(d.child(sheet, IDCANCEL))
        d.gone(sheet)

        comic = us.COMICS["harbor"]
        volumes, download = us.open_address(d, main, self.service.site + "/comic/harbor.html", len(comic["volumes"]))
        us.tick_all(d, volumes)
        d.click(download)
        vxprogram.wait_for("the tasks to finish", lambda: us.tasks_done(p, len(comic["volumes"])), self.args.bound,
                           alive=p.alive)
        archives = [os.path.join(folder, us.clean(n) + ".zip") for n, in p.query("SELECT Name FROM Task2")]
        vxprogram.wait_for("the archives", lambda: all(map(os.path.isfile, archives)), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        self.assertEqual(self.service.log("/recommended.html"), [])
        us.check_downloads(self, p, 3, [(comic, v) for v in comic["volumes"]], True, folder=folder)
        self.assertFalse(os.listdir(p.downloads))


if __name__ == "__main__":
    vxprogram.run_tests()
