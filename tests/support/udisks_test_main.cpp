#include "support/UDisksStack.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// For test binaries that use the udisks2 stack: its mount namespace is entered before any thread
// starts, and the stack is stopped while the application object still lives.
int main(int argc, char **argv)
{
    testsupport::UDisksStack::prepareProcess();
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const int result = RUN_ALL_TESTS();
    testsupport::UDisksStack::stopShared();
    return result;
}
