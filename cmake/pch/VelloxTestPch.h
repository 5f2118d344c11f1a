// The project's precompiled headers plus GoogleTest, for the test programs.
// QTest stays out: it reads QT_TESTCASE_BUILDDIR, which differs per test
// folder.
#pragma once

#include "VelloxPch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
