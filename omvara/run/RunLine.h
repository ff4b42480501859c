// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDateTime>
#include <QString>

namespace omvara::run {

// What became of a received line.
enum class LineStatus {
    Pending, // its value is with the keyboard output, not typed yet
    Typed,
    Printed, // --print
    NoValue, // the line held no value
    Duplicate, // duplicate suppression took its value
    Held, // the settled-readings filter held it back
    NotTyped, // dropped at Stop, while Omvara had the focus, keyboard output failed
    Cut, // typing stopped part way (the focus moved, a second Stop): see typedPart
    // Typed with its terminator key, but without the characters the keyboard
    // could not type: what arrived is not the value (see typedPart)
    Incomplete,
    Error, // processing the line failed
    Overflow, // cut at the line-length limit
    Unsent, // a half line at the end of the run
};

// The status in the words of the record file ("typed", "not typed", ...).
QString statusText(LineStatus status);

// `time` in ISO 8601 with milliseconds and its offset from UTC, as the record
// file and the broker's messages give it: "2026-12-09T14:03:22.125+01:00".
QString isoTime(const QDateTime &time);

// Where the lines of a run come from: its connection, port and instrument
// (the instrument's name as stored). The run keeps it for as long as its
// lines may settle.
struct LineOrigin
{
    QString connection;
    QString port;
    QString instrument;
};

// One received line as the run saw it, whole or not.
struct RunLine
{
    qint64 seq = 0; // its place among all lines of the run, from 1
    qint32 count = 0; // the line's number as the view shows it; 0 for overflow and unsent data
    QDateTime time; // when it was completed (local time)
    QString raw; // the characters as they arrived
    QString value; // the processed value, before duplicate suppression; empty when none
    LineStatus status = LineStatus::Pending;
    QString note; // the error's text, why a value was not typed, or what a cut sent where
    QString typedPart {}; // Cut, Incomplete: the characters of the value that went out
    // What went out for the value, the stamps beside it included (typed,
    // printed, cut); empty when nothing did.
    QString typed {};
    QString window {}; // Cut: the window they went to, in words
    const LineOrigin *origin = nullptr; // set by the run

    bool settled() const { return status != LineStatus::Pending; }
};

} // namespace omvara::run
