// Tests that both converters keep a bounded stack: init and every query run
// on a thread of 256 KiB for a chain of a million levels, as they may in a
// host's worker thread.
#include <gtest/gtest.h>

#include <pthread.h>

#include <functional>
#include <string>

#include "atm/zema/zema_name_converter.h"
#include "tests/test_support.h"

namespace {

std::size_t const kStackBytes = std::size_t(256) << 10;
unsigned const kLevels = 1000000;

// Runs `work` on a new thread with a stack of kStackBytes and waits for it.
void run_on_small_stack(std::function<void()> work) {
  pthread_attr_t attributes;
  ASSERT_EQ(0, pthread_attr_init(&attributes));
  ASSERT_EQ(0, pthread_attr_setstacksize(&attributes, kStackBytes));
  pthread_t thread;
  auto const run = [](void* argument) -> void* {
    (*static_cast<std::function<void()>*>(argument))();
    return nullptr;
  };
  ASSERT_EQ(0, pthread_create(&thread, &attributes, run, &work));
  pthread_attr_destroy(&attributes);
  ASSERT_EQ(0, pthread_join(thread, nullptr));
}

class ZemaStackTest : public zema_test::TrackedTest {};

TEST_F(ZemaStackTest, ConvertersRunOnASmallStackForAMillionLevels) {
  // Levels alternate "n" and "N" (converted "n" and "an"); the bottom instance
  // names a type-26 atom with one made-up oterm.
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* bottom = d.set_root("", 1);
  for (unsigned level = 0; level < kLevels; ++level) {
    bottom = d.add_child(bottom, level % 2 ? "N" : "n", level + 2);
  }
  CDB_ATOM_NODE* const atom = d.add_atom(CDB_ATOM_COMB, bottom);
  CDB_ATOM_OTERM* const oterm = d.add_oterm(atom, d.add_free_name("q", kLevels + 2));
  std::size_t const full_length = kLevels / 2 * std::string("n/an/").size() - 1;

  run_on_small_stack([&] {
    ZEMA_NAME_CONVERTER fusion(ZEMA_NAME_CONVERTER_FUSION);
    fusion.init(d.action_point(), d.netlist());
    GEN_STRING name;
    EXPECT_TRUE(fusion.get_converted_full_name(&name, atom, false));
    EXPECT_EQ(full_length + 1, name.size());
    EXPECT_EQ("\\n/an/n/", std::string(name.c_str(), 8));
    EXPECT_EQ(kLevels + 1, fusion.get_original_name_id(name.c_str()));
    EXPECT_TRUE(fusion.get_converted_unit_name(&name, atom));
    EXPECT_EQ("an", std::string(name.c_str()));
    EXPECT_TRUE(fusion.get_converted_full_name(&name, oterm, true));
    EXPECT_EQ("w0", std::string(name.c_str()));

    ZEMA_NAME_CONVERTER reversible(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE);
    reversible.init(d.action_point(), d.netlist());
    EXPECT_TRUE(reversible.get_converted_full_name(&name, atom, true));
    EXPECT_EQ(kLevels + 1, reversible.get_original_name_id(name.c_str()));
    EXPECT_TRUE(reversible.get_converted_unit_name(&name, oterm));
  });
}

}  // namespace
