// SPDX-License-Identifier: GPL-3.0-or-later
// The list of connections above the tabs.
#pragma once

#include <QHash>
#include <QStringList>
#include <QWidget>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace omvara {

// The connections of the window, one row each with its name, what it is
// doing and its last typed value, and the buttons that add, rename,
// duplicate and remove them and start or stop them all. The tabs below edit
// the selected connection. With one connection the panel is hidden and only
// soloAddButton (which the window puts on its Start/Stop tab) offers to add
// one: the window looks as it did before connections existed.
//
// A view: the buttons only ask (signals); the window does the work and
// shows the result (showConnections, showState). Event thread.
class ConnectionsPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ConnectionsPanel(QWidget *parent = nullptr);

    // The rows, in order, with row `selected` selected. The states shown
    // stay with their names.
    void showConnections(const QStringList &names, int selected);
    // What connection `name` is doing ("running", ...) and its last value.
    void showState(const QString &name, const QString &state, const QString &lastValue);
    // Whether connection `name` runs: the buttons that cannot act on a
    // running connection are disabled while it is selected.
    void setRunning(const QString &name, bool running);
    int selectedRow() const;
    QString stateText(const QString &name) const { return m_states.value(name).state; }
    QString lastValue(const QString &name) const { return m_states.value(name).value; }

    // These member names are text keys (see RadezoZiDadFrame2.h).
    QLabel *connectionLabel;
    QTreeWidget *connectionList;
    QPushButton *addConnectionButton;
    QPushButton *renameConnectionButton;
    QPushButton *duplicateConnectionButton;
    QPushButton *removeConnectionButton;
    QPushButton *startAllButton;
    QPushButton *stopAllButton;
    // Add, while there is one connection (not in the panel's layout).
    QPushButton *soloAddButton;

Q_SIGNALS:
    // The user selected row `row`.
    void rowSelected(int row);
    void addRequested();
    void renameRequested();
    void duplicateRequested();
    void removeRequested();
    void startAllRequested();
    void stopAllRequested();

private:
    struct Shown
    {
        QString state;
        QString value;
        bool running = false;
    };
    void showRow(int row);
    void showButtons();

    QStringList m_names;
    QHash<QString, Shown> m_states;
    bool m_filling = false;
};

} // namespace omvara
