import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
import vdharness  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def _wine():
    # A suite that ctest gives a Wine prefix of its own runs beside the others: it gets its own
    # display too (windows of two suites on one screen would take each other's clicks), and its
    # own wineserver, which it ends.
    if os.environ.get("VD_OWN_PREFIX") == "1":
        with vdharness.Xvfb(private=True) as x:
            os.environ["DISPLAY"] = x.display
            vdharness.start_own_prefix()
            try:
                yield
            finally:
                vdharness.stop_wineserver()
        return
    vdharness.ensure_wineserver()
    yield


@pytest.fixture
def clean():
    """Clean data folders before and after the test."""
    vdharness.clean_data()
    yield
    vdharness.clean_data()


@pytest.fixture
def display():
    with vdharness.Xvfb() as x:
        yield x
