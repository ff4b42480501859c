// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/TraySupport.h"

#include "omvara/util/Bundle.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace omvara {

namespace {

const QString TrayCaption = QStringLiteral("Omvara");

class SystemTrayIcon : public TrayIcon
{
public:
    explicit SystemTrayIcon(const QIcon &icons)
    {
        m_icon.setIcon(icons);
        m_icon.setToolTip(TrayCaption);
    }
    void show() override { m_icon.show(); }
    void hide() override { m_icon.hide(); }
    bool isVisible() const override { return m_icon.isVisible(); }
    void showMessage(const QString &caption, const QString &text) override
    {
        m_icon.showMessage(caption, text, QSystemTrayIcon::Information);
    }
    void setActivated(std::function<void()> onDoubleClick) override
    {
        QObject::connect(&m_icon, &QSystemTrayIcon::activated, &m_icon,
            [onDoubleClick](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick)
                    onDoubleClick();
            });
    }

    void setMenu(const QList<MenuEntry> &entries) override
    {
        if (!m_menu) {
            m_menu = std::make_unique<QMenu>();
            m_icon.setContextMenu(m_menu.get());
        }
        m_menu->clear();
        for (const MenuEntry &entry : entries) {
            QAction *action = m_menu->addAction(entry.text);
            action->setVisible(entry.visible);
            // After the menu has closed: an entry may rebuild the menu.
            QObject::connect(
                action, &QAction::triggered, m_menu.get(),
                [run = entry.action] {
                    if (run)
                        run();
                },
                Qt::QueuedConnection);
        }
    }
    void setToolTip(const QString &text) override { m_icon.setToolTip(text); }

private:
    std::unique_ptr<QMenu> m_menu; // before the icon, which refers to it
    QSystemTrayIcon m_icon;
};

} // namespace

TraySupport::TraySupport(QWidget *window, const QIcon &icons, std::function<bool()> notify,
    std::unique_ptr<TrayIcon> icon, QObject *parent)
    : QObject(parent)
    , m_window(window)
    , m_notify(std::move(notify))
    , m_icon(icon ? std::move(icon) : std::make_unique<SystemTrayIcon>(icons))
{
    m_icon->setActivated([this] { restoreFromTray(); });
    m_window->installEventFilter(this);
}

TraySupport::~TraySupport()
{
    if (m_window)
        m_window->removeEventFilter(this);
    m_icon->hide();
}

bool TraySupport::trayAvailable()
{
    return QSystemTrayIcon::isSystemTrayAvailable();
}

int TraySupport::iconSizeFor(int width)
{
    if (width <= 16)
        return 16;
    if (width <= 20)
        return 20;
    if (width <= 24)
        return 24;
    return 32;
}

QString TraySupport::balloonText()
{
    return util::Bundle::get(QStringLiteral("omvara.Omvara"))
        .getString(QStringLiteral("minimized.to.system.tray"));
}

void TraySupport::restoreFromTray()
{
    if (!m_window)
        return;
    m_window->showNormal();
    m_window->raise();
    m_window->activateWindow();
}

bool TraySupport::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange && watched == m_window)
        windowStateChanged();
    return QObject::eventFilter(watched, event);
}

void TraySupport::windowStateChanged()
{
    if (m_window->windowState() & Qt::WindowMinimized) {
        m_icon->show();
        // Hiding inside the state change would fight the window manager's
        // own handling of the iconify; do it right after.
        QTimer::singleShot(0, m_window, [window = m_window] {
            if (window && (window->windowState() & Qt::WindowMinimized))
                window->hide();
        });
        if (m_notify && m_notify())
            m_icon->showMessage(TrayCaption, balloonText());
    } else {
        m_icon->hide();
        m_window->setVisible(true);
    }
}

} // namespace omvara
