// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

#include <QString>

/// Measures the memory of large pictures in @p workDir and prints a JSON object of ratios to
/// their bounds (at most 1 meets a bound); returns the exit status.
int memoryRun(const QString &workDir);
