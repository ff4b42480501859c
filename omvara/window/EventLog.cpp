// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/EventLog.h"

#include <QAbstractScrollArea>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QMetaObject>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextBlock>
#include <QTextDocument>
#include <QThread>
#include <QTime>

#include <utility>

namespace omvara {

namespace {

QString clockText(const QTime &time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
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
    addStylesToDocument();
}

EventLog::~EventLog() = default;

void EventLog::addStylesToDocument()
{
    // "default": the pane's own font. The others differ in colour and weight so
    // that a typed value, a skipped part and an unrecognised line are told apart
    // at a glance, also without colour vision (weight, italics, background).
    QTextCharFormat base;
    base.setForeground(QBrush(QColor(0x20, 0x20, 0x20)));
    m_styles.insert(LogStyle::Default, base);

    QTextCharFormat regular = base;
    m_styles.insert(LogStyle::Regular, regular);

    QTextCharFormat important = base;
    important.setForeground(QBrush(QColor(0xB0, 0x00, 0x00)));
    important.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Important, important);

    QTextCharFormat unknown = base;
    unknown.setForeground(QBrush(QColor(0x9A, 0x4F, 0x00)));
    unknown.setFontItalic(true);
    m_styles.insert(LogStyle::Unknown, unknown);

    QTextCharFormat typed = base;
    typed.setForeground(QBrush(QColor(0x00, 0x55, 0x00)));
    typed.setBackground(QBrush(QColor(0xD8, 0xF5, 0xD0)));
    typed.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Typed, typed);

    QTextCharFormat ignored = base;
    ignored.setForeground(QBrush(QColor(0x80, 0x80, 0x80)));
    m_styles.insert(LogStyle::Ignored, ignored);

    QTextCharFormat value = base;
    value.setFontWeight(QFont::Bold);
    m_styles.insert(LogStyle::Value, value);

    QTextCharFormat notTyped = base;
    notTyped.setForeground(QBrush(QColor(0xB0, 0x00, 0x00)));
    notTyped.setFontItalic(true);
    m_styles.insert(LogStyle::NotTyped, notTyped);

    QTextCharFormat held = ignored;
    held.setFontItalic(true);
    m_styles.insert(LogStyle::Held, held);
}

QTextCharFormat EventLog::style(const QString &name) const
{
    return m_styles.value(name, m_styles.value(LogStyle::Default));
}

void EventLog::logEvent(const QString &text)
{
    enqueue(appended({{logEntryText(clockText(QTime::currentTime()), text), LogStyle::Regular}}));
}

void EventLog::logImportantEvent(const QString &text)
{
    enqueue(appended({{logEntryText(clockText(QTime::currentTime()), text), LogStyle::Important}}));
}

void EventLog::eventLogAppend(const QString &text, const QString &style)
{
    enqueue(appended({{text, style}}));
}

void EventLog::appendDataLine(const QDateTime &time, const QString &raw, const QString &value, qint32 line)
{
    enqueue(appended(dataLineSegments(clockText(time.time()), raw, value), line));
}

void EventLog::markDataLine(qint32 line, const QList<LogSegment> &mark, const QString &restyle)
{
    Entry entry = appended(mark, line);
    entry.mark = true;
    entry.restyle = restyle;
    enqueue(std::move(entry));
}

QString EventLog::legend()
{
    return QStringLiteral(
        "<p><b>How the log shows each received line</b></p>"
        "<p><span style='font-weight:bold'>12.34</span> the value in the received text<br>"
        "<span style='color:#005500;background:#d8f5d0;font-weight:bold'>&nbsp;\u2192 12,34&nbsp;</span> "
        "typed, as it was typed<br>"
        "<span style='color:#b00000;font-style:italic'>\u2298 not typed</span> "
        "a value that was not typed, and why<br>"
        "<span style='color:#b00000;font-style:italic'>\u2702 cut</span> "
        "a value typed only in part: how much went into which window<br>"
        "<span style='color:#808080;font-style:italic'>\u00b7 held</span> "
        "a reading held back until it settles<br>"
        "<span style='color:#9a4f00;font-style:italic'>brown italic</span> a line without a value<br>"
        "<span style='color:#808080'>grey</span> a repeated value that was not typed again<br>"
        "<span style='color:#b00000;font-weight:bold'>red</span> an error or warning</p>");
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
    for (const LogSegment &segment : entry.segments)
        cursor.insertText(segment.text, style(segment.style));
    // The entry's own block is the one before the empty block after its line feed.
    if (entry.line > 0) {
        QTextBlock block = m_document->lastBlock().previous();
        if (block.isValid())
            block.setUserState(entry.line);
    }
}

void EventLog::writeMark(const Entry &entry)
{
    // Marks come shortly after their lines: look back only so far.
    constexpr int Lookback = 5000;
    int looked = 0;
    for (QTextBlock block = m_document->lastBlock(); block.isValid() && looked < Lookback;
         block = block.previous(), ++looked) {
        if (block.userState() != entry.line)
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
