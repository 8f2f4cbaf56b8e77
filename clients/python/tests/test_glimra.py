"""The Python client against the built glimra (GLIMRA_BINARY): answers
equal to the command line's, options, a server that dies, the fixture."""
import json
import os
import signal
import subprocess

import pytest

import glimra

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
RENDERED = os.path.join(ROOT, "tests", "data", "perceptual")
BEFORE = os.path.join(ROOT, "examples", "before.png")
AFTER = os.path.join(ROOT, "examples", "after.png")


def cli(*args):
    run = subprocess.run([glimra.find_binary(), *args, "--json"], capture_output=True, text=True)
    return json.loads(run.stdout)


def test_answers_are_the_command_lines_json(glimra_server):
    none = os.path.join(RENDERED, "hinting-none.png")
    full = os.path.join(RENDERED, "hinting-full.png")
    result = glimra_server.compare(none, full, threshold=0.1, antialiasing=True)
    expected = cli(none, full, "--threshold=0.1", "--antialiasing")
    for data in (result.raw, expected):
        data.pop("milliseconds")
        data.pop("id", None)
    assert result.raw == expected
    assert (result.differing_pixels, result.antialiased_pixels) == (166, 891)
    assert not result.passed
    assert glimra_server.compare(BEFORE, BEFORE).passed


def test_options_and_refusals(glimra_server, tmp_path):
    diff = tmp_path / "diff.png"
    result = glimra_server.compare(BEFORE, AFTER, diff=diff, highlight=True, max_differing="50%")
    assert result.status == "similar" and not diff.exists()
    result = glimra_server.compare(BEFORE, AFTER, diff=diff, ignore=["1x1+0+0"])
    assert result.status == "different" and diff.exists()
    refused = glimra_server.compare(BEFORE, AFTER, threshold=2)
    assert refused.status == "failed" and "threshold" in refused.message
    with pytest.raises(TypeError):
        glimra_server.compare(BEFORE, AFTER, frobnicate=True)


def test_a_dead_server_is_an_error_and_then_a_new_one():
    with glimra.Server() as server:
        assert server.compare(BEFORE, AFTER).status == "different"
        server._process.send_signal(signal.SIGKILL)
        server._process.wait()
        with pytest.raises(glimra.GlimraError, match="server ended"):
            server.compare(BEFORE, AFTER)
        assert server.compare(BEFORE, AFTER).status == "different"
