// SPDX-License-Identifier: GPL-3.0-or-later
// The update tests need an application object for Qt Network and the
// event-thread hand-over of the background task.
#include <QCoreApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
