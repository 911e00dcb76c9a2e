#!/usr/bin/env python3
"""Adds up test results from GoogleTest XML reports and CTest's JUnit file.

Each GoogleTest case counts once. A CTest test with no GoogleTest report of
its own (a crash before the report was written, a script test) counts as one
case by its CTest result. CTest's JUnit files are ctest.xml and, from runs
of one test each (scripts/wine-tests), ctest-NAME.xml. Prints
"N passed, N failed".
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    passed = failed = skipped = 0
    root = ET.parse(path).getroot()
    for case in root.iter("testcase"):
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped += 1
        else:
            passed += 1
    return passed, failed, skipped


def main(dirs):
    passed = failed = skipped = 0
    for d in dirs:
        junits = []
        reports = {}
        if os.path.isdir(d):
            for name in sorted(os.listdir(d)):
                if not name.endswith(".xml"):
                    continue
                if name == "ctest.xml" or name.startswith("ctest-"):
                    junits.append(os.path.join(d, name))
                else:
                    reports[name[:-4]] = os.path.join(d, name)
        covered = {}
        for name, path in sorted(reports.items()):
            try:
                p, f, s = gtest_counts(path)
            except ET.ParseError:
                p, f, s = 0, 1, 0
            passed, failed, skipped = passed + p, failed + f, skipped + s
            covered[name] = f
        for ctest in junits:
            for case in ET.parse(ctest).getroot().iter("testcase"):
                name = case.get("name")
                bad = case.get("status") == "fail" or case.find("failure") is not None
                if name in covered and not bad:
                    continue
                if name in covered:
                    # The program failed although all its cases passed (a
                    # sanitizer report at exit, say): that is a failure too.
                    if covered[name] == 0:
                        failed += 1
                    continue
                if bad:
                    failed += 1
                elif case.get("status") == "notrun" or case.find("skipped") is not None:
                    skipped += 1
                else:
                    passed += 1
    line = f"{passed} passed, {failed} failed"
    if skipped:
        line += f", {skipped} skipped"
    print(line)
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
