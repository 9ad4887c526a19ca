// SPDX-FileCopyrightText: 2026 The libvokimage developers
// SPDX-License-Identifier: LGPL-2.1-or-later

#pragma once

// One render per cache key at a time, in a process and across processes and users.

#include "cache_p.h"
#include "internal/sharedfiles_p.h"

#include <functional>
#include <memory>

namespace VokImage {
namespace Cache {

/// Longest wait for another process's render of the same key.
constexpr int LongestRenderWaitMs = 2000;

/**
 * Runs @p lookup (one that loads the key's record, or renders and stores it) so that a key is
 * rendered once however many ask for it at once:
 * - in this process, a lookup of @p key while another runs waits for it and gets its record,
 *   with @p origin a cache's (a record the first one rendered counts as SharedCache);
 * - across processes, a lookup that finds another process rendering the key (it holds the key's
 *   name in the abstract socket namespace, which the kernel frees when the process ends, however
 *   it ends) waits until that render is stored, at most LongestRenderWaitMs, then runs
 *   @p lookup, which finds the stored file. Only a process whose store the caller reads is
 *   waited for: one of the same user, or root's when the picture is @p shareable (readable by
 *   everyone). Another user's stored record is never read, so another user is never waited for.
 */
Image coordinatedLookup(
    const Key &key, bool shareable, const std::function<Image(Origin *)> &lookup, Origin *origin);

/**
 * The claim on the key the calling thread is rendering under coordinatedLookup(), handed over to
 * a store that goes on after the lookup returns, so that other processes wait for the store;
 * null when there is none.
 */
std::shared_ptr<SharedFiles::FileDescriptor> takeRenderClaim();

} // namespace Cache
} // namespace VokImage
