import os
import sys

import pytest

sys.path.insert(0, os.path.dirname(__file__))
import vdharness  # noqa: E402


@pytest.fixture(scope="session", autouse=True)
def _wine():
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
