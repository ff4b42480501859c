// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Bundle.h"

#include <gtest/gtest.h>

using omvara::util::Bundle;
using omvara::util::MissingResourceError;

TEST(Bundle, shippedBundle_readsTextsWithEscapesAndContinuations)
{
    const Bundle &b = Bundle::get("test.Sample");
    EXPECT_EQ(b.getString("greeting"), "Hello, world");
    EXPECT_EQ(b.getString(QString::fromUtf8("caf\xc3\xa9")), QString::fromUtf8("Caf\xc3\xa9 au lait"));
}

TEST(Bundle, missingKey_isAnErrorNamingBundleAndKey)
{
    const Bundle &b = Bundle::get("test.Sample");
    try {
        b.getString("no.such.key");
        FAIL() << "expected MissingResourceError";
    } catch (const MissingResourceError &e) {
        EXPECT_EQ(e.bundleName(), "test.Sample");
        EXPECT_EQ(e.key(), "no.such.key");
    }
    EXPECT_EQ(b.missingKeys({ "greeting", "no.such.key" }), QStringList { "no.such.key" });
}

TEST(Bundle, missingBundle_throws)
{
    EXPECT_THROW(Bundle::get("test.Absent"), MissingResourceError);
}

TEST(Bundle, install_replacesTextsUntilRestored)
{
    const QMap<QString, QString> damaged = { { "greeting", "Hi" } };
    Bundle::install("test.Sample", &damaged);
    EXPECT_EQ(Bundle::get("test.Sample").getString("greeting"), "Hi");
    Bundle::install("test.Sample", nullptr);
    EXPECT_EQ(Bundle::get("test.Sample").getString("greeting"), "Hello, world");
}
