#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Turns the results file of scripts/bench.sh into Markdown tables of medians and ratios.

Each line of the results file is "SCENARIO TOOL key=value ...", with the key=value pairs
printed by tandrel-bench and the Python peer (prepare_s, deliver_s, load_s, messages,
accepted, peak_rss_kb, ...) plus wall_s measured by the script and, for tandrel-bench,
its exit status and the time-out it was given.
"""

import statistics
import sys


def load(path):
    runs = {}
    with open(path) as f:
        for line in f:
            scen, tool, *kv = line.split()
            rec = {}
            for pair in kv:
                key, _, value = pair.partition("=")
                try:
                    rec[key] = float(value)
                except ValueError:
                    pass
            runs.setdefault((scen, tool), []).append(rec)
    return runs


def finished(r):
    return r.get("status", 0) == 0


def yes(ok):
    return "yes" if ok else "**no**"


def headline(runs):
    cases = [(("ui", "windows"), "offscreen"),
             (("uia11y", "windows"), "X display, accessibility bridge on")]
    rows = [(label, runs[key]) for key, label in cases if runs.get(key)]
    if not rows:
        return
    print(f"| {rows[0][1][0]['messages']:.0f} messages, Send through the windows "
          f"| runs | windows | headless driver "
          f"| windows / headless, median (goal ≤ 1.3, must ≤ 1.5) "
          f"| processor time, windows / headless | peak RSS of both runs |")
    print("|---|---|---|---|---|---|---|")
    for label, rs in rows:
        med = {k: statistics.median(r[k] for r in rs)
               for k in ("windows_s", "headless_s", "ratio", "cpu_ratio", "peak_rss_kb")
               if all(k in r for r in rs)}
        cpu = f"{med['cpu_ratio']:.2f}" if "cpu_ratio" in med else ""
        print(f"| {label} | {len(rs)} | {med['windows_s']:.3f} s | {med['headless_s']:.3f} s "
              f"| {med['ratio']:.2f} (goal {yes(med['ratio'] <= 1.3)}, "
              f"must {yes(med['ratio'] <= 1.5)}) | {cpu} "
              f"| {med['peak_rss_kb'] / 1024:.0f} MiB |")
    print()


def memory(runs):
    s5 = runs.get(("s5", "tandrel"))
    if s5:
        r = s5[0]
        print("| Memory: 5000 people, each with an own 100 KB file, delivered | |")
        print("|---|---|")
        print(f"| prepare | {r['prepare_s']:.2f} s |")
        print(f"| deliver | {r['deliver_s']:.2f} s |")
        print(f"| accepted | {r['accepted']:.0f} of {r['messages']:.0f} "
              f"({r['wire_bytes'] / 2**20:.0f} MiB on the wire) |")
        print(f"| peak RSS (< 200 MB) | {r['peak_rss_kb'] / 1024:.0f} MiB "
              f"({yes(r['peak_rss_kb'] < 200 * 1000)}) |")
        print()
    s3d = runs.get(("s3d", "tandrel"))
    if s3d:
        r = s3d[0]
        done = "whole run" if finished(r) else f"stopped after {r['timeout_s']:.0f} s"
        print("| Memory: 200 000 people, one shared 1 MB attachment, prepared and delivered "
              "| |")
        print("|---|---|")
        print(f"| prepare | {r['prepare_s']:.2f} s |")
        print(f"| delivery | {r['deliver_s']:.1f} s ({done}) |")
        print(f"| accepted | {r['accepted']:.0f} of {r['messages']:.0f} |")
        print(f"| peak RSS (< 250 MB) | {r['peak_rss_kb'] / 1024:.0f} MiB "
              f"({yes(r['peak_rss_kb'] < 250 * 1000)}) |")
        print()


def relay(runs):
    """The runs through the delay proxy: round trips per message and ratios to smtp-source."""
    rows = [("rh", "tandrel", "Tandrel, default settings (HELO), 1 connection"),
            ("r1", "tandrel", "Tandrel, ehlo=yes (PIPELINING), 1 connection"),
            ("r4", "tandrel", "Tandrel, ehlo=yes (PIPELINING), connections=4"),
            ("r1", "source", "smtp-source -d -s 1"),
            ("r4", "source", "smtp-source -d -s 4")]
    meta = runs.get(("relay", "meta"))
    if not meta:
        return
    rtt = meta[0]["rtt_s"]

    def per_message(scen, tool):
        rs = [r for r in runs.get((scen, tool), []) if finished(r)]
        if not rs:
            return None, None
        # Tandrel: its delivery alone (loading and preparing take no round trip).
        secs = statistics.median(r.get("deliver_s", r["wall_s"]) for r in rs)
        n = statistics.median(r.get("messages", meta[0]["messages"]) for r in rs)
        accepted = all(r.get("accepted", n) == n for r in rs)
        return secs / n / rtt, (secs, n, accepted)

    print(f"| Relay {rtt * 1000:.0f} ms away (delay proxy) | seconds | messages "
          "| round trips per message | / smtp-source, same connections |")
    print("|---|---|---|---|---|")
    for scen, tool, title in rows:
        rt, detail = per_message(scen, tool)
        if rt is None:
            continue
        secs, n, accepted = detail
        peer, _ = per_message("r4" if scen == "r4" else "r1", "source")
        ratio = f"{rt / peer:.2f}" if peer and tool == "tandrel" else ""
        note = "" if accepted else " (not all accepted)"
        print(f"| {title} | {secs:.2f} | {n:.0f}{note} | {rt:.2f} | {ratio} |")
    print()


def main(path):
    runs = load(path)
    headline(runs)
    relay(runs)
    if ("s1", "tandrel") not in runs:  # the relay runs alone (RELAY_ONLY=1)
        return

    def med(scen, tool, f):
        rs = [r for r in runs.get((scen, tool), []) if finished(r)]
        return statistics.median(f(r) for r in rs) if rs else None

    def work(r):
        return r["prepare_s"] + r["deliver_s"]

    def wall(r):
        return r["wall_s"]

    print("| Scenario | Tandrel prepare + deliver | smtp-source | Python peer "
          "| Tandrel / smtp-source (≤ 1.5) | Python / Tandrel (≥ 5) |")
    print("|---|---|---|---|---|---|")
    for scen, title in (("s1", "1000 people, 2 KB body, 100 KB attachment"),
                        ("s2", "10 000 people, 2 KB body, no attachment"),
                        ("s2p", "10 000 people, 2 KB body, EHLO and PIPELINING")):
        t = med(scen, "tandrel", work)
        s = med(scen, "source", wall)
        p = med(scen, "python", work)
        if t is None:
            u = next(r for r in runs[(scen, "tandrel")] if not finished(r))
            print(f"| {title} | did not finish: {u['accepted']:.0f} of {u['messages']:.0f} "
                  f"accepted in {u['timeout_s']:.0f} s | {s:.2f} s | {p:.2f} s "
                  f"| **no** | **no** |")
            continue
        print(f"| {title} | {t:.2f} s | {s:.2f} s | {p:.2f} s "
              f"| {t / s:.2f} ({yes(t / s <= 1.5)}) | {p / t:.1f} ({yes(p / t >= 5)}) |")
    print()
    t, s = med("s2p", "tandrel", work), med("s2p", "source", wall)
    if t is not None and s:
        print(f"- Pipelining: 10 000 small messages in {t:.2f} s against smtp-source's "
              f"{s:.2f} s in the same rounds: {t / s:.2f} (at least as fast: {yes(t <= s)})")
        print()

    for scen in ("s1", "s2"):
        if med(scen, "tandrel", work) is None:
            continue

        def g(key):
            return med(scen, "tandrel", lambda r: r[key])

        print(f"- Tandrel's stages in {scen} (medians): load {g('load_s'):.3f} s, "
              f"prepare {g('prepare_s'):.3f} s, deliver {g('deliver_s'):.3f} s; "
              f"peak RSS {g('peak_rss_kb') / 1024:.0f} MB; "
              f"{g('message_bytes_avg') / 1024:.1f} KB per message")
    print()

    memory(runs)
    for key, people, goal in (("s3", "200 000", 250), ("s3m", "1 000 000", 500)):
        got = runs.get((key, "tandrel"))
        if not got:
            continue
        r = got[0]
        print(f"| Memory: {people} people, one shared 1 MB attachment, preparation only | |")
        print("|---|---|")
        print(f"| prepare | {r['prepare_s']:.2f} s |")
        print(f"| messages | {r['messages']:.0f} ({r['wire_bytes'] / 2**30:.1f} GiB if sent) |")
        print(f"| peak RSS (< {goal} MB) | {r['peak_rss_kb'] / 1024:.0f} MiB "
              f"({yes(r['peak_rss_kb'] < goal * 1000)}) |")
        print()

    def growth_row(title, small_runs, big_runs, stage, pick=statistics.median):
        wall_key, cpu_key = stage + "_s", stage + "_cpu_s"
        small_runs = [r for r in small_runs if finished(r)]
        big_runs = [r for r in big_runs if finished(r)]
        if not small_runs or not big_runs:
            print(f"| {title} | not measured | not measured | | | | |")
            return
        cells = []
        for key in (wall_key, cpu_key):
            small = pick([r[key] for r in small_runs])
            big = pick([r[key] for r in big_runs])
            ratio = big / small if small > 0 else float("nan")
            cells += [f"{small:.3f} s", f"{big:.3f} s", f"{ratio:.1f}"]
            if key == wall_key:
                cells[-1] += f" ({yes(ratio <= 12)})"
        print(f"| {title} | " + " | ".join(cells) + " |")

    g10, g100 = runs.get(("g10k", "tandrel"), []), runs.get(("g100k", "tandrel"), [])
    print("| Growth, no attachment | 10 000 people | 100 000 people | ratio (≤ 12) "
          "| processor time 10 000 | 100 000 | ratio |")
    print("|---|---|---|---|---|---|---|")
    growth_row("load fields, database, mail (best of 11)", runs.get(("l10k", "tandrel"), []),
               runs.get(("l100k", "tandrel"), []), "load", min)
    growth_row("prepare", g10, g100, "prepare")
    growth_row("deliver", runs.get(("s2", "tandrel"), []), runs.get(("s4", "tandrel"), []),
               "deliver")
    if g10 and g100:
        print(f"| peak RSS, preparation only "
              f"| {statistics.median(r['peak_rss_kb'] for r in g10) / 1024:.0f} MiB "
              f"| {statistics.median(r['peak_rss_kb'] for r in g100) / 1024:.0f} MiB | | | | |")
    print()
    print("Processor time is user plus system time of the driver process; on a shared machine "
          "it is steadier than the wall clock. Load: the best of eleven runs with --load-only; "
          "prepare: medians of the runs with --prepare-only; deliver: scenario 2 against one "
          "delivery to 100 000 people.")

    for (scen, tool), rs in sorted(runs.items()):
        for r in rs:
            if finished(r) and r.get("deliver_s") and r.get("accepted") != r.get("messages"):
                print(f"\nWARNING: {scen} {tool}: {r['accepted']:.0f} of "
                      f"{r['messages']:.0f} messages accepted")


if __name__ == "__main__":
    main(sys.argv[1])
