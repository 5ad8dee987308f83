"""The README shows the table of platforms as the driver that builds them reads it."""

import subprocess
import sys
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
DRIVER = ROOT / "tools" / "platforms.py"
pytestmark = pytest.mark.skipif(not DRIVER.exists(), reason="the tools are not beside the tests")


def test_readme_shows_the_table_of_targets():
    table = subprocess.run([sys.executable, str(DRIVER), "--markdown"], capture_output=True, text=True, check=True,
                           timeout=60).stdout
    assert table.count("\n") == 2 + sum(1 for line in (ROOT / "tools" / "targets.txt").read_text().splitlines()
                                         if line.strip() and not line.startswith("#"))
    assert table in (ROOT / "README.md").read_text()
