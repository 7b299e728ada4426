"""Where the tests find the command, the generator and the source tree:
the environment that ctest sets (ZEMA_CLI, ZEMA_GEN_DESIGN, ZEMA_SOURCE_DIR)."""
import os
import pathlib

import pytest


@pytest.fixture(scope="session")
def zema_cli() -> str:
    return os.environ["ZEMA_CLI"]


@pytest.fixture(scope="session")
def generator() -> str:
    return os.environ["ZEMA_GEN_DESIGN"]


@pytest.fixture(scope="session")
def source() -> pathlib.Path:
    return pathlib.Path(os.environ["ZEMA_SOURCE_DIR"])
