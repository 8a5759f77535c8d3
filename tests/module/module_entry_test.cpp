// The module's entry called directly, as the platform loader would, with the
// framework's stand-in answering: the test program holds its own copy of the
// module and its record.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app_framework.h"
#include "module_entry.h"

namespace {

using bmpresizer::module::kProcessAttach;
using bmpresizer::module::kProcessDetach;
using bmpresizer::module::kThreadAttach;
using bmpresizer::module::kThreadDetach;
using bmpresizer::module::module_entry;
using bmpresizer::module::module_record;
using bmpresizer::module::pre_initialisation_hook;

std::vector<const AfwExtensionModule*> listed() {
  const AfwExtensionModule* modules[8] = {};
  const std::size_t count = afw_extension_libraries(modules, nullptr, 8);
  return std::vector<const AfwExtensionModule*>(modules, modules + (count < 8 ? count : 8));
}

int instance_marker = 0;
void* const kInstance = &instance_marker;

// A host with its own registrations, which no load or unload may change.
class ModuleEntry : public ::testing::Test {
 protected:
  void SetUp() override {
    host_classes_[0].next = &host_classes_[1];
    AfwModuleState* state = afw_current_module_state();
    *state = AfwModuleState{};
    state->classes = &host_classes_[0];
    state->factories = &host_factory_;
    ASSERT_TRUE(listed().empty());
  }
  void TearDown() override {
    AfwExtensionModule any{};
    afw_term_extension_module(&any, 1);
  }

  // The loader's attach: hook, (nothing to initialise statically), entry.
  int attach() {
    if (pre_initialisation_hook(kInstance, kProcessAttach, nullptr) == 0) {
      return 0;
    }
    return module_entry(kInstance, kProcessAttach, nullptr);
  }
  // The loader's detach: entry, (no exit processing), hook.
  int detach() {
    const int result = module_entry(kInstance, kProcessDetach, nullptr);
    EXPECT_EQ(pre_initialisation_hook(kInstance, kProcessDetach, nullptr), 1);
    return result;
  }

  void expect_host_registrations_intact(const std::string& when) {
    const AfwModuleState* state = afw_current_module_state();
    EXPECT_EQ(state->classes, &host_classes_[0]) << when;
    EXPECT_EQ(host_classes_[0].next, &host_classes_[1]) << when;
    EXPECT_EQ(host_classes_[1].next, nullptr) << when;
    EXPECT_EQ(state->factories, &host_factory_) << when;
    EXPECT_EQ(host_factory_.next, nullptr) << when;
  }

  AfwRegistration host_classes_[2] = {{nullptr, "HostView"}, {nullptr, "HostDoc"}};
  AfwRegistration host_factory_{nullptr, "HostFactory"};
};

TEST_F(ModuleEntry, TheRecordIsZeroBeforeTheFirstAttach) {
  const AfwExtensionModule& record = module_record();
  EXPECT_EQ(record.initialized, 0);
  EXPECT_EQ(record.instance, nullptr);
  EXPECT_EQ(record.classes, nullptr);
  EXPECT_EQ(record.factories, nullptr);
}

TEST_F(ModuleEntry, TheHookParksTheHostsListsAndEmptiesTheLiveHeads) {
  ASSERT_EQ(pre_initialisation_hook(kInstance, kProcessAttach, nullptr), 1);
  const AfwModuleState* state = afw_current_module_state();
  EXPECT_EQ(state->classes, nullptr);
  EXPECT_EQ(state->factories, nullptr);
  EXPECT_EQ(state->saved_classes, &host_classes_[0]);
  EXPECT_EQ(state->saved_factories, &host_factory_);
  // Detach's call does nothing.
  const AfwModuleState before = *state;
  EXPECT_EQ(pre_initialisation_hook(kInstance, kProcessDetach, nullptr), 1);
  EXPECT_EQ(state->classes, before.classes);
  EXPECT_EQ(state->saved_classes, before.saved_classes);
  EXPECT_EQ(state->factories, before.factories);
  EXPECT_EQ(state->saved_factories, before.saved_factories);
  // Put the host's lists back as initialisation would.
  ASSERT_NE(module_entry(kInstance, kProcessAttach, nullptr), 0);
  expect_host_registrations_intact("after the attach");
  EXPECT_EQ(detach(), 1);
}

// Attach then detach, with the framework answering in each way it can.
struct Lifecycle {
  const char* name;
  bool refuse_init;
  bool refuse_allocation;
  int want_attach;     // the entry's result on process attach
  std::size_t listed;  // list objects bound to the record while attached
  int want_initialized;
};

void PrintTo(const Lifecycle& c, std::ostream* out) { *out << c.name; }

class LifecycleTest : public ModuleEntry, public ::testing::WithParamInterface<Lifecycle> {};

TEST_P(LifecycleTest, AttachThenDetach) {
  const Lifecycle& c = GetParam();
  // Another extension library, loaded before: the module's detach must leave
  // it listed.
  AfwExtensionModule other{};
  afw_construct_extension_library(afw_allocate(AFW_LIST_OBJECT_BYTES), &other, 0);
  if (c.refuse_init) {
    afw_fail_next_init();
  }
  if (c.refuse_allocation) {
    afw_fail_next_allocation();
  }
  // What the module registers during its static initialisation, between the
  // hook and the entry, is the module's, not the host's.
  AfwRegistration module_class{nullptr, "ModuleClass"};
  ASSERT_EQ(pre_initialisation_hook(kInstance, kProcessAttach, nullptr), 1);
  afw_current_module_state()->classes = &module_class;
  EXPECT_EQ(module_entry(kInstance, kProcessAttach, nullptr), c.want_attach) << c.name;
  expect_host_registrations_intact(std::string(c.name) + ", attached");
  const auto attached = listed();
  ASSERT_EQ(attached.size(), 1 + c.listed) << c.name;
  EXPECT_EQ(attached[0], &other) << c.name;
  for (std::size_t i = 1; i < attached.size(); ++i) {
    EXPECT_EQ(attached[i], &module_record()) << c.name;
  }
  EXPECT_EQ(module_record().initialized != 0, c.want_initialized != 0) << c.name;
  if (c.want_initialized != 0) {
    EXPECT_EQ(module_record().instance, kInstance) << c.name;
    EXPECT_EQ(module_record().classes, &module_class) << c.name;
  }

  // Threads come and go: nothing changes.
  EXPECT_EQ(module_entry(kInstance, kThreadAttach, nullptr), 1) << c.name;
  EXPECT_EQ(module_entry(kInstance, kThreadDetach, nullptr), 1) << c.name;
  EXPECT_EQ(listed(), attached) << c.name;
  expect_host_registrations_intact(std::string(c.name) + ", after threads");

  EXPECT_EQ(detach(), 1) << c.name;
  EXPECT_EQ(listed(), std::vector<const AfwExtensionModule*>{&other}) << c.name;
  expect_host_registrations_intact(std::string(c.name) + ", detached");
  EXPECT_EQ(module_record().initialized, 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Framework, LifecycleTest,
    ::testing::Values(Lifecycle{"registered", false, false, 1, 1, 1},
                      Lifecycle{"initialisation refused: the load fails", true, false, 0, 0, 0},
                      Lifecycle{"no memory for the list object: loads unlisted", false, true, 1, 0,
                                1}),
    [](const ::testing::TestParamInfo<Lifecycle>& param) {
      return std::string(param.index == 0   ? "Registered"
                         : param.index == 1 ? "InitRefused"
                                            : "NoListObject");
    });

TEST_F(ModuleEntry, LoadsAgainAfterAnUnload) {
  for (int round = 0; round < 3; ++round) {
    ASSERT_EQ(attach(), 1) << "round " << round;
    EXPECT_EQ(listed().size(), 1u) << "round " << round;
    EXPECT_EQ(detach(), 1) << "round " << round;
    EXPECT_TRUE(listed().empty()) << "round " << round;
  }
  expect_host_registrations_intact("after three rounds");
}

TEST_F(ModuleEntry, UnknownReasonsDoNothing) {
  EXPECT_EQ(module_entry(kInstance, 7, nullptr), 1);
  EXPECT_TRUE(listed().empty());
  expect_host_registrations_intact("after reason 7");
}

}  // namespace
