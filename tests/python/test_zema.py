"""The Python module against the command: the same rows, names, map and
errors, on hand-made, example, Yosys and random designs."""
import gc
import json
import pathlib
import subprocess
import os
import sys
import threading
import time
import _thread

import pytest

import zema

GOLDEN = ["bundled", "worked", "netlist", "ids", "empty", "clash"]
# The sanitizer and coverage builds run everything several times slower:
# there the tests that repeat work do less of it.
INSTRUMENTED = os.environ.get("ZEMA_INSTRUMENTED") == "1"


def convert_tsv(converter):
    """The rows of a converter as `zema convert` writes them."""
    lines = ["kind\tindex\tid\tunit\tfull"]
    for row in converter.rows():
        fields = [row.kind, row.index, "-" if row.id is None else str(row.id),
                  "-" if row.unit is None else row.unit, "-" if row.full is None else row.full]
        lines.append("\t".join(fields))
    return "\n".join(lines) + "\n"


def command(zema_cli, *args):
    return subprocess.run([zema_cli, *args], check=True, capture_output=True, text=True).stdout


def designs(source):
    paths = [source / "tests/tool/golden" / (name + ".json") for name in GOLDEN[1:]]
    return [source / "examples/design.json", source / "examples/yosys/soc.json",
            source / "examples/yosys/lanes.json"] + paths


@pytest.mark.parametrize("strategy", ["fusion", "reversible"])
def test_rows_equal_the_command_on_examples_and_golden_designs(zema_cli, source, strategy):
    for path in designs(source):
        converter = zema.Converter(zema.read_design(path), strategy)
        assert convert_tsv(converter) == command(zema_cli, "convert", "--strategy", strategy,
                                                 str(path)), path


def test_rows_equal_the_command_on_random_designs(zema_cli, generator, tmp_path):
    path = tmp_path / "design.json"
    for seed in range(1, 21 if INSTRUMENTED else 101):
        alphabet = ("plain", "rtl", "wild")[seed % 3]
        size = str(10 + seed * 7 % 300)
        subprocess.run([generator, "--seed", str(seed), "--instances", size, "--atoms", size,
                        "--names", "5", "--missing-ids", "5", "--alphabet", alphabet,
                        "-o", str(path)], check=True)
        strategy = ("fusion", "reversible")[seed % 2]
        converter = zema.Converter(zema.read_design(str(path)), strategy)
        assert convert_tsv(converter) == command(zema_cli, "convert", "--strategy", strategy,
                                                 str(path)), seed


@pytest.mark.parametrize("strategy", ["fusion", "reversible"])
def test_lookup_finds_every_name_of_the_map(source, strategy):
    for path in designs(source):
        converter = zema.Converter(zema.read_design(path), strategy)
        for row in converter.map():
            if row.id != 0 and row.converted:
                assert converter.lookup(row.converted) == row.id, (path, row)
        assert converter.lookup("no/such/name") is None


def test_map_check_and_explain_agree_with_the_command(zema_cli, source):
    path = str(source / "tests/tool/golden/clash.json")
    converter = zema.Converter(zema.read_design(path))
    lines = ["\t".join(["-" if v is None else str(v) for v in row]) for row in converter.map()]
    assert "\n".join(["id\tconverted\tkind\torigin\toriginal"] + lines) + "\n" == command(
        zema_cli, "map", path)
    result = converter.check()
    assert (result.ok, result.checked, result.violations) == (True, 15, [])
    explained = converter.explain("x_y_1")
    assert explained["levels"][0]["held_by"][1]["original"] == "/x.y"
    assert converter.explain("nothing") is None
    # A name with no original: None, as the command's null.
    explained = zema.Converter(zema.read_design(source / "examples/design.json")).explain("ram2")
    assert explained["original"] is None


def test_a_design_built_by_hand_gives_the_names_of_its_file(source):
    # tests/tool/golden/netlist.json, instance by instance.
    design = zema.Design()
    u1 = design.add_instance(design.root, "U1", id=11)
    q = design.add_instance(u1, "Q", id=12)
    clk = design.add_instance(u1, "clk", id=13)
    design.add_atom(q, 26, oterms=["n40"])
    design.add_atom("mem", "ram", oterms=[clk])
    design.add_atom(u1, 3)
    by_hand = [tuple(row)[:2] + tuple(row)[3:] for row in zema.Converter(design).rows()]
    read = zema.read_design(source / "tests/tool/golden/netlist.json")
    from_file = [tuple(row)[:2] + tuple(row)[3:] for row in zema.Converter(read).rows()]
    assert by_hand == from_file
    assert [path for _, _, path in design.instances()] == ["/", "/U1", "/U1/Q", "/U1/clk"]
    atom = design.atoms()[1]
    assert (atom.type, atom.original, atom.oterms) == ("RAM", "mem", ["/U1/clk"])
    with pytest.raises(ValueError, match="in use"):
        design.add_instance(design.root, "late")


def test_verilog_netlists_read_with_their_cell_libraries(zema_cli, source):
    gate = source / "tests/tool/gate"
    command = subprocess.run([zema_cli, "convert", str(gate / "hier.v"), "--liberty",
                              str(gate / "cells.lib")], capture_output=True, text=True,
                             check=True).stdout.splitlines()[1:]
    for liberty in [gate / "cells.lib", [str(gate / "cells.lib")], os.fsencode(gate / "cells.lib")]:
        design = zema.read_design(gate / "hier.v", liberty=liberty)
        rows = ["\t".join("-" if cell is None else str(cell) for cell in row)
                for row in zema.Converter(design).rows()]
        assert rows == command
    with pytest.raises(zema.DesignError, match="no known pins"):
        zema.read_design(source / "tests/tool/bad/verilog_unknown_cells.v", liberty=gate / "cells.lib")
    with pytest.warns(UserWarning, match="^3 cells of 2 types have no known pins") as said:
        zema.read_design(source / "tests/tool/bad/verilog_unknown_cells.v",
                         liberty=gate / "cells.lib", unknown_cells="atom")
    assert said[0].filename == __file__  # the caller's line
    with pytest.raises(ValueError, match="unknown_cells"):
        zema.read_design(gate / "hier.v", unknown_cells="skip")


def test_bad_input_raises_the_commands_message(zema_cli, source, tmp_path):
    bad = source / "tests/tool/bad"
    for case in ["duplicate_id", "comb_free_name", "broken_xz", "atom_unknown_key"]:
        path = bad / (case + ".json")
        expected = subprocess.run([zema_cli, "convert", str(path)], capture_output=True,
                                  text=True).stderr.removeprefix("zema: error: ").rstrip("\n")
        with pytest.raises(zema.DesignError) as raised:
            zema.read_design(str(path))
        assert str(raised.value) == expected
        assert isinstance(raised.value, ValueError)
    with pytest.raises(zema.DesignError, match="^<bytes>:1:"):
        zema.read_design(b'{"root": ')
    with pytest.raises(FileNotFoundError):
        zema.read_design(tmp_path / "missing.json")
    design = zema.Design()
    design.add_atom(None, 26)
    with pytest.raises(zema.DesignError, match="needs a name inside the hierarchy"):
        zema.Converter(design)
    with pytest.raises(ValueError, match="U\\+0000"):
        zema.Design().add_instance(zema.Design().root, "a\0b")


def test_a_converter_keeps_its_design_and_an_iteration_its_converter(generator, tmp_path):
    path = tmp_path / "design.json"
    subprocess.run([generator, "--seed", "3", "--instances", "6000", "--atoms", "6000",
                    "-o", str(path)], check=True)
    before = zema._tracked_bytes()
    converter = zema.Converter(zema.read_design(path))
    gc.collect()  # the design has no other reference now
    rows = converter.rows()
    first = [next(rows) for _ in range(5000)]
    del converter  # mid-way
    gc.collect()
    rest = list(rows)
    assert len(first) + len(rest) >= 10000 and rest[-1].full
    del rows, first, rest
    gc.collect()
    assert zema._tracked_bytes() == before


def test_a_long_init_releases_the_gil_and_survives_an_interrupt(generator, tmp_path):
    path = tmp_path / "big.json"
    size = "50000" if INSTRUMENTED else "200000"
    subprocess.run([generator, "--seed", "9", "--instances", size, "--atoms", size,
                    "--alphabet", "rtl", "-o", str(path)], check=True)
    design = zema.read_design(str(path))
    counted = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counted[0] += 1

    counter = threading.Thread(target=count)
    counter.start()
    start = counted[0]
    zema.Converter(design)
    during = counted[0] - start
    stop.set()
    counter.join()
    assert during > 1000  # the other thread ran while init did

    threading.Timer(0.01, _thread.interrupt_main).start()
    with pytest.raises(KeyboardInterrupt):
        zema.Converter(design)
        time.sleep(2)
    small = zema.Converter(design, "reversible")
    assert next(small.rows()).kind == "atom"


def test_readers_of_bad_input_and_callers_in_other_threads_never_deadlock(source):
    # A reader's error is raised after it gave the library back, so a thread
    # that holds the GIL and waits for the library is never waited on.
    converter = zema.Converter(zema.read_design(source / "examples/yosys/lanes.json"))
    errors = []
    stop = threading.Event()

    def read_bad():
        for _ in range(300):
            try:
                zema.read_design(b'{"root": {"name": "", "children": [3]}}')
            except zema.DesignError:
                pass
            except Exception as error:  # pylint: disable=broad-except
                errors.append(error)
        stop.set()

    def look_up():
        while not stop.is_set():
            converter.lookup("u_lane_1")
            converter.explain("u_lane_1")

    threads = [threading.Thread(target=read_bad) for _ in range(2)] + [
        threading.Thread(target=look_up) for _ in range(3)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=60)
    assert not any(thread.is_alive() for thread in threads), "deadlock"
    assert errors == []


def flat_design(count):
    design = zema.Design()
    for i in range(count):
        design.add_atom(design.add_instance(design.root, f"u{i}"), "COMB", oterms=[f"n{i}"])
    return design


def run_threads(*targets):
    threads = [threading.Thread(target=target) for target in targets]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert not any(thread.is_alive() for thread in threads), "deadlock"


def test_threads_that_share_designs_iterators_and_the_last_reference():
    # Two converters of one hand-built design made at once: the design is
    # built once, and both name it.
    design = flat_design(2000)
    converters = []
    run_threads(*[lambda: converters.append(zema.Converter(design))] * 2)
    assert [c.full_name(1999) for c in converters] == ["u1999", "u1999"]
    assert len(design) == 2000

    # Converters and map cursors dropped by one thread while another is
    # inside the library are freed under its lock.
    big, small, stop = flat_design(20000), flat_design(50), threading.Event()

    def convert_big():
        for _ in range(4):
            zema.Converter(big)
        stop.set()

    def drop_small():
        while not stop.is_set():
            converter = zema.Converter(small)
            rows = converter.map()
            next(rows)
            del converter, rows

    run_threads(convert_big, drop_small)

    # One iterator shared by threads gives every row once; a thread that asks
    # while another fills the next batch is told so.
    rows, seen = zema.Converter(flat_design(5000)).rows(), []

    def take():
        while True:
            try:
                seen.append(next(rows).index)
            except StopIteration:
                return
            except ValueError:
                pass

    run_threads(take, take, take)
    assert sorted(seen) == sorted({*seen}) and len(seen) == 10000

    # A hand-built design read (ids, size) while another thread builds it.
    for _ in range(3):
        design, building = flat_design(20000), threading.Event()
        last = design.add_instance(design.root, "last")

        def read():
            while not building.is_set():
                assert last.id is None or last.id > 0
                assert len(design) == 20000 and "20000 atoms" in repr(design)

        def build():
            zema.Converter(design)
            building.set()

        run_threads(read, build)
        assert last.id > 0


def test_daemon_threads_inside_the_library_let_the_interpreter_end(source):
    script = f"""
import threading, time, zema
converter = zema.Converter(zema.read_design({str(source / "examples/yosys/soc.json")!r}))
def work():
    while True:
        converter.check()
for _ in range(2):
    threading.Thread(target=work, daemon=True).start()
time.sleep(0.2)
"""
    for _ in range(3):
        assert subprocess.run([sys.executable, "-c", script], env=os.environ).returncode == 0


def test_a_design_built_by_hand_stays_what_it_was_asked_to_be(tmp_path, monkeypatch):
    design = zema.Design()
    a, b = design.add_instance(design.root, "a"), design.add_instance(design.root, "b")

    class OTERMS:  # its items add another atom before this one is entered
        def __len__(self):
            return 2

        def __getitem__(self, i):
            if i >= 2:
                raise IndexError
            if i == 0:
                design.add_atom(b, "COMB", oterms=["inner"])
            return f"out{i}"

    assert design.add_atom(a, "COMB", oterms=OTERMS()) == 1
    assert design.atoms()[1].oterms == ["out0", "out1"]

    deep = zema.Design()
    parent = deep.root
    for _ in range(10000):
        parent = deep.add_instance(parent, "a")
    with pytest.raises(zema.DesignError, match="deeper than 10000 levels"):
        deep.add_instance(parent, "a")

    # A file named "-" is that file, not standard input; a path that is not
    # UTF-8 is the file system's bytes.
    monkeypatch.chdir(tmp_path)
    text = '{"root": {"name": "", "children": [{"name": "x", "id": 2}]}}'
    (tmp_path / "-").write_text(text)
    assert [unit for _, unit, _ in zema.read_design("-").instances()] == ["", "x"]
    with open(b"x\xff.json", "w") as out:
        out.write(text)
    assert len(zema.read_design(os.fsdecode(b"x\xff.json")).instances()) == 2
    with open(b"y\xff.json", "w") as out:
        out.write(text[:9])
    with pytest.raises(zema.DesignError, match=r"^y\\xff\.json:1:"):
        zema.read_design(os.fsdecode(b"y\xff.json"))


def test_revisions_and_texts_agree_with_the_command(zema_cli, source, tmp_path):
    old_path = str(source / "examples/yosys/soc.json")
    netlist = json.loads(pathlib.Path(old_path).read_text())
    top = netlist["modules"]["soc"]
    flop = {"hide_name": 1, "type": "$_DFF_P_",
            "port_directions": {"C": "input", "D": "input", "Q": "output"},
            "connections": {"C": ["0"], "D": ["0"], "Q": ["x"]}}
    top["cells"] = {"$first": flop, **{k: v for k, v in top["cells"].items()
                                       if k != "channel[0].u_shift"}}
    new_path = tmp_path / "new.json"
    new_path.write_text(json.dumps(netlist))
    old, new = (zema.Converter(zema.read_design(path)) for path in (old_path, new_path))

    rows = [row._asdict() for row in zema.diff(old, new)]
    assert rows == json.loads(subprocess.run(
        [zema_cli, "diff", "--format", "json", old_path, new_path],
        capture_output=True, text=True).stdout)

    names = "".join(row.converted + "\n" for row in old.map() if row.converted)
    text_path = tmp_path / "names.txt"
    text_path.write_text(names)
    migrated, reports = zema.Migration(old, new).translate(names)
    result = subprocess.run([zema_cli, "migrate", old_path, new_path, str(text_path)],
                            capture_output=True, text=True)
    assert migrated == result.stdout
    said = [f'zema: migrate: {text_path}:{r.line}:{r.column}: "{r.word}" {r.problem}'
            for r in reports]
    assert said == result.stderr.splitlines() and len(reports) > 50

    sdc = "set_false_path -from [get_pins {dff25/Q dff26/Q}] -to [get_cells xor*]\n"
    assert old.translate(sdc, syntax="tcl")[0] == subprocess.run(
        [zema_cli, "translate", "--syntax", "tcl", old_path], input=sdc,
        capture_output=True, text=True).stdout
    original, _ = old.translate(b"dff25 dff26", levels=1)
    assert old.translate(original, to="converted", levels=1) == (b"dff25 dff26", [])

    # A third flip-flop of one original: which one came, nothing says.
    flop = {"type": "DFF", "name": {"name": "q"}}
    revisions = []
    for count in (2, 3):
        path = tmp_path / f"q{count}.json"
        path.write_text(json.dumps({"root": {"name": ""}, "netlist": [flop] * count}))
        revisions.append(zema.Converter(zema.read_design(str(path))))
    with pytest.warns(UserWarning, match="^2 old objects share an original .* a guess"):
        zema.diff(*revisions)


def add_instance(**kwargs):
    design = zema.Design()
    return design.add_instance(design.root, "u", **kwargs)


@pytest.mark.parametrize("call, error", [
    (lambda c, d: c.lookup("u_lane_1\0junk"), ValueError),
    (lambda c, d: c.explain("u_lane_1\0junk"), ValueError),
    (lambda c, d: zema.read_design("lanes.json\0junk"), ValueError),
    (lambda c, d: zema.read_design(b"{}", top="a\0b"), ValueError),
    (lambda c, d: zema.Design().add_atom(None, "Ram\0junk"), ValueError),
    (lambda c, d: zema.Design().add_atom("a\0b", "RAM"), ValueError),
    (lambda c, d: zema.Design().add_atom(None, "RAM", oterms=["x", "a\0b"]), ValueError),
    (lambda c, d: add_instance(id=0), zema.DesignError),
    (lambda c, d: add_instance(id=-1), ValueError),
    (lambda c, d: add_instance(id=1 << 32), ValueError),
    (lambda c, d: zema.Design().add_atom(None, 50), ValueError),
    (lambda c, d: zema.Design().add_atom(None, -1), ValueError),
    (lambda c, d: c.full_name(1 << 70), IndexError),
    (lambda c, d: c.full_name(-1), IndexError),
    (lambda c, d: c.full_name(0, 1 << 64), IndexError),
    (lambda c, d: c.unit_name(len(d)), IndexError),
    (lambda c, d: zema.Converter(d, "fusion\0"), ValueError),
    (lambda c, d: c.translate("x", syntax="auto"), ValueError),
    (lambda c, d: c.translate("x", separator=":"), ValueError),
    (lambda c, d: c.translate("x", levels=0), ValueError),
    (lambda c, d: c.translate("x", to="sideways"), ValueError),
    (lambda c, d: zema.Migration(c, zema.Converter(d, "reversible")), ValueError),
    (lambda c, d: c.lookup(None), TypeError),
    (lambda c, d: zema.Design().add_instance(zema.Design().root, b"u\xff"), TypeError),
    (lambda c, d: zema.Design().add_atom(None, b"COMB"), TypeError),
    (lambda c, d: zema.Design().add_atom(None, 26.0), TypeError),
    (lambda c, d: zema.Design().add_atom(None, True), TypeError),
    (lambda c, d: zema.Design().add_atom(None, "RAM", oterms="abc"), TypeError),
    (lambda c, d: c.translate(5), TypeError),
    (lambda c, d: zema.Converter(d, None), TypeError),
    (lambda c, d: zema.read_design(d, top=5), TypeError),
    (lambda c, d: c.lookup("u\udcff"), UnicodeEncodeError),
])
def test_bad_arguments_raise_value_and_index_errors(source, call, error):
    design = zema.read_design(source / "examples/yosys/lanes.json")
    converter = zema.Converter(design)
    with pytest.raises(error):
        call(converter, design)
    if error is zema.DesignError:
        assert isinstance(zema.DesignError("x"), ValueError)


def test_rows_are_named_tuples_and_objects_say_what_they_are(source):
    design = zema.read_design(source / "examples/yosys/lanes.json")
    converter = zema.Converter(design)
    row = next(converter.rows())
    assert row._fields == ("kind", "index", "id", "unit", "full")
    assert row._asdict() == dict(zip(row._fields, row))
    map_row = next(iter(converter.map()))
    assert map_row._asdict()["converted"] == map_row.converted
    assert len(converter) == sum(1 for _ in converter.rows())
    assert len(design) == len(design.atoms())
    assert "fusion" in repr(converter) and "atoms" in repr(design)


def test_the_type_stubs_give_the_defaults_the_module_takes(source):
    """Each default in zema.pyi is the one the module applies, read from the
    signature line of the function's docstring."""
    import ast
    import re
    stubs = ast.parse((source / "python/zema.pyi").read_text())
    checked = 0
    for node in ast.walk(stubs):
        if not isinstance(node, ast.ClassDef) or not hasattr(zema, node.name):
            continue
        for method in node.body:
            runtime = getattr(getattr(zema, node.name), getattr(method, "name", ""), None)
            if not isinstance(method, ast.FunctionDef) or not getattr(runtime, "__doc__", None):
                continue
            args = method.args
            pairs = list(zip(args.args[len(args.args) - len(args.defaults):], args.defaults))
            pairs += [(a, d) for a, d in zip(args.kwonlyargs, args.kw_defaults) if d is not None]
            signature = runtime.__doc__.splitlines()[0]
            for argument, default in pairs:
                if isinstance(default, ast.Constant) and default.value is Ellipsis:
                    continue  # the stub leaves this default unsaid
                found = re.search(r"\b%s: \w+ = ([^,)]+)" % argument.arg, signature)
                assert found, f"{node.name}.{method.name}({argument.arg}): {signature}"
                assert ast.literal_eval(found.group(1)) == ast.literal_eval(default), \
                    f"{node.name}.{method.name}({argument.arg}): {signature}"
                checked += 1
    assert checked >= 8
