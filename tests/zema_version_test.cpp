// Tests of the version functions: the loaded library reports the version of
// the headers it was built with, as text and as numbers, and a program built
// against the same headers finds it compatible.
#include "atm/zema/zema_version.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ZemaVersionTest, LoadedLibraryReportsTheHeadersVersion) {
  EXPECT_STREQ(zema_version(), ZEMA_VERSION_STRING);
  int major = -1;
  int minor = -1;
  int patch = -1;
  zema_version_numbers(&major, &minor, &patch);
  EXPECT_EQ(major, ZEMA_VERSION_MAJOR);
  EXPECT_EQ(minor, ZEMA_VERSION_MINOR);
  EXPECT_EQ(patch, ZEMA_VERSION_PATCH);
  EXPECT_EQ(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch),
            zema_version());
}

TEST(ZemaVersionTest, NumbersSkipNullPointersAndMatchingHeadersAreCompatible) {
  int minor = -1;
  zema_version_numbers(nullptr, &minor, nullptr);
  EXPECT_EQ(minor, ZEMA_VERSION_MINOR);
  EXPECT_TRUE(zema_loaded_version_is_compatible());
  // A program compiled against other headers judges by its own numbers.
  EXPECT_FALSE(zema_loaded_version_is_compatible(ZEMA_VERSION_MAJOR, ZEMA_VERSION_MINOR + 1));
  EXPECT_FALSE(zema_loaded_version_is_compatible(ZEMA_VERSION_MAJOR + 1, 0));
  EXPECT_TRUE(zema_loaded_version_is_compatible(ZEMA_VERSION_MAJOR, 0));
}

}  // namespace
