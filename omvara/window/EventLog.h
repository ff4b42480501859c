// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "omvara/window/LogLineLayout.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>

#include <mutex>

class QAbstractScrollArea;
class QDateTime;
class QTextDocument;

namespace omvara {

// The window's event log: a read-only text pane with named styles.
//
// logEvent and logImportantEvent may be called from any thread (the
// reception and keyboard threads report through them). The entry is stamped
// with the time of the call, queued whole, and written into the document on
// the log's own (event) thread in the order the calls were made. Calls on
// the event thread are written at once, after anything still queued.
//
// The log keeps the most recent MaxLines lines; older ones are dropped from
// the top, so a long shift with a fast instrument does not slow the window
// down or use up memory.
class EventLog : public QObject
{
    Q_OBJECT

public:
    static constexpr int MaxLines = 100000;

    // `document` is the pane's document; `view` (optional) is scrolled along
    // with new entries while it shows the end of the log. Both must outlive
    // the EventLog. Create it on the event thread.
    EventLog(QTextDocument *document, QAbstractScrollArea *view = nullptr, QObject *parent = nullptr);
    ~EventLog() override;

    // "HH:mm:ss text" in style "regular" / "important". Any thread.
    // `connection`: the connection the entry is about (none: the program).
    void logEvent(const QString &text, const QString &connection = {});
    void logImportantEvent(const QString &text, const QString &connection = {});
    // Appends `text` in the named style (unknown names use "default"). Any thread.
    void eventLogAppend(const QString &text, const QString &style);
    // One received line, time-stamped with `time`, laid out as
    // dataLineSegments() says; `line` is its count, by which markDataLine
    // finds it. Any thread.
    void appendDataLine(const QDateTime &time, const QString &raw, const QString &value, qint32 line = 0,
        const QString &connection = {});
    // Appends `mark` to the end of the most recent data line `line` of
    // `connection` and, with a `restyle`, shows that whole line in that
    // style. Nothing when the line is no longer held. Any thread; after the
    // line's appendDataLine.
    void markDataLine(qint32 line, const QList<LogSegment> &mark, const QString &restyle = {},
        const QString &connection = {});

    // With several connections each entry about one begins with its name in
    // brackets ("[balance-1] "); with one, entries are as they always were.
    // Event thread.
    void setConnectionsMarked(bool marked) { m_marked = marked; }
    // Shows only the entries about `connection` and those about the whole
    // program; empty: all entries. Event thread.
    void showOnly(const QString &connection);
    const QString &shownConnection() const { return m_shownOnly; }

    // What the styles and marks of the log mean (the log tab's tooltip).
    QString legend() const;

    // The colours follow this palette (at first the view's, and the view's
    // whenever it changes); what is written already is recoloured. Event thread.
    void setPalette(const QPalette &palette);

    // The format of a named style (tests, and panes that want to match it).
    QTextCharFormat style(const QString &name) const;
    // Writes everything queued so far. Event thread.
    void flush();
    // Lines currently held (a finished entry counts once).
    int lineCount() const;
    // Number of lines kept; tests lower it. Event thread.
    void setMaxLines(int lines);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The style's name, kept in each piece of text so that a new palette can recolour it.
    static constexpr int StyleProperty = QTextFormat::UserProperty + 1;
    void addStylesToDocument();
    // An entry to append (line > 0: a data line), or a mark for data line `line`.
    struct Entry
    {
        QList<LogSegment> segments;
        qint32 line = 0;
        bool mark = false;
        QString connection;
        QString restyle;
    };
    static Entry appended(QList<LogSegment> segments, qint32 line = 0);
    void enqueue(Entry entry);
    void write(const Entry &entry);
    void writeMark(const Entry &entry);

    QTextDocument *m_document;
    QPointer<QAbstractScrollArea> m_view;
    QHash<QString, QTextCharFormat> m_styles;
    QPalette m_palette;
    bool m_marked = false;
    QString m_shownOnly;

    std::mutex m_mutex; // guards m_pending and m_flushPosted
    QList<Entry> m_pending;
    bool m_flushPosted = false;
};

} // namespace omvara
