#!/usr/bin/env python3
"""Pelmora at scale: times Pelmora, the script a modder would write and the floor program (the
prescribed reads and writes alone) on generated folders of .veh files, alternating the three,
each run on a fresh copy of the new folder. Prints the medians, Pelmora's ratios to the
script and to the floor, its growth from the smallest to the largest folder, and (where strace
is installed) the system calls per rewritten file of Pelmora and of the floor. With --baseline,
an earlier Pelmora (1.3.0, which waited for the disk nowhere) runs in the same rounds, and
Pelmora's ratio to it is printed: what waiting for the disk costs. With --large N, also one run
of Pelmora on N files: its time and its peak memory.

    pelmora_bench.py --pelmora PATH --floor PATH [--work FOLDER] [--sizes 1000,10000] [--runs 5]
                     [--baseline PATH] [--large 100000]
    pelmora_bench.py --pelmora PATH --syscalls 1000    (system calls per file, needs strace)
"""
import argparse
import os
import resource
import shutil
import statistics
import subprocess
import sys
import time

# The straightforward rewrite a modder would write: read the reference file's key lines,
# filter the new file's lines, write the file back.
SCRIPT = r'''import os, sys

reference, folder = sys.argv[1], sys.argv[2]
for name in os.listdir(folder):
    if not name.lower().endswith(".veh"):
        continue
    reference_path = os.path.join(reference, name)
    if not os.path.isfile(reference_path):
        continue
    keys = []
    with open(reference_path, newline="") as f:
        for line in f:
            if "DescFile=" in line:
                keys.append(line)
            if "DescClass=" in line:
                keys.append(line)
                break
    path = os.path.join(folder, name)
    with open(path, newline="") as f:
        rest = [l for l in f if "DescFile=" not in l and "DescClass=" not in l]
    with open(path, "w", newline="") as f:
        f.writelines(keys + rest)
    print(path)
'''

GOAL_TO_FLOOR = 1.3
GOAL_GROWTH = 11.0
GOAL_CALLS = 22.0
GOAL_MEMORY_MB = 64.0
# Waiting until each car's text is on the disk may cost at most this much over 1.3.0's time.
GOAL_TO_BASELINE = 1.3
BASELINE = "1.3.0"


def vehicle_text(number, reference):
    """About 2 KiB of CR LF lines; the key lines near the top of a reference file and in the
    middle of a new one."""
    lines = ["// car %05d, %s" % (number, "reference" if reference else "new")]
    body = ["Param%02d=%d.%03d,%d,%d" % (i, number % 97, i * 7, i, number % 13) for i in range(96)]
    keys = ["DescFile=%s\\car%05d.txt" % ("ref" if reference else "old", number),
            "DescClass=%s" % ("Touring" if reference else "Unknown")]
    if reference:
        lines += keys + body
    else:
        lines += body[:48] + keys + body[48:]
    return "\r\n".join(lines) + "\r\n"


def expected_text(number):
    reference = vehicle_text(number, True).split("\r\n")[:-1]
    current = vehicle_text(number, False).split("\r\n")[:-1]
    keys = []
    for line in reference:
        if "DescFile=" in line:
            keys.append(line)
        if "DescClass=" in line:
            keys.append(line)
            break
    rest = [l for l in current if "DescFile=" not in l and "DescClass=" not in l]
    return "\r\n".join(keys + rest) + "\r\n"


UPPER_REFERENCES = False


def generate(work, count):
    """The master folders for count files, made once: work/N/ref and work/N/new; with
    --upper-references the reference files are named in upper case (CAR00001.VEH), as a copy
    from Windows may name them, which Pelmora finds without regard to case."""
    master = os.path.join(work, "master-%d%s" % (count, "-upper" if UPPER_REFERENCES else ""))
    done = os.path.join(master, "complete")
    if os.path.exists(done):
        return master
    shutil.rmtree(master, ignore_errors=True)
    for kind in ("ref", "new"):
        os.makedirs(os.path.join(master, kind))
    for number in range(count):
        name = "car%05d.veh" % number
        for kind in ("ref", "new"):
            stored = name.upper() if kind == "ref" and UPPER_REFERENCES else name
            with open(os.path.join(master, kind, stored), "w", newline="") as f:
                f.write(vehicle_text(number, kind == "ref"))
    open(done, "w").close()
    return master


def fresh_copy(master, run_folder):
    """A fresh copy of the new folder, on the disk before the run starts, as a user's cars are:
    a copy still in memory is rewritten before the system has given its files their blocks,
    which makes every rewrite cheaper than any user's, and hands the writing out of the copy to
    the first program that waits for the disk."""
    shutil.rmtree(run_folder, ignore_errors=True)
    shutil.copytree(os.path.join(master, "new"), run_folder)
    os.sync()


def command_of(program, tools, reference, folder):
    """The command line and standard input of one run of program."""
    if program in ("Pelmora", BASELINE):
        return [tools[program]], (reference + "\n" + folder + "\n").encode()
    if program == "script":
        return [sys.executable, tools["script"], reference, folder], None
    return [tools["floor"], reference, folder], None


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def timed_run(program, tools, reference, folder):
    """Wall time and processor time (user and system) of one run."""
    command, given = command_of(program, tools, reference, folder)
    cpu = children_cpu()
    start = time.perf_counter()
    done = subprocess.run(command, input=given, stdout=subprocess.DEVNULL,
                          stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if done.returncode != 0:
        sys.exit("%s failed (%d): %s" % (program, done.returncode, done.stderr.decode()))
    return elapsed, children_cpu() - cpu


def check_result(program, folder, count):
    """Every file rewritten as expected and no output file left behind."""
    names = os.listdir(folder)
    if len(names) != count:
        sys.exit("%s left %d files in %s, expected %d" % (program, len(names), folder, count))
    for number in range(0, count, max(1, count // 50)):
        with open(os.path.join(folder, "car%05d.veh" % number), newline="") as f:
            if f.read() != expected_text(number):
                sys.exit("%s wrote a wrong car%05d.veh in %s" % (program, number, folder))


def measure(tools, work, count, runs):
    master = generate(work, count)
    reference = os.path.abspath(os.path.join(master, "ref"))
    folder = os.path.abspath(os.path.join(work, "run-%d" % count))
    programs = ["Pelmora", "script", "floor"] + ([BASELINE] if BASELINE in tools else [])
    times = {p: [] for p in programs}
    cpu = {p: [] for p in programs}
    for run in range(runs):
        # A different order each round, so that no program always runs first.
        order = programs[run % len(programs):] + programs[:run % len(programs)]
        for program in order:
            fresh_copy(master, folder)
            wall, used = timed_run(program, tools, reference, folder)
            times[program].append(wall)
            cpu[program].append(used)
            # The script and the floor look references up by name as written: with references
            # named in upper case they change nothing, and only Pelmora's results count.
            if run == 0 and (not UPPER_REFERENCES or program in ("Pelmora", BASELINE)):
                check_result(program, folder, count)
        print("  %6d files, round %d of %d: %s" % (count, run + 1, runs, ", ".join(
            "%s %.3f s" % (p, times[p][-1]) for p in programs)), flush=True)
    shutil.rmtree(folder, ignore_errors=True)
    return ({p: statistics.median(times[p]) for p in programs},
            {p: statistics.median(cpu[p]) for p in programs})


def report(medians, sizes, what):
    baseline = BASELINE in medians[sizes[0]]
    print("\nMedian %s:\n" % what)
    print("| files | Pelmora | script | floor | Pelmora / script | Pelmora / floor |" +
          (" %s | Pelmora / %s |" % (BASELINE, BASELINE) if baseline else ""))
    print("|---|---|---|---|---|---|" + ("---|---|" if baseline else ""))
    met = True
    to_baseline_met = True
    for count in sizes:
        m = medians[count]
        to_floor = m["Pelmora"] / m["floor"]
        met = met and to_floor <= GOAL_TO_FLOOR
        row = "| {:,} | {:.3f} s | {:.3f} s | {:.3f} s | {:.2f} | {:.2f} |".format(
            count, m["Pelmora"], m["script"], m["floor"], m["Pelmora"] / m["script"], to_floor)
        if baseline:
            to_baseline = m["Pelmora"] / m[BASELINE]
            to_baseline_met = to_baseline_met and to_baseline <= GOAL_TO_BASELINE
            row += " {:.3f} s | {:.2f} |".format(m[BASELINE], to_baseline)
        print(row)
    if len(sizes) > 1:
        first, last = sizes[0], sizes[-1]
        growth = medians[last]["Pelmora"] / medians[first]["Pelmora"]
        allowed = GOAL_GROWTH * last / first / 10
        met = met and growth <= allowed
        print("\nPelmora grows %.1f times from %d to %d files (floor %.1f, script %.1f)." % (
            growth, first, last, medians[last]["floor"] / medians[first]["floor"],
            medians[last]["script"] / medians[first]["script"]))
    print("Goal on %s (at most %.1f times the floor, at most %.0f times the time for ten times the "
          "files): %s" % (what, GOAL_TO_FLOOR, GOAL_GROWTH, "met" if met else "NOT met"))
    if baseline and what == "wall time":
        print("Goal on %s (the waits for the disk: at most %.1f times %s's time): %s" % (
            what, GOAL_TO_BASELINE, BASELINE, "met" if to_baseline_met else "NOT met"))


def traced_calls(program, tools, work, count, show=False):
    """System calls per rewritten file of one run of program, from strace -c -f."""
    master = generate(work, count)
    reference = os.path.abspath(os.path.join(master, "ref"))
    folder = os.path.abspath(os.path.join(work, "run-%d" % count))
    fresh_copy(master, folder)
    summary = os.path.join(work, "strace-%s-%d.txt" % (program, count))
    command, given = command_of(program, tools, reference, folder)
    subprocess.run(["strace", "-c", "-f", "-o", summary] + command, input=given,
                   stdout=subprocess.DEVNULL, check=True)
    shutil.rmtree(folder, ignore_errors=True)
    with open(summary) as f:
        text = f.read()
    if show:
        print(text)
    for line in text.splitlines():
        fields = line.split()
        if fields and fields[-1] == "total":
            return int(fields[-3] if len(fields) >= 4 else fields[2]) / count
    return float("nan")


def count_syscalls(pelmora, work, count):
    """Prints the system calls per rewritten file of one Pelmora run."""
    if not shutil.which("strace"):
        sys.exit("the system-call count needs strace: apt-get install strace")
    per_file = traced_calls("Pelmora", {"Pelmora": pelmora}, work, count, show=True)
    print("%.1f system calls per rewritten file" % per_file)


def report_syscalls(tools, work, count):
    """Pelmora's and the floor's system calls per rewritten file, beside the ratios."""
    if not shutil.which("strace"):
        print("\nSystem calls per file: strace is not installed (apt-get install strace).")
        return
    pelmora = traced_calls("Pelmora", tools, work, count)
    floor = traced_calls("floor", tools, work, count)
    print("\nSystem calls per rewritten file (%d files, strace -c -f): Pelmora %.1f, floor %.1f. "
          "Goal (at most %.0f): %s" % (count, pelmora, floor, GOAL_CALLS,
                                       "met" if pelmora <= GOAL_CALLS else "NOT met"))


def report_large(tools, work, count):
    """One Pelmora run on count files: its wall time and its peak memory, as GNU time gives it
    (the rusage of a child forked from this script would count the script's own pages)."""
    master = generate(work, count)
    reference = os.path.abspath(os.path.join(master, "ref"))
    folder = os.path.abspath(os.path.join(work, "run-%d" % count))
    fresh_copy(master, folder)
    command, given = command_of("Pelmora", tools, reference, folder)
    measured = os.path.join(work, "peak-memory.txt")
    timer = ["/usr/bin/time", "-f", "%M", "-o", measured] if os.access("/usr/bin/time", os.X_OK) \
        else []
    start = time.perf_counter()
    subprocess.run(timer + command, input=given, stdout=subprocess.DEVNULL, check=True)
    elapsed = time.perf_counter() - start
    check_result("Pelmora", folder, count)
    shutil.rmtree(folder, ignore_errors=True)
    if not timer:
        print("\nPelmora on {:,} files: {:.2f} s (peak memory: /usr/bin/time is not installed)"
              .format(count, elapsed))
        return
    with open(measured) as f:
        peak = int(f.read().split()[-1]) / 1024.0
    print("\nPelmora on {:,} files: {:.2f} s, peak memory {:.1f} MB. Goal (within {:.0f} MB): {}"
          .format(count, elapsed, peak, GOAL_MEMORY_MB,
                  "met" if peak <= GOAL_MEMORY_MB else "NOT met"))


def main():
    global BASELINE, UPPER_REFERENCES
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--pelmora", required=True)
    parser.add_argument("--floor")
    parser.add_argument("--work", default="build/bench")
    parser.add_argument("--sizes", default="1000,10000")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--syscalls", type=int, metavar="FILES")
    parser.add_argument("--large", type=int, metavar="FILES")
    parser.add_argument("--label", default="")
    parser.add_argument("--baseline", metavar="PATH", help="an earlier Pelmora to compare with")
    parser.add_argument("--baseline-name", default=BASELINE, help="its name in the tables")
    parser.add_argument("--upper-references", action="store_true",
                        help="reference files named in upper case (the script and the floor "
                             "then find none)")
    args = parser.parse_args()
    BASELINE = args.baseline_name
    UPPER_REFERENCES = args.upper_references
    os.makedirs(args.work, exist_ok=True)
    if not os.access(args.pelmora, os.X_OK):
        sys.exit("no Pelmora program at %s: build it first" % args.pelmora)
    if args.syscalls:
        count_syscalls(args.pelmora, args.work, args.syscalls)
        return
    if not args.floor or not os.access(args.floor, os.X_OK):
        sys.exit("no floor program at %s: build it first" % args.floor)
    script = os.path.join(args.work, "modder_script.py")
    with open(script, "w") as f:
        f.write(SCRIPT)
    tools = {"Pelmora": os.path.abspath(args.pelmora), "script": script,
             "floor": os.path.abspath(args.floor)}
    if args.baseline:
        if not os.access(args.baseline, os.X_OK):
            sys.exit("no earlier Pelmora at %s: build it first" % args.baseline)
        tools[BASELINE] = os.path.abspath(args.baseline)
    sizes = [int(s) for s in args.sizes.split(",")]
    print("Pelmora, the script, the floor%s%s, %d rounds each, %d cores, load %.2f, in %s" % (
        " and " + BASELINE if args.baseline else "", " (%s)" % args.label if args.label else "",
        args.runs, os.cpu_count(), os.getloadavg()[0], os.path.abspath(args.work)))
    results = {count: measure(tools, args.work, count, args.runs) for count in sizes}
    report({count: results[count][0] for count in sizes}, sizes, "wall time")
    report({count: results[count][1] for count in sizes}, sizes,
           "processor time (user and system), less disturbed by other load")
    print("\nLoad (one minute) at the end: %.2f" % os.getloadavg()[0])
    report_syscalls(tools, args.work, sizes[0])
    if args.large:
        report_large(tools, args.work, args.large)


if __name__ == "__main__":
    main()
