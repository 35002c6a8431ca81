#!/usr/bin/env python3
"""Prints one table from the benchmarks' JSON files: each median beside its floor or peer from the
same run, the ratio, the target and whether it held. Usage: table.py RESULT.json..."""
import json
import re
import sys

# Segments Google Benchmark adds to a name: repetitions, fixed iterations, the timing mode.
DECORATION = re.compile(r"/(repeats|iterations|min_time|threads):[^/]*|/(real|manual)_time")


def medians(paths):
    """{"BM_Name/arg": median aggregate} from every readable file."""
    found = {}
    for path in paths:
        try:
            with open(path, encoding="utf-8") as f:
                runs = json.load(f).get("benchmarks", [])
        except (OSError, ValueError):
            continue
        for run in runs:
            if run.get("aggregate_name", "median") != "median" or run.get("error_occurred"):
                continue
            key = DECORATION.sub("", run.get("run_name", run["name"]))
            found.setdefault(key, run)
    return found


def ms(run):
    scale = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[run.get("time_unit", "ns")]
    return run["real_time"] * scale


class Table:
    def __init__(self, results):
        self.results = results
        self.rows = []

    def value(self, key, counter=None, scale=1.0):
        run = self.results.get(key)
        if run is None or (counter and counter not in run):
            return None
        return run[counter] * scale if counter else ms(run)

    def add(self, name, figure, unit, beside=None, beside_figure=None, target=None, against_ratio=False,
            at_least=False):
        """`target` is an upper limit, or a lower one when `at_least`: on the ratio when
        `against_ratio`, else on the figure."""
        ratio = figure / beside_figure if figure is not None and beside_figure else None
        checked = ratio if against_ratio else figure
        if target is None:
            verdict = ""
        elif checked is None:
            verdict = "not run"
        else:
            verdict = "held" if (checked >= target if at_least else checked <= target) else "MISSED"
        bound = ">=" if at_least else "<="
        limit = "" if target is None else (
            "%s %.2g x" % (bound, target) if against_ratio else ("%s %g %s" % (bound, target, unit)).rstrip())
        self.rows.append([
            name,
            fmt(figure, unit),
            beside or "",
            fmt(beside_figure, unit) if beside else "",
            "" if ratio is None else "%.2f" % ratio,
            limit,
            verdict,
        ])

    def print(self):
        header = ["Benchmark", "Median", "Beside it", "Its median", "Ratio", "Target", "Result"]
        widths = [max(len(r[i]) for r in self.rows + [header]) for i in range(len(header))]
        right = {1, 3, 4}

        def line(cells):
            return "  ".join(c.rjust(w) if i in right else c.ljust(w)
                             for i, (c, w) in enumerate(zip(cells, widths))).rstrip()

        print(line(header))
        print(line(["-" * w for w in widths]))
        for row in self.rows:
            print(line(row))


def fmt(value, unit):
    if value is None:
        return "not run"
    if not unit:
        return "%.0f" % value
    if unit == "ms" and value < 1:
        return "%.1f us" % (value * 1000)
    return "%.1f %s" % (value, unit)


def main(paths):
    t = Table(medians(paths))
    v = t.value

    lsblk_json = v("BM_LsblkJson/8")
    t.add("udisks2: scan, 8 partitions", v("BM_UDisksScan/8"), "ms", "peer: one lsblk -J", lsblk_json, 0.5,
          against_ratio=True)
    t.add("udisks2: a model's first scan", v("BM_UDisksFirstScan/8"), "ms", "peer: one lsblk -J", lsblk_json)
    t.add("udisks2: mount + unmount by the model", v("BM_UDisksModelMountUnmount"), "ms",
          "peer: udisksctl mount, unmount", v("BM_UdisksctlMountUnmount"), 1.3, against_ratio=True)

    for count in (1, 8, 32):
        scan = v("BM_Scan/%d" % count)
        label = "stand-ins: scan, %d partition%s" % (count, "" if count == 1 else "s")
        t.add(label, scan, "ms", "floor: bare children", v("BM_ChildFloor/%d" % count),
              1.5 if count == 8 else None, against_ratio=True)
        if count == 8:
            t.add(label, scan, "ms", "peer: one lsblk", v("BM_Lsblk/8"), 50)

    for operation in ("scanDisks", "mountReadWrite", "unmount", "installDependencies", "uninstallDependencies"):
        t.add("longest event-loop gap, " + operation, v("BM_LongestGap/" + operation, "gap_ms"), "ms",
              target=16)
    for operation in ("mountReadWrite", "unmount"):
        t.add("longest event-loop gap, hung mount, " + operation, v("BM_HungMountGap/" + operation, "gap_ms"), "ms",
              target=16)

    model = v("BM_ModelMountUnmount")
    floor = v("BM_DirectMountUnmount")
    t.add("stand-ins: mount + unmount", model, "ms", "floor: same lines by sh", floor, 1.3,
          against_ratio=True)
    if model is not None:
        t.add("  of which the two rescans", v("BM_ModelMountUnmount", "rescans_ms"), "ms")
        t.add("  without the rescans", v("BM_ModelMountUnmount", "without_rescans_ms"), "ms",
              "floor: same lines by sh", floor)

    # Copies on one disk: the model's two mount paths against udisksctl's defaults and ext4.
    peer = "peer: udisksctl defaults"
    for way, label in (("model-udisks2", "model on udisks2"), ("model-standins", "model, stand-ins")):
        write = v("BM_Copy/" + way, "write_mbps")
        t.add("write 1 GiB + fsync, " + label, write, "MB/s", peer, v("BM_Copy/udisksctl", "write_mbps"), 5,
              against_ratio=True, at_least=True)
        t.add("write 1 GiB + fsync, " + label, write, "MB/s", "peer: ext4, same disk", v("BM_Copy/ext4", "write_mbps"),
              0.75, against_ratio=True, at_least=True)
        t.add("cold read 1 GiB, " + label, v("BM_Copy/" + way, "read_mbps"), "MB/s", peer,
              v("BM_Copy/udisksctl", "read_mbps"))
        t.add("5,000 x 4 KiB written + listed, " + label, v("BM_SmallFiles/" + way), "ms", peer,
              v("BM_SmallFiles/udisksctl"), 1.0, against_ratio=True)
        t.add("  of which the listing", v("BM_SmallFiles/" + way, "list_ms"), "ms", peer,
              v("BM_SmallFiles/udisksctl", "list_ms"))
    t.add("write 1 GiB + fsync, udisksctl defaults", v("BM_Copy/udisksctl", "write_mbps"), "MB/s",
          "peer: ext4, same disk", v("BM_Copy/ext4", "write_mbps"))
    t.add("cold read 1 GiB, udisksctl defaults", v("BM_Copy/udisksctl", "read_mbps"), "MB/s",
          "peer: ext4, same disk", v("BM_Copy/ext4", "read_mbps"))
    t.add("5,000 x 4 KiB written + listed, udisksctl", v("BM_SmallFiles/udisksctl"), "ms", "peer: ext4, same disk",
          v("BM_SmallFiles/ext4"))

    t.add("start-up to window with first scan", v("BM_StartUp"), "ms", target=400)
    t.add("resident memory 5 s later", v("BM_StartUp", "rss_mib"), "MiB", target=60)
    t.add("idle 60 s with udisksd: wake-ups", v("BM_Idle_Application", "wakeups"), "", "peer: udiskie",
          v("BM_Idle_Udiskie", "wakeups"), 0)
    t.add("idle 60 s with udisksd: resident memory", v("BM_Idle_Application", "rss_mib"), "MiB", "peer: udiskie",
          v("BM_Idle_Udiskie", "rss_mib"), 45)

    bare = v("BM_BareSpawn")
    t.add("HelperShell::run of true", v("BM_RunBlocking"), "ms", "peer: bare fork/exec", bare, 1.2,
          against_ratio=True)
    t.add("HelperShell::runAsync of true", v("BM_RunAwaited"), "ms", "peer: bare fork/exec", bare, 1.2,
          against_ratio=True)
    t.print()


if __name__ == "__main__":
    main(sys.argv[1:])
