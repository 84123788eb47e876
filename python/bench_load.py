"""Times loading a WDB file of RECORDS records into a list of dicts: through
the module, and through the command line's --dump --format jsonl read with
json.loads per line. Both side by side in one run, medians of REPEAT.

  sh build/python/run-python python/bench_load.py build [RECORDS] [REPEAT]
"""

import json
import pathlib
import statistics
import subprocess
import sys
import tempfile
import time

import selvane


def timed(action):
    start = time.perf_counter()
    result = action()
    return time.perf_counter() - start, result


def main():
    build = pathlib.Path(sys.argv[1])
    records = int(sys.argv[2]) if len(sys.argv) > 2 else 1_000_000
    repeat = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        subprocess.run([build / "python" / "selvane_pytables", folder, "7",
                        str(records)], check=True)
        defs_path, wdb = folder / "defs.xml", folder / "items.wdb"
        command = [build / "tools" / "selvane", "wdb", "--defs", defs_path,
                   "--file", wdb, "--dump", "--format", "jsonl"]

        def module():
            return list(selvane.Definitions(defs_path).open_wdb(wdb))

        def command_line():
            out = subprocess.run(command, check=True,
                                 stdout=subprocess.PIPE).stdout
            return [json.loads(line) for line in out.splitlines()]

        times = {"module": [], "jsonl": []}
        for _ in range(repeat):
            seconds, a = timed(module)
            times["module"].append(seconds)
            del a
            seconds, b = timed(command_line)
            times["jsonl"].append(seconds)
            del b
        size = wdb.stat().st_size
    module_s = statistics.median(times["module"])
    jsonl_s = statistics.median(times["jsonl"])
    print(f"{records} records, {size / 2**20:.1f} MiB, median of {repeat}")
    print(f"module list(table)          {module_s:8.3f} s")
    print(f"--dump jsonl + json.loads   {jsonl_s:8.3f} s")
    print(f"ratio module / jsonl        {module_s / jsonl_s:8.2f}")


if __name__ == "__main__":
    main()
