"""A flow script: read the Yosys example, convert it, write the name map,
look up three names and explain one.

    PYTHONPATH=build/default/python python3 examples/python/flow.py [MAP_FILE]
"""
import pathlib
import sys

import zema

EXAMPLE = pathlib.Path(__file__).resolve().parent.parent / "yosys" / "lanes.json"


def main() -> None:
    design = zema.read_design(EXAMPLE)
    converter = zema.Converter(design)
    map_path = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "lanes.map")
    written = 0
    with map_path.open("w", encoding="utf-8") as out:
        out.write("id\tconverted\tkind\torigin\toriginal\n")
        for row in converter.map():
            original = "-" if row.original is None else row.original
            out.write(f"{row.id}\t{row.converted}\t{row.kind}\t{row.origin}\t{original}\n")
            written += 1
    print(f"{written} names written to {map_path}")
    for name in ["u_lane", "u_lane_1/a_auto_ff_cc_266_slice_80/aq", "u_lane_2"]:
        print(f"lookup {name}: {converter.lookup(name)}")
    explained = converter.explain("u_lane_1")
    assert explained is not None
    level = explained["levels"][0]
    held = ", ".join(f"{h['segment']} ({h['original']})" for h in level["held_by"])
    print(f"u_lane_1 is {explained['original']}: {level['base']} and suffix _{level['suffix']},"
          f" as {held} came first")


if __name__ == "__main__":
    main()
