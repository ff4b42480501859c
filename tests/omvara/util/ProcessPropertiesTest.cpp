// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/ProcessProperties.h"

#include <gtest/gtest.h>

#include <cstdlib>

using omvara::util::ProcessProperties;

TEST(ProcessProperties, unsetProperty_fallsBackToEnvironmentThenDefault)
{
    ProcessProperties::reset();
    ::setenv("OMVARA_TEST_PROP", "/dev/pts/7", 1);
    EXPECT_EQ(ProcessProperties::get("OMVARA_TEST_PROP"), "/dev/pts/7");
    ::unsetenv("OMVARA_TEST_PROP");
    EXPECT_FALSE(ProcessProperties::contains("OMVARA_TEST_PROP"));
    EXPECT_EQ(ProcessProperties::get("OMVARA_TEST_PROP", "fallback"), "fallback");
}

TEST(ProcessProperties, setAndRemove_overrideTheEnvironment)
{
    ProcessProperties::reset();
    ::setenv("OMVARA_TEST_PROP2", "env", 1);
    ProcessProperties::set("OMVARA_TEST_PROP2", "set");
    EXPECT_EQ(ProcessProperties::get("OMVARA_TEST_PROP2"), "set");
    ProcessProperties::remove("OMVARA_TEST_PROP2");
    EXPECT_FALSE(ProcessProperties::contains("OMVARA_TEST_PROP2"));
    ::unsetenv("OMVARA_TEST_PROP2");
}

TEST(ProcessProperties, dottedNames_areNeverReadFromTheEnvironment)
{
    ProcessProperties::reset();
    EXPECT_FALSE(ProcessProperties::contains("omvara.prefs.FilePreferencesFactory.file"));
    ProcessProperties::set("omvara.prefs.FilePreferencesFactory.file", "/tmp/p.txt");
    EXPECT_EQ(ProcessProperties::get("omvara.prefs.FilePreferencesFactory.file"), "/tmp/p.txt");
    ProcessProperties::reset();
}
