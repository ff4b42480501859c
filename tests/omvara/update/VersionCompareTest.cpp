// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/update/ReadRemoteUpdate.h"
#include "omvara/util/ProcessProperties.h"

#include <gtest/gtest.h>

#include <optional>

using omvara::update::ReadRemoteUpdate;
using omvara::update::UpdateCheckError;
using omvara::util::ProcessProperties;

namespace {

std::string testName(const char *text)
{
    std::string n = text;
    for (char &ch : n)
        if (!isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return n;
}

struct VersionCase
{
    const char *name;
    QString current;
    QString remote;
    std::optional<bool> newer; // nullopt: the comparison fails
};

class NewerVersionAvailable : public testing::TestWithParam<VersionCase>
{
};

TEST_P(NewerVersionAvailable, comparesOrFails)
{
    const VersionCase &c = GetParam();
    if (c.newer) {
        EXPECT_EQ(ReadRemoteUpdate::newerVersionAvailable(c.current, c.remote), *c.newer);
    } else {
        EXPECT_THROW(ReadRemoteUpdate::newerVersionAvailable(c.current, c.remote), UpdateCheckError);
    }
}

const QString current = QStringLiteral("2016.2.3.4");

INSTANTIATE_TEST_SUITE_P(Cases, NewerVersionAvailable,
    testing::Values(
        // The documented examples.
        VersionCase { "later last part", current, "2016.2.3.5", true },
        VersionCase { "equal", current, "2016.2.3.4", false },
        VersionCase { "minor 10 beats 2 as a number", current, "2016.10.0.0", true },
        VersionCase { "older year", current, "2015.9.9.9", false },
        VersionCase { "plain 2017 fails on the dotted current", current, "2017", std::nullopt },
        // Each component decides in turn, compared as numbers.
        VersionCase { "later year", current, "2017.0.0.0", true },
        VersionCase { "later third", current, "2016.2.4.0", true },
        VersionCase { "older third", current, "2016.2.2.99", false },
        VersionCase { "older second despite higher rest", current, "2016.1.9.9", false },
        VersionCase { "last part 10 beats 4", current, "2016.2.3.10", true },
        VersionCase { "leading zeros are the same version", current, "2016.02.03.04", false },
        VersionCase { "older current", "2016.2.3.10", "2016.2.3.9", false },
        // Missing texts never announce anything.
        VersionCase { "empty remote", current, "", false },
        VersionCase { "empty current", "", "2016.2.3.5", false }, VersionCase { "both empty", "", "", false },
        // A remote with at most one point is read as a decimal number.
        VersionCase { "numbers newer", "2016", "2017", true },
        VersionCase { "numbers older", "2016.5", "2016.4", false },
        VersionCase { "numbers compare as decimals", "2016.9", "2016.10", false },
        VersionCase { "remote not a number", "2016", "latest", std::nullopt },
        // A dotted remote against a plain current counts as newer.
        VersionCase { "dotted remote plain current", "2016", "2016.2.3.5", true },
        // Malformed dotted versions fail instead of guessing.
        VersionCase { "three components", current, "2016.2.3", std::nullopt },
        VersionCase { "three components although first is newer", current, "2017.0.0", std::nullopt },
        VersionCase { "five components", current, "2016.2.3.4.1", std::nullopt },
        VersionCase { "letter in a component", current, "2016.2.x.4", std::nullopt },
        VersionCase { "suffix on the rest", current, "2016.2.3.5b", std::nullopt },
        VersionCase { "empty component", current, "2016..3.4", std::nullopt },
        VersionCase { "component too large", current, "99999999999999999999.0.0.0", std::nullopt },
        VersionCase { "malformed current", "2016.2.x.4", "2016.2.3.5", std::nullopt }),
    [](const testing::TestParamInfo<VersionCase> &info) { return testName(info.param.name); });

struct FindCase
{
    const char *name;
    QString content;
    QString tag;
    QString expected;
};

class FindXml : public testing::TestWithParam<FindCase>
{
};

TEST_P(FindXml, cutsTheElementText)
{
    const FindCase &c = GetParam();
    EXPECT_EQ(ReadRemoteUpdate::findXML(c.content, c.tag), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Cases, FindXml,
    testing::Values(
        FindCase { "plain", "<version2_en>2016.2.3.5</version2_en>", "version2_en", "2016.2.3.5" },
        FindCase { "among other elements",
            "<?xml version=\"1.0\"?><versions><version2_de>2099.0.0.0</version2_de>"
            "<version2_en>2016.2.3.5</version2_en><version2>1.0.0.0</version2></versions>",
            "version2_en", "2016.2.3.5" },
        FindCase { "without language", "<version2_en>9.9.9.9</version2_en><version2>2016.2.3.5</version2>",
            "version2", "2016.2.3.5" },
        FindCase { "longer name is another element",
            "<version2_eng>9.9.9.9</version2_eng><version2_en>1.2.3.4</version2_en>", "version2_en",
            "1.2.3.4" },
        FindCase { "first occurrence wins",
            "<version2_en>1.1.1.1</version2_en><version2_en>2.2.2.2</version2_en>", "version2_en",
            "1.1.1.1" },
        FindCase { "surrounding whitespace dropped", "<version2_en>\n   2016.2.3.5\r\n</version2_en>",
            "version2_en", "2016.2.3.5" },
        FindCase { "missing element", "<versions><version2_de>2099.0.0.0</version2_de></versions>",
            "version2_en", "" },
        FindCase { "no closing tag", "<version2_en>2016.2.3.5", "version2_en", "" },
        FindCase { "no opening tag", "2016.2.3.5</version2_en>", "version2_en", "" },
        FindCase { "closing before opening", "</version2_en><version2_en>2016.2.3.5", "version2_en", "" },
        FindCase { "stray closing tag first", "</version2_en><version2_en>2016.2.3.5</version2_en>",
            "version2_en", "" },
        FindCase { "empty element", "<version2_en></version2_en>", "version2_en", "" },
        FindCase { "empty content", "", "version2_en", "" }),
    [](const testing::TestParamInfo<FindCase> &info) { return testName(info.param.name); });

TEST(ReadRemoteUpdate, tag_isVersion2WithTheLanguage)
{
    EXPECT_EQ(ReadRemoteUpdate::tagFor("en"), "version2_en");
    EXPECT_EQ(ReadRemoteUpdate::tagFor(""), "version2");
    EXPECT_EQ(ReadRemoteUpdate("http://127.0.0.1:1/version.xml", "2016.2.3.4", "de").tag(), "version2_de");
}

TEST(ReadRemoteUpdate, versionFileUrl_isTheSecureProductSiteUnlessOverridden)
{
    ProcessProperties::reset();
    ProcessProperties::remove(ReadRemoteUpdate::URL_PROPERTY);
    const QString site = ReadRemoteUpdate::productSite();
    EXPECT_TRUE(site.startsWith("https://")) << site.toStdString();
    EXPECT_EQ(ReadRemoteUpdate::versionFileUrl(), site + "/version.xml");

    ProcessProperties::set(ReadRemoteUpdate::URL_PROPERTY, "  http://127.0.0.1:8080/v.xml ");
    EXPECT_EQ(ReadRemoteUpdate::versionFileUrl(), "http://127.0.0.1:8080/v.xml");

    ProcessProperties::set(ReadRemoteUpdate::URL_PROPERTY, " ");
    EXPECT_EQ(ReadRemoteUpdate::versionFileUrl(), site + "/version.xml");
    ProcessProperties::reset();
}

} // namespace
