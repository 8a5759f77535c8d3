// The application framework's stand-in on its own: what an extension
// module's load and unload rely on.
#include <gtest/gtest.h>

#include <vector>

#include "app_framework.h"

namespace {

std::vector<const AfwExtensionModule*> listed() {
  const AfwExtensionModule* modules[8] = {};
  const std::size_t count = afw_extension_libraries(modules, nullptr, 8);
  return std::vector<const AfwExtensionModule*>(modules, modules + (count < 8 ? count : 8));
}

// Each test starts with an empty state and list and leaves them so.
class Framework : public ::testing::Test {
 protected:
  void SetUp() override {
    *afw_current_module_state() = AfwModuleState{};
    ASSERT_EQ(afw_extension_libraries(nullptr, nullptr, 0), 0u);
  }
  void TearDown() override {
    AfwExtensionModule any{};
    afw_term_extension_module(&any, 1);
    *afw_current_module_state() = AfwModuleState{};
  }

  // What a module's pre-initialisation hook does.
  static void park_host_lists() {
    AfwModuleState* state = afw_current_module_state();
    state->saved_classes = state->classes;
    state->classes = nullptr;
    state->saved_factories = state->factories;
    state->factories = nullptr;
  }

  AfwRegistration host_class_{nullptr, "HostClass"};
  AfwRegistration host_factory_{nullptr, "HostFactory"};
  AfwRegistration module_class_{nullptr, "ModuleClass"};
  AfwRegistration module_factory_{nullptr, "ModuleFactory"};
  int instance_ = 0;  // its address stands for an instance handle
};

TEST_F(Framework, TheCurrentModuleStateIsOneForTheProcess) {
  EXPECT_NE(afw_current_module_state(), nullptr);
  EXPECT_EQ(afw_current_module_state(), afw_current_module_state());
}

TEST_F(Framework, InitialisationTakesTheModulesRegistrationsAndRestoresTheHosts) {
  AfwModuleState* state = afw_current_module_state();
  state->classes = &host_class_;
  state->factories = &host_factory_;
  park_host_lists();
  // The module's static initialisation registers into the emptied heads.
  state->classes = &module_class_;
  state->factories = &module_factory_;

  AfwExtensionModule record{};
  ASSERT_NE(afw_init_extension_module(&record, &instance_), 0);
  EXPECT_EQ(record.instance, &instance_);
  EXPECT_NE(record.initialized, 0);
  EXPECT_EQ(record.classes, &module_class_);
  EXPECT_EQ(record.factories, &module_factory_);
  EXPECT_EQ(state->classes, &host_class_);
  EXPECT_EQ(state->factories, &host_factory_);
  EXPECT_TRUE(listed().empty()) << "initialisation alone lists nothing";
}

TEST_F(Framework, ARefusedInitialisationLeavesTheRecordAndRestoresTheHosts) {
  AfwModuleState* state = afw_current_module_state();
  state->classes = &host_class_;
  state->factories = &host_factory_;
  park_host_lists();
  state->classes = &module_class_;

  afw_fail_next_init();
  AfwExtensionModule record{};
  EXPECT_EQ(afw_init_extension_module(&record, &instance_), 0);
  EXPECT_EQ(record.initialized, 0);
  EXPECT_EQ(record.instance, nullptr);
  EXPECT_EQ(record.classes, nullptr);
  EXPECT_EQ(state->classes, &host_class_);
  EXPECT_EQ(state->factories, &host_factory_);

  // The switch works once.
  park_host_lists();
  EXPECT_NE(afw_init_extension_module(&record, &instance_), 0);
}

TEST_F(Framework, AllocationFailsOnlyWhenToldTo) {
  void* first = afw_allocate(AFW_LIST_OBJECT_BYTES);
  ASSERT_NE(first, nullptr);
  afw_fail_next_allocation();
  EXPECT_EQ(afw_allocate(AFW_LIST_OBJECT_BYTES), nullptr);
  void* third = afw_allocate(AFW_LIST_OBJECT_BYTES);
  EXPECT_NE(third, nullptr);
  // Unused objects go back through a list object's termination.
  AfwExtensionModule record{};
  afw_construct_extension_library(first, &record, 0);
  afw_construct_extension_library(third, &record, 0);
  afw_term_extension_module(&record, 0);
  EXPECT_TRUE(listed().empty());
}

TEST_F(Framework, ListsLibrariesOldestFirstWithTheirFlags) {
  AfwExtensionModule a{}, b{};
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &a, 0);
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &b, 1);
  const AfwExtensionModule* modules[1] = {};
  int flags[1] = {-1};
  EXPECT_EQ(afw_extension_libraries(modules, flags, 1), 2u) << "counts beyond the capacity";
  EXPECT_EQ(modules[0], &a);
  EXPECT_EQ(flags[0], 0);
  const AfwExtensionModule* both[2] = {};
  int both_flags[2] = {-1, -1};
  ASSERT_EQ(afw_extension_libraries(both, both_flags, 2), 2u);
  EXPECT_EQ(both[1], &b);
  EXPECT_EQ(both_flags[1], 1);
}

// Termination with and without the all-modules flag.
struct Termination {
  const char* name;
  int all_modules;
  std::size_t left;  // of the three list objects: a, b, a
};

void PrintTo(const Termination& t, std::ostream* out) { *out << t.name; }

class TerminationTest : public Framework, public ::testing::WithParamInterface<Termination> {};

TEST_P(TerminationTest, TakesTheModulesListObjectsOff) {
  const Termination& t = GetParam();
  AfwExtensionModule a{}, b{};
  park_host_lists();
  ASSERT_NE(afw_init_extension_module(&a, &instance_), 0);
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &a, 0);
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &b, 0);
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &a, 0);

  afw_term_extension_module(&a, t.all_modules);
  const auto left = listed();
  ASSERT_EQ(left.size(), t.left) << t.name;
  for (const AfwExtensionModule* module : left) {
    EXPECT_EQ(module, &b) << t.name;
  }
  EXPECT_EQ(a.initialized, 0) << t.name << ": the record is back to zero";
  EXPECT_EQ(a.instance, nullptr) << t.name;
}

INSTANTIATE_TEST_SUITE_P(Flags, TerminationTest,
                         ::testing::Values(Termination{"this module only", 0, 1},
                                           Termination{"all modules", 1, 0}));

}  // namespace
