// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland client that records what is typed into it, for the typing tests:
// one text area; after every change everything it holds is written to the
// file named on the command line (whole each time). "focused" on the error
// output once the text area has the keyboard focus.
#include <QApplication>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QSaveFile>

#include <cstdio>

namespace {

class Recorder : public QPlainTextEdit
{
protected:
    void focusInEvent(QFocusEvent *event) override
    {
        QPlainTextEdit::focusInEvent(event);
        std::fprintf(stderr, "focused\n");
        std::fflush(stderr);
    }
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: omvara_wayland_recorder FILE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    Recorder edit;
    edit.setWindowTitle(QStringLiteral("recorder"));
    edit.setTabChangesFocus(false);
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(edit.toPlainText().toUtf8());
            file.commit();
        }
    });
    edit.resize(600, 300);
    edit.show();
    std::fprintf(stderr, "platform %s\n", qPrintable(QGuiApplication::platformName()));
    return app.exec();
}
