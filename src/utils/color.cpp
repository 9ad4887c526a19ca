// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include <vokimage/utils.h>

#include <QStringList>

#include <cmath>

namespace VokImage {
namespace Utils {

QColor getColor(const QString &text)
{
    if (text.isEmpty())
        return QColor();
    const QStringList parts = text.split(QLatin1Char(','), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (parts.size() != 3 && parts.size() != 4)
        return QColor(text);
    const int red = parts.at(0).toInt();
    const int green = parts.at(1).toInt();
    const int blue = parts.at(2).toInt();
    const int alpha = parts.size() == 4 ? parts.at(3).toInt() : 255;
    if (red < 0 || red > 255 || green < 0 || green > 255 || blue < 0 || blue > 255 || alpha < 0
        || alpha > 255)
        return QColor();
    return QColor(red, green, blue, alpha);
}

namespace {

int shadeChannel(int channel, int target, double amount)
{
    return channel + static_cast<int>(std::floor((target - channel) * amount + 0.5));
}

} // namespace

QColor CreateShadeColor(const QColor &color, double factor)
{
    const int target = factor < 0 ? 0 : 255;
    const double amount = std::abs(factor);
    const int red = shadeChannel(color.red(), target, amount);
    const int green = shadeChannel(color.green(), target, amount);
    const int blue = shadeChannel(color.blue(), target, amount);
    if (red < 0 || red > 255 || green < 0 || green > 255 || blue < 0 || blue > 255)
        return QColor();
    return QColor(red, green, blue);
}

QList<QPair<QString, QColor>> CreateShadeColors(const QColor &color)
{
    static const QPair<const char *, double> shades[] = {
        { "color900", 0.7 },
        { "color800", 0.5 },
        { "color700", 0.333 },
        { "color600", 0.166 },
        { "color500", 0.0 },
        { "color400", -0.1 },
        { "color300", -0.2 },
        { "color200", -0.3 },
        { "color100", -0.4 },
        { "color50", -0.5 },
    };
    QList<QPair<QString, QColor>> palette;
    palette.reserve(int(std::size(shades)));
    for (const auto &shade : shades)
        palette.append({ QString::fromLatin1(shade.first), CreateShadeColor(color, shade.second) });
    return palette;
}

} // namespace Utils
} // namespace VokImage
