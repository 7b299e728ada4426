// Host atom netlist: atoms (primitive cells) in a linked list of links, each
// atom with its ordered output terminals (oterms), which may hold null entries.
//
// The host derives its own atoms and oterms from these classes and implements
// the out-of-line operations; the oterm iterator is inline over the sequence
// that the atom carries.
#ifndef H_CDB_NET_SYS_H
#define H_CDB_NET_SYS_H

#include "h/hdb_sys.h"

// Atom kinds. Converters give meaning to a few of them by number.
enum CDB_ATOM_BASIC_TYPE {
  CDB_ATOM_NONE = 0,
  CDB_ATOM_LUT = 1,
  CDB_ATOM_DFF = 2,
  CDB_ATOM_IO_IBUF = 3,
  CDB_ATOM_LATCH = 4,
  CDB_ATOM_CARRY = 5,
  CDB_ATOM_MUX = 6,
  CDB_ATOM_RAM = 7,
  CDB_ATOM_ROM = 8,
  CDB_ATOM_DSP = 9,
  CDB_ATOM_MULT = 10,
  CDB_ATOM_PLL = 11,
  CDB_ATOM_DLL = 12,
  CDB_ATOM_CLKBUF = 13,
  CDB_ATOM_CLKCTRL = 14,
  CDB_ATOM_GND = 15,
  CDB_ATOM_VCC = 16,
  CDB_ATOM_SERDES = 17,
  CDB_ATOM_OSC = 18,
  CDB_ATOM_JTAG = 19,
  CDB_ATOM_CRC = 20,
  CDB_ATOM_FIFO = 21,
  CDB_ATOM_SHIFTREG = 22,
  CDB_ATOM_ADDER = 23,
  CDB_ATOM_COUNTER = 24,
  CDB_ATOM_COMPARATOR = 25,
  CDB_ATOM_COMB = 26,
  CDB_ATOM_XOR = 27,
  CDB_ATOM_AND = 28,
  CDB_ATOM_OR = 29,
  CDB_ATOM_INV = 30,
  CDB_ATOM_BUF = 31,
  CDB_ATOM_TRI = 32,
  CDB_ATOM_DELAY = 33,
  CDB_ATOM_IO_OBUF = 34,
  CDB_ATOM_PIN = 35,
  CDB_ATOM_IO_DDR = 36,
  CDB_ATOM_TERM = 37,
  CDB_ATOM_PULLUP = 38,
  CDB_ATOM_PULLDOWN = 39,
  CDB_ATOM_BRAM = 40,
  CDB_ATOM_URAM = 41,
  CDB_ATOM_HARDIP = 42,
  CDB_ATOM_PCIE = 43,
  CDB_ATOM_ETHERNET = 44,
  CDB_ATOM_MEMCTRL = 45,
  CDB_ATOM_CLK_DIV = 46,
  CDB_ATOM_TEMP_SENSOR = 47,
  CDB_ATOM_USER_FLASH = 48,
  CDB_ATOM_BLACKBOX = 49,
  CDB_ATOM_BASIC_TYPE_COUNT = 50
};

class CDB_ATOM_NODE;

// An output terminal of an atom.
class CDB_ATOM_OTERM {
 public:
  virtual ~CDB_ATOM_OTERM();
  // The oterm's instance name, or null.
  virtual HDB_INSTANCE_NAME const* get_instance_name() const;
  // The atom the oterm belongs to, or null.
  CDB_ATOM_NODE* get_my_node() const;

 protected:
  CDB_ATOM_OTERM() = default;
  CDB_ATOM_NODE* m_node = nullptr;
  HDB_INSTANCE_NAME const* m_instance_name = nullptr;
};

// Walks an atom's oterm sequence in order; entries may be null.
class CDB_ATOM_OTERM_ITERATOR {
 public:
  explicit CDB_ATOM_OTERM_ITERATOR(CDB_ATOM_OTERM* const* pos) : m_pos(pos) {}
  bool operator!=(CDB_ATOM_OTERM_ITERATOR const& other) const { return m_pos != other.m_pos; }
  bool operator==(CDB_ATOM_OTERM_ITERATOR const& other) const { return m_pos == other.m_pos; }
  CDB_ATOM_OTERM* operator*() const { return *m_pos; }
  CDB_ATOM_OTERM_ITERATOR& operator++() {
    ++m_pos;
    return *this;
  }

 private:
  CDB_ATOM_OTERM* const* m_pos;
};

// An atom: a primitive cell of the netlist.
class CDB_ATOM_NODE {
 public:
  virtual ~CDB_ATOM_NODE();
  // The atom's instance name, or null.
  virtual HDB_INSTANCE_NAME const* get_instance_name() const;
  CDB_ATOM_BASIC_TYPE get_basic_type() const;

  CDB_ATOM_OTERM_ITERATOR begin_oterm() const { return CDB_ATOM_OTERM_ITERATOR(m_oterms); }
  CDB_ATOM_OTERM_ITERATOR end_oterm() const {
    return CDB_ATOM_OTERM_ITERATOR(m_oterms + m_oterm_count);
  }

 protected:
  CDB_ATOM_NODE() = default;
  CDB_ATOM_BASIC_TYPE m_basic_type = CDB_ATOM_NONE;
  HDB_INSTANCE_NAME const* m_instance_name = nullptr;
  CDB_ATOM_OTERM** m_oterms = nullptr;
  unsigned m_oterm_count = 0;
};

// One position of the netlist's atom list.
struct CDB_ATOM_NODE_LINK {
  CDB_ATOM_NODE_LINK* m_next;
  CDB_ATOM_NODE* m_node;
};

// The atoms of a design, in list order.
class CDB_ATOM_NETLIST {
 public:
  // The first link; equal to end_node_list() when the list is empty.
  CDB_ATOM_NODE_LINK* begin_node_list() const;
  // The end marker: the m_next of the last link.
  CDB_ATOM_NODE_LINK* end_node_list() const;

 protected:
  CDB_ATOM_NETLIST() = default;
  ~CDB_ATOM_NETLIST() = default;
};

#endif  // H_CDB_NET_SYS_H
