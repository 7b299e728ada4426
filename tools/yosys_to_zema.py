#!/usr/bin/env python3
"""yosys_to_zema: turns a Yosys JSON netlist into a design file for the zema tool.

Reads the output of Yosys' `write_json` (plain or xz-compressed), expands the
module hierarchy from the top module down and writes the design file that
`zema convert|lookup|map|check` reads (docs/cli.md):

- every cell whose type names another module of the file becomes an instance
  of the hierarchy, named by the cell name, with that module's cells below it;
- every other (primitive) cell becomes a leaf instance below its module
  instance and one atom of the netlist, whose type comes from the cell type
  (ATOM_TYPES below, docs/realdesigns.md);
- a COMB atom is named by its own cell instance and its output ports become
  oterms named by names outside the hierarchy (the net each port drives);
- any other atom is named by a name outside the hierarchy (the cell name) and
  each output port becomes an oterm named by a child instance of the cell
  instance, named by the port ("Q", "Y", "RD_DATA").

Names are kept exactly as Yosys writes them. Every instance name gets its own
id, counted from 1 (the root) in the order they are made. Standard library
only, so that it runs wherever the tests run.
"""

import argparse
import json
import lzma
import sys

XZ_MAGIC = b"\xfd7zXZ\x00"

# Gate-level cells ($_NAME_..._): the first word after "$_".
GATE_TYPES = {
    "DFF": ("FF", "DFF", "DFFE", "SDFF", "SDFFE", "SDFFCE", "DFFSR", "DFFSRE", "ALDFF", "ALDFFE"),
    "LATCH": ("DLATCH", "DLATCHSR", "SR"),
    "MUX": ("MUX", "MUX4", "MUX8", "MUX16", "NMUX"),
    "AND": ("AND",),
    "OR": ("OR",),
    "XOR": ("XOR", "XNOR"),
    "INV": ("NOT",),
    "BUF": ("BUF",),
    "TRI": ("TBUF",),
}

# Word-level cells ($name): the name after "$".
WORD_TYPES = {
    "DFF": ("ff", "dff", "dffe", "adff", "adffe", "sdff", "sdffe", "sdffce", "dffsr", "dffsre",
            "aldff", "aldffe"),
    "LATCH": ("dlatch", "adlatch", "dlatchsr", "sr"),
    "LUT": ("lut",),
    "MUX": ("mux", "pmux", "bmux", "bwmux"),
    "AND": ("and", "logic_and", "reduce_and"),
    "OR": ("or", "logic_or", "reduce_or", "reduce_bool"),
    "XOR": ("xor", "xnor", "reduce_xor", "reduce_xnor"),
    "INV": ("not", "logic_not"),
    "ADDER": ("add", "sub", "alu", "fa"),
    "COMPARATOR": ("eq", "ne", "eqx", "nex", "lt", "le", "gt", "ge"),
    "SHIFTREG": ("shl", "shr", "sshl", "sshr", "shift", "shiftx"),
    "MULT": ("mul", "macc"),
    "BUF": ("pos", "buf"),
    "TRI": ("tribuf",),
}

ATOM_TYPES = {}
for _atom, _names in GATE_TYPES.items():
    ATOM_TYPES.update(("$_%s_" % n, _atom) for n in _names)
for _atom, _names in WORD_TYPES.items():
    ATOM_TYPES.update(("$" + n, _atom) for n in _names)

COMB = "COMB"


def atom_type(cell_type):
    """The atom type name for a primitive cell type; COMB for anything unknown
    (compound gates such as $_NAND_ or $_AOI3_, cells of undefined modules)."""
    if cell_type.startswith("$_"):
        return ATOM_TYPES.get("$_" + cell_type[2:].split("_", 1)[0] + "_", COMB)
    if cell_type.startswith("$mem"):
        return "RAM"
    return ATOM_TYPES.get(cell_type, COMB)


def is_true(value):
    """A Yosys attribute value is true when it is 1, as a number or a bit string."""
    if isinstance(value, int):
        return value == 1
    if isinstance(value, str) and value and set(value) <= {"0", "1"}:
        return int(value, 2) == 1
    return False


def find_top(modules, wanted):
    if wanted is not None:
        if wanted not in modules:
            raise SystemExit("yosys_to_zema: no module named %r" % wanted)
        return wanted
    marked = [m for m, body in modules.items() if is_true(body.get("attributes", {}).get("top"))]
    if len(marked) == 1:
        return marked[0]
    used = {cell["type"] for body in modules.values() for cell in body.get("cells", {}).values()}
    roots = [m for m in modules if m not in used]
    if len(roots) == 1:
        return roots[0]
    candidates = ", ".join(sorted(marked or roots)) or "none"
    raise SystemExit("yosys_to_zema: cannot tell the top module (candidates: %s); give --top"
                     % candidates)


class NetNames:
    """Names the bits of one module after its nets: "net" for a one-bit net,
    "net[i]" otherwise; a bit on several nets takes the first visible one."""

    def __init__(self, module):
        self.by_bit = {}
        self.nets = module.get("netnames", {})
        for name, net in self.nets.items():
            bits = net.get("bits", [])
            hidden = bool(net.get("hide_name", 0))
            offset = net.get("offset", 0)
            upto = bool(net.get("upto", 0))
            for i, bit in enumerate(bits):
                if not isinstance(bit, int):
                    continue
                known = self.by_bit.get(bit)
                if known is not None and (known[0] or hidden):
                    continue
                if len(bits) == 1 and offset == 0:
                    label = name
                else:
                    label = "%s[%d]" % (name, offset + (len(bits) - 1 - i if upto else i))
                self.by_bit[bit] = (not hidden, name, label)

    def port_net(self, bits, fallback):
        """The name of the net a port drives: the whole net's name when the
        port drives exactly that net, else the name of its first bit."""
        first = next((b for b in bits if isinstance(b, int)), None)
        if first is None or first not in self.by_bit:
            return fallback
        _, net, label = self.by_bit[first]
        if len(bits) > 1 and self.nets[net].get("bits") == bits:
            return net
        return label


class Importer:
    def __init__(self, modules):
        self.modules = modules
        self.next_id = 1
        self.netlist = []
        self.names = []  # (id, scope, name) for --names
        self.instances = 0
        self.oterms = 0
        self.comb = 0
        self.net_names = {}

    def new_id(self, scope, name):
        ident = self.next_id
        self.next_id += 1
        self.names.append((ident, scope, name))
        return ident

    def instance(self, name):
        self.instances += 1
        return {"name": name, "id": self.new_id("hier", name)}

    def free(self, name):
        return {"name": name, "id": self.new_id("free", name)}

    def expand(self, module_name, node, stack):
        """Fills node (an instance of module_name) with the module's cells."""
        if module_name in stack:
            raise SystemExit("yosys_to_zema: module %r instantiates itself" % module_name)
        module = self.modules[module_name]
        children = []
        for cell_name, cell in module.get("cells", {}).items():
            cell_type = cell["type"]
            if cell_type in self.modules:
                child = self.instance(cell_name)
                self.expand(cell_type, child, stack + (module_name,))
            else:
                child = self.primitive(module_name, module, cell_name, cell)
            children.append(child)
        if children:
            node["children"] = children

    def primitive(self, module_name, module, cell_name, cell):
        kind = atom_type(cell["type"])
        outputs = [p for p, d in cell.get("port_directions", {}).items() if d == "output"]
        node = self.instance(cell_name)
        self.oterms += len(outputs)
        if kind == COMB:
            self.comb += 1
            nets = self.net_names.get(module_name)
            if nets is None:
                nets = self.net_names[module_name] = NetNames(module)
            connections = cell.get("connections", {})
            oterms = [self.free(nets.port_net(connections.get(p, []), p)) for p in outputs]
            atom = {"type": kind, "name": node["id"]}
        else:
            ports = [self.instance(p) for p in outputs]
            if ports:
                node["children"] = ports
            oterms = [p["id"] for p in ports]
            atom = {"type": kind, "name": self.free(cell_name)}
        if oterms:
            atom["oterms"] = oterms
        self.netlist.append(atom)
        return node

    def design(self, top):
        root = self.instance("")
        self.expand(top, root, ())
        return {"root": root, "netlist": self.netlist}


def read_netlist(path):
    if path == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(path, "rb") as f:
            data = f.read()
    if data.startswith(XZ_MAGIC):
        data = lzma.decompress(data)
    netlist = json.loads(data.decode("utf-8"))
    if not isinstance(netlist, dict) or not isinstance(netlist.get("modules"), dict):
        raise SystemExit("yosys_to_zema: %s: not a Yosys JSON netlist (no \"modules\")" % path)
    return netlist


def main(argv=None):
    parser = argparse.ArgumentParser(
        description="Convert a Yosys JSON netlist (plain or .xz) into a zema design file.")
    parser.add_argument("netlist", help="Yosys write_json output, '-' for standard input")
    parser.add_argument("-o", "--output", default="-", help="design file to write (default: stdout)")
    parser.add_argument("--top", help="top module (default: the one marked top, else the only "
                                      "module no other module instantiates)")
    parser.add_argument("--names", metavar="FILE",
                        help="also write ID<TAB>hier|free<TAB>NAME for every instance name")
    parser.add_argument("--stats", action="store_true",
                        help="print the instance, atom and oterm counts on standard error")
    args = parser.parse_args(argv)

    modules = read_netlist(args.netlist)["modules"]
    top = find_top(modules, args.top)
    importer = Importer(modules)
    design = importer.design(top)

    text = json.dumps(design, ensure_ascii=False, separators=(",", ":"))
    if args.output == "-":
        sys.stdout.write(text + "\n")
    else:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text + "\n")
    if args.names:
        with open(args.names, "w", encoding="utf-8") as f:
            for ident, scope, name in importer.names:
                f.write("%d\t%s\t%s\n" % (ident, scope, name))
    if args.stats:
        print("top=%s instances=%d atoms=%d comb=%d oterms=%d"
              % (top, importer.instances, len(importer.netlist), importer.comb, importer.oterms),
              file=sys.stderr)
    return 0


if __name__ == "__main__":
    sys.exit(main())
