// SPDX-License-Identifier: GPL-3.0-or-later
#include "omvara/window/CustomRegExDialog.h"

#include "omvara/config/ConfigHelper.h"
#include "omvara/config/Instrument.h"
#include "omvara/texts/WindowTexts.h"
#include "omvara/window/MessageBoxes.h"
#include "omvara/window/links/LinkMouseListener.h"
#include "omvara/window/links/OpenHyperlinkInBrowser.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace omvara {

namespace {

QString tooLongText()
{
    return texts::WindowTexts::format(
        "invalid.expression.too.long", QString::number(config::ConfigHelper::CustomRegEx::MaxLength));
}

// The pattern field. A paste or drop that would make the text longer than a
// pattern may be is refused with the too-long message: laying out a pasted
// megabyte on one wrapped line holds the window for minutes.
class PatternEdit : public QPlainTextEdit
{
public:
    using QPlainTextEdit::QPlainTextEdit;

protected:
    void insertFromMimeData(const QMimeData *source) override
    {
        if (source->hasText()) {
            const qsizetype after
                = toPlainText().size() - textCursor().selectedText().size() + source->text().size();
            if (after > config::ConfigHelper::CustomRegEx::MaxLength) {
                MessageBoxes::showMessage(
                    window(), MessageText::own(tooLongText()), texts::WindowTexts::text("error"));
                return;
            }
        }
        QPlainTextEdit::insertFromMimeData(source);
    }
};

} // namespace

CustomRegExDialog::CustomRegExDialog(QWidget *owner, const config::Config &config)
    : QDialog(owner)
    , linkListener(new links::LinkMouseListener(this))
{
    setObjectName(QStringLiteral("CustomRegExDialog"));
    setModal(true);
    setWindowTitle(texts::WindowTexts::text("CustomRegExDialog.this.title"));

    auto *explanation = new QLabel(texts::WindowTexts::text("CustomRegExDialog.label1.text"), this);
    explanation->setWordWrap(true);
    links::OpenHyperlinkInBrowser::makeLinkable(*explanation, *linkListener);
    auto *label2 = new QLabel(texts::WindowTexts::text("CustomRegExDialog.label2.text"), this);
    label2->setWordWrap(true);
    auto *label3 = new QLabel(texts::WindowTexts::text("CustomRegExDialog.label3.text"), this);
    label3->setWordWrap(true);
    // The pattern in use now, for a start.
    const config::ConfigHelper::Instrument *instrument = config.getInstrument();
    auto *label4 = new QLabel(texts::WindowTexts::text("CustomRegExDialog.label4.text")
            + (instrument ? instrument->getRegEx().toHtmlEscaped() : QString()),
        this);
    label4->setTextFormat(Qt::RichText);
    label4->setWordWrap(true);
    label4->setTextInteractionFlags(Qt::TextSelectableByMouse);

    regExTextArea = new PatternEdit(this);
    regExTextArea->setObjectName(QStringLiteral("regExTextArea"));
    regExTextArea->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    regExTextArea->setTabChangesFocus(true);
    regExTextArea->setMinimumHeight(70);
    label3->setBuddy(regExTextArea);

    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    cancelButton = new QPushButton(texts::WindowTexts::text("CustomRegExDialog.cancelButton.text"), this);
    auto *buttons = new QDialogButtonBox(this);
    buttons->addButton(okButton, QDialogButtonBox::AcceptRole);
    buttons->addButton(cancelButton, QDialogButtonBox::RejectRole);

    auto *column = new QVBoxLayout(this);
    column->addWidget(explanation);
    column->addWidget(label2);
    column->addWidget(label4);
    column->addWidget(label3);
    column->addWidget(regExTextArea, 1);
    column->addWidget(buttons);

    connect(okButton, &QPushButton::clicked, this, &CustomRegExDialog::okButtonActionPerformed);
    connect(cancelButton, &QPushButton::clicked, this, &CustomRegExDialog::cancelButtonActionPerformed);
    resize(520, 340);
}

void CustomRegExDialog::okButtonActionPerformed()
{
    const QString pattern = regExTextArea->toPlainText();
    if (pattern.size() > config::ConfigHelper::CustomRegEx::MaxLength) {
        // Refused before any compiling, so that a pasted wall of text cannot hold the window.
        MessageBoxes::showMessage(this, MessageText::own(tooLongText()), texts::WindowTexts::text("error"));
        return;
    }
    if (const QString problem = config::ConfigHelper::CustomRegEx::problem(pattern); !problem.isEmpty()) {
        MessageBoxes::showMessage(this,
            MessageText::own(texts::WindowTexts::text("invalid.expression") + u'\n')
                + MessageText::outside(problem),
            texts::WindowTexts::text("error"));
        return;
    }
    // Valid, but perhaps not what was meant: "[[:digit:]]" is no digit class here.
    if (const QString note = config::ConfigHelper::CustomRegEx::note(pattern); !note.isEmpty()) {
        if (MessageBoxes::askOkCancel(this,
                MessageText::outside(note + u'.')
                    + MessageText::own(QStringLiteral("\n\nUse the pattern as it is?")),
                texts::WindowTexts::text("warning"), MessageBoxes::Icon::Warning)
            != MessageBoxes::Answer::Ok)
            return;
    }
    patternResult = pattern;
    accept();
}

void CustomRegExDialog::cancelButtonActionPerformed()
{
    reject();
}

} // namespace omvara
