// The interface table: the kernel's (name, index) pairs in its order, and
// the look-ups over a list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/Diagnostics.h"

namespace {

using Pairs = std::vector<std::pair<std::string, int>>;

TEST(InterfaceTable, ListsTheKernelsInterfacesInItsOrder) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  // veth registers the peer first: the kernel's order is not the names' order.
  const testenv::RunResult made =
      testenv::Run({"/bin/sh", "-c", "ip link add en0 type veth peer name en1"});
  REQUIRE_ENV(made.exitCode == 0, "cannot make a veth pair: " + made.err);
  testnetio::Diagnostics diagnostics;
  ifs_info* list = get_ifs_info(0, 0);
  Pairs pairs;
  for (const ifs_info* node = list; node; node = node->next)
    pairs.emplace_back(node->ifs_name, node->ifs_index);
  EXPECT_EQ(pairs, (Pairs{{"lo", 1}, {"en1", 2}, {"en0", 3}}));
  EXPECT_EQ(diagnostics.Text(),
            "ifr_name: lo, scope id: 1\nifr_name: en1, scope id: 2\nifr_name: en0, scope id: 3\n");
  free_ifs_info(list);
}

TEST(InterfaceTable, LooksUpByIndexAndByExactName) {
  // Nodes as get_ifs_info makes them, so free_ifs_info can release them.
  ifs_info* list = nullptr;
  for (const auto& [name, index] :
       Pairs{{"abcdefghijklmno", 11}, {"en0", 9}, {"en0", 7}, {"en1", 5}}) {
    auto* node = static_cast<ifs_info*>(calloc(1, sizeof(ifs_info)));
    strncpy(node->ifs_name, name.c_str(), sizeof node->ifs_name - 1);
    node->ifs_index = index;
    node->next = list;
    list = node;
  }
  const struct {
    const char* name;
    int index;  // 4 means "none"
  } byName[] = {{"en0", 7}, {"en1", 5}, {"EN0", 4}, {"en", 4}, {"en00", 4},
                {"abcdefghijklmno", 11}, {"abcdefghijklmnop", 4}, {nullptr, 4}};
  for (const auto& row : byName) {
    EXPECT_EQ(find_ifscope_id(list, row.name), row.index) << (row.name ? row.name : "null");
  }
  EXPECT_EQ(find_ifscope_id(nullptr, "en0"), 4);
  EXPECT_EQ(find_ifname(list, 7), list->next);  // the first of two en0
  EXPECT_EQ(find_ifname(list, 9), list->next->next);
  EXPECT_EQ(find_ifname(list, 4), nullptr);
  EXPECT_EQ(find_ifname(nullptr, 7), nullptr);
  free_ifs_info(list);
  free_ifs_info(nullptr);
}

}  // namespace
