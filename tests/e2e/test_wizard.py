"""The setup wizard (Vantrel.exe without arguments) under Wine and Xvfb, driven from outside by
tests/programs/wizard_driver.exe as a user would: buttons, keys and the window's close, with what
each page shows read back from the real window. The whole setup runs against the HTTPS test
server. With VANTREL_SCREENSHOT_DIR set (scripts/screenshots), the pages are photographed there.
"""

from __future__ import annotations

import os
import re
from pathlib import Path

import pytest

from support.https_server import release_file_path, trickle
from support.wizard import (BACK, BODY, BS_DEFPUSHBUTTON, BS_TYPE_MASK, CANCEL, FAILED, FINISHED,
                            INSTALLING, LAUNCH_BOX, OK, PROGRESS, READY, SEPARATOR, STATUS,
                            TITLE, WELCOME, Wizard)
from test_console import clean  # noqa: F401 - fixture
from support import releases
from test_update import archive_name, programs, publish  # noqa: F401 - fixtures

LAUNCHER = "vantrel-launcher.exe"
INSTALL_BODY = ("This wizard will install Orvanis Launcher on your computer.\r\n\r\n"
                "Orvanis Launcher lets you download, update, and play your Orvanis games.\r\n\r\n"
                "Click Next to continue, or Cancel to exit Setup.")
UPDATE_BODY = ("This wizard will update or repair Orvanis Launcher on your computer.\r\n\r\n"
               "Your installed games, settings, and saved account will be kept.\r\n\r\n"
               "Click Next to continue, or Cancel to exit Setup.")
NETWORK = "We couldn't get the files. Check your connection and try again."
VERIFICATION = "The files did not pass our check. Please try again."
LAUNCH = "We couldn't open the Launcher. Please try again."
PERCENT = re.compile(r"^Downloading Orvanis Launcher\. \((\d+)%\)$")

# Per page: OK text, Cancel text, Back enabled, OK and Cancel enabled, Close item, check box
# shown, progress bar shown.
# fmt: off
BUTTONS = {
    WELCOME:    ("&Next >",       "Cancel", False, True,  "enabled", False, False),
    READY:      ("&Install",      "Cancel", True,  True,  "enabled", False, False),
    INSTALLING: ("Installing\u2026", "Cancel", False, False, "grayed",  False, True),
    FAILED:     ("&Retry",        "Close",  True,  True,  "enabled", False, False),
    FINISHED:   ("&Finish",       "Close",  False, True,  "enabled", True,  False),
}
# Dialog units of the controls that move: title, body, status.
HEADER_LAYOUT = {TITLE: (16, 11, 338, 19), BODY: (22, 77, 366, 60), STATUS: (22, 151, 366, 31)}
LAYOUT = {
    WELCOME:  {TITLE: (128, 18, 264, 44), BODY: (128, 74, 260, 119), STATUS: (128, 194, 260, 34)},
    READY: HEADER_LAYOUT, INSTALLING: HEADER_LAYOUT, FAILED: HEADER_LAYOUT,
    FINISHED: {TITLE: (128, 18, 264, 44), BODY: (128, 74, 260, 78), STATUS: (128, 194, 260, 34)},
}
# fmt: on


def check_page(state, title: str, ok_text: str | None = None) -> None:
    """The page's buttons, menu item, controls and layout; the title is the page's."""
    assert state.page == title
    ok, cancel, back, ok_cancel, close_item, box, bar = BUTTONS[title]
    assert (state.text(OK), state.text(CANCEL)) == (ok_text or ok, cancel)
    assert (state.enabled(BACK), state.enabled(OK), state.enabled(CANCEL)) == (back, ok_cancel,
                                                                               ok_cancel)
    assert state["close_item"] == close_item
    assert (state.visible(LAUNCH_BOX), state.visible(PROGRESS)) == (box, bar)
    assert state["default_id"] == 1
    assert state["controls"][OK]["style"] & BS_TYPE_MASK == BS_DEFPUSHBUTTON
    # The separator spans 410 x 235 dialog units from the left edge: it gives the scale, up to
    # the rounding of each conversion.
    left, top, right, _ = state["controls"][SEPARATOR]["rect"]
    scale_x, scale_y = (right - left) / 410, top / 235
    for control, (x, y, width, height) in LAYOUT[title].items():
        expected = (x * scale_x, y * scale_y, (x + width) * scale_x, (y + height) * scale_y)
        actual = state["controls"][control]["rect"]
        assert all(abs(a - e) <= 1 + e / 100 for a, e in zip(actual, expected)), (control, actual)


@pytest.fixture
def wizard(wine, vantrel_exe, programs, clean):  # noqa: F811
    """wizard(args=(), env=None) starts the wizard on a clean user; all are ended afterwards."""
    started: list[Wizard] = []

    def start(args=(), env=None) -> Wizard:
        started.append(Wizard(wine, vantrel_exe, programs, args, env))
        return started[-1]

    yield start
    for each in started:
        each.__exit__()


@pytest.fixture
def shoot(xvfb):
    """shoot(wizard, name) saves the dialog as name.png when pictures are asked for."""
    folder = os.environ.get("VANTREL_SCREENSHOT_DIR")

    def take(wizard: Wizard, name: str) -> None:
        if folder:
            wizard.screenshot(xvfb, Path(folder) / f"{name}.png")

    return take


def slow_package(https_server, version: str, pieces: int = 60, delay: float = 0.12) -> None:
    path = release_file_path(version, archive_name(version))
    body = (https_server.root / path.lstrip("/")).read_bytes()
    https_server.set_rule(path, trickle(body, len(body) // pieces + 1, delay))


def test_a_whole_install_from_the_welcome_page_to_finish(wizard, publish, https_server, shoot,
                                                         clean):  # noqa: F811
    publish("1.0.0")
    slow_package(https_server, "1.0.0")
    w = wizard()
    state = w.wait_page(WELCOME)
    check_page(state, WELCOME)
    assert (state.text(BODY), state.text(STATUS), state["checked"]) == (INSTALL_BODY, "", True)
    shoot(w, "1-welcome")

    w.click(OK)
    check_page(w.wait_page(READY), READY)
    w.click(BACK)
    assert w.wait_page(WELCOME)["focus"] == int(OK)
    w.click(OK)
    state = w.wait_page(READY)
    assert state["focus"] == int(OK)
    shoot(w, "2-ready")

    w.click(OK)
    state = w.wait_page(INSTALLING)
    check_page(state, INSTALLING)
    assert state["progress"]["marquee"] and state["progress"]["mode"] == 1

    # Nothing closes or leaves the page while setup runs: keys, the window's close, commands.
    percent = w.wait(lambda s: PERCENT.match(s.text(STATUS)), "a download percentage")
    for attempt in ("key escape", "key alt-f4", "key enter", "close", "command 2", "command 1",
                    "command 100", "click 2", "click 1"):
        assert w.ask(attempt) == "ok"
        state = w.state()
        assert state.page == INSTALLING, attempt
        assert w.process.poll() is None, attempt
    check_page(state, INSTALLING)
    shown = percent
    seen = set()
    photographed = False
    while shown.page == INSTALLING:
        match = PERCENT.match(shown.text(STATUS))
        if match:
            value = int(match.group(1))
            seen.add(value)
            if shown["progress"]["mode"] != 2:
                # The bar's style is read without the window's thread: a read in the middle of a
                # refresh sees the new text with the old mode. The next read must agree.
                again = w.state()
                assert again.text(STATUS) != shown.text(STATUS) or again["progress"]["mode"] == 2
                shown = again
                continue
            assert not shown["progress"]["marquee"]
            assert (shown["progress"]["low"], shown["progress"]["high"]) == (0, 100)
            assert shown["progress"]["position"] >= value  # read after the text
            if 30 <= value <= 70 and not photographed:
                shoot(w, "3-installing")
                photographed = True
        shown = w.state()
    assert len(seen) >= 3, seen

    state = w.wait_page(FINISHED)
    check_page(state, FINISHED)
    assert (state.text(STATUS), state["checked"]) == ("", True)
    shoot(w, "5-finished")
    w.click(LAUNCH_BOX)
    state = w.state()
    assert (state.page, state["checked"]) == (FINISHED, False)
    w.click(OK)
    assert w.exit_code() == 0
    product = clean
    assert (product / "bin" / LAUNCHER).is_file()
    assert (product / "Vantrel.exe").is_file()
    assert w.processes(LAUNCHER) == 0


def launcher_of_another_release(programs, mode: str = "") -> bytes:
    return releases.fixture_launcher(programs / "fixture_launcher.exe", "9.9.9", mode)


def install_to_the_finished_page(w: Wizard) -> None:
    w.wait_page(WELCOME)
    w.click(OK)
    w.wait_page(READY)
    w.click(OK)
    w.wait_page(FINISHED)


def test_an_installed_launcher_changes_the_wording_and_finish_starts_the_launcher(
        wizard, publish, programs, clean):  # noqa: F811
    publish("1.0.0")
    (clean / "bin").mkdir(parents=True)
    (clean / "bin" / LAUNCHER).write_bytes(launcher_of_another_release(programs))
    w = wizard(["--repair"])
    state = w.wait_page(WELCOME)
    assert state.text(BODY) == UPDATE_BODY
    w.click(OK)
    assert w.wait_page(READY).page == READY  # the titles do not change
    w.click(OK)
    state = w.wait_page(FINISHED)
    assert state["checked"]
    w.command(BACK)  # does nothing here
    assert w.state().page == FINISHED
    # One that keeps running, so that it can still be seen after the wizard has ended.
    (clean / "bin" / LAUNCHER).write_bytes(launcher_of_another_release(programs, "hang"))
    w.click(OK)
    assert w.exit_code() == 0
    assert w.processes(LAUNCHER) == 1


def test_a_stopped_server_fails_with_one_sentence_then_back_and_a_fresh_run(
        wizard, publish, https_server, shoot):  # noqa: F811
    publish("1.0.0")
    https_server.stop()
    w = wizard()
    w.wait_page(WELCOME)
    w.click(OK)
    w.wait_page(READY)
    w.click(OK)
    state = w.wait_page(FAILED)
    check_page(state, FAILED)
    assert state.text(STATUS) == NETWORK
    shoot(w, "4-failed")

    w.click(BACK)
    state = w.wait_page(WELCOME)
    assert (state.text(STATUS), state["focus"]) == ("", int(OK))
    w.click(OK)
    w.wait_page(READY)
    w.click(OK)
    assert w.wait_page(FAILED).text(STATUS) == NETWORK  # a fresh run, failed the same way
    w.click(CANCEL)
    assert w.exit_code() == 1


def test_a_tampered_release_fails_then_retry_installs_the_good_one(wizard, publish,
                                                                   https_server):  # noqa: F811
    publish("1.0.0")
    package = https_server.root / release_file_path("1.0.0", archive_name("1.0.0")).lstrip("/")
    good = package.read_bytes()
    package.write_bytes(good[:100] + bytes([good[100] ^ 1]) + good[101:])
    w = wizard()
    w.wait_page(WELCOME)
    w.click(OK)
    w.wait_page(READY)
    w.click(OK)
    state = w.wait_page(FAILED)
    assert state.text(STATUS) == VERIFICATION

    package.write_bytes(good)
    w.click(OK)  # Retry
    assert w.wait_page(INSTALLING).text(STATUS)  # a new run: the status comes back
    state = w.wait_page(FINISHED)
    assert state.text(STATUS) == ""
    w.close()
    assert w.exit_code() == 0


def test_a_failed_launch_renames_finish_to_retry_and_a_later_launch_ends(
        wizard, publish, programs, clean):  # noqa: F811
    publish("1.0.0", "exit-on-start")
    w = wizard()
    install_to_the_finished_page(w)
    w.click(OK)
    state = w.wait(lambda s: s.text(STATUS) == LAUNCH, "the launch failure")
    check_page(state, FINISHED, ok_text="&Retry")
    assert w.process.poll() is None

    (clean / "bin" / LAUNCHER).write_bytes(launcher_of_another_release(programs, "hang"))
    w.click(OK)
    assert w.exit_code() == 0
    assert w.processes(LAUNCHER) == 1


@pytest.mark.parametrize(
    "steps, code",
    [
        (["key escape"], 0),
        (["command 100", "key alt-f4"], 0),  # Back does nothing on the welcome page
        (["close"], 0),
        (["click 1", "key escape"], 0),
        (["click 1", "key alt-f4"], 0),
        (["click 1", "click 2"], 0),
    ],
    ids=["escape", "alt-f4", "close", "ready-escape", "ready-alt-f4", "ready-cancel"],
)
def test_closing_before_the_run_ends_with_0(wizard, steps, code):
    w = wizard()
    w.wait_page(WELCOME)
    for step in steps:
        assert w.ask(step) == "ok"
    assert w.exit_code() == code
