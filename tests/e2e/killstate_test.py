#!/usr/bin/env python3
"""Killed with SIGKILL at varied moments while it writes its settings and favourites at start-up,
the program keeps the old or the new state of each, never an empty or broken one."""
import json
import os
import sqlite3
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vxprogram  # noqa: E402

BOM = b"\xef\xbb\xbf"
# Seconds from the process's appearance to the kill: from before the database opens to after the
# main window stands.
KILL_AFTER = [0.0, 0.05, 0.1, 0.2, 0.35, 0.5, 0.8, 1.2, 1.8, 2.5]
# Values the program replaces at start-up: an unknown language and an unknown downloader.
OLD = {"Language": "xx-unknown", "Downloader": "no-such-downloader"}


class KillStateTest(vxprogram.ProgramTest):
    @property
    def favorites(self):
        return os.path.join(self.program.folder, "Favorites.json")

    def favorites_tree(self):
        """The favourites file's tree, None when there is no file; fails on a broken one."""
        if not os.path.exists(self.favorites):
            return None
        with open(self.favorites, "rb") as f:
            data = f.read()
        self.assertTrue(data.startswith(BOM), "the favourites file lost its start: %r" % data[:16])
        return json.loads(data[len(BOM):].decode("utf-8"))

    def rows(self, sql):
        # Read-write, as the next start opens it: a journal the kill left is rolled back first.
        con = sqlite3.connect(self.program.database, timeout=10)
        try:
            return con.execute(sql).fetchall()
        finally:
            con.close()

    def config(self):
        return dict(self.rows("SELECT key, value FROM Config2"))

    def prepare_old_state(self):
        self.program.set_config(**OLD)
        if os.path.exists(self.favorites):
            os.remove(self.favorites)

    def test_old_or_new_state_after_kills_during_the_writes(self):
        p = self.program
        # The new state: what a start that is not cut off writes over the old one.
        p.start()
        p.close()
        self.prepare_old_state()
        p.start()
        vxprogram.wait_for("the favourites file", lambda: os.path.exists(self.favorites), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        new_tree = self.favorites_tree()
        self.assertTrue(new_tree, "no favourites were written")
        new = {k: self.config().get(k) for k in OLD}
        for key, value in new.items():
            self.assertTrue(value and value != OLD[key], "%s was not replaced: %r" % (key, value))

        seen = set()
        for delay in KILL_AFTER:
            self.prepare_old_state()
            vxprogram.launch_only(p)
            time.sleep(delay)
            p.kill9()
            self.assertEqual(self.rows("PRAGMA integrity_check"), [("ok",)], "after a kill at %.2f s" % delay)
            config = self.config()
            for key in OLD:
                self.assertIn(config.get(key), (OLD[key], new[key]), "%s after a kill at %.2f s" % (key, delay))
            tree = self.favorites_tree()
            self.assertIn(tree, (None, new_tree), "favourites after a kill at %.2f s" % delay)
            seen.add((config.get("Language") == new["Language"], tree is not None))
        # The kills fell both before and after the writes, or the loop proved nothing.
        self.assertIn((False, False), seen)
        self.assertIn((True, True), seen)

        # And the next start, from whatever the last kill left, is whole.
        p.start()
        vxprogram.wait_for("the favourites file", lambda: os.path.exists(self.favorites), self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        self.assertEqual(self.favorites_tree(), new_tree)
        self.assertEqual({k: self.config().get(k) for k in OLD}, new)


if __name__ == "__main__":
    vxprogram.run_tests()
