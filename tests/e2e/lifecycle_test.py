#!/usr/bin/env python3
"""The program from its zip starts, asks its service, ends cleanly, and starts again after being
killed with nothing broken."""
import argparse
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import vxprogram  # noqa: E402

ARGS = None


class LifecycleTest(unittest.TestCase):
    def setUp(self):
        work, remove = vxprogram.fresh_work("lifecycle")
        self.addCleanup(remove)
        self.service = vxprogram.Service(ARGS.service, work, ARGS.port)
        self.addCleanup(self.service.stop)
        self.program = vxprogram.Program(ARGS, work, self.service)
        self.addCleanup(self.program.shutdown)

    def config_requests(self):
        return [r for r in self.service.log("/v2/config.php") if r["status"] == 200]

    def test_starts_again_after_a_clean_end_and_after_a_kill(self):
        p = self.program
        p.start()
        vxprogram.wait_for("the configuration request", self.config_requests, ARGS.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())
        self.assertTrue(os.path.isfile(p.database))

        p.start()
        vxprogram.wait_for("a second configuration request", lambda: len(self.config_requests()) >= 2,
                           ARGS.bound, alive=p.alive)
        p.kill9()
        self.assertEqual(p.query("PRAGMA integrity_check"), [("ok",)])

        p.start()
        vxprogram.wait_for("a third configuration request", lambda: len(self.config_requests()) >= 3,
                           ARGS.bound, alive=p.alive)
        self.assertEqual(p.close(), 0, p.output())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    vxprogram.add_program_arguments(parser)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
