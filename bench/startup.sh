#!/bin/sh
# Start-up CPU time: `kel` on an empty script (the boot image decoded and its modules run)
# against `python3 -c pass`, run in turn (and an older build, BEFORE=path, in the same turns).
# Each run's CPU time is perf stat's task-clock when perf is installed (./setup.sh --bench),
# else the child's user + system time; medians of N turns (default 200).
# Usage: [BEFORE=old-kel] [PYTHON=python3] bench/startup.sh [path/to/kel] [turns]
here=$(dirname "$0")
kel=${1:-$here/../build/kel}
exec python3 - "$kel" "$here/empty.kel" "${2:-200}" "${BEFORE:-}" "${PYTHON:-/usr/bin/python3}" <<'PY'
import os, shutil, statistics, subprocess, sys
kel, script, turns, before, python = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4], sys.argv[5]
perf = shutil.which("perf")
def cpu_ms(cmd):
    if perf:
        r = subprocess.run([perf, "stat", "-x,", "-e", "task-clock"] + cmd,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        for line in r.stderr.splitlines():
            if "task-clock" in line:
                return float(line.split(",")[0])
    pid = os.posix_spawn(cmd[0], cmd, os.environ,
                         file_actions=[(os.POSIX_SPAWN_OPEN, 1, os.devnull, os.O_WRONLY, 0)])
    _, _, ru = os.wait4(pid, 0)
    return (ru.ru_utime + ru.ru_stime) * 1000
rows = [("kel", [kel, script])]
if before:
    rows.append(("before", [before, script]))
rows.append(("python3", [python, "-c", "pass"]))
times = {name: [] for name, _ in rows}
for _ in range(turns):
    for name, cmd in rows:
        times[name].append(cpu_ms(cmd))
py = statistics.median(times["python3"])
how = "task-clock" if perf else "user + system"
print("CPU time (%s), medians of %d turns" % (how, turns))
for name, _ in rows:
    m = statistics.median(times[name])
    print("%-8s %7.2f ms  / python3 %.3f" % (name, m, m / py))
PY
