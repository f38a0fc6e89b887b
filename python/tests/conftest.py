"""Runs the client against tarnwick-host under the platform the build runs on.

TARNWICK_HOST_COMMAND is how to run tarnwick-host (words separated by blanks are not split:
it is a JSON list), and TARNWICK_BIN the folder of the sample application.
"""

import json
import os
import sys

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), ".."))

from tarnwick import Session  # noqa: E402


@pytest.fixture
def session():
    command = json.loads(os.environ["TARNWICK_HOST_COMMAND"])
    with Session(command=command, cwd=os.environ["TARNWICK_BIN"], timeout=10) as s:
        s.attach("tarnwick_sampleapp.exe")
        yield s
        s.command("close")
