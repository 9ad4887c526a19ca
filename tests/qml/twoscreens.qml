// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later
// A window on each of two screens: the ready-made item on the first, the image provider on
// the second. A timer counts its ticks while the backgrounds load.
import QtQuick 2.15
import QtQuick.Window 2.15
import VokImage 1.0

Window {
    id: first

    property int ticksWhileLoading: 0
    readonly property bool ready: desktop.status === Background.Ready
        && provided.status === Image.Ready

    screen: Qt.application.screens[0]
    flags: Qt.FramelessWindowHint
    x: 0
    y: 0
    width: Screen.width
    height: Screen.height
    visible: true
    onReadyChanged: if (ready) console.log("ready after", ticksWhileLoading, "ticks")

    Background {
        id: desktop
        anchors.fill: parent
    }

    Timer {
        interval: 5
        repeat: true
        running: !first.ready
        onTriggered: first.ticksWhileLoading++
    }

    Window {
        screen: Qt.application.screens[1]
        flags: Qt.FramelessWindowHint
        x: 0
        y: 0
        width: Screen.width
        height: Screen.height
        visible: true

        Image {
            id: provided
            anchors.fill: parent
            asynchronous: true
            cache: false
            source: "image://vokimage/background/%1,%2,%3x%4@%5".arg(Screen.virtualX)
                .arg(Screen.virtualY).arg(Screen.width).arg(Screen.height)
                .arg(Screen.devicePixelRatio)
        }
    }
}
