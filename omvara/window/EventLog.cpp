// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/EventLog.h"

#include "omvara/window/Contrast.h"

#include <QAbstractScrollArea>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>
#include <QThread>
#include <QTime>

#include <utility>

namespace omvara {

namespace {

QString clockText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

// The connection an entry's blocks are about.
class ConnectionTag : public QTextBlockUserData
{
public:
    explicit ConnectionTag(QString name)
        : name(std::move(name))
    {
    }
    const QString name;
};

QString connectionOf(const QTextBlock &block)
{
    const auto *tag = dynamic_cast<const ConnectionTag *>(block.userData());
    return tag ? tag->name : QString();
}

} // namespace

EventLog::Entry EventLog::appended(QList<LogSegment> segments, qint32 line)
{
    Entry entry;
    entry.segments = std::move(segments);
    entry.line = line;
    return entry;
}

EventLog::EventLog(QTextDocument *document, QAbstractScrollArea *view, QObject *parent)
    : QObject(parent)
    , m_document(document)
    , m_view(view)
{
    m_document->setUndoRedoEnabled(false);
    setMaxLines(MaxLines);
    m_palette = view ? view->palette() : QGuiApplication::palette();
    addStylesToDocument();
    if (view)
        view->installEventFilter(this);
}

EventLog::~EventLog() = default;

void EventLog::addStylesToDocument()
{
    // "default": the pane's own font and text colour. The others differ in
    // colour and weight so that a typed value, a skipped part and an
    // unrecognised line are told apart at a glance, also without colour
    // vision (weight, italics, background). Each colour is the light or dark
    // theme's choice, then checked against the background it is shown on, so
    // that every mark stays readable on any palette.
    const bool dark = isDark(m_palette);
    const QColor base = m_palette.color(QPalette::Base);
    const QColor text = readableOn(m_palette.color(QPalette::Text), base);
    const auto styled = [](const QString &name, QTextCharFormat format) {
        format.setProperty(StyleProperty, name);
        return format;
    };
    const auto on = [&](QColor light, QColor darkColour) {
        return QBrush(readableOn(dark ? darkColour : light, base));
    };

    QTextCharFormat plain;
    plain.setForeground(QBrush(text));
    m_styles.insert(LogStyle::Default, styled(LogStyle::Default, plain));
    m_styles.insert(LogStyle::Regular, styled(LogStyle::Regular, plain));

    QTextCharFormat important = plain;
    important.setForeground(on(QColor(0xB0, 0x00, 0x00), QColor(0xFF, 0x7A, 0x7A)));
    important.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Important, styled(LogStyle::Important, important));

    QTextCharFormat unknown = plain;
    unknown.setForeground(on(QColor(0x9A, 0x4F, 0x00), QColor(0xF0, 0xB0, 0x60)));
    unknown.setFontItalic(true);
    m_styles.insert(LogStyle::Unknown, styled(LogStyle::Unknown, unknown));

    QTextCharFormat typed = plain;
    const QColor typedBackground = dark ? QColor(0x1E, 0x4A, 0x22) : QColor(0xD8, 0xF5, 0xD0);
    typed.setForeground(
        QBrush(readableOn(dark ? QColor(0xC8, 0xFF, 0xC0) : QColor(0x00, 0x55, 0x00), typedBackground)));
    typed.setBackground(QBrush(typedBackground));
    typed.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Typed, styled(LogStyle::Typed, typed));

    QTextCharFormat ignored = plain;
    ignored.setForeground(on(QColor(0x70, 0x70, 0x70), QColor(0xA0, 0xA0, 0xA0)));
    m_styles.insert(LogStyle::Ignored, styled(LogStyle::Ignored, ignored));

    QTextCharFormat value = plain;
    value.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Value, styled(LogStyle::Value, value));

    QTextCharFormat notTyped = plain;
    notTyped.setForeground(important.foreground());
    notTyped.setFontItalic(true);
    m_styles.insert(LogStyle::NotTyped, styled(LogStyle::NotTyped, notTyped));

    QTextCharFormat held = ignored;
    held.setFontItalic(true);
    m_styles.insert(LogStyle::Held, styled(LogStyle::Held, held));
}

void EventLog::setPalette(const QPalette &palette)
{
    m_palette = palette;
    addStylesToDocument();
    // What is already written takes the new colours too.
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            const QString name = fragment.charFormat().property(StyleProperty).toString();
            if (!fragment.isValid() || name.isEmpty())
                continue;
            QTextCursor cursor(m_document);
            cursor.setPosition(fragment.position());
            cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
            cursor.setCharFormat(style(name));
        }
    }
}

bool EventLog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::PaletteChange && m_view && watched == m_view.data())
        setPalette(m_view->palette());
    return QObject::eventFilter(watched, event);
}

QTextCharFormat EventLog::style(const QString &name) const
{
    return m_styles.value(name, m_styles.value(LogStyle::Default));
}

void EventLog::logEvent(const QString &text, const QString &connection)
{
    Entry entry = appended({ { logEntryText(clockText(QTime::currentTime()), text), LogStyle::Regular } });
    entry.connection = connection;
    enqueue(std::move(entry));
}

void EventLog::logImportantEvent(const QString &text, const QString &connection)
{
    Entry entry = appended({ { logEntryText(clockText(QTime::currentTime()), text), LogStyle::Important } });
    entry.connection = connection;
    enqueue(std::move(entry));
}

void EventLog::eventLogAppend(const QString &text, const QString &style)
{
    enqueue(appended({ { text, style } }));
}

void EventLog::appendDataLine(
    const QDateTime &time, const QString &raw, const QString &value, qint32 line, const QString &connection)
{
    Entry entry = appended(dataLineSegments(clockText(time.time()), raw, value), line);
    entry.connection = connection;
    enqueue(std::move(entry));
}

void EventLog::markDataLine(
    qint32 line, const QList<LogSegment> &mark, const QString &restyle, const QString &connection)
{
    Entry entry = appended(mark, line);
    entry.mark = true;
    entry.restyle = restyle;
    entry.connection = connection;
    enqueue(std::move(entry));
}

void EventLog::showOnly(const QString &connection)
{
    flush();
    m_shownOnly = connection;
    for (QTextBlock block = m_document->begin(); block.isValid(); block = block.next()) {
        const QString about = connectionOf(block);
        block.setVisible(connection.isEmpty() || about.isEmpty() || about == connection);
    }
    m_document->markContentsDirty(0, m_document->characterCount());
}

QString EventLog::legend() const
{
    // In the log's own colours, made readable on the tooltip's background.
    const QColor tipBase = QGuiApplication::palette().color(QPalette::ToolTipBase);
    const auto colour = [&](const QString &name, QPalette::ColorRole role = QPalette::NoRole) {
        const QTextCharFormat format = style(name);
        QColor c = role == QPalette::NoRole ? format.foreground().color() : format.background().color();
        if (role == QPalette::NoRole && format.background().style() == Qt::NoBrush)
            c = readableOn(c, tipBase);
        return c.name();
    };
    const QString typedStyle = QStringLiteral("color:%1;background:%2;font-weight:bold")
                                   .arg(colour(LogStyle::Typed), colour(LogStyle::Typed, QPalette::Base));
    return QStringLiteral(
        "<p><b>How the log shows each received line</b></p>"
        "<p><span style='font-weight:bold'>12.34</span> the value in the received text<br>"
        "<span style='%1'>&nbsp;\u2192 12,34&nbsp;</span> typed, as it was typed<br>"
        "<span style='color:%2;font-style:italic'>\u2298 not typed</span> "
        "a value that was not typed, and why<br>"
        "<span style='color:%2;font-style:italic'>\u2702 cut</span> "
        "a value typed only in part: how much went into which window<br>"
        "<span style='color:%3;font-style:italic'>\u00b7 held</span> "
        "a reading held back until it settles<br>"
        "<span style='color:%4;font-style:italic'>brown italic</span> a line without a value<br>"
        "<span style='color:%3'>grey</span> a repeated value that was not typed again<br>"
        "<span style='color:%5;font-weight:bold'>red</span> an error or warning</p>")
        .arg(typedStyle, colour(LogStyle::NotTyped), colour(LogStyle::Ignored), colour(LogStyle::Unknown),
            colour(LogStyle::Important));
}

void EventLog::enqueue(Entry entry)
{
    bool post = false;
    {
        std::lock_guard lock(m_mutex);
        m_pending.append(std::move(entry));
        if (!m_flushPosted) {
            m_flushPosted = true;
            post = true;
        }
    }
    if (QThread::currentThread() == thread()) {
        flush();
    } else if (post) {
        QMetaObject::invokeMethod(this, &EventLog::flush, Qt::QueuedConnection);
    }
}

void EventLog::flush()
{
    QList<Entry> entries;
    {
        std::lock_guard lock(m_mutex);
        entries.swap(m_pending);
        m_flushPosted = false;
    }
    if (entries.isEmpty())
        return;

    QScrollBar *bar = m_view ? m_view->verticalScrollBar() : nullptr;
    const bool atEnd = bar == nullptr || bar->value() >= bar->maximum();
    for (const auto &entry : std::as_const(entries)) {
        if (entry.mark)
            writeMark(entry);
        else
            write(entry);
    }
    if (bar && atEnd)
        bar->setValue(bar->maximum());
}

void EventLog::write(const Entry &entry)
{
    QTextCursor cursor(m_document);
    cursor.movePosition(QTextCursor::End);
    const int first = cursor.block().blockNumber();
    if (m_marked && !entry.connection.isEmpty())
        cursor.insertText(
            QLatin1Char('[') + entry.connection + QStringLiteral("] "), style(LogStyle::Regular));
    for (const LogSegment &segment : entry.segments)
        cursor.insertText(segment.text, style(segment.style));
    // The entry's own block is the one before the empty block after its line feed.
    if (entry.line > 0) {
        QTextBlock block = m_document->lastBlock().previous();
        if (block.isValid())
            block.setUserState(entry.line);
    }
    // Every block of the entry knows its connection (the filter, the marks).
    if (!entry.connection.isEmpty()) {
        const bool shown = m_shownOnly.isEmpty() || m_shownOnly == entry.connection;
        for (QTextBlock block = m_document->findBlockByNumber(first);
             block.isValid() && block != m_document->lastBlock(); block = block.next()) {
            block.setUserData(new ConnectionTag(entry.connection));
            if (!shown) {
                block.setVisible(false);
                m_document->markContentsDirty(block.position(), block.length());
            }
        }
    }
}

void EventLog::writeMark(const Entry &entry)
{
    // Marks come shortly after their lines: look back only so far.
    constexpr int Lookback = 5000;
    int looked = 0;
    for (QTextBlock block = m_document->lastBlock(); block.isValid() && looked < Lookback;
         block = block.previous(), ++looked) {
        if (block.userState() != entry.line || connectionOf(block) != entry.connection)
            continue;
        QTextCursor cursor(block);
        if (!entry.restyle.isEmpty()) {
            cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
            cursor.setCharFormat(style(entry.restyle));
        }
        cursor.movePosition(QTextCursor::EndOfBlock);
        for (const LogSegment &segment : entry.segments)
            cursor.insertText(segment.text, style(segment.style));
        block.setUserState(-1); // marked once
        return;
    }
}

int EventLog::lineCount() const
{
    // The document always ends with the empty block after the last line feed.
    const int blocks = m_document->blockCount();
    return m_document->lastBlock().text().isEmpty() ? blocks - 1 : blocks;
}

void EventLog::setMaxLines(int lines)
{
    // One block more for the empty block after the last line feed.
    m_document->setMaximumBlockCount(lines + 1);
}

} // namespace omvara
