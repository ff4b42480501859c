// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QWidget;

namespace omvara {

// The platform's tray icon as the window needs it. The real one is a
// QSystemTrayIcon (StatusNotifierItem or XEmbed tray, whichever the desktop
// offers); tests use their own.
class TrayIcon
{
public:
    virtual ~TrayIcon() = default;
    virtual void show() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    virtual void showMessage(const QString &caption, const QString &text) = 0;
    // Called on a double click on the icon.
    virtual void setActivated(std::function<void()> onDoubleClick) = 0;
    // One entry of the icon's menu.
    struct MenuEntry
    {
        QString text;
        bool visible = true;
        std::function<void()> action;
    };
    // Replaces the icon's menu with `entries`, in their order.
    virtual void setMenu(const QList<MenuEntry> &entries) { }
    // The text shown when the pointer rests on the icon.
    virtual void setToolTip(const QString &text) { }
};

// Minimising to the system tray: while installed, iconifying the window puts
// the icon into the tray, hides the window and (when the setting asks for it)
// shows a balloon; a double click on the icon brings the window back in its
// normal state, which removes the icon again.
class TraySupport : public QObject
{
    Q_OBJECT

public:
    // `icons` holds every size (the tray picks the one that fits its icon
    // width and scales it). `notify` is read at each minimisation.
    TraySupport(QWidget *window, const QIcon &icons, std::function<bool()> notify,
        std::unique_ptr<TrayIcon> icon = {}, QObject *parent = nullptr);
    ~TraySupport() override;

    // True when the platform shows tray icons.
    static bool trayAvailable();
    // The 16, 20, 24 or 32 pixel icon for a tray whose icons are `width` wide.
    static int iconSizeFor(int width);

    TrayIcon &icon() { return *m_icon; }
    // What a double click on the icon does.
    void restoreFromTray();

    // The text of the balloon.
    static QString balloonText();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void windowStateChanged();

    QPointer<QWidget> m_window;
    std::function<bool()> m_notify;
    std::unique_ptr<TrayIcon> m_icon;
};

} // namespace omvara
