// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/ConnectionsPanel.h"

#include "omvara/window/FrameControls.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace omvara {

namespace {

QPushButton *makeButton(const char *member, QWidget *parent)
{
    return FrameControls::named(new QPushButton(FrameControls::text(member), parent), member);
}

} // namespace

ConnectionsPanel::ConnectionsPanel(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("connectionsPanel"));
    connectionList = FrameControls::named(new QTreeWidget(this), "connectionList");
    connectionList->setColumnCount(3);
    connectionList->setHeaderLabels({ FrameControls::text("connectionList", "nameColumn"),
        FrameControls::text("connectionList", "stateColumn"),
        FrameControls::text("connectionList", "valueColumn") });
    connectionList->setAccessibleName(FrameControls::text("connectionLabel"));
    connectionList->setRootIsDecorated(false);
    connectionList->setUniformRowHeights(true);
    connectionList->setSelectionMode(QAbstractItemView::SingleSelection);
    connectionList->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connectionList->header()->setStretchLastSection(true);
    // A few rows; the tabs keep the room.
    connectionList->setMaximumHeight(connectionList->fontMetrics().height() * 6);
    connectionList->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    connectionLabel = FrameControls::label("connectionLabel", connectionList, this);
    addConnectionButton = makeButton("addConnectionButton", this);
    renameConnectionButton = makeButton("renameConnectionButton", this);
    duplicateConnectionButton = makeButton("duplicateConnectionButton", this);
    removeConnectionButton = makeButton("removeConnectionButton", this);
    startAllButton = makeButton("startAllButton", this);
    stopAllButton = makeButton("stopAllButton", this);
    soloAddButton = makeButton("addConnectionButton", this);
    soloAddButton->setObjectName(QStringLiteral("soloAddButton"));

    auto *buttons = new QHBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->addWidget(connectionLabel);
    buttons->addWidget(addConnectionButton);
    buttons->addWidget(renameConnectionButton);
    buttons->addWidget(duplicateConnectionButton);
    buttons->addWidget(removeConnectionButton);
    buttons->addStretch(1);
    buttons->addWidget(startAllButton);
    buttons->addWidget(stopAllButton);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->addWidget(connectionList);
    column->addLayout(buttons);

    connect(connectionList, &QTreeWidget::currentItemChanged, this, [this] {
        if (!m_filling && selectedRow() >= 0)
            Q_EMIT rowSelected(selectedRow());
        showButtons();
    });
    connect(addConnectionButton, &QPushButton::clicked, this, &ConnectionsPanel::addRequested);
    connect(soloAddButton, &QPushButton::clicked, this, &ConnectionsPanel::addRequested);
    connect(renameConnectionButton, &QPushButton::clicked, this, &ConnectionsPanel::renameRequested);
    connect(duplicateConnectionButton, &QPushButton::clicked, this, &ConnectionsPanel::duplicateRequested);
    connect(removeConnectionButton, &QPushButton::clicked, this, &ConnectionsPanel::removeRequested);
    connect(startAllButton, &QPushButton::clicked, this, &ConnectionsPanel::startAllRequested);
    connect(stopAllButton, &QPushButton::clicked, this, &ConnectionsPanel::stopAllRequested);
    showConnections({}, -1);
}

void ConnectionsPanel::showConnections(const QStringList &names, int selected)
{
    m_filling = true;
    if (names == m_names && names.size() == connectionList->topLevelItemCount()) {
        // The same rows (also while the list tells of a selection): only the selection.
        if (selected >= 0 && selected < names.size())
            connectionList->setCurrentItem(connectionList->topLevelItem(selected));
        m_filling = false;
        showButtons();
        return;
    }
    m_names = names;
    connectionList->clear();
    for (int row = 0; row < names.size(); ++row) {
        new QTreeWidgetItem(connectionList);
        showRow(row);
    }
    if (selected >= 0 && selected < names.size())
        connectionList->setCurrentItem(connectionList->topLevelItem(selected));
    m_filling = false;
    // One connection: the window as it always was, with a way to add one.
    const bool several = names.size() > 1;
    setVisible(several);
    soloAddButton->setVisible(!several);
    showButtons();
}

void ConnectionsPanel::showState(const QString &name, const QString &state, const QString &lastValue)
{
    Shown &shown = m_states[name];
    shown.state = state;
    shown.value = lastValue;
    const int row = int(m_names.indexOf(name));
    if (row >= 0)
        showRow(row);
}

void ConnectionsPanel::setRunning(const QString &name, bool running)
{
    m_states[name].running = running;
    showButtons();
}

int ConnectionsPanel::selectedRow() const
{
    QTreeWidgetItem *item = connectionList->currentItem();
    return item ? connectionList->indexOfTopLevelItem(item) : (m_names.size() == 1 ? 0 : -1);
}

void ConnectionsPanel::showRow(int row)
{
    QTreeWidgetItem *item = connectionList->topLevelItem(row);
    if (!item)
        return;
    const QString &name = m_names.at(row);
    const Shown shown = m_states.value(name);
    item->setText(0, name);
    item->setText(1, shown.state);
    item->setText(2, shown.value);
}

void ConnectionsPanel::showButtons()
{
    const int row = selectedRow();
    const bool running = row >= 0 && m_states.value(m_names.value(row)).running;
    // A running connection keeps its name; the first one is always there.
    renameConnectionButton->setEnabled(row >= 0 && !running);
    removeConnectionButton->setEnabled(row > 0 && !running);
    duplicateConnectionButton->setEnabled(row >= 0);
}

} // namespace omvara
