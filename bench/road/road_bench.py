#!/usr/bin/env python3
"""The shipped program timed as a user meets it: unpacked from its zip, under Wine, against a
reference service of its own (tests/e2e/vxprogram.py). Figures only, printed next to their targets.

    road_bench.py startup --build DIR ... [--runs N]
    road_bench.py road --build DIR ... --case VOLUMES,PAGES,BYTES,MS ... [--alone FILE]

startup: 2,000 stored tasks with 200,000 image rows, written into Vellix.dat the way the program
writes them while it is stopped; then startup_bench starts Vellix.exe RUNS times and times it to
the first visible main window and to "usable" (see startup_bench: the download view's Start button
shown, which the view does only after it has made the rows of the stored tasks, and then the main
window answering), with the private bytes at that point.

road: for each case the demo comic "kite" gains VOLUMES volumes named "Road N" of PAGES JPEG pages
of BYTES bytes, every page image answered after MS ms (the service's delay rule on the site); a
fresh program from the zip is walked through its windows by road_steps (address, Enter, the
volumes ticked, Download) to the end of its tasks; then Vellix.dat and the files are checked and
curl fetches the same images, five at a time, with the Referer and session cookie the site wants.
FILE holds "CASE ARCH SECONDS" lines of the downloader without windows (run.sh) to compare with.
"""
import argparse
import json
import os
import re
import shutil
import sqlite3
import statistics
import subprocess
import sys
import time
import urllib.request

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import vxprogram  # noqa: E402

TASKS = 2000
IMAGES_PER_TASK = 100
UNFINISHED_TASKS = 20  # paused halfway, as a user leaves some; they make the Start button show
START_BUTTON = 1102    # the download view's Start / Pause button


def cache_value(build, key):
    with open(os.path.join(build, "CMakeCache.txt")) as f:
        for line in f:
            m = re.match(r"%s:[A-Z]+=(.*)$" % re.escape(key), line.strip())
            if m:
                return m.group(1)
    raise SystemExit("%s is not in %s/CMakeCache.txt" % (key, build))


class Arch:
    """One Windows build: its zip, tools, prefix and the port of its own service."""

    def __init__(self, build, offset, bound):
        self.build = os.path.abspath(build)
        self.name = os.path.basename(self.build).replace("win-", "")
        zips = sorted(f for f in os.listdir(self.build) if re.match(r"Vellix-.*\.zip$", f))
        if not zips:
            raise SystemExit("build the package first: ninja -C %s vellix-package" % self.build)
        bin_dir = os.path.join(self.build, "bin")
        self.args = argparse.Namespace(
            zip=os.path.join(self.build, zips[-1]), windowctl=os.path.join(bin_dir, "windowctl.exe"),
            wine_run=os.path.join(ROOT, "tools", "wine-run.sh"),
            prefix=os.path.join(self.build, "wineprefix-bench-road"),
            service=os.path.join(ROOT, "service", "server.py"),
            root=cache_value(self.build, "VELLIX_SERVICE_ROOT"),
            port=int(cache_value(self.build, "VELLIX_E2E_PORT")) + offset, bound=bound)
        self.tool = lambda name: os.path.join(bin_dir, name + ".exe")
        for exe in (self.args.windowctl, self.tool("startup_bench"), self.tool("road_steps")):
            if not os.path.isfile(exe):
                raise SystemExit("build first: ninja -C %s %s" % (self.build, os.path.basename(exe)[:-4]))


def store_tasks(program, count):
    """The stored tasks as the program leaves them: Task2 rows with their Image2 rows (parent is the
    task's rowid, target the file name without extension, ext once saved), most finished with a few
    failed images, the last ones paused halfway."""
    folder = dict(program.query("SELECT key, value FROM Config2"))["DownloadFolder"]
    con = sqlite3.connect(program.database)
    try:
        with con:
            con.execute("DELETE FROM Image2")
            con.execute("DELETE FROM Task2")
            for t in range(TASKS - count + 1, TASKS + 1):
                comic, volume = "Bench Comic %d" % ((t - 1) // 20 + 1), "Volume %d" % ((t - 1) % 20 + 1)
                url = "http://127.0.0.1:9/comic/%d/vol/%d" % ((t - 1) // 20 + 1, (t - 1) % 20 + 1)
                paused = t > TASKS - UNFINISHED_TASKS
                cur = con.execute("INSERT INTO Task2(url, Name, Cookie, Path, Headers, Proxy, Status) "
                                  "VALUES(?, ?, '', ?, '', 0, ?)",
                                  (url, comic + " " + volume, "%s%s_%s\\" % (folder, comic, volume), 3 if paused else 2))
                rowid = cur.lastrowid
                rows = []
                for n in range(1, IMAGES_PER_TASK + 1):
                    if paused:
                        status, ext = (2, ".jpg") if n <= IMAGES_PER_TASK // 2 else (0, None)
                    else:
                        status, ext = (3, None) if n % 50 == 0 else (2, ".jpg")
                    rows.append(("%s/page/%d.jpg" % (url, n), url, "%04d" % n, status, rowid, ext))
                con.executemany("INSERT INTO Image2(url, ref, target, status, parent, ext) VALUES(?, ?, ?, ?, ?, ?)",
                                rows)
    finally:
        con.close()
    return program.query("SELECT (SELECT COUNT(*) FROM Task2), (SELECT COUNT(*) FROM Image2)")[0]


def fields(line):
    return dict(f.split("=", 1) for f in line.split()[1:] if "=" in f)


def startup(arch, runs, work):
    os.makedirs(work)
    service = vxprogram.Service(arch.args.service, work, arch.args.port)
    program = vxprogram.Program(arch.args, work, service)
    try:
        # The first start makes Vellix.dat; the tasks go in once it has ended.
        program.start()
        vxprogram.wait_for("the configuration request",
                           lambda: [r for r in service.log("/v2/config.php") if r["status"] == 200],
                           arch.args.bound, alive=program.alive)
        if program.close() != 0:
            raise SystemExit("the first start did not end cleanly: %s" % program.output())
        exe = program.windows_path(os.path.join(program.folder, "Vellix.exe"))
        results = {}
        # The few unfinished tasks alone first: what the stored history adds is the difference.
        for count in (UNFINISHED_TASKS, TASKS):
            tasks, images = store_tasks(program, count)
            print("%-7s stored tasks=%d images=%d Vellix.dat=%.1f MB" % (
                arch.name, tasks, images, os.path.getsize(program.database) / 1e6), flush=True)
            results[count] = []
            for i in range(runs + 1):
                done = program.run_tool(arch.tool("startup_bench"), vxprogram.MAIN_CLASS, 1000, exe, START_BUTTON,
                                        timeout=240)
                line = next((l for l in done.stdout.splitlines() if l.startswith("startup ")), "")
                if done.returncode != 0 or not line:
                    raise SystemExit("startup_bench failed (%s): %s %s" % (arch.name, done.stdout, done.stderr))
                if i:  # the first start warms Wine's caches and the file cache
                    results[count].append(fields(line))
            left = program.query("SELECT COUNT(*) FROM Task2")[0][0]
            if left != tasks:
                raise SystemExit("the program lost stored tasks: %d of %d" % (left, tasks))
        return results
    finally:
        program.shutdown()
        service.stop()


def print_startup(rows):
    print("start-up with %d stored tasks (%d image rows); usable = the download view's Start button shown "
          "after its rows were made, then the main window answering" % (TASKS, TASKS * IMAGES_PER_TASK))
    print("%-7s %6s %4s %9s %9s %10s %11s %11s" % ("arch", "tasks", "runs", "window s", "usable s", "usable max",
                                                   "private MB", "settled MB"))
    for name, by_count in rows:
        for count, rs in sorted(by_count.items()):
            med = lambda key: statistics.median(float(r[key]) for r in rs)  # noqa: E731
            print("%-7s %6d %4d %9.3f %9.3f %10.3f %11.1f %11.1f" % (
                name, count, len(rs), med("seconds"), med("usable_seconds"),
                max(float(r["usable_seconds"]) for r in rs), med("usable_private_kb") / 1024,
                med("private_kb") / 1024))
            bad = [r["exit"] for r in rs if r["exit"] != "0"]
            if bad:
                print("        ended with exit codes %s" % " ".join(bad))
    print("target: a usable window and its private bytes, reported (median of the runs, private bytes at "
          "the usable point and 1 s later)")


COMIC = "kite"


def case_name(case):
    volumes, pages, size, ms = case
    return "%d x %d KB at %d ms" % (volumes * pages, size // 1024, ms)


def road(arch, case, service, work):
    """One walk of the road; its figures and the checks' findings."""
    volumes, pages, size, ms = case
    service.control("reset")
    for v in range(volumes):
        service.control("add_volume", comic=COMIC, title="Road %d" % (v + 1), pages=",".join(["jpg"] * pages),
                        page_bytes=str(size))
    service.control("fail", path="/img/%s/*" % COMIC, server="site", delay_ms=str(ms))
    rows = volumes + 1  # and the comic's own volume, left unticked
    program = vxprogram.Program(arch.args, work, service)
    try:
        program.start()
        done = program.run_tool(arch.tool("road_steps"), service.site + "/comic/%s.html" % COMIC, "Road",
                                rows, arch.args.bound, timeout=arch.args.bound + 60)
        line = next((l for l in done.stdout.splitlines() if l.startswith("road ")), "")
        if done.returncode != 0 or not line:
            raise SystemExit("road_steps failed (%s): %s %s %s" % (arch.name, done.stdout, done.stderr,
                                                                    program.output()))
        figures = fields(line)
        figures["problems"] = check_road(program, service, volumes * pages, size)
        if program.close() != 0:
            figures["problems"].append("the program did not end cleanly")
        return figures
    finally:
        program.shutdown()


def check_road(program, service, images, size):
    problems = []
    states = dict(program.query("SELECT status, COUNT(*) FROM Image2 GROUP BY status"))
    if states != {2: images}:
        problems.append("image states %s, not %d done" % (states, images))
    files = [os.path.join(d, f) for d, _, fs in os.walk(program.downloads) for f in fs]
    whole = [f for f in files if os.path.getsize(f) == size and f.endswith(".jpg")]
    if len(whole) != images or len(files) != images:
        problems.append("%d files, %d of them whole pages, for %d images" % (len(files), len(whole), images))
    asked = [r for r in service.log("/img/%s/*" % COMIC) if r["status"] is not None]
    if len(asked) != images:
        problems.append("%d image requests for %d images" % (len(asked), images))
    return problems


def curl_road(service, work, case):
    """curl for the same pages, five at a time, as the site allows them: Referer and session cookie."""
    volumes, pages, _, _ = case
    with urllib.request.urlopen(service.site + "/comic/%s.html" % COMIC, timeout=10) as r:
        cookie = [c.split(";")[0] for c in r.headers.get_all("Set-Cookie") if c.startswith("vx_session=")][0]
    urls = []
    for v in range(volumes):
        volume = "vol-%d" % (v + 2)  # the comic's own volume is vol-1
        with urllib.request.urlopen(service.site + "/api/%s/%s.json" % (COMIC, volume), timeout=10) as r:
            urls += [service.site + p["src"] for p in json.load(r)["pages"]]
    out = os.path.join(work, "curl")
    os.makedirs(out, exist_ok=True)
    config = os.path.join(work, "curl.cfg")
    with open(config, "w") as f:
        for i, url in enumerate(urls):
            f.write('url = "%s"\noutput = "%s/%d.jpg"\n' % (url, out, i))
    t0 = time.monotonic()
    subprocess.run(["curl", "-s", "--no-progress-meter", "--fail", "--parallel", "--parallel-max", "5", "-H",
                    "Referer: %s/comic/%s.html" % (service.site, COMIC), "-b", cookie, "-K", config], check=True)
    seconds = time.monotonic() - t0
    got = len([f for f in os.listdir(out) if os.path.getsize(os.path.join(out, f)) == case[2]])
    shutil.rmtree(out)
    if got != len(urls):
        raise SystemExit("curl fetched %d of %d pages" % (got, len(urls)))
    return seconds


def read_alone(path):
    alone = {}
    if path and os.path.exists(path):
        for line in open(path):
            name, arch, seconds = line.rsplit(None, 2)
            alone[name, arch] = float(seconds)
    return alone


def print_road(case, results, curl_seconds, alone):
    volumes, pages, size, ms = case
    images = volumes * pages
    ideal = images * ms / 1000 / 5
    name = case_name(case)
    print("the road through the windows, %d images (%d volumes) of %d KB at %d ms, five slots" % (
        images, volumes, size // 1024, ms))
    print("%-40s %8s %8s %8s %10s   %s" % ("", "seconds", "x ideal", "x curl", "x alone", "target"))
    print("%-40s %8.3f %8.2f" % ("ideal (%d x %d ms / 5)" % (images, ms), ideal, 1))
    print("%-40s %8.3f %8.2f %8.2f" % ("curl, 5 parallel, same site", curl_seconds, curl_seconds / ideal, 1))
    for arch, r in results:
        a = alone.get((name, arch))
        for label, seconds in (("Download click to done", float(r["seconds"])),
                               ("tasks queued to done", float(r["download_seconds"]))):
            target = "within 1.1 x ideal" if ms >= 100 else "within 1.05 x alone"
            print("%-40s %8.3f %8.2f %8.2f %10s   %s" % (
                "%s %s" % (arch, label), seconds, seconds / ideal, seconds / curl_seconds,
                "%.2f" % (seconds / a) if a else "-", target))
        if a:
            print("%-40s %8.3f %8.2f" % ("%s downloader alone (no windows)" % arch, a, a / ideal))
        print("%-40s listed in %s s, %s volumes ticked" % ("%s comic view" % arch, r["listed_seconds"], r["ticked"]))
        for p in r["problems"]:
            print("%-40s PROBLEM: %s" % (arch, p))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("what", choices=["startup", "road"])
    parser.add_argument("--case", action="append", default=[], help="VOLUMES,PAGES,BYTES,MS")
    parser.add_argument("--alone", help="the downloader's figures without windows")
    parser.add_argument("--build", action="append", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--bound", type=float, default=120)
    args = parser.parse_args()
    arches = [Arch(b, 15 + i, args.bound) for i, b in enumerate(args.build)]
    work, remove = vxprogram.fresh_work("bench-road")
    try:
        if args.what == "startup":
            rows = []
            for arch in arches:
                rows.append((arch.name, startup(arch, args.runs, os.path.join(work, arch.name))))
            print_startup(rows)
        for c in args.case:
            case = tuple(int(x) for x in c.split(","))
            results, curl_seconds = [], None
            for arch in arches:
                where = os.path.join(work, "%s-%s" % (arch.name, "-".join(c.split(","))))
                os.makedirs(where)
                service = vxprogram.Service(arch.args.service, where, arch.args.port)
                try:
                    results.append((arch.name, road(arch, case, service, where)))
                    if curl_seconds is None:
                        curl_seconds = curl_road(service, where, case)
                finally:
                    service.stop()
            print_road(case, results, curl_seconds, read_alone(args.alone))
    finally:
        remove()


if __name__ == "__main__":
    main()
