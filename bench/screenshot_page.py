#!/usr/bin/env python3
"""Writes a text-heavy web page (headings, paragraphs, a table, buttons,
rounded and rotated boxes) to standard output: rendered by Chromium at two
font-hinting settings, it gives the benchmarks a real screenshot pair of
any size."""
import random

random.seed(7)
WORDS = ("render pixel layout browser screenshot compare anti aliased glyph hinting baseline "
         "release notes quick brown fox jumps over lazy dogs table cell border shadow").split()


def sentence(n):
    return " ".join(random.choice(WORDS) for _ in range(n)).capitalize() + "."


parts = ["<!doctype html><html><head><meta charset='utf-8'><style>",
         "body{margin:0;padding:24px;font:15px 'DejaVu Sans',sans-serif;background:#fafafa;color:#222;"
         "column-count:4;column-gap:32px}",
         "h2{color:#1b4f9c;font-size:22px} .b{display:inline-block;padding:6px 14px;border-radius:12px;"
         "background:#2f7d32;color:#fff;margin:4px} .c{border:1px solid #bbb;border-radius:8px;padding:8px;"
         "transform:rotate(-1.5deg);margin:10px 0} td{border-bottom:1px solid #ddd;padding:2px 8px}",
         "</style></head><body>"]
for section in range(40):
    parts.append(f"<h2>Section {section + 1}: {sentence(3)[:-1]}</h2>")
    for _ in range(3):
        parts.append(f"<p>{sentence(random.randint(20, 45))}</p>")
    parts.append(f"<div class='c'><i>{sentence(12)}</i></div><span class='b'>Download</span>"
                 f"<span class='b'>Details</span>")
    parts.append("<table>" + "".join(f"<tr><td>{random.choice(WORDS)}</td><td>{random.randint(1, 99999)}</td>"
                                     f"<td>{random.random():.4f}</td></tr>" for _ in range(4)) + "</table>")
parts.append("</body></html>")
print("\n".join(parts))
