// The project's precompiled headers plus GoogleTest and QTest, for the test
// programs.
#pragma once

#include "VelloxPch.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
