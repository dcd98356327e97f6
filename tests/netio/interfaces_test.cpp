// The interface table: the kernel's (name, index) pairs in its order, and
// the look-ups over a list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "env/TestEnv.h"
#include "netio/NetIO.h"
#include "tests/netio/DiscoveryLab.h"

namespace {

using discoverytest::Diagnostics;

struct Pair {
  std::string name;
  int index;
  bool operator==(const Pair& other) const { return name == other.name && index == other.index; }
};

std::vector<Pair> Pairs(const ifs_info* list) {
  std::vector<Pair> pairs;
  for (; list; list = list->next) pairs.push_back({list->ifs_name, list->ifs_index});
  return pairs;
}

// Nodes as get_ifs_info makes them, so free_ifs_info can release them.
ifs_info* Make(const std::vector<Pair>& pairs) {
  ifs_info* head = nullptr;
  ifs_info** tail = &head;
  for (const Pair& pair : pairs) {
    auto* node = static_cast<ifs_info*>(calloc(1, sizeof(ifs_info)));
    strncpy(node->ifs_name, pair.name.c_str(), sizeof node->ifs_name - 1);
    node->ifs_index = pair.index;
    *tail = node;
    tail = &node->next;
  }
  return head;
}

TEST(InterfaceTable, ListsTheKernelsInterfacesInItsOrder) {
  std::string why;
  REQUIRE_ENV(testenv::IsolateNetwork(&why), why);
  // veth registers the peer first: the kernel's order is not the names' order.
  const testenv::RunResult made =
      testenv::Run({"/bin/sh", "-c", "ip link add en0 type veth peer name en1"});
  REQUIRE_ENV(made.exitCode == 0, "cannot make a veth pair: " + made.err);

  Diagnostics diagnostics;
  ifs_info* list = get_ifs_info(0, 0);
  const std::vector<Pair> expected = {{"lo", 1}, {"en1", 2}, {"en0", 3}};
  EXPECT_EQ(Pairs(list), expected);
  EXPECT_EQ(diagnostics.Text(),
            "ifr_name: lo, scope id: 1\nifr_name: en1, scope id: 2\nifr_name: en0, scope id: 3\n");
  EXPECT_EQ(find_ifname(list, 3), list->next->next);
  EXPECT_EQ(find_ifscope_id(list, "en0"), 3);
  free_ifs_info(list);
}

TEST(InterfaceTable, LooksUpByIndexAndByExactName) {
  ifs_info* list = Make({{"en1", 5}, {"en0", 7}, {"en0", 9}, {"abcdefghijklmno", 11}});
  const struct {
    const char* name;
    int index;
  } byName[] = {
      {"en0", 7},  // the first of two
      {"en1", 5},
      {"EN0", 4},  // case matters; 4 means "none"
      {"en", 4},
      {"en00", 4},
      {"abcdefghijklmno", 11},
      {"abcdefghijklmnop", 4},  // longer than any name the table holds
  };
  for (const auto& row : byName) EXPECT_EQ(find_ifscope_id(list, row.name), row.index) << row.name;
  EXPECT_EQ(find_ifscope_id(list, nullptr), 4);
  EXPECT_EQ(find_ifscope_id(nullptr, "en0"), 4);

  EXPECT_EQ(find_ifname(list, 7), list->next);
  EXPECT_STREQ(find_ifname(list, 9)->ifs_name, "en0");
  EXPECT_EQ(find_ifname(list, 4), nullptr);
  EXPECT_EQ(find_ifname(nullptr, 7), nullptr);
  free_ifs_info(list);
  free_ifs_info(nullptr);
}

TEST(InterfaceTable, StartsWithTheDefaultZoneAndNoScope) {
  EXPECT_STREQ(g_ifsName, "%en0");
  EXPECT_EQ(scope_id, 0);
}

}  // namespace
