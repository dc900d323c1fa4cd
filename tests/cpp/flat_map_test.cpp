#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "support/hash.hpp"
#include "support/probe_index.hpp"

namespace vyrl {
namespace {

using Map = Registry<std::string>;
using Model = std::map<std::string, std::string>;

Model contents(const Map& map) { return Model(map.begin(), map.end()); }

// Every key the model holds must be found through the index, not just iterated.
void expect_same(const Map& map, const Model& model) {
  ASSERT_EQ(contents(map), model);
  for (const auto& [key, value] : model) {
    const auto found = map.find(key);
    ASSERT_NE(found, map.end()) << key;
    EXPECT_EQ(found->second, value);
  }
}

// Random operations over a small key space, so that keys collide, probe runs
// form and wrap around, and erasure has to close gaps inside them.
TEST(FlatMapTest, AgreesWithAnOrderedMapUnderRandomOperations) {
  std::mt19937 random(7);
  for (const std::size_t key_space : {4u, 9u, 60u, 3000u}) {
    SCOPED_TRACE(key_space);
    Map map;
    Model model;
    std::uniform_int_distribution<std::size_t> pick_key(0, key_space - 1);
    for (int step = 0; step < 20000; ++step) {
      const std::string key = std::to_string(pick_key(random)) + "k";
      const std::string value = std::to_string(step);
      switch (random() % 6) {
        case 0:
          map.insert_or_assign(key, value);
          model.insert_or_assign(key, value);
          break;
        case 1:
          EXPECT_EQ(map.try_emplace(std::string_view(key), value).second, model.try_emplace(key, value).second);
          break;
        case 2:
          EXPECT_EQ(map.erase(key), model.erase(key));
          break;
        case 3:
          if (const auto found = map.find(key); found != map.end()) {
            map.erase(found);
            model.erase(key);
          }
          break;
        case 4: {
          auto node = map.extract(key);
          ASSERT_EQ(node.empty(), !model.contains(key));
          if (node) {
            EXPECT_EQ(node.mapped(), model[key]);
          }
          model.erase(key);
          break;
        }
        default:
          map[key] += "+";
          model[key] += "+";
      }
      if (step % 997 == 0) expect_same(map, model);
    }
    expect_same(map, model);
  }
}

TEST(FlatMapTest, EraseWhileIteratingVisitsEveryEntry) {
  Map map;
  for (int i = 0; i < 100; ++i) map.emplace(std::to_string(i), std::to_string(i % 3));
  std::set<std::string> visited;
  for (auto it = map.begin(); it != map.end();) {
    visited.insert(it->first);
    it = it->second == "0" ? map.erase(it) : std::next(it);
  }
  EXPECT_EQ(visited.size(), 100u);
  EXPECT_EQ(map.size(), 66u);
  for (const auto& [key, value] : map) EXPECT_NE(value, "0") << key;
}

TEST(FlatMapTest, MergeMovesOnlyMissingKeys) {
  Map target{{"a", "mine"}, {"b", "mine"}};
  Map source{{"b", "theirs"}, {"c", "theirs"}, {"d", "theirs"}};
  target.merge(source);
  expect_same(target, {{"a", "mine"}, {"b", "mine"}, {"c", "theirs"}, {"d", "theirs"}});
  expect_same(source, {{"b", "theirs"}});
}

TEST(FlatMapTest, InsertingANodeKeepsThePresentEntry) {
  Map base{{"x", "base"}, {"y", "base"}};
  Map here{{"x", "here"}};
  auto taken = here.insert(base.extract("x"));
  EXPECT_FALSE(taken.inserted);
  ASSERT_TRUE(taken.node);
  EXPECT_EQ(taken.node.mapped(), "base");
  EXPECT_TRUE(here.insert(base.extract(base.find("y"))).inserted);
  EXPECT_TRUE(here.insert(base.extract("absent")).node.empty());
  expect_same(here, {{"x", "here"}, {"y", "base"}});
  EXPECT_TRUE(base.empty());
}

TEST(FlatMapTest, ComparesAndCopiesByContent) {
  Map a{{"1", "one"}, {"2", "two"}};
  Map b{{"2", "two"}, {"1", "one"}};
  EXPECT_EQ(a, b);
  Map copy = a;
  copy.at("1") = "uno";
  EXPECT_NE(a, copy);
  EXPECT_EQ(a.at("1"), "one");
  EXPECT_THROW((void)a.at("3"), std::out_of_range);
  a.clear();
  EXPECT_TRUE(a.empty());
  EXPECT_FALSE(a.contains("1"));
  a.emplace("1", "again");
  expect_same(a, {{"1", "again"}});
}

TEST(FlatSetTest, HoldsViewsAndOwnedNames) {
  const std::vector<std::string> texts{"alpha", "beta", "alpha", "gamma"};
  ViewSet views;
  std::vector<bool> inserted;
  for (const std::string& text : texts) inserted.push_back(views.insert(std::string_view(text)).second);
  EXPECT_EQ(inserted, (std::vector<bool>{true, true, false, true}));

  NameSet names{"gamma", "beta"};
  EXPECT_EQ(names.erase("beta"), 1u);
  EXPECT_EQ(names.erase("beta"), 0u);
  names.emplace(std::string_view("alpha"));
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), (std::set<std::string>{"alpha", "gamma"}));
  EXPECT_TRUE(names.contains("alpha"));
  EXPECT_FALSE(names.contains("alph"));
}


// The core alone, with hashes chosen to share their high bits, which choose
// the home, so that runs are long, and a quarter of them to start at the last
// slot, so that removal must pull members back across the wrap of the table.
// Some keys share a hash outright, so the key decides.
TEST(ProbeIndexTest, RemovalKeepsEveryOtherEntryReachable) {
  std::mt19937 random(7);
  std::vector<std::string> keys;
  std::vector<std::uint64_t> hashes;
  for (int i = 0; i < 200; ++i) {
    keys.push_back(std::to_string(i));
    hashes.push_back(random() % 4 == 0 ? 0xFFFFFFFFull : (std::uint64_t{random() % 16} << 28) | (i % 50));
  }
  ProbeIndex index;
  std::set<std::size_t> present;
  const auto key_at = [&](std::size_t position) { return std::string_view(keys[position]); };
  const auto fragment_at = [&](std::size_t position) { return ProbeIndex::fragment_of(hashes[position]); };
  for (int step = 0; step < 5000; ++step) {
    const std::size_t position = random() % keys.size();
    const std::uint32_t fragment = ProbeIndex::fragment_of(hashes[position]);
    if (present.contains(position)) {
      index.vacate(index.slot_of(fragment, position), fragment_at);
      present.erase(position);
    } else {
      index.reserve(present.size() + 1, fragment_at, keys.size());
      const auto probe = index.probe(fragment, keys[position], key_at);
      ASSERT_FALSE(probe.found);
      index.occupy(probe.slot, fragment, position);
      present.insert(position);
    }
    if (step % 500 == 0) index.rebuild(present.size(), fragment_at, keys.size());
    for (std::size_t p = 0; p < keys.size(); ++p) {
      const auto probe = index.probe(ProbeIndex::fragment_of(hashes[p]), keys[p], key_at);
      ASSERT_EQ(probe.found, present.contains(p)) << "step " << step << ", position " << p;
      if (probe.found) {
        ASSERT_EQ(probe.position, p);
      }
    }
  }
}

}  // namespace
}  // namespace vyrl
