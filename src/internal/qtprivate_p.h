// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// Qt's private routines the library calls: exported by Qt's libraries but declared in no public
// header. Each is declared here, once, as Qt 5.15 exports it.

#include <QImage>
#include <QPainter>
#include <QtGlobal>

/// Qt Widgets: the blur behind QGraphicsBlurEffect.
Q_DECL_IMPORT void qt_blurImage(
    QPainter *p, QImage &blurImage, qreal radius, bool quality, bool alphaOnly, int transposed = 0);

/// Qt Gui: the row converter behind QImage's RGB888 to RGB32 conversion.
Q_DECL_IMPORT void QT_FASTCALL qt_convert_rgb888_to_rgb32(quint32 *dst, const uchar *src, int len);
