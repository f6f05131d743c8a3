#!/usr/bin/env python3
"""Prints the benchmark medians of one bench.sh run as Markdown tables.

Usage: summary.py RESULTS_DIR
RESULTS_DIR holds <sdl>-<driver>.json files written by cloakcam_bench.
"""
import json
import os
import sys


# The figures are the thread's CPU time: on a machine shared with other work
# the wall clock mostly measures how long the benchmark waited for a core.
# Under X11 the server's share of SDL_UpdateRect runs in another process and
# only the wall clock sees it, so the pass table shows both.
def medians(path, field="cpu_time"):
    with open(path) as f:
        data = json.load(f)
    out = {}
    for b in data["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b[field]
    return data["context"], out


def fmt(v):
    return "-" if v is None else f"{v:.1f}"


def main():
    root = sys.argv[1]
    runs = {}
    wall = {}
    for name in sorted(os.listdir(root)):
        if name.endswith(".json"):
            runs[name[:-5]] = medians(os.path.join(root, name))
            wall[name[:-5]] = medians(os.path.join(root, name), "real_time")[1]
    if "compat-dummy" not in runs:
        sys.exit("no compat-dummy.json in " + root)

    context, m = runs["compat-dummy"]
    print(f"Machine: {context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz; "
          f"SDL {context.get('sdl_version')}, driver {context.get('sdl_video_driver')}\n")
    warp = m.get("BM_WarpTV")
    print("| stage | µs per frame | memory bound µs | × bound | layout floor µs | × floor "
          "| × warptv |")
    print("| --- | ---: | ---: | ---: | ---: | ---: | ---: |")
    stages = [("conversion (recordsFromBgr)", "BM_Convert", "BM_ConvertBound",
               "BM_ConvertLayoutFloor"),
              ("effect, a row at a time (as the pass runs it)", "BM_Effect", "BM_EffectBound",
               "BM_EffectLayoutFloor"),
              ("effect, applyEffect pixel by pixel", "BM_EffectPixelByPixel", "BM_EffectBound",
               "BM_EffectLayoutFloor"),
              ("drawing: effect, colour tables, putPixel16 (drawEffect)", "BM_Draw",
               "BM_DrawBound", None),
              ("whole pass (runPass), dummy driver", "BM_Pass", "BM_PassBound", None)]
    paused = ("BM_Effect", "BM_EffectPixelByPixel", "BM_EffectLayoutFloor", "BM_Draw")

    def timed(key):
        t = m.get(key)
        # The restore between frames runs with the timer paused, which
        # itself costs a little.
        if t is not None and key in paused:
            t -= m.get("BM_PauseTimingCost", 0.0)
        return t

    for label, key, bound, floor in stages:
        t, b, f = timed(key), m.get(bound), timed(floor) if floor else None
        print(f"| {label} | {fmt(t)} | {fmt(b)} | {fmt(t / b) if t and b else '-'} "
              f"| {fmt(f)} | {fmt(t / f) if t and f else '-'} "
              f"| {f'{t / warp:.2f}' if t and warp else '-'} |")
    print(f"| GStreamer warptv, one frame through GstHarness | {fmt(warp)} | | | | | 1.00 |")
    print(f"| (GstHarness alone, identity element) | {fmt(m.get('BM_HarnessIdentity'))} "
          f"| | | | | |")
    print()

    print("Share of the pass, medians of CPU time in µs (pass also by the wall clock):\n")
    print("| SDL 1.2 | driver | pass | pass, wall clock | SDL_MapRGB ×76800 (not in the pass) "
          "| SDL_UpdateRect "
          "| SDL_PollEvent | camera copy | program's own | own share |")
    print("| --- | --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: | ---: |")
    for run, (ctx, r) in runs.items():
        p = r.get("BM_Pass")
        if p is None:
            continue
        # Colours come from tables built once, so SDL_MapRGB is no longer
        # part of a pass.
        sdl = sum(r.get(k, 0.0) for k in ("BM_SdlUpdateRect", "BM_SdlPollEvent"))
        copy = None
        if "BM_UpdateImage" in m and "BM_Convert" in m:
            copy = max(m["BM_UpdateImage"] - m["BM_Convert"], 0.0)
        own = p - sdl - (copy or 0.0)
        print(f"| {ctx.get('sdl_version')} | {ctx.get('sdl_video_driver')} | {fmt(p)} "
              f"| {fmt(wall[run].get('BM_Pass'))} "
              f"| {fmt(r.get('BM_SdlMapRGB'))} | {fmt(r.get('BM_SdlUpdateRect'))} "
              f"| {fmt(r.get('BM_SdlPollEvent'))} | {fmt(copy)} | {fmt(own)} "
              f"| {100 * own / p:.0f} % |")
    own_direct = None
    if all(k in m for k in ("BM_Convert", "BM_Draw")):
        own_direct = m["BM_Convert"] + timed("BM_Draw")
        print(f"\nThe program's own stages timed one by one (conversion + drawing with the "
              f"effect): {own_direct:.1f} µs.")


main()
