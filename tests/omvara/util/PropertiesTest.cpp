// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/util/Properties.h"

#include <gtest/gtest.h>

using omvara::util::Properties;

namespace {

struct ParseCase
{
    const char *name;
    QByteArray text;
    QString key;
    QString value;
};

class PropertiesParse : public testing::TestWithParam<ParseCase>
{
};

TEST_P(PropertiesParse, readsTheClassicConventions)
{
    const ParseCase &c = GetParam();
    const auto map = Properties::parse(c.text);
    ASSERT_TRUE(map.contains(c.key)) << c.name;
    EXPECT_EQ(map.value(c.key), c.value) << c.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, PropertiesParse,
    testing::Values(ParseCase { "equals", "a=b\n", "a", "b" }, ParseCase { "colon", "a:b\n", "a", "b" },
        ParseCase { "blank separator", "a   b\n", "a", "b" },
        ParseCase { "blanks around", "  a = b c \n", "a", "b c " },
        ParseCase { "empty value", "a=\n", "a", "" }, ParseCase { "key only", "a\n", "a", "" },
        ParseCase { "escaped separator in key", "a\\=b\\:c\\ d=e\n", "a=b:c d", "e" },
        ParseCase { "latin1 byte", "k=caf\xe9\n", "k", QString::fromUtf8("caf\xc3\xa9") },
        ParseCase { "unicode escape", "k=\\u0416\\u00e9\n", "k", QString::fromUtf8("\xd0\x96\xc3\xa9") },
        ParseCase { "continuation", "k=one \\\n    two\n", "k", "one two" },
        ParseCase { "continuation crlf", "k=one\\\r\n two\r\n", "k", "onetwo" },
        ParseCase { "double backslash ends no line", "k=a\\\\\nb=c\n", "k", "a\\" },
        ParseCase { "bang comment", "!k=1\nk=2\n", "k", "2" },
        ParseCase { "hash comment", "# k=1\nk=2\n", "k", "2" },
        ParseCase { "control escapes", "k=\\t\\n\\r\\f\n", "k", "\t\n\r\f" },
        ParseCase { "bad unicode escape kept", "k=\\u12\n", "k", "\\u12" },
        ParseCase { "last wins", "k=1\nk=2\n", "k", "2" }, ParseCase { "no final newline", "k=v", "k", "v" }),
    [](const testing::TestParamInfo<ParseCase> &info) {
        std::string n = info.param.name;
        for (char &ch : n)
            if (!isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        return n;
    });

TEST(Properties, serialize_awkwardKeysAndValues_readBackUnchanged)
{
    const QList<Properties::Entry> entries = {
        { "plain", "value" },
        { "with blank", " leading and trailing " },
        { "a=b:c#d!e\\f", "x=y:z#!\\" },
        { "lines", "one\ntwo\r\nthree\t" },
        { QString::fromUtf8("\xd0\x96\xe2\x82\xac"), QString::fromUtf8("\xf0\x9f\x98\x80 \xc3\xa9") },
        { "#notacomment", "!neither" },
        { "", "empty key" },
    };
    const QByteArray text = Properties::serialize(entries, "FilePreferences");
    EXPECT_TRUE(text.startsWith("#FilePreferences\n"));
    for (char ch : text)
        EXPECT_TRUE(ch == '\n' || (ch >= 0x20 && ch <= 0x7e)) << "non-ASCII byte in output";
    const auto back = Properties::parseEntries(text);
    EXPECT_EQ(back, entries);
}

} // namespace
