"""The selvane module against the selvane command line's dump of the same
seeded random tables, plus its error cases, threads and an install."""

import json
import os
import pathlib
import random
import struct
import subprocess
import sys
import threading

import pytest

import selvane

CLI = os.environ["SELVANE_CLI"]
PYTABLES = os.environ["SELVANE_PYTABLES"]
SEEDS = [1, 2, 3]

# (command-line form, table in the archives, archives) per table of a seed.
TABLES = [
    ("wdb", "items.wdb", None),
    ("wdb", "damaged.wdb", None),
    ("wdb", "cut.wdb", None),
    ("dbc", "Tables\\Spells.dbc", ["base.mpq"]),
    ("dbc", "Tables\\Spells.dbc", ["patch.mpq", "base.mpq"]),
    ("dbc", "Tables\\Auras.dbc", ["patch.mpq", "base.mpq"]),
]


@pytest.fixture(scope="session")
def seeds(tmp_path_factory):
    """Folder of each seed's tables, written once."""
    folders = {}
    for seed in SEEDS:
        folder = tmp_path_factory.mktemp(f"seed{seed}")
        subprocess.run([PYTABLES, str(folder), str(seed)], check=True)
        folders[seed] = folder
    return folders


def open_table(defs, folder, kind, name, archives):
    if kind == "wdb":
        return defs.open_wdb(folder / name)
    return defs.open_dbc([folder / a for a in archives], name)


def dump(folder, kind, name, archives):
    """The command line's records, with floats narrowed to 32 bits."""
    command = [CLI, kind, "--defs", str(folder / "defs.xml")]
    if kind == "wdb":
        command += ["--file", str(folder / name)]
    else:
        for archive in archives:
            command += ["--archive", str(folder / archive)]
        command += ["--table", name]
    out = subprocess.run(command + ["--dump", "--format", "jsonl"],
                         check=True, capture_output=True).stdout
    return [{k: narrow(v) for k, v in json.loads(line).items()}
            for line in out.decode("utf-8", "surrogateescape").splitlines()]


def narrow(value):
    if isinstance(value, float):
        return struct.unpack("<f", struct.pack("<f", value))[0]
    return value


def as_dumped(record):
    """A record as the dump shows it: text that is no UTF-8 comes out byte
    by byte as Latin-1 there, with escaped bytes here."""
    def text(value):
        if not isinstance(value, str):
            return value
        raw = value.encode("utf-8", "surrogateescape")
        try:
            return raw.decode("utf-8")
        except UnicodeDecodeError:
            return raw.decode("latin-1")
    return {k: text(v) for k, v in record.items()}


def first_and_all(records, key_field, value, result_field):
    """What a scan in file order answers: it stops at a record whose key
    field cannot be read."""
    first, every = None, []
    for index, record in enumerate(records):
        if record[key_field] is None:
            break
        if record[key_field] == value:
            if not every:
                first = record[result_field]
            every.append(index)
    return first, every


@pytest.mark.parametrize("seed", SEEDS)
@pytest.mark.parametrize("kind,name,archives", TABLES)
def test_table_equals_dump_and_answers_from_it(seeds, seed, kind, name,
                                               archives):
    folder = seeds[seed]
    defs = selvane.Definitions(folder / "defs.xml")
    table = open_table(defs, folder, kind, name, archives)
    records = list(table)
    assert [as_dumped(r) for r in records] == dump(folder, kind, name,
                                                   archives)
    assert len(table) == len(records) > 0
    before = table.memory_bytes
    assert table.fields == list(records[0])
    assert [table[i] for i in range(-len(table), 0)] == records
    for field in table.fields:
        assert table.column(field) == [r[field] for r in records]

    rng = random.Random(seed)
    for _ in range(200):
        key_field = rng.choice(table.fields)
        result_field = rng.choice(table.fields)
        value = rng.choice(records)[key_field]
        if value is None:
            continue
        if rng.random() < 0.2:  # a value no record holds, most likely
            value = {int: 7654321, float: 1e9, str: "absent"}[type(value)]
        first, every = first_and_all(records, key_field, value, result_field)
        key_index = table.fields.index(key_field)
        assert table.get(key_field, value, result_field, default=None) == first
        assert table.get(key_index, value, result_field) == first
        assert table.find_all(key_field, value) == every
        if isinstance(value, str):
            raw = value.encode("utf-8", "surrogateescape")
            assert table.find_all(key_field, raw) == every
    assert table.memory_bytes > before > 0  # indexes were built


def test_errors_name_their_cause(seeds, tmp_path):
    folder = seeds[SEEDS[0]]
    with pytest.raises(selvane.Error, match="missing.xml"):
        selvane.Definitions(folder / "defs.xml", tmp_path / "missing.xml")
    defs = selvane.Definitions(str(folder / "defs.xml"))
    with pytest.raises(selvane.Error, match="items.wdb"):
        defs.open_wdb(tmp_path / "items.wdb")
    with pytest.raises(selvane.Error, match="Nowhere.dbc"):
        defs.open_dbc(str(folder / "base.mpq"), "Tables\\Nowhere.dbc")
    with pytest.raises(selvane.Error):
        defs.open_wdb(folder / "undefined.wdb")

    items = defs.open_wdb(os.fsencode(folder / "items.wdb"))
    with pytest.raises(KeyError, match="Colour"):
        items.get("Colour", 1, "Name")
    with pytest.raises(IndexError):
        items.column(len(items.fields))
    with pytest.raises(IndexError):
        items[len(items)]
    with pytest.raises(TypeError, match=r"'Value'.*int.*str"):
        items.get("Value", "12", "Name")
    with pytest.raises(TypeError, match=r"'Name'.*str or bytes.*int"):
        items.find_all("Name", 12)
    with pytest.raises(TypeError, match=r"'Weight'.*float.*str"):
        items.find_all("Weight", "1.5")
    with pytest.raises(TypeError, match=r"'Id'.*int.*float"):
        items.find_all("Id", 1.5)
    with pytest.raises(ValueError, match="32-bit"):
        items.get("Id", 2**32, "Name")
    assert items.find_all("Weight", 1e300) == []
    assert items.get("Id", -1, "Name", default="none") == "none"
    with pytest.raises(TypeError):
        selvane.Table()


def test_threads_open_and_ask_side_by_side(seeds):
    folder = seeds[SEEDS[0]]
    defs = selvane.Definitions(folder / "defs.xml")
    serial = {}
    for kind, name, archives in TABLES:
        table = open_table(defs, folder, kind, name, archives)
        serial[(name, repr(archives))] = [
            table.find_all(0, record[table.fields[0]]) for record in table]

    failures = []

    def work(offset):
        try:
            for step in range(len(TABLES)):
                kind, name, archives = TABLES[(offset + step) % len(TABLES)]
                if offset == 0:
                    defs.load(folder / "defs.xml")  # alongside the opens
                table = open_table(defs, folder, kind, name, archives)
                answers = [table.find_all(0, record[table.fields[0]])
                           for record in table]
                if answers != serial[(name, repr(archives))]:
                    failures.append((offset, name))
        except Exception as error:  # reported below, on the main thread
            failures.append((offset, repr(error)))

    threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert failures == []


def test_installed_module_imports_from_the_prefix(seeds, tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", os.environ["SELVANE_BUILD_DIR"],
                    "--prefix", str(prefix)], check=True,
                   capture_output=True)
    site = prefix / os.environ["SELVANE_PYTHON_INSTALL_DIR"]
    folder = seeds[SEEDS[0]]
    script = ("import selvane, sys; "
              "t = selvane.Definitions(sys.argv[1]).open_wdb(sys.argv[2]); "
              "print(selvane.__file__, len(t))")
    env = dict(os.environ, PYTHONPATH=str(site))
    out = subprocess.run(
        [sys.executable, "-c", script, str(folder / "defs.xml"),
         str(folder / "items.wdb")],
        check=True, capture_output=True, text=True, env=env).stdout.split()
    assert pathlib.Path(out[0]).parent == site
    defs = selvane.Definitions(folder / "defs.xml")
    assert int(out[1]) == len(defs.open_wdb(folder / "items.wdb"))
