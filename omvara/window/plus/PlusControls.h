// SPDX-License-Identifier: GPL-3.0-or-later
// The option controls of the window's tabs, each showing one setting's value.
#pragma once

// Each is a plain control with its setting's current value selected; the
// numeric ones also follow the instrument type (see InstrumentTypeFollower)
// once registered as listeners of the configuration.

#include "omvara/config/ConfigHelper.h"
#include "omvara/window/plus/InstrumentTypeFollower.h"
#include "omvara/window/plus/PlusConstantBox.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace omvara::plus {

using Helper = config::ConfigHelper;

class PlusStartWithBox : public PlusConstantBox<Helper::StartWith>
{
public:
    using PlusConstantBox::PlusConstantBox;
};

class PlusSoundComboBox : public PlusConstantBox<Helper::Sound>
{
public:
    using PlusConstantBox::PlusConstantBox;
};

class PlusEditPositionComboBox : public PlusConstantBox<Helper::EditPosition>
{
public:
    using PlusConstantBox::PlusConstantBox;
};

class PlusEditOperationComboBox : public PlusConstantBox<Helper::EditOperation>
{
public:
    using PlusConstantBox::PlusConstantBox;
};

class PlusRoundingMethodBox : public PlusConstantBox<Helper::RoundingMethod>, public InstrumentTypeFollower
{
public:
    explicit PlusRoundingMethodBox(const Helper::RoundingMethod &selected, QWidget *parent = nullptr)
        : PlusConstantBox(selected, parent)
        , InstrumentTypeFollower(this)
    {
    }
};

class PlusMathOperationBox : public PlusConstantBox<Helper::MathOperation>, public InstrumentTypeFollower
{
public:
    explicit PlusMathOperationBox(const Helper::MathOperation &selected, QWidget *parent = nullptr)
        : PlusConstantBox(selected, parent)
        , InstrumentTypeFollower(this)
    {
    }
};

// A one-line text field with its setting's text.
class PlusTextField : public QLineEdit
{
public:
    explicit PlusTextField(const QString &text, QWidget *parent = nullptr)
        : QLineEdit(text, parent)
    {
    }
};

class PlusMathOperandTextField : public PlusTextField, public InstrumentTypeFollower
{
public:
    explicit PlusMathOperandTextField(const QString &text, QWidget *parent = nullptr)
        : PlusTextField(text, parent)
        , InstrumentTypeFollower(this)
    {
    }
};

class PlusDecimalTextField : public PlusTextField, public InstrumentTypeFollower
{
public:
    explicit PlusDecimalTextField(const QString &text, QWidget *parent = nullptr)
        : PlusTextField(text, parent)
        , InstrumentTypeFollower(this)
    {
    }
};

class PlusEditNumCharactersTextField : public PlusTextField
{
public:
    using PlusTextField::PlusTextField;
};

class PlusDelayTextField : public PlusTextField
{
public:
    using PlusTextField::PlusTextField;
};

class PlusRemoveCharactersTextField : public PlusTextField
{
public:
    using PlusTextField::PlusTextField;
};

// Check boxes named after the state their setting starts with in a fresh
// configuration (checkForUpdates on; the tray, auto-start and duplicate
// switches as stored). The constructor takes the current state.
class PlusSelectedAlwaysCheckBox : public QCheckBox
{
public:
    PlusSelectedAlwaysCheckBox(const QString &text, bool selected, QWidget *parent = nullptr)
        : QCheckBox(text, parent)
    {
        setChecked(selected);
    }
};

class PlusUnselectedAlwaysCheckBox : public QCheckBox
{
public:
    PlusUnselectedAlwaysCheckBox(const QString &text, bool selected, QWidget *parent = nullptr)
        : QCheckBox(text, parent)
    {
        setChecked(selected);
    }
};

class PlusButton : public QPushButton
{
public:
    explicit PlusButton(const QString &text, QWidget *parent = nullptr)
        : QPushButton(text, parent)
    {
    }
};

// The AUTO choice of the connection mode.
class PlusAutoConnectButton : public QRadioButton
{
public:
    PlusAutoConnectButton(const QString &text, const Helper::Connect &connect, QWidget *parent = nullptr)
        : QRadioButton(text, parent)
    {
        setChecked(&connect == &Helper::Connect::AUTO);
    }
};

} // namespace omvara::plus
