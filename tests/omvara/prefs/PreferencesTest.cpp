// SPDX-License-Identifier: GPL-3.0-or-later
#include "PrefsTestSupport.h"

#include "omvara/prefs/FilePreferencesFactory.h"
#include "omvara/prefs/SettingsPreferences.h"

using omvara::prefs::BackingStoreError;
using omvara::prefs::FilePreferencesFactory;
using omvara::prefs::Preferences;
using omvara::prefs::PreferencesRefusedError;
using omvara::prefs::SettingsPreferencesFactory;
using omvara::prefs::testing::FileStoreTest;
using omvara::util::ProcessProperties;

namespace {

struct TypedCase
{
    const char *stored;
    int asInt; // with default -1
    int asBoolean; // 1 true, 0 false, -1 the default
};

class TypedReads : public FileStoreTest, public ::testing::WithParamInterface<TypedCase>
{
};

TEST_P(TypedReads, storedText_readsAsIntegerAndBooleanOrDefault)
{
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(QStringLiteral("/t"));
    node->put(QStringLiteral("k"), QString::fromUtf8(GetParam().stored));
    EXPECT_EQ(node->getInt(QStringLiteral("k"), -1), GetParam().asInt);
    const int expectedTrue = GetParam().asBoolean == -1 ? 1 : GetParam().asBoolean;
    const int expectedFalse = GetParam().asBoolean == -1 ? 0 : GetParam().asBoolean;
    EXPECT_EQ(int(node->getBoolean(QStringLiteral("k"), true)), expectedTrue);
    EXPECT_EQ(int(node->getBoolean(QStringLiteral("k"), false)), expectedFalse);
}

INSTANTIATE_TEST_SUITE_P(Texts, TypedReads,
    ::testing::Values(TypedCase { "7", 7, -1 }, TypedCase { "-12", -12, -1 }, TypedCase { "+3", 3, -1 },
        TypedCase { " 7", -1, -1 }, TypedCase { "7 ", -1, -1 }, TypedCase { "7.0", -1, -1 },
        TypedCase { "0x10", -1, -1 }, TypedCase { "2147483647", 2147483647, -1 },
        TypedCase { "2147483648", -1, -1 }, TypedCase { "", -1, -1 }, TypedCase { "-", -1, -1 },
        TypedCase { "true", -1, 1 }, TypedCase { "TRUE", -1, 1 }, TypedCase { "False", -1, 0 },
        TypedCase { "yes", -1, -1 }, TypedCase { "1", 1, -1 }));

TEST_F(FileStoreTest, put_refusesWhatTheTreeCannotHold_andWritesNothing)
{
    FilePreferencesFactory factory;
    Preferences *node = factory.userRoot()->node(QStringLiteral("/t"));
    EXPECT_NO_THROW(node->put(QString(80, u'k'), QString(8192, u'v')));
    const QByteArray before = fileBytes();
    EXPECT_THROW(node->put(QString(81, u'k'), QStringLiteral("v")), PreferencesRefusedError);
    EXPECT_THROW(node->put(QStringLiteral("k"), QString(8193, u'v')), PreferencesRefusedError);
    EXPECT_THROW(node->put(QString::fromUtf8("a\0b", 3), QStringLiteral("v")), PreferencesRefusedError);
    EXPECT_THROW(node->put(QStringLiteral("k"), QString::fromUtf8("a\0b", 3)), PreferencesRefusedError);
    EXPECT_EQ(fileBytes(), before);
}

TEST_F(FileStoreTest, node_refusesMalformedPaths)
{
    FilePreferencesFactory factory;
    Preferences *root = factory.userRoot();
    for (const QString &path : { QStringLiteral("/a//b"), QStringLiteral("/a/"), QStringLiteral("a//"),
             QStringLiteral("/") + QString(81, u'n') })
        EXPECT_THROW(root->node(path), PreferencesRefusedError) << path.toStdString();
    Preferences *b = root->node(QStringLiteral("/a/b"));
    EXPECT_EQ(b->absolutePath(), "/a/b");
    EXPECT_EQ(root->node(QStringLiteral("a"))->node(QStringLiteral("b")), b);
    EXPECT_EQ(b->node(QStringLiteral("/")), root);
    EXPECT_EQ(root->absolutePath(), "/");
    EXPECT_THROW(root->removeNode(), PreferencesRefusedError);
}

TEST(ProcessTree, factoryProperty_choosesTheBackend)
{
    ProcessProperties::set(Preferences::FACTORY_PROPERTY, FilePreferencesFactory::CLASS_NAME);
    Preferences::setFactory(nullptr);
    EXPECT_NE(dynamic_cast<FilePreferencesFactory *>(&Preferences::factory()), nullptr);

    ProcessProperties::set(Preferences::FACTORY_PROPERTY, QStringLiteral("no.such.Factory"));
    Preferences::setFactory(nullptr);
    EXPECT_THROW(Preferences::userRoot(), BackingStoreError);

    ProcessProperties::remove(Preferences::FACTORY_PROPERTY);
    Preferences::setFactory(nullptr);
}

// The per-user store, on a settings file in a private folder.
class SettingsStore : public ::testing::Test
{
protected:
    QString ini() const { return dir.filePath(QStringLiteral("Omvara.ini")); }
    QTemporaryDir dir;
};

TEST_F(SettingsStore, awkwardKeysAndNodeNames_surviveTheSettingsFile)
{
    const QList<QPair<QString, QString>> entries = {
        { "a/b", "slash" },
        { "a\\b", "backslash" },
        { "100%", "percent" },
        { "%2F", "looks encoded" },
        { "", "empty key" },
        { "%00", "looks empty" },
        { "General", "general" },
        { "with blank", " lead" },
        { QString::fromUtf8("\xd0\x96"), QString::fromUtf8("\xf0\x9f\x98\x80") },
        { "lines", "a\nb\r\n" },
        { "at", "@Variant(x)" },
        { "comma", "a,b" },
        { "semicolon", "a;b" },
        { "quote", "\"q\"" },
    };
    const QString node = QStringLiteral("/com/brindlecote/Omvara/odd%name\\x");
    {
        SettingsPreferencesFactory factory(ini());
        Preferences *n = factory.userRoot()->node(node);
        for (const auto &e : entries)
            n->put(e.first, e.second);
        n->flush();
    }
    SettingsPreferencesFactory next(ini());
    Preferences *n = next.userRoot()->node(node);
    QStringList expectedKeys;
    for (const auto &e : entries)
        expectedKeys << e.first;
    expectedKeys.sort();
    EXPECT_EQ(n->keys(), expectedKeys);
    for (const auto &e : entries)
        EXPECT_EQ(n->get(e.first, QStringLiteral("<absent>")), e.second) << e.first.toStdString();
    EXPECT_EQ(next.userRoot()->node(QStringLiteral("/com/brindlecote/Omvara"))->childrenNames(),
        QStringList({ "odd%name\\x" }));
}

TEST_F(SettingsStore, removeNode_removesTheNodeAndItsStoredChildren)
{
    {
        SettingsPreferencesFactory factory(ini());
        factory.userRoot()->node(QStringLiteral("/a"))->put(QStringLiteral("k"), QStringLiteral("1"));
        factory.userRoot()->node(QStringLiteral("/a/b"))->put(QStringLiteral("k"), QStringLiteral("2"));
        factory.userRoot()->node(QStringLiteral("/c"))->put(QStringLiteral("k"), QStringLiteral("3"));
        factory.userRoot()->flush();
    }
    {
        SettingsPreferencesFactory factory(ini());
        factory.userRoot()->node(QStringLiteral("/a"))->removeNode();
        factory.userRoot()->flush();
    }
    SettingsPreferencesFactory next(ini());
    EXPECT_EQ(next.userRoot()->childrenNames(), QStringList({ "c" }));
    EXPECT_TRUE(next.userRoot()->node(QStringLiteral("/a/b"))->keys().isEmpty());
}

TEST_F(SettingsStore, unwritableFile_failsFlush)
{
    QFile blocker(dir.filePath(QStringLiteral("file")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    SettingsPreferencesFactory factory(dir.filePath(QStringLiteral("file/Omvara.ini")));
    Preferences *n = factory.userRoot()->node(QStringLiteral("/com"));
    n->put(QStringLiteral("k"), QStringLiteral("v"));
    EXPECT_THROW(n->flush(), BackingStoreError);
    EXPECT_THROW(n->keys(), BackingStoreError);
}

} // namespace
