// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#include "singleflight_p.h"

#include "internal/logging_p.h"

#include <QElapsedTimer>
#include <QHash>

#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <thread>

namespace VokImage {
namespace Cache {

namespace {

using SharedFiles::FileDescriptor;

// A lookup running in this process, and what it found.
struct Flight
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    Image record;
    Origin origin = Origin::None;
    // The messages it wrote, for the lookups that waited for it.
    QList<Log::Message> messages;
};

std::mutex flightsMutex;
QHash<QString, std::shared_ptr<Flight>> flights;

// The claim of the lookup this thread runs, until a background store takes it.
thread_local std::shared_ptr<FileDescriptor> *currentClaim = nullptr;

// The key's name in the abstract socket namespace.
QByteArray claimName(const QString &key)
{
    return "vokimage-render-" + key.toLatin1();
}

// The key's name held by this process while it renders; invalid when another holds it.
FileDescriptor claim(const QString &key)
{
    return SharedFiles::holdAbstractName(claimName(key), SOMAXCONN);
}

// Waits while another process renders the key @p name: until it lets the name go (its store
// done, or the process gone), for at most LongestRenderWaitMs. Only a holder whose store the
// caller reads is waited for: one of the same user, or root when the picture is @p shareable.
void waitForHolder(const QString &name, bool shareable)
{
    QElapsedTimer timer;
    timer.start();
    struct ucred peer;
    FileDescriptor fd;
    for (;;) {
        fd = SharedFiles::connectAbstractName(claimName(name), &peer);
        if (fd.isValid())
            break;
        // A full queue of waiters: the holder is still there.
        if ((errno != EAGAIN && errno != EINTR) || timer.elapsed() >= LongestRenderWaitMs)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // Only a store the caller will read is worth waiting for: its own, or root's shared one.
    if (peer.uid != geteuid() && !(peer.uid == 0 && shareable))
        return;
    for (;;) {
        const qint64 left = LongestRenderWaitMs - timer.elapsed();
        if (left <= 0)
            return;
        pollfd watched { fd.get(), POLLIN, 0 };
        const int ready = ::poll(&watched, 1, int(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return;
        // The holder never writes: anything else is its end (or a stranger's bytes, dropped).
        char bytes[64];
        const ssize_t got = ::recv(fd.get(), bytes, sizeof bytes, 0);
        if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR)))
            return;
    }
}

} // namespace

std::shared_ptr<FileDescriptor> takeRenderClaim()
{
    if (!currentClaim || !*currentClaim)
        return nullptr;
    return std::exchange(*currentClaim, nullptr);
}

Image coordinatedLookup(
    const Key &key, bool shareable, const std::function<Image(Origin *)> &lookup, Origin *origin)
{
    std::shared_ptr<Flight> flight;
    bool first = false;
    {
        const std::lock_guard<std::mutex> lock(flightsMutex);
        std::shared_ptr<Flight> &slot = flights[key.name];
        if (!slot) {
            slot = std::make_shared<Flight>();
            first = true;
        }
        flight = slot;
    }
    if (!first) {
        std::unique_lock<std::mutex> lock(flight->mutex);
        flight->finished.wait(lock, [&flight] { return flight->done; });
        if (origin)
            *origin = flight->origin == Origin::Rendered ? Origin::SharedCache : flight->origin;
        Log::keep(flight->messages);
        return flight->record;
    }

    Origin found = Origin::None;
    Image record;
    QList<Log::Message> messages;
    {
        const Log::Capture capture;
        auto held = std::make_shared<FileDescriptor>(claim(key.name));
        if (!held->isValid()) {
            waitForHolder(key.name, shareable);
            *held = claim(key.name);
        }
        std::shared_ptr<FileDescriptor> owned = held->isValid() ? held : nullptr;
        currentClaim = &owned;
        record = lookup(&found);
        currentClaim = nullptr;
        messages = capture.messages();
    }
    {
        const std::lock_guard<std::mutex> lock(flightsMutex);
        flights.remove(key.name);
    }
    {
        const std::lock_guard<std::mutex> lock(flight->mutex);
        flight->record = record;
        flight->origin = found;
        flight->messages = messages;
        flight->done = true;
    }
    flight->finished.notify_all();
    if (origin)
        *origin = found;
    return record;
}

} // namespace Cache
} // namespace VokImage
