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
}

QTextCharFormat EventLog::style(const QString &name) const
{
    return m_styles.value(name, m_styles.value(LogStyle::Default));
}

void EventLog::logEvent(const QString &text)
{
    enqueue({{logEntryText(clockText(QTime::currentTime()), text), LogStyle::Regular}});
}

void EventLog::logImportantEvent(const QString &text)
{
    enqueue({{logEntryText(clockText(QTime::currentTime()), text), LogStyle::Important}});
}

void EventLog::eventLogAppend(const QString &text, const QString &style)
{
    enqueue({{text, style}});
}

void EventLog::appendDataLine(const QDateTime &time, const QString &raw, const QString &value)
{
    enqueue(dataLineSegments(clockText(time.time()), raw, value));
}

void EventLog::enqueue(QList<LogSegment> entry)
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
    QList<QList<LogSegment>> entries;
    {
        std::lock_guard lock(m_mutex);
        entries.swap(m_pending);
        m_flushPosted = false;
    }
    if (entries.isEmpty())
        return;

    QScrollBar *bar = m_view ? m_view->verticalScrollBar() : nullptr;
    const bool atEnd = bar == nullptr || bar->value() >= bar->maximum();
    for (const auto &entry : std::as_const(entries))
        write(entry);
    if (bar && atEnd)
        bar->setValue(bar->maximum());
}

void EventLog::write(const QList<LogSegment> &entry)
{
    QTextCursor cursor(m_document);
    cursor.movePosition(QTextCursor::End);
    for (const LogSegment &segment : entry)
        cursor.insertText(segment.text, style(segment.style));
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
