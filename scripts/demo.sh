#!/usr/bin/env bash
# Builds the library and the selvane command line, writes the sample data,
# and runs a handful of lookups on it, printing each command and its answer.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$root/build-demo"
out="$build/samples"

"$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSELVANE_TESTS=OFF -DSELVANE_BENCH=OFF >/dev/null
cmake --build "$build" --target selvane make_samples -j2 >/dev/null
# The Python module, where pybind11 and the Python headers are present.
python_ok=0
cmake --build "$build" --target selvane_python -j2 >/dev/null 2>&1 &&
  python_ok=1
mkdir -p "$out"
"$build/examples/make_samples" "$out"

defs="$root/examples/sample-defs.xml"
run() {
  # Printed with paths relative to the repository, answered for real.
  local shown
  shown="selvane$(printf ' %q' "$@")"
  shown="${shown//$root\//}"
  echo "\$ $shown"
  "$build/tools/selvane" "$@" || echo "(exit status $?)"
  echo
}

cd "$root"
run wdb --defs "$defs" --file "$out/relics.wdb" --key 0=5003 --result 2
run wdb --defs "$defs" --file "$out/relics.wdb" --key "2=Echo Shell #3" --result 3
run wdb --defs "$defs" --file "$out/relics.wdb" --key 3=41 --result 5 --json
run wdb --defs "$defs" --file "$out/relics.wdb" --key 0=5002 --result 7 --json
run dbc --defs "$defs" --archive "$out/sample.mpq" --table 'Tables\Regions.dbc' --key 0=103 --result 3
run dbc --defs "$defs" --archive "$out/sample.mpq" --table 'Tables\Regions.dbc' --key 3=-56 --result 2 --json
run dbc --defs "$defs" --archive "$out/sample.mpq" --table Colors.dbc --key "1=Teal 3" --result 2
run dbc --defs "$defs" --archive "$out/sample.mpq" --table Colors.dbc --key 2=0x8E4585 --result 3 --json
run dbc --defs "$defs" --archive "$out/sample.mpq" --table Colors.dbc --key 1=Mauve --result 0

# Tables: field names, a mistyped key, every match, a list of keys, dumps.
run wdb --defs "$defs" --file "$out/relics.wdb" --key EntryID=5003 --result Name
run wdb --defs "$defs" --file "$out/relics.wdb" --key Level=forty --result Name
run dbc --defs "$defs" --archive "$out/sample.mpq" --table 'Tables\Regions.dbc' --key Tier=2 --result ID --all
printf '5001\n5003\n9999\n' >"$out/keys.txt"
run wdb --defs "$defs" --file "$out/relics.wdb" --key EntryID --keys-from "$out/keys.txt" --result Name --json
run dbc --defs "$defs" --archive "$out/sample.mpq" --table Colors.dbc --dump
run wdb --defs "$defs" --file "$out/relics.wdb" --dump --format jsonl --fields EntryID,Name,Weight

if [[ $python_ok -eq 1 ]]; then
  line='import selvane; t = selvane.Definitions("examples/sample-defs.xml").open_wdb("build-demo/samples/relics.wdb"); print(len(t), t.get("Name", "Echo Shell #3", "Level"), t.find_all("Rarity", -3)[:4])'
  echo "\$ python3 -c '$line'"
  sh "$build/python/run-python" -c "$line" || echo "(exit status $?)"
else
  echo "(Python module not built: scripts/bootstrap.sh installs pybind11-dev and python3-dev)"
fi
