"""A pytest fixture: one glimra server for the whole test session.

    def test_home(glimra_server):
        assert glimra_server.compare("ref/home.png", "out/home.png", threshold=0.1).passed
"""
import pytest

from glimra import Server


@pytest.fixture(scope="session")
def glimra_server():
    with Server() as server:
        yield server
