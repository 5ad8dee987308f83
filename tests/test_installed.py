"""What an installed wheel can break that the rest of the suite cannot see.
Runs when TURNWHEEL_INSTALLED_WHEEL names the wheel that was installed."""

import os
import sysconfig
from importlib import metadata
from pathlib import Path

import pytest

import turnwheel

MODULES = ["turnwheel", "turnwheel_batch"]
WHEEL = os.environ.get("TURNWHEEL_INSTALLED_WHEEL")
pytestmark = pytest.mark.skipif(not WHEEL, reason="not testing an installed wheel")


def test_the_installed_modules_are_imported_with_their_stubs():
    module = Path(turnwheel.__file__).resolve()
    assert Path(sysconfig.get_paths()["platlib"]).resolve() in module.parents
    for name in MODULES:
        assert (module.parent / f"{name}-stubs" / "__init__.pyi").is_file()
    # The distribution installed is the wheel under test, and its record
    # lists the module that was imported.
    distribution = metadata.distribution("turnwheel")
    tags = [line.split(": ", 1)[1] for line in distribution.read_text("WHEEL").splitlines() if line.startswith("Tag: ")]
    python, abi, platforms = Path(WHEEL).name[: -len(".whl")].split("-")[-3:]
    assert sorted(tags) == sorted(f"{python}-{abi}-{platform}" for platform in platforms.split("."))
    files = {Path(f).name for f in distribution.files}
    assert module.name in files and module.name.replace("turnwheel", "turnwheel_batch", 1) in files
