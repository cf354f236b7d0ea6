"""Counts the results of scripts/test's suites and prints the summary.

    test_summary.py [--ctest NAME JUNIT] [--ctest-gtest NAME JUNIT RESULTS_DIR]
                    [--pytest NAME JUNIT] [--build-failed PRESET] [--broken NAME TEXT]...

--ctest: a CTest JUnit file where each CTest test is one GoogleTest case (gtest_discover_tests).
--ctest-gtest: a CTest JUnit file where each CTest test is a GoogleTest program that wrote
    RESULTS_DIR/<test name>.xml; its cases are counted, and a program without a result file or
    that failed without failed cases (a crash) counts as one failure.
--pytest: a pytest JUnit file.
--broken: a suite whose runner itself failed (no results); counts as one failure.
A suite whose file is missing counts zero. Exits 1 when anything failed or a build failed.
"""

from __future__ import annotations

import re
import sys
import xml.etree.ElementTree as ElementTree
from dataclasses import dataclass, field
from pathlib import Path

PASSED, FAILED, SKIPPED = "passed", "failed", "skipped"


@dataclass
class Suite:
    name: str
    results: list[tuple[str, str, str]] = field(default_factory=list)  # (test, outcome, note)

    def add(self, test: str, outcome: str, note: str = "") -> None:
        self.results.append((test, outcome, note))

    def count(self, outcome: str) -> int:
        return sum(1 for _, o, _ in self.results if o == outcome)


def counts_text(passed: int, failed: int, skipped: int, always_failed: bool) -> str:
    parts = [f"{passed} passed"]
    if failed or always_failed:
        parts.append(f"{failed} failed")
    if skipped:
        parts.append(f"{skipped} skipped")
    return ", ".join(parts)


def _parse(path: Path) -> ElementTree.Element | None:
    if not path.is_file() or path.stat().st_size == 0:
        return None
    return ElementTree.parse(path).getroot()


_GTEST_SKIP_OUTPUT = re.compile(r"^[^\n]*: Skipped\n(.*?)\n?\[  SKIPPED \]", re.M | re.S)


def _first_line(text: str | None, fallback: str) -> str:
    text = (text or "").strip()
    return text.splitlines()[0] if text else fallback


def read_ctest(suite: Suite, path: Path) -> None:
    root = _parse(path)
    for case in root.iter("testcase") if root is not None else ():
        name, status = case.get("name", "?"), case.get("status", "")
        if status == "run":
            suite.add(name, PASSED)
        elif status == "fail":
            suite.add(name, FAILED)
        elif status == "disabled":
            suite.add(name, SKIPPED, "disabled")
        else:
            output = case.findtext("system-out") or ""
            match = _GTEST_SKIP_OUTPUT.search(output)
            skipped = case.find("skipped")
            reason = match.group(1) if match else (skipped.get("message") if skipped is not None else "")
            suite.add(name, SKIPPED, _first_line(reason, "no reason given"))


def read_gtest_program(suite: Suite, root: ElementTree.Element, program: str) -> int:
    """Adds the cases of one GoogleTest XML file; returns how many failed."""
    failed = 0
    for case in root.iter("testcase"):
        name = f"{case.get('classname', '?')}.{case.get('name', '?')}"
        if case.find("failure") is not None or case.find("error") is not None:
            suite.add(name, FAILED, program)
            failed += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None:
            skipped = case.find("skipped")
            message = skipped.get("message", "") if skipped is not None else ""
            # The message starts with the file and line of the skip.
            lines = message.splitlines()
            reason = "\n".join(lines[1:]) if len(lines) > 1 else ""
            suite.add(name, SKIPPED, _first_line(reason, "no reason given"))
        elif case.get("status") == "notrun" or case.get("result") == "suppressed":
            suite.add(name, SKIPPED, "disabled")
        else:
            suite.add(name, PASSED)
    return failed


def read_ctest_gtest(suite: Suite, path: Path, results_dir: Path) -> None:
    root = _parse(path)
    for case in root.iter("testcase") if root is not None else ():
        program, status = case.get("name", "?"), case.get("status", "")
        results = _parse(results_dir / f"{program}.xml")
        if results is not None:
            failed = read_gtest_program(suite, results, program)
            if status == "fail" and failed == 0:
                suite.add(program, FAILED, "CTest failed the program after its cases: a crash at "
                          "exit, or a timeout while something it started held its output open")
        elif status in ("run", "fail"):
            # Under Wine a crashed program can even end with code 0: no results is a failure.
            suite.add(program, FAILED, "no GoogleTest results: the program crashed or timed out")
        else:
            skipped = case.find("skipped")
            message = skipped.get("message") if skipped is not None else status
            suite.add(program, SKIPPED, _first_line(message, "not run"))


def read_pytest(suite: Suite, path: Path) -> None:
    root = _parse(path)
    for case in root.iter("testcase") if root is not None else ():
        name = f"{case.get('classname', '')}::{case.get('name', '?')}".lstrip(":")
        problem = case.find("failure")
        if problem is None:
            problem = case.find("error")
        skipped = case.find("skipped")
        if problem is not None:
            suite.add(name, FAILED, _first_line(problem.get("message"), ""))
        elif skipped is not None:
            reason = skipped.get("message", "")
            reason = re.sub(r"^Skipped: ", "", reason)
            suite.add(name, SKIPPED, _first_line(reason, "no reason given"))
        else:
            suite.add(name, PASSED)


def main(argv: list[str]) -> int:
    suites: list[Suite] = []
    builds_failed: list[str] = []
    i = 0
    while i < len(argv):
        option = argv[i]
        if option == "--ctest":
            suite = Suite(argv[i + 1])
            read_ctest(suite, Path(argv[i + 2]))
            i += 3
        elif option == "--ctest-gtest":
            suite = Suite(argv[i + 1])
            read_ctest_gtest(suite, Path(argv[i + 2]), Path(argv[i + 3]))
            i += 4
        elif option == "--pytest":
            suite = Suite(argv[i + 1])
            read_pytest(suite, Path(argv[i + 2]))
            i += 3
        elif option == "--broken":
            suite = Suite(argv[i + 1])
            suite.add("(suite)", FAILED, argv[i + 2])
            i += 3
        elif option == "--build-failed":
            builds_failed.append(argv[i + 1])
            i += 2
            continue
        else:
            print(__doc__, file=sys.stderr)
            return 2
        suites.append(suite)

    for suite in suites:
        for test, outcome, note in suite.results:
            if outcome == SKIPPED:
                print(f"skipped: {suite.name}: {test}: {note}")
    for suite in suites:
        for test, outcome, note in suite.results:
            if outcome == FAILED:
                print(f"FAILED: {suite.name}: {test}" + (f" ({note})" if note else ""))
    totals = [0, 0, 0]
    for suite in suites:
        numbers = [suite.count(PASSED), suite.count(FAILED), suite.count(SKIPPED)]
        totals = [a + b for a, b in zip(totals, numbers)]
        print(f"{suite.name}: {counts_text(*numbers, always_failed=False)}")
    for preset in builds_failed:
        print(f"BUILD FAILED: {preset} (its tests did not run; see the build output above)")
    print(counts_text(*totals, always_failed=True))
    return 1 if totals[1] or builds_failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
