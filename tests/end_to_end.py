#!/usr/bin/env python3
"""End-to-end tests: run the built program as the calling script would, each
case in a fresh temporary directory, and check its exit status, the exact bytes
it prints, the exact bytes of the frame it leaves, that "vantrel.tmp" is
unchanged and that nothing else is left behind.

    end_to_end.py --program build/tessera [--palette-program build/tessera-palette]
        [--frm-program build/tessera-frm] [-k PATTERN ...]
    end_to_end.py --program tessera.exe --wine --launcher windows_launcher.exe

The cases are the test_*.py files beside this one, by topic; harness.py is
what they stand on. The status is 0 only when every case ran and passed.
"""

import argparse
import os
import sys
import unittest

import harness
import wine
from harness import target


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--palette-program", help="tessera-palette, whose cases are skipped without it")
    parser.add_argument("--frm-program", help="tessera-frm, whose cases are skipped without it")
    parser.add_argument("--wine", action="store_true", help="the program is a Windows program to run under Wine")
    parser.add_argument("--launcher", help="Windows: the launcher that hands over exact command lines")
    parser.add_argument("--sanitized", action="store_true", help="the program is built with sanitizers")
    parser.add_argument("-k", dest="patterns", action="append", help="run only the cases that match")
    args = parser.parse_args()
    target.program = os.path.abspath(args.program)
    target.sanitized = args.sanitized
    if args.palette_program:
        target.palette_program = os.path.abspath(args.palette_program)
    if args.frm_program:
        target.frm_program = os.path.abspath(args.frm_program)
    if not os.path.isfile(target.program):
        sys.exit(f"no program at {target.program}")

    loader = unittest.TestLoader()
    if args.patterns:
        loader.testNamePatterns = [f"*{pattern}*" for pattern in args.patterns]
    here = os.path.dirname(os.path.abspath(__file__))
    suite = loader.discover(here, pattern="test_*.py", top_level_dir=here)
    runner = unittest.TextTestRunner(verbosity=2)
    if args.wine:
        target.platform, target.launcher = "windows", os.path.abspath(args.launcher)
        harness.CODE.update(harness.WINDOWS_CODES)
        with wine.session():
            result = runner.run(suite)
    else:
        result = runner.run(suite)
    if result.testsRun == 0:
        sys.exit("no case ran")
    sys.exit(0 if result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
