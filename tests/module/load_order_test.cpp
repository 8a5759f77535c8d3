// The order in which a library built with the module's load hooks runs the
// framework's pre-initialisation hook, its static initialisation, the entry
// and its exit processing, as the platform's loader drives them.
#include <gtest/gtest.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dlfcn.h>

#include <cstdlib>
#endif

#include <string>

#include "bmp_testing.h"

namespace {

TEST(LoadOrder, HookBeforeStaticInitialisationAndAfterExitProcessing) {
  bmptest::TempDir dir;
  const std::string log = dir.file("order.log");
#ifdef _WIN32
  ASSERT_TRUE(SetEnvironmentVariableA("BMPRESIZER_ORDER_LOG", log.c_str()));
  HMODULE probe = LoadLibraryA(ORDER_PROBE_LIBRARY);
  ASSERT_NE(probe, nullptr);
  EXPECT_TRUE(FreeLibrary(probe));
  SetEnvironmentVariableA("BMPRESIZER_ORDER_LOG", nullptr);
#else
  ASSERT_EQ(setenv("BMPRESIZER_ORDER_LOG", log.c_str(), 1), 0);
  void* probe = dlopen(ORDER_PROBE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(probe, nullptr) << dlerror();
  EXPECT_EQ(dlclose(probe), 0);
  unsetenv("BMPRESIZER_ORDER_LOG");
#endif
  const bmptest::Bytes bytes = bmptest::read_file(log);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
            "hook attach\n"
            "static initialisation\n"
            "entry attach\n"
            "entry detach\n"
            "exit processing\n"
            "hook detach\n");
}

}  // namespace
