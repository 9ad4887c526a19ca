// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "parts_p.h"

#include <cmath>

namespace VokImage {
namespace Jpeg {

std::vector<double> partShares(int parts, double skipShare)
{
    const double t = skipShare / (1 - std::pow(1 - skipShare, parts));
    std::vector<double> shares { 0 };
    for (int k = 1; k < parts; ++k)
        shares.push_back(t + (1 - skipShare) * shares.back());
    return shares;
}

} // namespace Jpeg
} // namespace VokImage
