#!/usr/bin/env python3
"""edb2eml.exe under wine against the native edb2eml: the same stores, the same commands, the
same bytes on standard output and the same exit status; `export` to .eml files, to mbox and to PST gives
the same tree (every file and folder name, every file's bytes).

usage: differential_check.py NATIVE_EDB2EML WINDOWS_EDB2EML_EXE MAKE_DEMO_STORE BENCH_MAKE_STORE
                             WORK_DIR [--size 16MiB]

The stores are built here: the demo store, the demo store with hostile names, and generated
stores of both shapes. Both programs run in WORK_DIR on relative store names, with TZ=UTC (wine
takes the host's zone for the Windows one), and write to files, never pipes (a wineserver that
inherits a pipe keeps it open). Exits 1 on the first difference, naming it.
"""
import json
import os
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
COMMANDS = [
    ("summary", []),
    ("dump", ["dump"]),
    ("tree", ["tree", "--json"]),
    ("rows", ["rows", "--json"]),
    ("find", ["find", "--json"]),
]


def run_to_files(argv, out_path, err_path, cwd, env):
    with open(out_path, "wb") as out, open(err_path, "wb") as err:
        return subprocess.run(argv, stdin=subprocess.DEVNULL, stdout=out, stderr=err, cwd=cwd,
                              env=env, timeout=1800).returncode


def tree(root):
    """Every file and folder below `root` by its path relative to it, '/' between levels:
    None for a folder, the bytes for a file."""
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        rel = os.path.relpath(dirpath, root).replace(os.sep, "/")
        for d in dirnames:
            found[d if rel == "." else f"{rel}/{d}"] = None
        for f in filenames:
            with open(os.path.join(dirpath, f), "rb") as fh:
                found[f if rel == "." else f"{rel}/{f}"] = fh.read()
    if "manifest.json" in found:
        # Its runs name the store's path and the times; what it records of each message (file,
        # hash, source, state) must be the same on both systems.
        messages = json.loads(found["manifest.json"])["messages"]
        found["manifest.json"] = json.dumps(messages, sort_keys=True).encode()
    if "export-log.txt" in found:
        # Its blocks start with the run's time and the store's path.
        found["export-log.txt"] = b"\n".join(
            line for line in found["export-log.txt"].split(b"\n")
            if not line.startswith((b"=== Run started ", b"Store: ")))
    return found


def compare_trees(label, linux_dir, windows_dir, rerun=False):
    """The differences between two export trees, at most a few named. With `rerun` the Windows
    tree was written by more than one run: its log has a block a run and its manifest names
    the run that wrote each message, so the log goes and the run numbers with it."""
    a, b = tree(linux_dir), tree(windows_dir)
    if rerun:
        for t in (a, b):
            t.pop("export-log.txt", None)
            if "manifest.json" in t:
                messages = json.loads(t["manifest.json"])
                for m in messages:
                    m.pop("run", None)
                t["manifest.json"] = json.dumps(messages, sort_keys=True).encode()
    problems = []
    for name in sorted(set(a) | set(b)):
        if name not in b:
            problems.append(f"{label}: {name!r} only in the native export")
        elif name not in a:
            problems.append(f"{label}: {name!r} only in the Windows export")
        elif a[name] != b[name]:
            problems.append(f"{label}: {name!r} differs "
                            f"({len(a[name] or b'')} bytes native, {len(b[name] or b'')} Windows)")
        if len(problems) >= 5:
            problems.append(f"{label}: ... (see {linux_dir} and {windows_dir})")
            break
    if not a:
        problems.append(f"{label}: the native export wrote nothing")
    return problems, sum(1 for v in a.values() if v is not None)


def main():
    args = sys.argv[1:]
    size = "16MiB"
    if "--size" in args:
        i = args.index("--size")
        size = args[i + 1]
        del args[i:i + 2]
    if len(args) != 5:
        print(__doc__, file=sys.stderr)
        return 2
    native, exe, make_demo, bench_make, work = (os.path.abspath(a) for a in args)
    os.makedirs(work, exist_ok=True)
    prefix = os.path.join(os.path.dirname(exe), "..", "wineprefix")
    prefix = os.path.abspath(os.environ.get("EDB_WINEPREFIX", prefix))
    env = dict(os.environ, TZ="UTC", WINEDEBUG="-all")

    stores = {
        "demo.edb": [make_demo, "demo.edb"],
        "hostile.edb": [make_demo, "hostile.edb", "--hostile-names"],
        "bench-plain.edb": [bench_make, "--size", size, "--messages", "3000", "--shape", "plain",
                            "bench-plain.edb"],
        "bench-chains.edb": [bench_make, "--size", size, "--messages", "3000", "--shape",
                             "chains", "bench-chains.edb"],
    }
    for name, argv in stores.items():
        if not os.path.exists(os.path.join(work, name)):
            subprocess.run(argv, cwd=work, check=True, stdout=subprocess.DEVNULL, env=env)

    # A name outside every ANSI code page: it must reach the store's open intact.
    unicode_name = "Po\u0161tov\u00e1 \u4fe1\u7bb1 \u2709.edb"
    if not os.path.exists(os.path.join(work, unicode_name)):
        os.link(os.path.join(work, "demo.edb"), os.path.join(work, unicode_name))
    # One wineserver for every run, kept until the end: a server closing down just as the next
    # run starts is a race of wine's, not a difference of the program's.
    wine_env = dict(env, WINEPREFIX=prefix)
    subprocess.run([os.path.join(HERE, "wine_run.sh"), prefix, "cmd", "/c", "exit"], env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.Popen(["wineserver", "-p"], env=wine_env, stdin=subprocess.DEVNULL,
                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).wait()
    failures = []
    timings = []
    for store in list(stores) + [unicode_name]:
        for label, extra in COMMANDS:
            base = os.path.join(work, f"{store if store.isascii() else 'unicode'}.{label}")
            t0 = time.monotonic()
            native_rc = run_to_files([native] + extra + [store], base + ".linux.out",
                                     base + ".linux.err", work, env)
            t1 = time.monotonic()
            windows_rc = run_to_files([os.path.join(HERE, "wine_run.sh"), prefix, exe] + extra +
                                      [store], base + ".windows.out", base + ".windows.err",
                                      work, env)
            t2 = time.monotonic()
            timings.append((store, label, t1 - t0, t2 - t1))
            with open(base + ".linux.out", "rb") as a, open(base + ".windows.out", "rb") as b:
                linux_out, windows_out = a.read(), b.read()
            if native_rc != windows_rc:
                failures.append(f"{store} {label}: exit status {native_rc} native, "
                                f"{windows_rc} Windows")
            if linux_out != windows_out:
                at = next((i for i, (x, y) in enumerate(zip(linux_out, windows_out)) if x != y),
                          min(len(linux_out), len(windows_out)))
                failures.append(f"{store} {label}: output differs at byte {at} "
                                f"({len(linux_out)} bytes native, {len(windows_out)} Windows); "
                                f"see {base}.*.out")
            elif not linux_out:
                failures.append(f"{store} {label}: no output at all")
    # Refusals: the same status and the same words on stderr (the reasons are worded alike).
    os.makedirs(os.path.join(work, "folder.edb"), exist_ok=True)
    for label, store in (("missing", "no-such-store.edb"), ("directory", "folder.edb")):
        base = os.path.join(work, label)
        native_rc = run_to_files([native, store], base + ".linux.out", base + ".linux.err", work,
                                 env)
        windows_rc = run_to_files([os.path.join(HERE, "wine_run.sh"), prefix, exe, store],
                                  base + ".windows.out", base + ".windows.err", work, env)
        timings.append((store, label, 0.0, 0.0))
        with open(base + ".linux.err", "rb") as a, open(base + ".windows.err", "rb") as b:
            linux_err, windows_err = a.read(), b.read()
        if native_rc != windows_rc or native_rc == 0 or linux_err != windows_err:
            failures.append(f"{label} store: status {native_rc} native, {windows_rc} Windows; "
                            f"stderr {linux_err!r} native, {windows_err!r} Windows")
    # `show`: a few whole messages as .eml on standard output (binary: no CR LF added).
    with open(os.path.join(work, "hostile.edb.find.linux.out"), "rb") as fh:
        found = json.loads(fh.read() or b"[]")
    for m in found[::max(1, len(found) // 6)]:
        base = os.path.join(work, f"show-{m['message']}")
        rcs = [run_to_files(argv + ["show", "hostile.edb", m["message"]], f"{base}.{side}.out",
                            f"{base}.{side}.err", work, env)
               for side, argv in (("linux", [native]),
                                  ("windows", [os.path.join(HERE, "wine_run.sh"), prefix, exe]))]
        with open(base + ".linux.out", "rb") as a, open(base + ".windows.out", "rb") as b:
            linux_eml = a.read()
            same = bool(linux_eml) and linux_eml == b.read()
        if rcs[0] != rcs[1] or rcs[0] != 0 or not same:
            failures.append(f"show {m['message']}: status {rcs}, same bytes {same}")
        timings.append(("hostile.edb", f"show {m['message']}", 0.0, 0.0))

    # Convert: the same tree from both, in every file format. Maildir is refused on Windows.
    exported = 0
    for store in ("demo.edb", "hostile.edb", "bench-plain.edb", "bench-chains.edb"):
        for fmt in ("eml", "mbox", "pst"):
            base = os.path.join(work, f"{store}.export-{fmt}")
            outs = {}
            statuses = {}
            for side, argv in (("linux", [native]),
                               ("windows", [os.path.join(HERE, "wine_run.sh"), prefix, exe])):
                out = f"{os.path.basename(base)}.{side}"
                shutil.rmtree(os.path.join(work, out), ignore_errors=True)
                t0 = time.monotonic()
                statuses[side] = run_to_files(
                    argv + ["export", store, "-o", out, "--format", fmt],
                    f"{base}.{side}.out", f"{base}.{side}.err", work, env)
                outs[side] = (os.path.join(work, out), time.monotonic() - t0)
            timings.append((store, f"export-{fmt}", outs["linux"][1], outs["windows"][1]))
            if statuses["linux"] != statuses["windows"]:
                failures.append(f"{store} export {fmt}: exit status {statuses['linux']} native, "
                                f"{statuses['windows']} Windows; see {base}.*.err")
            problems, files = compare_trees(f"{store} export {fmt}", outs["linux"][0],
                                            outs["windows"][0])
            failures.extend(problems)
            exported += files
            if store == "demo.edb" and fmt != "pst":  # a PST is written anew on a rerun
                # Run again into the same folder: every message is found there (an mbox is
                # read back and kept), nothing is written twice, the tree stays the same.
                rc = run_to_files([os.path.join(HERE, "wine_run.sh"), prefix, exe, "export", store,
                                   "-o", os.path.basename(outs["windows"][0]), "--format", fmt],
                                  f"{base}.rerun.out", f"{base}.rerun.err", work, env)
                with open(f"{base}.rerun.out", "rb") as fh:
                    rerun = fh.read()
                if rc != 0 or b"Messages saved: 0 " not in rerun:
                    failures.append(f"{store} export {fmt} again on Windows: status {rc}, "
                                    f"see {base}.rerun.out")
                failures.extend(compare_trees(f"{store} export {fmt} run twice on Windows",
                                              outs["linux"][0], outs["windows"][0],
                                              rerun=True)[0])
    # Ctrl+C (wine turns SIGINT into the console's Ctrl+C event): the export stops after the
    # current message with no temporary file left, and running it again completes the tree.
    out = "bench-chains.edb.interrupted.windows"
    shutil.rmtree(os.path.join(work, out), ignore_errors=True)
    base = os.path.join(work, "interrupt")
    with open(base + ".out", "wb") as o, open(base + ".err", "wb") as e:
        proc = subprocess.Popen(["wine", exe, "export", "bench-chains.edb", "-o", out], cwd=work,
                                env=wine_env, stdin=subprocess.DEVNULL, stdout=o, stderr=e)
        # Sent once messages are being written (before, it would stop the scan instead).
        deadline = time.monotonic() + 300
        while proc.poll() is None and time.monotonic() < deadline and not any(
                f.endswith(".eml") for _, _, files in os.walk(os.path.join(work, out))
                for f in files):
            time.sleep(0.05)
        if proc.poll() is None:
            proc.send_signal(signal.SIGINT)
        status = proc.wait(timeout=600)
    with open(base + ".out", "rb") as fh:
        said = fh.read()
    leftovers = [f for _, _, files in os.walk(os.path.join(work, out)) for f in files
                 if f.startswith(".edb2eml-")]
    if status == 130 and b"Interrupted in " in said and not leftovers:
        rc = run_to_files([os.path.join(HERE, "wine_run.sh"), prefix, exe, "export",
                           "bench-chains.edb", "-o", out], base + ".rerun.out",
                          base + ".rerun.err", work, env)
        if rc != 0:
            failures.append(f"export after Ctrl+C on Windows: status {rc}, see {base}.rerun.*")
        failures.extend(compare_trees("bench-chains.edb export interrupted and run again",
                                      os.path.join(work, "bench-chains.edb.export-eml.linux"),
                                      os.path.join(work, out), rerun=True)[0])
    elif status != 0:  # 0: done before the interrupt arrived (a fast machine), nothing to check
        failures.append(f"Ctrl+C on Windows: status {status}, temporary files {leftovers}, "
                        f"see {base}.out")
    timings.append(("bench-chains.edb", f"Ctrl+C ({status})", 0.0, 0.0))

    base = os.path.join(work, "maildir")
    status = run_to_files([os.path.join(HERE, "wine_run.sh"), prefix, exe, "export", "demo.edb",
                           "-o", "maildir.windows", "--format", "maildir"],
                          base + ".windows.out", base + ".windows.err", work, env)
    with open(base + ".windows.err", "rb") as fh:
        refusal = fh.read()
    if status != 1 or b"Maildir is not available on Windows" not in refusal or \
            os.path.exists(os.path.join(work, "maildir.windows")):
        failures.append(f"maildir on Windows: status {status}, stderr {refusal!r}")

    subprocess.run(["wineserver", "-k"], env=wine_env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for store, label, n, w in timings:
        print(f"{store:18} {label:8} native {n:6.2f}s  wine {w:6.2f}s")
    if failures:
        print("\n".join(failures), file=sys.stderr)
        return 1
    print(f"differential check: {len(timings)} runs, outputs identical "
          f"({exported} exported files compared)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
