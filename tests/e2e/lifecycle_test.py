#!/usr/bin/env python3
"""The program from its zip starts, asks its service, ends cleanly, and starts again after being
killed with nothing broken."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vxprogram  # noqa: E402


class LifecycleTest(vxprogram.ProgramTest):
    def config_requests(self):
        return [r for r in self.service.log("/v2/config.php") if r["status"] == 200]

    def test_starts_again_after_a_clean_end_and_after_a_kill(self):
        p = self.program
        p.start()
        vxprogram.wait_for("the configuration request", self.config_requests, self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        self.assertTrue(os.path.isfile(p.database))

        p.start()
        vxprogram.wait_for("a second configuration request", lambda: len(self.config_requests()) >= 2,
                           self.args.bound, alive=p.alive)
        p.kill9()
        self.assertEqual(p.query("PRAGMA integrity_check"), [("ok",)])

        p.start()
        vxprogram.wait_for("a third configuration request", lambda: len(self.config_requests()) >= 3,
                           self.args.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())


if __name__ == "__main__":
    vxprogram.run_tests()
