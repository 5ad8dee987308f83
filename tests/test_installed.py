"""What an installed wheel can break that the rest of the suite cannot see.
Runs when TURNWHEEL_INSTALLED_WHEEL names the wheel that was installed."""

import os
import sysconfig
from importlib import metadata
from pathlib import Path

import pytest

import turnwheel

WHEEL = os.environ.get("TURNWHEEL_INSTALLED_WHEEL")
pytestmark = pytest.mark.skipif(not WHEEL, reason="not testing an installed wheel")


def test_the_installed_module_is_imported_with_its_stubs():
    module = Path(turnwheel.__file__).resolve()
    assert Path(sysconfig.get_paths()["platlib"]).resolve() in module.parents
    assert (module.parent / "turnwheel-stubs" / "__init__.pyi").is_file()
    # The distribution installed is the wheel under test, and its record
    # lists the module that was imported.
    distribution = metadata.distribution("turnwheel")
    tags = [line.split(": ", 1)[1] for line in distribution.read_text("WHEEL").splitlines() if line.startswith("Tag: ")]
    python, abi, platforms = Path(WHEEL).name[: -len(".whl")].split("-")[-3:]
    assert sorted(tags) == sorted(f"{python}-{abi}-{platform}" for platform in platforms.split("."))
    assert module.name in {Path(f).name for f in distribution.files}
