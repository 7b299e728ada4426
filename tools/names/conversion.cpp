#include "tools/names/conversion.h"

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "host/zema_host.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {

std::string ROW::label() const {
  return (is_oterm() ? "oterm " : "atom ") + row_index(m_atom_index, m_position);
}

CONVERSION::CONVERSION(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases)
    : m_design(design) {
  phases.start("init");
  // For this init only.
  zema_host::INIT_EXPECTATION const expectation(design.m_instance_count, design.m_atom_count,
                                                design.m_oterm_count);
  m_converter.reset(new ZEMA_NAME_CONVERTER(strategy));
  m_converter->init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  if (strategy == ZEMA_NAME_CONVERTER_FUSION) m_tree.reset(new FUSION_TREE(*m_converter));
}

namespace {

// Atoms per batch of named rows: big enough that handing batches between
// threads costs nothing beside naming them, small enough that the batches
// in flight stay in the caches' reach.
std::size_t const kBatchAtoms = 2048;
// Batches named ahead of the one being visited, at most.
std::size_t const kSlots = 8;

// Batches named on two threads and visited in order on the calling one.
// Both threads claim the next batch in turn; the calling thread names
// batches of its own whenever the next one to visit is not ready.
class BATCH_RELAY {
 public:
  typedef std::function<void(std::size_t, NAMED_ROWS*)> NAME;

  BATCH_RELAY(std::size_t batches, NAME name) : m_batches(batches), m_name(std::move(name)) {}

  void run(std::function<void(NAMED_ROWS const&)> const& visit) {
    // The converter's strings grow on both threads.
    zema_host::MEM_SHARING const sharing;
    std::thread helper([this] { help(); });
    struct JOIN {
      BATCH_RELAY& m_relay;
      std::thread& m_thread;
      ~JOIN() {
        m_relay.update([this] { m_relay.m_stop = true; });
        m_thread.join();
      }
    } const join{*this, helper};
    for (std::size_t batch = 0; batch < m_batches; ++batch) {
      for (std::size_t mine = claim_until_ready(batch); mine < m_batches;
           mine = claim_until_ready(batch)) {
        name(mine);
      }
      visit(m_slots[batch % kSlots]);
      update([this] { ++m_visited; });
    }
  }

 private:
  // Whether the next batch may be claimed now: one is left, and its slot
  // has been visited.
  bool claimable() const { return m_claimed < m_batches && m_claimed < m_visited + kSlots; }
  bool ready(std::size_t batch) const { return m_ready[batch % kSlots] == batch + 1; }

  // Changes the shared state under the lock and wakes the other thread.
  template <class CHANGE>
  void update(CHANGE&& change) {
    {
      std::lock_guard<std::mutex> const lock(m_lock);
      change();
    }
    m_changed.notify_all();
  }

  void name(std::size_t batch) {
    m_name(batch, &m_slots[batch % kSlots]);
    update([this, batch] { m_ready[batch % kSlots] = batch + 1; });
  }

  // For the visiting thread: waits until `batch` is ready (gives
  // m_batches) or the next batch is free to claim (claims it and gives it).
  std::size_t claim_until_ready(std::size_t batch) {
    std::unique_lock<std::mutex> lock(m_lock);
    m_changed.wait(lock, [&] { return m_error || ready(batch) || claimable(); });
    if (m_error) std::rethrow_exception(m_error);
    return ready(batch) ? m_batches : m_claimed++;
  }

  // The other thread's loop: claims and names batches until none is left
  // or the visiting thread stops.
  void help() {
    try {
      for (;;) {
        std::size_t batch;
        {
          std::unique_lock<std::mutex> lock(m_lock);
          m_changed.wait(lock, [&] { return m_stop || m_claimed >= m_batches || claimable(); });
          if (m_stop || m_claimed >= m_batches) return;
          batch = m_claimed++;
        }
        name(batch);
      }
    } catch (...) {
      update([this] { m_error = std::current_exception(); });
    }
  }

  std::size_t const m_batches;
  NAME const m_name;
  std::vector<NAMED_ROWS> m_slots = std::vector<NAMED_ROWS>(kSlots);
  std::mutex m_lock;
  std::condition_variable m_changed;
  std::size_t m_claimed = 0;      // batches claimed by either thread
  std::size_t m_visited = 0;      // batches visited
  std::size_t m_ready[kSlots]{};  // per slot: 1 + the batch it holds named, or 0
  bool m_stop = false;
  std::exception_ptr m_error;
};

}  // namespace

void CONVERSION::name_rows(CDB_ATOM_NODE_LINK* first, std::size_t first_index, std::size_t count,
                           bool no_backslash, NAMED_ROWS* batch) const {
  batch->m_rows.clear();
  batch->m_names.clear();
  batch->m_text.clear();
  ZEMA_NAME_CONVERTER& converter = *m_converter;
  GEN_STRING& text_unit = batch->m_unit;
  GEN_STRING& text_full = batch->m_full;
  for_each_row_from(
      first, first_index, count,
      [&](ROW const& row) {
        NAMED_ROWS::NAMES names{};
        HDB_INSTANCE_NAME const* const name = row.name();
        names.m_named = name != nullptr;
        names.m_id = names.m_named ? id_of(name) : 0;
        names.m_has[0] = row.unit(converter, &text_unit);
        if (names.m_has[0]) batch->m_text.append(text_unit.data(), text_unit.size());
        names.m_end[0] = batch->m_text.size();
        names.m_has[1] = row.full(converter, &text_full, no_backslash);
        if (names.m_has[1]) batch->m_text.append(text_full.data(), text_full.size());
        names.m_end[1] = batch->m_text.size();
        batch->m_rows.push_back(row);
        batch->m_names.push_back(names);
      },
      true);
}

void CONVERSION::for_each_named_batch(bool no_backslash,
                                      std::function<void(NAMED_ROWS const&)> const& visit) const {
  CDB_ATOM_NETLIST* const netlist = m_design.m_design.netlist();
  std::vector<CDB_ATOM_NODE_LINK*> starts;  // the first atom of each batch
  std::size_t atoms = 0;
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next, ++atoms) {
    if (atoms % kBatchAtoms == 0) starts.push_back(link);
  }
  auto const name_batch = [&](std::size_t batch, NAMED_ROWS* rows) {
    name_rows(starts[batch], batch * kBatchAtoms, kBatchAtoms, no_backslash, rows);
  };
  // The fusion converter's answers only read its finished tree; the
  // reversible converter answers through scratch state of its own, so it is
  // asked on one thread only.
  if (m_tree && starts.size() >= 2) return BATCH_RELAY(starts.size(), name_batch).run(visit);
  NAMED_ROWS rows;
  for (std::size_t batch = 0; batch < starts.size(); ++batch) {
    name_batch(batch, &rows);
    visit(rows);
  }
}

void CONVERSION::free_now() {
  m_tree.reset();
  std::unique_ptr<ZEMA_NAME_CONVERTER> const converter(m_converter.release());
}

void CONVERSION::expect_no_reports() {
  std::vector<zema_host::INTERNAL_ERROR> const& reports = zema_host::internal_errors();
  if (reports.empty()) return;
  zema_host::INTERNAL_ERROR const& first = reports.front();
  throw INTERNAL_FAILURE(
      "the converter reported a broken invariant: " + quoted_text(first.condition) + " in module " +
      first.module + " at " + first.file + ":" + decimal(static_cast<std::uint64_t>(first.line)));
}

}  // namespace zema_tool
