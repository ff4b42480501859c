// SPDX-License-Identifier: GPL-3.0-or-later
// A Wayland client that records what is typed into it, for the typing tests:
// one text area; after every change everything it holds is written to the
// file named on the command line (whole each time). "focused" on the error
// output once the text area has the keyboard focus. With RECORDER_TIMES set,
// also "change NS LENGTH" there at every change (NS: CLOCK_MONOTONIC, for
// the typing benchmark), and the file is written without flushing it to the
// disk each time.
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QSaveFile>

#include <cstdio>
#include <ctime>

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
    const bool times = qEnvironmentVariableIsSet("RECORDER_TIMES");
    QObject::connect(&edit, &QPlainTextEdit::textChanged, [&] {
        if (times) {
            timespec now {};
            clock_gettime(CLOCK_MONOTONIC, &now);
            std::fprintf(stderr, "change %lld %lld\n", now.tv_sec * 1000000000LL + now.tv_nsec,
                static_cast<long long>(edit.document()->characterCount()));
        }
        if (times) {
            // No flush to the disk at every key: the benchmark measures the keys.
            QFile file(path);
            if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
                file.write(edit.toPlainText().toUtf8());
            return;
        }
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
