// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsTestSupport.h"

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/PreferencesXml.h"

#include <QBuffer>

using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::InvalidPreferencesFormatError;
using omvara::prefs::Preferences;
using omvara::prefs::PreferencesRefusedError;
using omvara::prefs::PreferencesXml;
using omvara::prefs::testing::FileStoreTest;

namespace {

const QString NODE = QStringLiteral("/com/brindlecote/Omvara");

QByteArray readResource(const QString &name)
{
    QFile f(QStringLiteral(OMVARA_PREFS_TEST_DATA "/") + name);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

QByteArray exportOf(Preferences *node)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    node->exportNode(buffer);
    return buffer.data();
}

void importInto(FilePreferencesFactory &factory, const QByteArray &document)
{
    PreferencesXml::apply(PreferencesXml::parse(document), *factory.userRoot(), *factory.systemRoot());
}

TEST_F(FileStoreTest, export_writesTheStandardDocumentWithOnlyTheNodesOwnKeys)
{
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(NODE);
    node->put(QStringLiteral("port"), QStringLiteral("COM4"));
    node->putInt(QStringLiteral("bitRate"), 4);
    node->putBoolean(QStringLiteral("ignoreDuplicates"), true);
    factory.userRoot()->node(NODE + "/child")->put(QStringLiteral("hidden"), QStringLiteral("x"));
    factory.userRoot()->node(QStringLiteral("/com"))->put(QStringLiteral("above"), QStringLiteral("y"));

    const QByteArray expected = R"(<?xml version="1.0" encoding="UTF-8" standalone="no"?>
<!DOCTYPE preferences SYSTEM "http://java.sun.com/dtd/preferences.dtd">
<preferences EXTERNAL_XML_VERSION="1.0">
  <root type="user">
    <map/>
    <node name="com">
      <map/>
      <node name="brindlecote">
        <map/>
        <node name="Omvara">
          <map>
            <entry key="bitRate" value="4"/>
            <entry key="ignoreDuplicates" value="true"/>
            <entry key="port" value="COM4"/>
          </map>
        </node>
      </node>
    </node>
  </root>
</preferences>
)";
    EXPECT_EQ(exportOf(node), expected);
}

TEST_F(FileStoreTest, importOfTheSampleExport_yieldsItsValues)
{
    FilePreferencesFactory factory;
    importInto(factory, readResource(QStringLiteral("Omvara.xml")));
    Preferences *node = factory.userRoot()->node(NODE);
    EXPECT_EQ(node->keys().size(), 31);
    EXPECT_EQ(node->get("port", {}), "COM4");
    EXPECT_EQ(node->get("instrument", {}), "SARTORIUS");
    EXPECT_EQ(node->getInt("bitRate", -1), 4);
    EXPECT_EQ(node->getInt("inputTerminator", -1), 10);
    EXPECT_EQ(node->get("decimalSeparator", {}), "COMMA");
    EXPECT_EQ(node->get("mathOperand", {}), "1000");
    EXPECT_EQ(node->get("editNumCharacters", "absent"), "");
    EXPECT_EQ(node->get("ignoreDifference", {}), "0.5");
    EXPECT_TRUE(node->getBoolean("ignoreDuplicates", false));
    EXPECT_FALSE(node->getBoolean("minimizeToTray", true));

    // The entries went to the file through the node's own writes.
    FilePreferencesFactory next;
    EXPECT_EQ(next.userRoot()->node(NODE)->get("removeCharacters", {}), "kg");
}

TEST_F(FileStoreTest, exportThenImport_roundTripsAwkwardText)
{
    const QList<QPair<QString, QString>> entries = {
        { "quotes", "\"double\" 'single'" },
        { "markup", "<a href=\"x\">&amp;</a> &lt;" },
        { "lines", "one\ntwo\r\nthree\tfour" },
        { "blanks", "  lead and trail  " },
        { "nonLatin", QString::fromUtf8("\xd0\x96 \xe9\x87\x8d \xf0\x9f\x98\x80") },
        { "empty", "" },
        { "key with = and :", "v" },
    };
    QByteArray document;
    {
        FilePreferencesFactory factory;
        Preferences *node = factory.userRoot()->node(NODE);
        for (const auto &e : entries)
            node->put(e.first, e.second);
        document = exportOf(node);
    }
    useFile(dir.filePath(QStringLiteral("other.txt")));
    FilePreferencesFactory fresh;
    importInto(fresh, document);
    Preferences *node = fresh.userRoot()->node(NODE);
    EXPECT_EQ(node->keys().size(), entries.size());
    for (const auto &e : entries)
        EXPECT_EQ(node->get(e.first, QStringLiteral("<absent>")), e.second) << e.first.toStdString();
}

TEST_F(FileStoreTest, export_ofTextXmlCannotHold_isRefusedBeforeWriting)
{
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(NODE);
    node->put(QStringLiteral("bell"), QStringLiteral("a\x07z")); // version 1.1 carries this one
    node->put(QStringLiteral("notACharacter"), QString::fromUtf16(u"a\uffffz"));
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    EXPECT_THROW(node->exportNode(buffer), PreferencesRefusedError);
    EXPECT_TRUE(buffer.data().isEmpty());
}

struct AcceptedCase
{
    const char *name;
    QByteArray document;
};

class XmlAccepted : public ::testing::TestWithParam<AcceptedCase>
{
};

TEST_P(XmlAccepted, documentIsRead)
{
    const PreferencesXml::Document d = PreferencesXml::parse(GetParam().document);
    ASSERT_EQ(d.root.children.size(), 1);
    const PreferencesXml::Node &com = d.root.children[0];
    EXPECT_EQ(com.name, "com");
    ASSERT_EQ(com.children.size(), 1);
    ASSERT_EQ(com.children[0].entries.size(), 1);
    EXPECT_EQ(com.children[0].name, "x");
    EXPECT_EQ(com.children[0].entries[0], (PreferencesXml::Entry { "k", "a&b\n<c>" }));
}

INSTANTIATE_TEST_SUITE_P(Forms, XmlAccepted,
    ::testing::Values(
        AcceptedCase { "noDoctype",
            R"(<?xml version="1.0"?><preferences EXTERNAL_XML_VERSION="1.0"><root type="user"><map/><node name="com"><map/><node name="x"><map><entry key="k" value="a&amp;b&#10;&lt;c&gt;"/></map></node></node></root></preferences>)" },
        AcceptedCase { "noDeclarationNoVersion",
            R"(<preferences><root type="user"><node name="com"><node name="x"><map><entry value="a&amp;b&#10;&lt;c&gt;" key="k"/></map></node></node></root></preferences>)" },
        AcceptedCase { "otherWhitespaceQuotesComments",
            "<?xml version='1.0' encoding='UTF-8'?>\r\n<!DOCTYPE preferences SYSTEM "
            "'http://java.sun.com/dtd/preferences.dtd'>\n"
            "<!-- exported elsewhere -->\n<preferences\n\tEXTERNAL_XML_VERSION = '1.0' "
            ">\n<root\ttype='user'>\n\n"
            "<map />\n<node name='com'>\n<map></map>\n<node   name=\"x\">\n<map>\n\t\t<entry   "
            "value='a&amp;b&#x0A;&lt;c>'\n key='k' />\n"
            "</map></node></node></root></preferences>\n" },
        AcceptedCase { "version11",
            "\xEF\xBB\xBF<?xml version=\"1.1\" encoding=\"utf-8\"?><preferences><root type=\"user\"><node "
            "name=\"com\">"
            "<!-- &#x1; --><node name=\"x\"><map><entry key=\"k\" "
            "value=\"a&amp;b&#x0A;&lt;c&gt;\"/></map></node></node></root></preferences>" },
        AcceptedCase { "olderFormatVersion",
            R"(<preferences EXTERNAL_XML_VERSION="0.9"><root type="user"><node name="com"><node name="x"><map><entry key="k" value="a&amp;b&#10;&lt;c&gt;"/></map></node></node></root></preferences>)" }),
    [](const ::testing::TestParamInfo<AcceptedCase> &info) { return std::string(info.param.name); });

TEST_F(FileStoreTest, import_entriesForOtherNodes_goWhereTheDocumentSays)
{
    FilePreferencesFactory factory;
    importInto(factory, R"(<preferences EXTERNAL_XML_VERSION="1.0"><root type="user">
        <map><entry key="atRoot" value="1"/></map>
        <node name="com"><map/>
          <node name="brindlecote"><map><entry key="vendor" value="2"/></map>
            <node name="Omvara"><map><entry key="port" value="COM2"/></map></node>
            <node name="Other"><map><entry key="port" value="COM9"/></map></node>
          </node>
        </node></root></preferences>)");
    EXPECT_EQ(factory.userRoot()->get("atRoot", {}), "1");
    EXPECT_EQ(factory.userRoot()->node("/com/brindlecote")->get("vendor", {}), "2");
    EXPECT_EQ(factory.userRoot()->node(NODE)->get("port", {}), "COM2");
    EXPECT_EQ(factory.userRoot()->node("/com/brindlecote/Other")->get("port", {}), "COM9");
    QStringList lines = entryLines();
    lines.sort();
    EXPECT_EQ(lines,
        QStringList({ "atRoot=1", "com.brindlecote.Omvara.port=COM2", "com.brindlecote.Other.port=COM9",
            "com.brindlecote.vendor=2" }));
}

struct RefusedCase
{
    const char *name;
    QByteArray document;
};

class XmlRefused : public FileStoreTest, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(XmlRefused, documentFailsCleanly_andChangesNothing)
{
    const QByteArray before = "#FilePreferences\ncom.brindlecote.Omvara.port=COM4\n";
    writeFile(before);
    FilePreferencesFactory factory;
    try {
        importInto(factory, GetParam().document);
        FAIL() << "the document was accepted";
    } catch (const InvalidPreferencesFormatError &e) {
        EXPECT_FALSE(e.message().isEmpty());
    }
    EXPECT_EQ(fileBytes(), before);
    EXPECT_EQ(factory.userRoot()->node(NODE)->keys(), QStringList({ "port" }));
}

const QByteArray GOOD_START
    = R"(<preferences EXTERNAL_XML_VERSION="1.0"><root type="user"><node name="com"><node name="brindlecote"><node name="Omvara"><map><entry key="port" value="COM1"/>)";

INSTANTIATE_TEST_SUITE_P(Documents, XmlRefused,
    ::testing::Values(RefusedCase { "empty", "" }, RefusedCase { "notXml", "port=COM1\n" },
        RefusedCase { "truncated", GOOD_START },
        RefusedCase { "mismatchedTags", GOOD_START + "</node></map></node></node></root></preferences>" },
        RefusedCase { "billionLaughs",
            "<?xml version=\"1.0\"?>\n<!DOCTYPE preferences [\n"
            " <!ENTITY a \"lol\">\n <!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">\n"
            " <!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\">\n <!ENTITY d "
            "\"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">\n"
            " <!ENTITY e \"&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;\">\n <!ENTITY f "
            "\"&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;\">\n"
            " <!ENTITY g \"&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;\">\n <!ENTITY h "
            "\"&g;&g;&g;&g;&g;&g;&g;&g;&g;&g;\">\n"
            " <!ENTITY i \"&h;&h;&h;&h;&h;&h;&h;&h;&h;&h;\">\n]>\n"
            "<preferences><root type=\"user\"><node name=\"com\"><map><entry key=\"k\" "
            "value=\"&i;\"/></map></node></root></preferences>" },
        RefusedCase { "externalEntity",
            "<!DOCTYPE preferences [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
            "<preferences><root type=\"user\"><node name=\"com\"><map><entry key=\"k\" "
            "value=\"v\"/></map>&x;</node></root></preferences>" },
        RefusedCase { "undeclaredEntityInText",
            "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"
            "<preferences><root type=\"user\"><node name=\"com\">&x;<map/></node></root></preferences>" },
        RefusedCase { "undeclaredEntityInValue",
            "<!DOCTYPE preferences SYSTEM \"http://java.sun.com/dtd/preferences.dtd\">"
            "<preferences><root type=\"user\"><node name=\"com\"><map><entry key=\"k\" "
            "value=\"&x;\"/></map></node></root></preferences>" },
        RefusedCase { "otherDocumentElement", "<settings><root type=\"user\"/></settings>" },
        RefusedCase { "noRoot", "<preferences EXTERNAL_XML_VERSION=\"1.0\"></preferences>" },
        RefusedCase {
            "unknownElement", GOOD_START + "<extra/></map></node></node></node></root></preferences>" },
        RefusedCase { "entryWithoutValue",
            GOOD_START + "<entry key=\"x\"/></map></node></node></node></root></preferences>" },
        RefusedCase {
            "nodeWithoutName", "<preferences><root type=\"user\"><node><map/></node></root></preferences>" },
        RefusedCase { "nodeNameWithSlash",
            "<preferences><root type=\"user\"><node name=\"a/b\"><map/></node></root></preferences>" },
        RefusedCase { "keyTooLong",
            GOOD_START + "<entry key=\"" + QByteArray(81, 'k')
                + "\" value=\"v\"/></map></node></node></node></root></preferences>" },
        RefusedCase { "text", GOOD_START + "stray text</map></node></node></node></root></preferences>" },
        RefusedCase { "newerFormat",
            "<preferences EXTERNAL_XML_VERSION=\"2.0\"><root type=\"user\"><map/></root></preferences>" },
        RefusedCase { "unknownRootType", "<preferences><root type=\"group\"><map/></root></preferences>" },
        RefusedCase { "twoRoots",
            "<preferences><root type=\"user\"><map/></root><root type=\"user\"><map/></root></preferences>" },
        RefusedCase { "controlCharacterInVersion10",
            GOOD_START
                + "<entry key=\"x\" value=\"&#x2;\"/></map></node></node></node></root></preferences>" },
        RefusedCase { "version11InLatin1",
            "<?xml version=\"1.1\" encoding=\"ISO-8859-1\"?>" + GOOD_START
                + "</map></node></node></node></root></preferences>" },
        RefusedCase { "version11LiteralC1Control",
            "<?xml version=\"1.1\"?>" + GOOD_START
                + "<entry key=\"x\" value=\"\xC2\x9B\"/></map></node></node></node></root></preferences>" },
        RefusedCase { "version11Nul",
            "<?xml version=\"1.1\"?>" + GOOD_START
                + "<entry key=\"x\" value=\"&#x0;\"/></map></node></node></node></root></preferences>" },
        RefusedCase { "trailingGarbage",
            GOOD_START + "</map></node></node></node></root></preferences><preferences/>" }),
    [](const ::testing::TestParamInfo<RefusedCase> &info) { return std::string(info.param.name); });

TEST(PreferencesXml, deeplyNestedDocument_isRefused)
{
    QByteArray doc = "<preferences><root type=\"user\">";
    for (int i = 0; i < 200; ++i)
        doc += "<node name=\"n\">";
    for (int i = 0; i < 200; ++i)
        doc += "</node>";
    doc += "</root></preferences>";
    EXPECT_THROW(PreferencesXml::parse(doc), InvalidPreferencesFormatError);
}

} // namespace
