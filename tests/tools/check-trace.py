#!/usr/bin/env python3
"""Checks what ccxsim boot --trace and --trace-svg wrote.

  check-trace.py timeline --trace T.json --svg T.svg --report report.json --folded yes|no
      the trace loads, its slices nest on every track, a phase's slices add up to the report's
      estimate of it, and the picture is well-formed XML whose phase bars are the phases (same
      count and order, widths in proportion to their durations) with the AP rows as asked
  check-trace.py render --svg T.svg --png OUT.png
      headless Chromium draws the picture, and the PNG is not blank (exit 77 without Chromium)
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import xml.etree.ElementTree as ET
import zlib

# Trace times are microseconds on whole nanoseconds.
EPS_US = 0.0015
SVG = "{http://www.w3.org/2000/svg}"


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def slices_by_track(trace):
    tracks = {}
    for event in trace["traceEvents"]:
        if event["ph"] == "X":
            tracks.setdefault((event["pid"], event["tid"]), []).append(event)
    return tracks


def inside(child, parent):
    return (child["ts"] >= parent["ts"] - EPS_US and
            child["ts"] + child["dur"] <= parent["ts"] + parent["dur"] + EPS_US)


def check_nesting(track, events):
    """Every slice lies wholly inside the one open around it; returns each slice's direct children.

    A slice of no length at the edge of two others may belong to either, so it is only checked to lie
    inside the slices around it."""
    events.sort(key=lambda e: e["ts"])
    children = {id(e): [] for e in events}
    stack = []
    for event in events:
        while stack and not inside(event, stack[-1]):
            done = stack.pop()
            if event["ts"] < done["ts"] + done["dur"] - EPS_US:
                fail(f"track {track}: {event['name']} at {event['ts']} us for {event['dur']} us overruns "
                     f"{done['name']} ending at {done['ts'] + done['dur']} us")
        if stack:
            children[id(stack[-1])].append(event)
        if event["dur"] > 0:
            stack.append(event)
    return children


def check_timeline(args):
    with open(args.trace) as file:
        trace = json.load(file)
    with open(args.report) as file:
        report = json.load(file)
    tracks = slices_by_track(trace)
    names = {(e["pid"], e["tid"]): e["args"]["name"] for e in trace["traceEvents"]
             if e["ph"] == "M" and e["name"] == "thread_name"}
    boots = sorted({pid for pid, _ in tracks})
    if len(boots) != len(report["boots"]):
        fail(f"{len(boots)} boots in the trace, {len(report['boots'])} in the report")
    phase_order = []
    for number, pid in enumerate(boots):
        bsp = tracks.get((pid, 0))
        if not bsp:
            fail(f"boot {pid} has no BSP track")
        for key, events in tracks.items():
            if key[0] != pid:
                continue
            if key not in names:
                fail(f"track {key} has no thread name")
            children = check_nesting(key, events)
            for event in events:
                nested = sum(child["dur"] for child in children[id(event)])
                if nested > event["dur"] + EPS_US * (1 + len(children[id(event)])):
                    fail(f"{event['name']}: its slices take {nested} us of its {event['dur']} us")
        children = check_nesting((pid, 0), bsp)
        phases = [e for e in sorted(bsp, key=lambda e: e["ts"]) if e["cat"] == "phase"]
        phase_order += [e["name"] for e in phases]
        if not any(e["cat"] == "notify" for e in bsp) or not any(e["cat"] == "mp" for e in bsp):
            fail(f"boot {pid}: no notify function or no MP services start on the BSP")
        if not any(tid != 0 for p, tid in tracks if p == pid):
            fail(f"boot {pid}: no AP ran a procedure")
        # A phase's own time (its slices but the service calls nested in it) is the report's figure.
        figures = {}
        services = [e for e in bsp if e["cat"] == "service"]
        for phase in phases:
            own = phase["dur"] - sum(s["dur"] for s in services if inside(s, phase))
            figures[phase["name"]] = figures.get(phase["name"], 0) + own
        for service in services:
            if not any(inside(service, p) for p in phases):
                fail(f"service call {service['name']} is not inside a phase")
            figures["service: " + service["name"]] = figures.get("service: " + service["name"], 0) + service["dur"]
        expected = report["boots"][number]["hardware_accesses"]["phases"]
        for phase in expected:
            got = figures.get(phase["phase"])
            if got is None:
                fail(f"boot {pid}: the report's phase {phase['phase']} is not in the trace")
            if abs(got - phase["estimate_ns"] / 1000) > EPS_US * 20:
                fail(f"boot {pid}: {phase['phase']} takes {got} us in the trace, "
                     f"{phase['estimate_ns'] / 1000} us in the report")
        if len(figures) != len(expected):
            fail(f"boot {pid}: {sorted(figures)} in the trace, {[p['phase'] for p in expected]} in the report")
        end = max(e["ts"] + e["dur"] for e in phases)
        total = sum(p["estimate_ns"] for p in expected) / 1000
        if abs(end - total) > EPS_US * 20:
            fail(f"boot {pid}: the phases end at {end} us, the report's estimates add up to {total} us")
    check_svg(args, trace, tracks, phase_order)
    print(f"trace: {len(boots)} boots, {len(tracks)} tracks, {len(phase_order)} phases agree with the report")


def check_svg(args, trace, tracks, phase_order):
    root = ET.parse(args.svg).getroot()
    if root.tag != SVG + "svg":
        fail(f"the picture's root is {root.tag}, not svg")
    durations = {}
    for event in (e for events in tracks.values() for e in events if e["cat"] == "phase"):
        durations.setdefault(event["name"], []).append(event["dur"] * 1000)
    bars = [r for r in root.iter(SVG + "rect") if r.get("class") == "phase"]
    if [b.get("data-name") for b in bars] != phase_order:
        fail(f"phase bars {[b.get('data-name') for b in bars]} are not the phases {phase_order}")
    longest = max(bars, key=lambda b: float(b.get("data-ns")))
    scale = float(longest.get("width")) / float(longest.get("data-ns"))
    for bar in bars:
        ns = float(bar.get("data-ns"))
        if not any(abs(ns - d) <= 1.5 for d in durations[bar.get("data-name")]):
            fail(f"bar {bar.get('data-name')} says {ns} ns, the trace {durations[bar.get('data-name')]}")
        if abs(float(bar.get("width")) - ns * scale) > 0.011:
            fail(f"bar {bar.get('data-name')} is {bar.get('width')} px wide for {ns} ns (scale {scale} px/ns)")
    for text in root.iter(SVG + "text"):
        if float(text.get("font-size", "0")) < 11:
            fail(f"text {text.text!r} is set at {text.get('font-size')} px")
    rows = [t for t in root.iter(SVG + "text") if (t.get("class") or "").startswith("ap-row")]
    folded = [t for t in rows if "folded" in t.get("class")]
    aps = sum(1 for pid, tid in tracks if tid != 0)
    if args.folded == "yes":
        if not rows or len(folded) != len(rows) or len(rows) >= aps:
            fail(f"{len(rows)} AP rows ({len(folded)} folded) for {aps} AP tracks: expected a row per complex")
    elif folded or len(rows) != aps:
        fail(f"{len(rows)} AP rows ({len(folded)} folded) for {aps} AP tracks: expected a row per AP")


def decode_png(data):
    """Width, height, channels and the unfiltered rows of an 8-bit RGB or RGBA PNG."""
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("the screenshot is not a PNG")
    position, idat = 8, b""
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
        elif kind == b"IDAT":
            idat += body
        position += 12 + length
    if depth != 8 or colour not in (2, 6):
        fail(f"the screenshot is a PNG of depth {depth} and colour type {colour}")
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        row = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        if kind == 1:
            for i in range(channels, stride):
                row[i] = (row[i] + row[i - channels]) & 0xFF
        elif kind == 2:
            row = bytearray((a + b) & 0xFF for a, b in zip(row, previous))
        elif kind == 3:
            for i in range(stride):
                left = row[i - channels] if i >= channels else 0
                row[i] = (row[i] + ((left + previous[i]) >> 1)) & 0xFF
        elif kind == 4:
            for i in range(stride):
                a = row[i - channels] if i >= channels else 0
                b, c = previous[i], previous[i - channels] if i >= channels else 0
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                row[i] = (row[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        rows.append(bytes(row))
        previous = row
    return width, height, channels, rows


def check_render(args):
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    if chromium is None:
        print("SKIP: chromium is not installed (scripts/setup installs it); the picture was not rendered")
        sys.exit(77)
    # Root needs --no-sandbox; the picture is a local file with nothing to fetch.
    subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                    "--screenshot=" + args.png, "--window-size=1600,900", "file://" + os.path.abspath(args.svg)],
                   check=True, timeout=120, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    with open(args.png, "rb") as file:
        width, height, channels, rows = decode_png(file.read())
    colours, inked = {}, 0
    for row in rows:
        for x in range(0, width * channels, channels):
            pixel = bytes(row[x:x + 3])
            colours[pixel] = colours.get(pixel, 0) + 1
            inked += pixel != b"\xff\xff\xff"
    share = inked / (width * height)
    # The bars' own fills, each over a good many pixels: the shapes were drawn, not only text.
    fills = {bytes.fromhex(f) for f in re.findall(r'fill="#([0-9a-f]{6})"', open(args.svg).read())}
    bars = [f.hex() for f in fills if colours.get(f, 0) >= 200 and f != b"\xff\xff\xff"]
    print(f"render: {width}x{height}, {len(colours)} colours, {share:.1%} of the pixels not white, "
          f"bar colours shown: {sorted(bars)}")
    if len(colours) < 8 or share < 0.01 or len(bars) < 3:
        fail("the rendered picture is blank or nearly so")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["timeline", "render"])
    parser.add_argument("--trace")
    parser.add_argument("--svg", required=True)
    parser.add_argument("--report")
    parser.add_argument("--folded", choices=["yes", "no"])
    parser.add_argument("--png")
    args = parser.parse_args()
    if args.mode == "timeline":
        check_timeline(args)
    else:
        check_render(args)


if __name__ == "__main__":
    main()
