"""The Python client of glimra's server mode: one ``glimra --serve`` process
per Server, a request and its answer at a time. Standard library only.

    with glimra.Server() as g:
        r = g.compare("expected.png", "actual.png", threshold=0.1)
        assert r.passed, r
"""
from __future__ import annotations

import json
import os
import shutil
import subprocess
from dataclasses import dataclass, field
from typing import Any, Dict, Optional, Tuple

__all__ = ["Server", "Result", "GlimraError", "find_binary"]

# Python's names of the options, and the server's.
_OPTIONS = {
    "threshold": "threshold",
    "antialiasing": "antialiasing",
    "tolerance": "tolerance",
    "ignore": "ignore",
    "max_differing": "maxDiffering",
    "ignore_alpha": "ignoreAlpha",
    "highlight": "highlight",
    "xor": "xor",
    "timeout": "timeout",
    "max_pixels": "maxPixels",
}


class GlimraError(RuntimeError):
    """The server could not be started, or it ended."""


def find_binary(given: Optional[str] = None) -> str:
    """The binary: ``given``, then GLIMRA_BINARY, then the PATH."""
    found = given or os.environ.get("GLIMRA_BINARY") or shutil.which("glimra")
    if not found:
        raise GlimraError("glimra was not found: pass binary=, set GLIMRA_BINARY or put glimra on the PATH")
    return found


@dataclass
class Result:
    """The JSON object ``glimra --json`` prints for a pair."""

    status: str
    id: Any = None
    name: Optional[str] = None
    a: Optional[str] = None
    b: Optional[str] = None
    diff: Optional[str] = None
    message: Optional[str] = None
    width: Optional[int] = None
    height: Optional[int] = None
    differing_pixels: Optional[int] = None
    share: Optional[float] = None
    box: Optional[Dict[str, int]] = None
    largest_delta: Optional[int] = None
    samples: Optional[str] = None
    alpha: Optional[bool] = None
    antialiased_pixels: Optional[int] = None
    reason: Optional[str] = None
    size_a: Optional[Tuple[int, int]] = None
    size_b: Optional[Tuple[int, int]] = None
    milliseconds: Optional[float] = None
    raw: Dict[str, Any] = field(default_factory=dict, repr=False)

    @property
    def passed(self) -> bool:
        """Identical, or similar within the options."""
        return self.status in ("identical", "similar")

    @classmethod
    def from_json(cls, data: Dict[str, Any]) -> "Result":
        names = {"differingPixels": "differing_pixels", "largestDelta": "largest_delta",
                 "antialiasedPixels": "antialiased_pixels", "sizeA": "size_a", "sizeB": "size_b"}
        known = {f for f in cls.__dataclass_fields__} - {"raw"}
        values = {}
        for key, value in data.items():
            name = names.get(key, key)
            if name in known:
                values[name] = tuple(value) if name in ("size_a", "size_b") else value
        return cls(raw=data, **values)


class Server:
    """One ``glimra --serve`` process. A server that died makes the next call
    raise GlimraError; the call after starts a new one."""

    def __init__(self, binary: Optional[str] = None, jobs: Optional[int] = None):
        self.binary = find_binary(binary)
        self.jobs = jobs
        self._process: Optional[subprocess.Popen] = None
        self._next_id = 1
        self._start()

    def _start(self) -> None:
        args = [self.binary, "--serve"] + ([f"--jobs={self.jobs}"] if self.jobs else [])
        try:
            self._process = subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                             encoding="utf-8", bufsize=1)
        except OSError as error:
            raise GlimraError(f"cannot start {self.binary}: {error}") from error

    def compare(self, a: str, b: str, *, diff: Optional[str] = None, **options: Any) -> Result:
        if self._process is None:
            self._start()
        request: Dict[str, Any] = {"id": self._next_id, "a": os.fspath(a), "b": os.fspath(b)}
        self._next_id += 1
        if diff is not None:
            request["diff"] = os.fspath(diff)
        unknown = sorted(set(options) - set(_OPTIONS))
        if unknown:
            raise TypeError(f"unknown option {unknown[0]}")
        if options:
            request["options"] = {_OPTIONS[name]: value for name, value in options.items()}
        return self._ask(request)

    def _ask(self, request: Dict[str, Any]) -> Result:
        process = self._process
        assert process is not None and process.stdin is not None and process.stdout is not None
        try:
            process.stdin.write(json.dumps(request) + "\n")
            process.stdin.flush()
            line = process.stdout.readline()
        except (BrokenPipeError, OSError):
            line = ""
        if not line:
            self._process = None
            status = process.wait()
            raise GlimraError(f"the glimra server ended (status {status})")
        return Result.from_json(json.loads(line))

    def close(self) -> None:
        process, self._process = self._process, None
        if process is not None:
            if process.stdin:
                process.stdin.close()
            process.wait()
            if process.stdout:
                process.stdout.close()

    def __enter__(self) -> "Server":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()
